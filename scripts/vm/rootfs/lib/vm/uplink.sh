#!/bin/sh
# The virtual machine's own link: QEMU's user network, which reaches only the
# stand-in dashboard (10.0.2.100). The nodes' wired uplinks hang on the bridge
# inet0, which forwards and masquerades towards it like an Internet provider.
. /etc/vm/build
ip link set lo up
ip link set eth0 name wan0
ip addr add 10.0.2.15/24 dev wan0
ip link set wan0 up
ip route add default via 10.0.2.2
ip link add inet0 type bridge
ip addr add 100.64.0.1/24 dev inet0
ip link set inet0 up
echo 1 > /proc/sys/net/ipv4/ip_forward
iptables -t nat -A POSTROUTING -o wan0 -j MASQUERADE
# The programs' built-in fallback address leads to the dashboard too.
iptables -t nat -A PREROUTING -d "$DASHBOARD_FALLBACK_IP" -p tcp --dport 80 -j DNAT --to-destination 10.0.2.100:80
mkdir -p /run/vm
cat > /run/vm/udhcpd-inet0.conf <<CONF
start 100.64.0.100
end 100.64.0.199
interface inet0
lease_file /run/vm/udhcpd-inet0.leases
pidfile /run/vm/udhcpd-inet0.pid
option subnet 255.255.255.0
option router 100.64.0.1
option dns 100.64.0.1
option lease 86400
CONF
touch /run/vm/udhcpd-inet0.leases
udhcpd /run/vm/udhcpd-inet0.conf
