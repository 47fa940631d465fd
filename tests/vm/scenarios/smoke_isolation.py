"""the dashboard is reached by name and by the fallback address, nothing else is"""
import re

from mesh import expect

TIME_LIMIT = 300
PING = "printf 'POST /serverping.php?fw=QX HTTP/1.0\\r\\nHost: %s\\r\\n\\r\\n' | nc -w 20 %s 80"


def run(mesh):
    mesh.add_node(1, cable=True)
    mesh.add_node(2)
    mesh.wait_event(1, "uplink lease", lambda e: e.startswith("udhcpc: br-lan bound"), 180)
    mesh.wait_event(2, "start-up", lambda e: e == "boot done", 180)
    host = mesh.ok(1, "awk '$1 == \"10.0.2.100\" { print $2 }' /etc/hosts").strip()
    built = mesh.vm.check(". /etc/vm/build; echo $DASHBOARD_HOST").strip()
    expect(host == built, "the dashboard's name %r in /etc/hosts: %r" % (built, host))
    fallback = mesh.ok(1, "uci get dashboard.remote.fallback_ip").strip()

    by_name = mesh.ok(1, PING % (host, host), timeout=60)
    expect(by_name.startswith("HTTP/1.0 200") and by_name.endswith("#@#Succeed"), "by name: %r" % by_name)
    by_ip = mesh.ok(1, PING % (host, fallback), timeout=60)
    expect(by_ip.endswith("#@#Succeed"), "by the fallback address %s: %r" % (fallback, by_ip))
    pings = mesh.records("serverping")
    expect([r["host"] for r in pings] == [host, host], "the dashboard saw both requests: %s" % pings)

    # nothing else: the host's loopback behind QEMU's gateway (where the
    # dashboard really listens), another address, QEMU's name server, other names
    port = mesh.server.server_address[1]
    for target in ("10.0.2.2 %d" % port, "10.0.2.2 22", "198.51.100.1 80", "10.0.2.3 53"):
        rc, out = mesh.sh(1, "nc -w 10 %s < /dev/null" % target, timeout=60)
        expect(rc != 0, "%s must not be reachable: %r" % (target, out))
    rc, out = mesh.sh(1, "nslookup example.com 10.0.2.3", timeout=60)
    expect(rc != 0, "no name service: %r" % out)
    rc, out = mesh.sh(1, "nc -w 10 example.com 80 < /dev/null", timeout=60)
    expect(rc != 0 and re.search(r"bad address", out), "other names do not resolve: %r" % out)

    # a node without cable and without mesh address reaches nothing
    rc, out = mesh.sh(2, PING % (host, host), timeout=60)
    expect(rc != 0 and "unreachable" in out, "node 2 without uplink: %r" % out)
    expect(len(mesh.records()) == 2, "no other request arrived: %s" % mesh.records())

    # the cable: out makes eth0 up but not running, in makes it running again
    running = "ip -o link show eth0 | grep -q 'LOWER_UP' && echo running || echo down"
    expect(mesh.ok(1, running).strip() == "running", "node 1 cable in")
    mesh.unplug(1)
    mesh.wait_node(1, "cable out", "[ \"$(%s)\" = down ]" % running, 30)
    mesh.plug(1)
    mesh.wait_node(1, "cable in", "[ \"$(%s)\" = running ]" % running, 30)
    expect(mesh.events(1)[-2:] == ["cable out", "cable in"], "cable events: %s" % mesh.events(1)[-2:])
