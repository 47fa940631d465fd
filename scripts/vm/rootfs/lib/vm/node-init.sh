#!/bin/sh
# First process of node N inside its new namespaces: gives the node its own
# /etc, /var, /tmp, /dev, sysfs (which shows this network namespace), an empty
# debugfs for the gateway table and the LED class of the router, then hands
# over to busybox init.
n=$1
dir=/nodes/$n
mount --bind "$dir/etc" /etc
mount --bind "$dir/var" /var
mount --bind "$dir/tmp" /tmp
mount -t sysfs sys /sys
mount -t tmpfs debug /sys/kernel/debug
mount -t tmpfs leds /sys/class/leds
for led in orange:link2 red:link1 green:link3 green:link4; do
  mkdir -p "/sys/class/leds/ubnt:$led"
  echo none > "/sys/class/leds/ubnt:$led/trigger"
  echo 0 > "/sys/class/leds/ubnt:$led/delay_off"
done
mount -t tmpfs dev /dev
mknod -m 666 /dev/null c 1 3
mknod -m 666 /dev/zero c 1 5
mknod -m 666 /dev/full c 1 7
mknod -m 666 /dev/random c 1 8
mknod -m 666 /dev/urandom c 1 9
mknod -m 666 /dev/tty c 5 0
ln -s /var/log/console /dev/console
mkdir -p /dev/pts /dev/shm
hostname "node$n"
cd /
exec /bin/busybox init
