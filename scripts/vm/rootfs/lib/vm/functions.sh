# Helpers of the node's stand-in scripts.

# vm_event text...: one line in the node's event record, which the scenarios and
# the live view read ("<uptime seconds> <text>").
vm_event() {
  echo "$(cut -d' ' -f1 /proc/uptime) $*" >> /var/log/vm-events
}

# node_phy: the simulated radio that belongs to this node.
node_phy() {
  ls /sys/class/ieee80211 2>/dev/null | head -1
}

# channel_freq channel: the 2.4 GHz frequency of a channel number.
channel_freq() {
  if [ "$1" = 14 ]; then echo 2484; else echo $((2407 + 5 * $1)); fi
}

# node_mac suffix: a MAC address of this node, 02:4e:00:00:<node>:<suffix>
# (node number from /etc/vm-node; e0 eth0, 10 mesh0, 01 pub0, 02 priv0).
node_mac() {
  printf '02:4e:00:00:%02x:%s\n' "$(cat /etc/vm-node)" "$1"
}
