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

# The hotplug script through hotplug-call, with a portsense that notes its starts.
rm -f /usr/bin/portsense
printf '#!/bin/sh\necho started >>/tmp/portsense.starts\n' >/usr/bin/portsense
printf '#!/bin/sh\ncat >/dev/null\n' >/usr/bin/logger
chmod 755 /usr/bin/portsense /usr/bin/logger
echo "node: hotplug events and portsense (printed, not checked):"
printf '  %-9s %-10s %-8s %s\n' ACTION INTERFACE DEVICE portsense
while read -r action interface device; do
	rm -f /tmp/portsense.starts
	ACTION=$action INTERFACE=$interface DEVICE=$device /sbin/hotplug-call iface
	if TRIES=10 settle test -e /tmp/portsense.starts 2>/dev/null; then started=started; else started=-; fi
	printf '  %-9s %-10s %-8s %s\n' "$action" "$interface" "$device" "$started"
done <<EOF
ifup lan br-lan
ifdown lan br-lan
ifup wan eth0
ifdown wan eth0
ifup wan6 eth0
ifdown wan6 eth0
ifup wan wan
ifdown wan wan
ifup wan eth0.2
ifup wan eth1
ifupdate wan eth0
ifupdate lan br-lan
ifup loopback lo
EOF
exit $rc
