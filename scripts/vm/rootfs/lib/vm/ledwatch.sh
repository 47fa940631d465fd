#!/bin/sh
# Records every change of the node's four LEDs (the LED class in the node is a
# tmpfs, so the programs' writes land in plain files), e.g.
# "leds: red:link1=default-on green:link3=timer green:link4=timer orange:link2=none".
. /lib/vm/functions.sh
last=""
while :; do
  now=""
  for led in red:link1 green:link3 green:link4 orange:link2; do
    now="$now $led=$(cat "/sys/class/leds/ubnt:$led/trigger" 2>/dev/null)"
  done
  [ "$now" != "$last" ] && [ -n "$last" ] && vm_event "leds:$now"
  last=$now
  sleep 1
done
