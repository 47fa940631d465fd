#!/bin/sh
# Runs the host's commands arriving on a serial line, one at a time.
# Request:  "<id> <time limit in seconds> <base64 of a shell script>"
# Answer:   "@@B <id>", base64 lines of the script's output, "@@E <id> <exit status>"
tty=$1
stty -F "$tty" raw -echo -onlcr 2>/dev/null
exec 3<>"$tty"
echo "@@READY" >&3
while read -r id limit script <&3; do
  [ -n "$id" ] || continue
  out=/tmp/agent.out
  echo "$script" | base64 -d > /tmp/agent.sh 2>/dev/null
  # a script over its time limit is killed, so one hung command cannot stop the agent
  timeout -s KILL "$limit" sh /tmp/agent.sh > "$out" 2>&1 </dev/null
  rc=$?
  { echo "@@B $id"; base64 < "$out"; echo "@@E $id $rc"; } >&3
done
