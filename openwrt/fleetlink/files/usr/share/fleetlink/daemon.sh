# Shared by the daemons' init scripts. The daemons detach themselves and
# keep their pid in a file for as long as they run; they end on SIGTERM,
# removing it.

# fleetlink_start <program>
fleetlink_start() {
	/usr/bin/"$1"
}

# fleetlink_stop <pid file> <process name as the kernel keeps it>
# Ends the daemon through its pid file, only when that pid really is the
# daemon (a stale file may name an unrelated process by now), and waits up
# to five seconds for it to go. A stale pid file goes too, so that the next
# start is not refused.
fleetlink_stop() {
	pid_file=$1
	name=$2
	[ -f "$pid_file" ] || return 0
	read -r pid < "$pid_file"
	case $pid in
		''|*[!0-9]*) rm -f "$pid_file"; return 0 ;;
	esac
	if grep -q "^$pid ($name) " "/proc/$pid/stat" 2>/dev/null; then
		kill -TERM "$pid"
		i=0
		while [ -d "/proc/$pid" ] && [ $i -lt 50 ]; do
			sleep 0.1
			i=$((i + 1))
		done
	fi
	[ -d "/proc/$pid" ] || rm -f "$pid_file"
	return 0
}
