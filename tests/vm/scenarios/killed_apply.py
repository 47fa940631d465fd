"""the controller killed in the middle of an apply: portal settings and crontab old or new, never cut; the watchdog brings it back"""
import re
import time

from mesh import expect
from scenarios._wired import PERIOD, MAC, checkin, settle_gateway

TIME_LIMIT = 900
TIER = "soak"
WATCHDOG_PERIOD = 180
DEFAULTS = ("# chilli\nHS_LANIF=br-lan\nHS_NETWORK=192.168.182.0\nHS_NETMASK=255.255.255.0\n"
            "HS_UAMLISTEN=192.168.182.1\nHS_DNS1=8.8.8.8\nHS_UAMPORT=3990\nHS_UAMSERVER=portal.example\n")
# The gateway's public network (10.7.0.1/22) and the dashboard's two settings merged in.
MERGED = ("# chilli\nHS_LANIF=br-pub\nHS_NETWORK=10.7.0.0\nHS_NETMASK=255.255.252.0\n"
          "HS_UAMLISTEN=10.7.0.1\nHS_DNS1=10.3.48.1\nHS_UAMPORT=4990\nHS_UAMSERVER=portal.example\n")
# The chilli portal with new settings and a daily reboot at three: the
# apply merges the portal's settings and starts it, then rewrites the crontab.
CONFIG = ("#@#config chilli\nenable 1\nHS_DNS1 10.3.48.1\nHS_UAMPORT 4990\n"
          "#@#config management\ncp_enable 1\ncp_name chilli\n"
          "#@#config s_reboot\nenable 1\ndate d\ntime 3\n")
FILES = "cat /etc/chilli/defaults; echo @; cat /etc/crontabs/root"
# Waits in the node for the portal merge's temporary file, which stands while
# the merge holds its written settings (a second) before renaming them into
# place, and kills the controller then.
KILL = ("i=0; while [ ! -e /etc/chilli/defaults.tmp ]; do i=$((i + 1)); [ $i -lt 3000 ] || exit 1; sleep 0.05; done; "
        "kill -9 %s")


def run(mesh):
    mesh.phase("a wired gateway with a portal configuration and a crontab")
    settle_gateway(mesh)
    mesh.ok(1, "mkdir -p /etc/chilli && printf '%s' > /etc/chilli/defaults" % DEFAULTS)
    old = mesh.ok(1, FILES)
    controller = mesh.ok(1, "cat /tmp/kestrel.pid").strip()

    mesh.phase("killed while the portal's settings are merged: both files as they were")
    mesh.set_config(CONFIG, mac=MAC)
    mesh.ok(1, KILL % controller, timeout=PERIOD + 120)
    killed = time.time()
    mesh.ok(1, "sleep 1; ! kill -0 %s" % controller)
    expect(mesh.ok(1, FILES) == old, "after the kill: %r, was %r" % (mesh.ok(1, FILES), old))

    mesh.phase("the watchdog brings the controller back; its apply completes")
    back = mesh.wait_node(1, "a new controller", "c=$(pidof fleetlink_supervisor) && "
                          "[ \"$c\" = \"$(cat /tmp/kestrel.pid)\" ] && echo $c", WATCHDOG_PERIOD + 60, interval=3)
    mesh.measure("the watchdog restarted the controller %.0fs after the kill" % (time.time() - killed))
    expect(back.strip() != controller, "a new process: %s" % back)
    checkin(mesh, "the restarted controller's check-in", killed, PERIOD + 60, lambda f: f.get("RR") == "1")
    done = mesh.wait_node(1, "the portal merged and the reboot scheduled",
                          "grep -qx HS_UAMPORT=4990 /etc/chilli/defaults && grep -q do_reboot /etc/crontabs/root && "
                          "{ %s; }" % FILES, PERIOD + 60, interval=3)
    defaults, crontab = done.split("@\n", 1)
    expect(defaults == MERGED, "the merged portal settings: %r" % defaults)
    expect("chilli: start" in mesh.events(1), "the portal started: %s" % mesh.events(1))
    old_crontab = old.split("@\n", 1)[1]
    kept = [line for line in crontab.splitlines() if "reboot" not in line]
    expect(kept == [line for line in old_crontab.splitlines() if "reboot" not in line],
           "the crontab's other lines kept in order: %r, was %r" % (crontab, old_crontab))
    reboots = [line for line in crontab.splitlines() if "reboot" in line]
    expect(len(reboots) == 1 and re.fullmatch(r"0 3 \* \* \* +/sbin/do_reboot 93", reboots[0]),
           "one daily reboot at three: %r" % reboots)
    expect(mesh.sh(1, "ls /etc/chilli/defaults.tmp /etc/crontabs/root.tmp")[0] != 0,
           "no temporary file left once the apply completed")
