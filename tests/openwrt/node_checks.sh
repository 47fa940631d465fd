#!/bin/sh
# Run by scripts/openwrt_tier.sh as root inside a chroot of the package's
# files on OpenWrt's rc.common, boot, functions.sh and hotplug-call, with
# the real uci, in mount, pid and network namespaces of its own:
#  - the uci-defaults through boot's uci_apply_defaults: twice with the real
#    uci, once with a uci whose set fails (and once more, as a router's boot
#    runs them before the daemons start);
#  - each init script's start, restart, stop and boot with the real daemon,
#    and a stop over a pid file naming another live process;
#  - the hotplug script through hotplug-call for a table of events, with a
#    portsense that notes each start; the table is printed.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
rc=0
fail() { echo "node: FAIL: $*"; rc=1; }

# running <pid file> <process name>: the file names a live process of that name
running() {
	pid=$(cat "$1" 2>/dev/null)
	[ -n "$pid" ] && grep -q "^$pid ($2) [^Z]" "/proc/$pid/stat" 2>/dev/null
}
# settle <command...>: waits up to ten seconds (TRIES tenths; a loaded build machine is slow) for the command to succeed
settle() {
	i=0
	until "$@"; do
		i=$((i + 1)); [ $i -gt "${TRIES:-100}" ] && return 1
		sleep 0.1
	done
}
gone() { ! [ -e "$1" ] && ! grep -q "^$2 " "/proc/$2/stat" 2>/dev/null; }

# The first-boot defaults, as OpenWrt's boot applies them.
apply_defaults() { ( . /etc/init.d/boot; uci_apply_defaults ) >>/tmp/defaults.log 2>&1; }
cp /etc/uci-defaults/90-fleetlink /tmp/90-fleetlink
apply_defaults
[ -e /etc/uci-defaults/90-fleetlink ] && fail "uci-defaults: kept after a run with the real uci"
uci show dashboard >/tmp/dashboard.1; uci show node >/tmp/node.1
cat >/tmp/expected <<EOF
dashboard.remote=remote
dashboard.remote.host='dashboard.fleetlink.example'
dashboard.remote.fallback_ip='192.0.2.10'
dashboard.remote.path='/checkin.php'
dashboard.remote.cupath='/netstats.php'
dashboard.remote.interval='5'
dashboard.remote.cinterval='1'
node.status=status
node.status.mode='repeater'
node.status.id='0'
node.setting=setting
node.setting.reboot_token='0'
node.security=security
node.security.lan_block='0'
EOF
cat /tmp/dashboard.1 /tmp/node.1 | diff /tmp/expected - || fail "uci-defaults: the configuration above differs (< wanted)"
# Again, over a value the operator set: it stays, the rest is the same.
uci set dashboard.remote.host=dash.example.net && uci commit dashboard
cp /tmp/90-fleetlink /etc/uci-defaults/
apply_defaults
[ -e /etc/uci-defaults/90-fleetlink ] && fail "uci-defaults: kept after the second run"
sed "s/dashboard.fleetlink.example/dash.example.net/" /tmp/expected >/tmp/expected.2
{ uci show dashboard; uci show node; } | diff /tmp/expected.2 - ||
	fail "uci-defaults: the second run changed the configuration"
# With a uci that cannot set: the script fails and stays for the next boot.
: >/etc/config/dashboard; : >/etc/config/node
mv /sbin/uci /sbin/uci.real
printf '#!/bin/sh\n[ "$1" = set ] && { echo "uci: I/O error" >&2; exit 1; }\nexec /sbin/uci.real "$@"\n' >/sbin/uci
chmod 755 /sbin/uci
cp /tmp/90-fleetlink /etc/uci-defaults/
apply_defaults
[ -e /etc/uci-defaults/90-fleetlink ] || fail "uci-defaults: removed although its uci set failed"
mv /sbin/uci.real /sbin/uci
apply_defaults
[ $rc = 0 ] && echo "node: uci-defaults through uci_apply_defaults, twice with the real uci and once with a failing one: right"

before=$rc
# script, process name, pid file; the watchdog last, as it starts the others
while read -r script name pidfile; do
	s() { /etc/init.d/"$script" "$@" >>/tmp/init.log 2>&1; }
	s start; settle running "$pidfile" "$name" || { fail "$script start: no $name"; continue; }
	first=$(cat "$pidfile")
	s restart; settle running "$pidfile" "$name" || fail "$script restart: no $name"
	[ "$(cat "$pidfile" 2>/dev/null)" != "$first" ] || fail "$script restart: the same process $first"
	second=$(cat "$pidfile" 2>/dev/null)
	s stop; settle gone "$pidfile" "$second" || fail "$script stop: $name or its pid file is still there"
	s boot; settle running "$pidfile" "$name" || fail "$script boot: no $name"
	s stop; settle gone "$pidfile" "$(cat "$pidfile" 2>/dev/null)" || fail "$script stop after boot"
	# A pid file left by a crash, whose number another process has now.
	sleep 300 &
	other=$!
	echo "$other" >"$pidfile"
	s stop
	kill -0 "$other" 2>/dev/null || fail "$script stop ended the unrelated process $other"
	[ -e "$pidfile" ] && fail "$script stop keeps a pid file that names another process"
	s start; settle running "$pidfile" "$name" || fail "$script start after a stale pid file: no $name"
	s stop
	kill "$other"
done <<EOF
fleetlink-supervisor fleetlink_super /tmp/kestrel.pid
fleetlink-clientscout clientscout /tmp/clientscout.pid
fleetlink-ifcounter ifcounter /tmp/netstat.pid
fleetlink-watchdog watchdog /tmp/.watchdog.pid
EOF
[ $rc = "$before" ] && echo "node: the init scripts' start, restart, stop and boot with the real daemons: right"

# The hotplug script through hotplug-call: the uplink (wan on eth0, whose
# veth peer eth0p is the cable) and the events netifd sends, in order, with the
# cable's state before each; a portsense that notes each start and, while
# /tmp/portsense.hold exists, keeps running.
rm -f /usr/bin/portsense
printf '#!/bin/sh\necho "$ACTION" >>/tmp/portsense.starts\nwhile [ -e /tmp/portsense.hold ]; do sleep 0.1; done\n' >/usr/bin/portsense
printf '#!/bin/sh\ncat >/dev/null\n' >/usr/bin/logger
chmod 755 /usr/bin/portsense /usr/bin/logger
touch /etc/config/network && uci set network.wan=interface && uci set network.wan.device=eth0 && uci set network.wan.proto=dhcp && uci commit network
cable() {
	case $1 in
		in) ip link set eth0 up && ip link set eth0p up ;;
		out) ip link set eth0 up && ip link set eth0p down ;;
		restart) ip link set eth0 down ;;
	esac
}
starts() { cat /tmp/portsense.starts 2>/dev/null | wc -l; }
more_than() { [ "$(starts)" -gt "$1" ]; }
n=0
# cable before the event, ACTION, INTERFACE, DEVICE, portsense starts it
while read -r state action interface device want what; do
	n=$((n + 1))
	[ "$state" = hold ] && { touch /tmp/portsense.hold; b=$(starts); /usr/bin/portsense & settle more_than "$b"; state=out; }
	cable "$state"
	before=$(starts)
	# netifd names no device on ifdown
	[ "$device" = - ] && device=
	env ACTION="$action" INTERFACE="$interface" ${device:+DEVICE="$device"} /sbin/hotplug-call iface
	[ "$want" = 0 ] || settle more_than "$before"
	sleep 0.3
	got=$(($(starts) - before))
	[ "$got" = "$want" ] || fail "hotplug row $n ($what): $action $interface with the cable $state started portsense $got times, wanted $want"
	rm -f /tmp/portsense.hold
	settle sh -c '! pidof portsense >/dev/null'
done <<EOF
in ifup lan br-lan 0 lan is not the uplink
in ifup wan6 eth0 0 nor is wan6
in ifupdate wan eth0 0 an address update
in ifup wan eth0 1 the boot with the cable in
in ifdown wan - 0 a restart, carrier still on
restart ifdown wan - 0 a restart, the device taken down
in ifup wan eth0 0 the restart's ifup
out ifdown wan - 1 the cable pulled
out ifdown wan - 0 a restart without the cable
in ifup wan eth0 1 the cable back
hold ifdown wan - 0 the cable pulled while portsense runs
in ifup wan eth0 1 the cable back after that
in ifup wan eth0 0 again, a restart
EOF
echo "node: the hotplug script under hotplug-call, $n events: checked"

# The platform on a stock OpenWrt: config_generate's configuration of a
# one-port board and the radio as OpenWrt's Wi-Fi detection writes it, then
# the platform's and the product's first-boot defaults, twice.
rm -f /etc/config/*
echo '{"network": {"lan": {"device": "eth0", "protocol": "static"}}}' >/etc/board.json
/bin/config_generate >/dev/null || fail "config_generate fails"
printf "\nconfig wifi-device 'radio0'\n\toption type 'mac80211'\n\toption band '2g'\n\toption channel '1'\n\toption disabled '1'\n" >/etc/config/wireless
printf "\nconfig wifi-iface 'default_radio0'\n\toption device 'radio0'\n\toption network 'lan'\n\toption mode 'ap'\n\toption ssid 'OpenWrt'\n\toption encryption 'none'\n" >>/etc/config/wireless
printf "\nconfig dhcp 'lan'\n\toption interface 'lan'\n\toption start '100'\n" >/etc/config/dhcp
cp /etc/config/wireless /tmp/wireless.stock
platform_defaults() { cp /platform/etc/uci-defaults/80-fleetlink-platform /tmp/90-fleetlink /etc/uci-defaults/ && apply_defaults; }
platform_defaults
[ -z "$(ls /etc/uci-defaults)" ] || fail "platform: uci-defaults kept after a run on the stock configuration: $(ls /etc/uci-defaults)"
rm -rf /tmp/config.1 && cp -a /etc/config /tmp/config.1
platform_defaults
diff -r /tmp/config.1 /etc/config || fail "platform: the second run changed the configuration"
[ "$(uci get network.lan.proto) $(uci get dhcp.lan.ignore) $(uci get node.setting.uplink)" = "dhcp 1 lan" ] ||
	fail "platform: a one-port board's lan is not the uplink"
[ "$(uci get wireless.radio0.disabled) $(uci get wireless.default_radio0.disabled)" = "0 1" ] ||
	fail "platform: radio0 off or OpenWrt's open access point on"
# Before the radio is detected the platform's defaults fail and stay for the next boot.
rm /etc/config/wireless
cp /platform/etc/uci-defaults/80-fleetlink-platform /etc/uci-defaults/ && apply_defaults
[ -e /etc/uci-defaults/80-fleetlink-platform ] || fail "platform: uci-defaults removed although there was no radio"
rm -f /etc/uci-defaults/* && cp /tmp/wireless.stock /etc/config/wireless && platform_defaults
echo "node: the platform's first-boot defaults on config_generate's stock configuration, twice, and without a radio: checked"
exit $rc
