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
	if fleetlink_running "$pid" "$name"; then
		kill -TERM "$pid"
		i=0
		while fleetlink_running "$pid" "$name" && [ $i -lt 50 ]; do
			sleep 0.1
			i=$((i + 1))
		done
		# A daemon that outlived the wait keeps its file.
		fleetlink_running "$pid" "$name" && return 0
	fi
	rm -f "$pid_file"
	return 0
}

# fleetlink_running <pid> <process name>: the process runs under that name
# (an ended one that its parent has not reaped yet no longer runs).
fleetlink_running() {
	grep -q "^$1 ($2) [^Z]" "/proc/$1/stat" 2>/dev/null
}
