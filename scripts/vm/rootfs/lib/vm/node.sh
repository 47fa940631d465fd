#!/bin/sh
# Simulated nodes inside the virtual machine. Each node is a set of namespaces
# (network, mount, pid, uts, ipc) with its own /etc, /var and /tmp under
# /nodes/N, its own radio (phy N-1 of mac80211_hwsim) and its own cable: the
# veth pair nN-eth (on the uplink bridge inet0) and eth0 (in the node). Its
# first process is busybox init, which runs /etc/init.d/rcS.
#   node.sh create N [cable] [program...]   the product as its package installs it; the daemons
#                                           named are enabled (their init scripts run at boot), and
#                                           portsense named keeps the package's hotplug script;
#                                           NODE_UCI="pkg.sec.opt=value ..." presets uci before boot
#   node.sh exec N command...               runs a shell command inside node N
#   node.sh plug N | unplug N               connects or disconnects the cable; the node's hotplug
#                                           scripts see the uplink's ifup or ifdown
#   node.sh uplink N ifup|ifdown            the package's hotplug scripts see the uplink's event,
#                                           whether the node has them installed or not
#   node.sh reboot N                        what the router does after a reboot request: every
#                                           process ends, /tmp and /var start empty, /etc (the
#                                           flash) stays, the radio comes back and init runs again
#   node.sh destroy N
#   node.sh pid N                           the node's init, as seen from outside
. /etc/vm/build
set -u
cmd=${1:-}; n=${2:-}
case $n in [1-9]|[1-9][0-9]) ;; *) echo "usage: node.sh create|exec|plug|unplug|destroy|pid N ..." >&2; exit 2 ;; esac
shift 2
dir=/nodes/$n
pidfile=/run/vm/node$n.pid
mkdir -p /run/vm

node_pid() {
  [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null && cat "$pidfile"
}

create() {
  [ -n "$(node_pid)" ] && { echo "node $n exists" >&2; exit 1; }
  cable=0
  [ "${1:-}" = cable ] && { cable=1; shift; }
  phy=phy$((n - 1))
  [ -e "/sys/class/ieee80211/$phy" ] || { echo "no free radio $phy for node $n" >&2; exit 1; }
  rm -rf "$dir"
  mkdir -p "$dir/tmp" "$dir/var/run" "$dir/var/log" "$dir/etc"
  cp -a /lib/vm/node-etc/. "$dir/etc/"
  install_package "$@"
  sed -i "s/@DASHBOARD_HOST@/$DASHBOARD_HOST/; s/@DASHBOARD_FALLBACK_IP@/$DASHBOARD_FALLBACK_IP/" "$dir/etc/config/dashboard"
  echo "$n" > "$dir/etc/vm-node"
  echo "node$n" > "$dir/etc/hostname"
  printf '127.0.0.1 localhost\n10.0.2.100 %s\n' "$DASHBOARD_HOST" > "$dir/etc/hosts"
  for kv in ${NODE_UCI:-}; do
    UCI_CONFIG_DIR=$dir/etc/config UCI_SAVE_DIR=$dir/tmp/.uci uci set "$kv" || exit 1
  done
  [ -n "${NODE_UCI:-}" ] && UCI_CONFIG_DIR=$dir/etc/config UCI_SAVE_DIR=$dir/tmp/.uci uci commit
  : > "$dir/var/log/vm-events"

  make_cable $cable
  boot
  echo "node $n: init $(node_pid), radio $phy, cable $( [ $cable = 1 ] && echo in || echo out)"
}

# Starts the node's init in new namespaces and hands it the radio and its end of the cable.
boot() {
  unshare -f -p -m -n -u -i --mount-proc --propagation private /lib/vm/node-init.sh "$n" \
    < /dev/null > "$dir/var/log/init.log" 2>&1 &
  upid=$!
  i=0; child=""
  while [ -z "$child" ] && [ $i -lt 100 ]; do
    child=$(cat "/proc/$upid/task/$upid/children" 2>/dev/null | awk '{ print $1 }')
    [ -n "$child" ] || sleep 0.05
    i=$((i + 1))
  done
  [ -n "$child" ] || { echo "node $n did not start" >&2; exit 1; }
  echo "$child" > "$pidfile"
  iw phy "$phy" set netns "$child"
  ip link set "n$n-eth0" netns "$child"
  nsenter -t "$child" -n ip link set "n$n-eth0" name eth0
}

# The node's cable: a veth pair, nN-eth on the uplink bridge, plugged in when $1 is 1.
make_cable() {
  ip link del "n$n-eth" 2>/dev/null
  ip link add "n$n-eth" type veth peer name "n$n-eth0"
  ip link set "n$n-eth0" address "$(printf '02:4e:00:00:%02x:e0' "$n")"
  ip link set "n$n-eth" master inet0
  [ "$1" = 1 ] && ip link set "n$n-eth" up
  return 0
}

# The node's namespaces end with its init; the radio returns to the machine's
# namespace and the cable's end is made anew (a veth end dies with its namespace).
reboot_node() {
  pid=$(node_pid) || { echo "no node $n" >&2; exit 1; }
  phy=phy$((n - 1))
  cable=0
  ip link show "n$n-eth" 2>/dev/null | grep -q '[<,]UP[,>]' && cable=1
  kill -9 "$pid"
  i=0
  while { [ ! -e "/sys/class/ieee80211/$phy" ] || ip link show "n$n-eth" >/dev/null 2>&1; } && [ $i -lt 200 ]; do
    sleep 0.05; i=$((i + 1))
  done
  [ -e "/sys/class/ieee80211/$phy" ] || { echo "node $n: radio $phy did not come back" >&2; exit 1; }
  mv "$dir/var/log/vm-events" /run/vm/events$n  # the scenario's record of the node goes on
  rm -rf "$dir/tmp" "$dir/var"
  mkdir -p "$dir/tmp" "$dir/var/run" "$dir/var/log"
  mv /run/vm/events$n "$dir/var/log/vm-events"
  make_cable $cable
  boot
  echo "node $n: rebooted, init $(node_pid)"
}

# The package's files in the node's /etc: the image's own configuration
# stays; the daemons named are enabled; portsense's hotplug script stays
# only when portsense is named.
install_package() {
  [ -d /lib/vm/package/etc ] || return 0
  for d in init.d hotplug.d uci-defaults; do
    [ -d "/lib/vm/package/etc/$d" ] && mkdir -p "$dir/etc/$d" && cp -a "/lib/vm/package/etc/$d/." "$dir/etc/$d/"
  done
  mkdir -p "$dir/etc/rc.d"
  case " $* " in *" portsense "*) ;; *) rm -f "$dir"/etc/hotplug.d/iface/*fleetlink* ;; esac
  for p in "$@"; do
    case $p in
      watchdog) s=fleetlink-watchdog ;;
      fleetlink_supervisor) s=fleetlink-supervisor ;;
      clientscout|ifcounter) s=fleetlink-$p ;;
      *) continue ;;
    esac
    [ -f "$dir/etc/init.d/$s" ] || continue
    start=$(sed -n 's/^START=//p' "$dir/etc/init.d/$s")
    ln -sf "../init.d/$s" "$dir/etc/rc.d/S$start$s"
  done
}

# What netifd tells the hotplug scripts when the wired uplink goes up or down.
uplink_event() {  # uplink_event ifup|ifdown [folder of the scripts]
  in_node "for h in ${2:-/etc/hotplug.d/iface}/*; do [ -f \"\$h\" ] && ACTION=$1 INTERFACE=lan DEVICE=br-lan sh \"\$h\"; done; true"
}

in_node() {
  pid=$(node_pid) || true
  [ -n "$pid" ] || { echo "no node $n" >&2; exit 1; }
  nsenter -t "$pid" -m -u -i -n -p -- /bin/sh -c "$*"
}

case $cmd in
  create) create "$@" ;;
  exec) in_node "$@" ;;
  plug|unplug)
    if [ "$cmd" = plug ]; then ip link set "n$n-eth" up; else ip link set "n$n-eth" down; fi
    echo "node $n: cable $( [ "$cmd" = plug ] && echo in || echo out)"
    in_node ". /lib/vm/functions.sh; vm_event 'cable $( [ "$cmd" = plug ] && echo in || echo out)'"
    uplink_event "$( [ "$cmd" = plug ] && echo ifup || echo ifdown)" ;;
  uplink) uplink_event "${1:-ifup}" /lib/vm/package/etc/hotplug.d/iface ;;
  pid) node_pid ;;
  reboot) reboot_node "$@" ;;
  destroy)
    pid=$(node_pid) || true
    [ -n "$pid" ] && kill -9 "$pid"
    ip link del "n$n-eth" 2>/dev/null
    rm -f "$pidfile" ;;
  *) echo "usage: node.sh create|exec|plug|unplug|destroy|pid N ..." >&2; exit 2 ;;
esac
