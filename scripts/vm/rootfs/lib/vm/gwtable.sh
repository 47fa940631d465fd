#!/bin/sh
# This kernel has no batman-adv debugfs, so the node's gateway table
# /sys/kernel/debug/batman_adv/bat0/gateways (a tmpfs in the node) is written
# here from "batctl gwl" every two seconds: a header line, then one line per
# gateway, or a line starting with "No gateways" when there is none.
dir=/sys/kernel/debug/batman_adv/bat0
mkdir -p "$dir"
while :; do
  if ip link show bat0 >/dev/null 2>&1; then
    {
      batctl meshif bat0 gwl 2>/dev/null | head -1
      rows=$(batctl meshif bat0 gwl -H 2>/dev/null)
      if [ -n "$rows" ]; then echo "$rows"; else echo "No gateways in range ..."; fi
    } > "$dir/.gateways"
    mv "$dir/.gateways" "$dir/gateways"
  else
    rm -f "$dir/gateways"
  fi
  sleep 2
done
