#!/bin/sh
# udhcpc's lease script for the uplink br-lan: addresses, default route and the
# name server file (the mesh bridge's client runs the platform package's).
[ -z "$1" ] && exit 1
case $1 in
  deconfig)
    ip -4 addr flush dev "$interface"
    ;;
  bound|renew)
    # A renewal of the same lease changes nothing: connections through the
    # address go on.
    if [ "$(ip -4 -o addr show dev "$interface" | awk '{ print $4; exit }')" != "$ip/${mask:-24}" ]; then
      ip -4 addr flush dev "$interface"
      ip addr add "$ip/${mask:-24}" dev "$interface"
    fi
    if [ -n "$router" ]; then
      for r in $router; do ip route replace default via "$r" dev "$interface"; break; done
    fi
    : > /tmp/resolv.conf.auto
    for d in $dns; do echo "nameserver $d" >> /tmp/resolv.conf.auto; done
    . /lib/vm/functions.sh
    vm_event "udhcpc: $interface $1 $ip/${mask:-24} via ${router:-none}"
    ;;
esac
exit 0
