#!/bin/sh
# Simulated Wi-Fi clients: station S is the last radios of mac80211_hwsim
# counted backwards (station 1 uses the last radio), in a network namespace of
# its own, associated by wpa_supplicant with an access point of the nodes.
#   station.sh join S SSID [PASSPHRASE]   associates (open, or WPA-PSK)
#   station.sh leave S                    disassociates and frees the radio
#   station.sh exec S command...          runs a command in the station's namespace
#   station.sh mac S
set -u
cmd=${1:-}; s=${2:-}
case $s in [1-9]) ;; *) echo "usage: station.sh join|leave|exec|mac S ..." >&2; exit 2 ;; esac
shift 2
phy=phy$(( $(cat /sys/module/mac80211_hwsim/parameters/radios) - s ))
pidfile=/run/vm/station$s.pid
mkdir -p /run/vm

station_pid() {
  [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null && cat "$pidfile"
}

in_station() {
  pid=$(station_pid) || true
  [ -n "$pid" ] || { echo "no station $s" >&2; exit 1; }
  nsenter -t "$pid" -n -- /bin/sh -c "$*"
}

join() {
  ssid=$1; pass=${2:-}
  if [ -z "$(station_pid)" ]; then
    [ -e "/sys/class/ieee80211/$phy" ] || { echo "radio $phy is not free" >&2; exit 1; }
    unshare -n sleep 2147483647 < /dev/null > /dev/null 2>&1 &
    echo $! > "$pidfile"
    sleep 0.2
    iw phy "$phy" set netns "$(cat "$pidfile")"
  fi
  conf=/run/vm/station$s.conf
  {
    echo "ctrl_interface=/run/vm/wpa-station$s"
    echo "network={"
    echo "  ssid=\"$ssid\""
    echo "  scan_ssid=1"
    if [ -n "$pass" ]; then echo "  psk=\"$pass\""; echo "  key_mgmt=WPA-PSK"; else echo "  key_mgmt=NONE"; fi
    echo "}"
  } > "$conf"
  ifc=$(in_station "iw dev | awk '\$1 == \"Interface\" { print \$2; exit }'")
  in_station "ip link set $ifc up; wpa_supplicant -B -D nl80211 -i $ifc -c $conf -P /run/vm/wpa-station$s.pid" >/dev/null
  echo "station $s: $ifc on $phy joining '$ssid'"
}

leave() {
  pid=$(station_pid) || true
  [ -f "/run/vm/wpa-station$s.pid" ] && kill "$(cat "/run/vm/wpa-station$s.pid")" 2>/dev/null
  rm -f "/run/vm/wpa-station$s.pid"
  # ending the namespace hands the radio back, but only once the kernel has
  # taken the namespace down, which it does later: a join right after would
  # not find the radio
  [ -n "$pid" ] && kill "$pid"
  rm -f "$pidfile"
  tries=0
  while [ ! -e "/sys/class/ieee80211/$phy" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 300 ] || { echo "radio $phy did not come back within 30 s" >&2; exit 1; }
    sleep 0.1
  done
  echo "station $s: left"
}

case $cmd in
  join) join "$@" ;;
  leave) leave ;;
  exec) in_station "$@" ;;
  mac) printf '02:00:00:00:%02x:00\n' "${phy#phy}" ;;   # mac80211_hwsim's address of that radio
  *) echo "usage: station.sh join|leave|exec|mac S ..." >&2; exit 2 ;;
esac
