"""two gateways, one pulled: the mesh checks in through the other; the last gateway lost and back: the repeaters rejoin"""
import time

from mesh import expect, node_mac as mac

TIME_LIMIT = 3000
TIER = "soak"
PROGRAMS = ["watchdog", "fleetlink_supervisor", "clientscout", "ifcounter", "portsense"]
NODES = (1, 2, 3)
LINKS = [(1, 2), (2, 3)]  # node 2 hears both gateways, which do not hear each other
SEARCH = ("[ ! -e /var/run/udhcpc-br-meship.pid ] && pidof lonely && "
          "for p in $(pidof udhcpc); do ! grep -q br-meship /proc/$p/cmdline || exit 1; done")


def mesh0(n):
    return mac(n, "10").lower()  # as batctl prints it


def first_checkins(mesh, nodes, after, role, timeout):
    """Each node's first check-in after the time `after`, in the role given ({node: role letter})."""
    return {n: mesh.wait_record("node %d's check-in as %s" % (n, role[n]), "checkin",
                                lambda r: r["mac"] == mac(n) and r["fields"].get("role") == role[n],
                                timeout=timeout, after=after)
            for n in nodes}


def run(mesh):
    mesh.phase("two gateways, node 2 between them: both in its gateway table, it selects one")
    mesh.topology(LINKS)
    for n in NODES:
        mesh.add_node(n, cable=(n != 2), programs=PROGRAMS)
    report = mesh.wait_record("node 2's check-in with two gateways listed", "checkin",
                              lambda r: r["mac"] == mac(2) and r["fields"].get("hop") == "2", timeout=1200)
    expect(report["fields"].get("role") == "R", "node 2 is a repeater: %s" % report["report"])
    selected = mesh.ok(2, "batctl meshif bat0 gwl | awk '$1 == \"*\" || $1 == \"=>\" { print $2 }'").split()
    expect(len(selected) == 1 and selected[0] in (mesh0(1), mesh0(3)), "node 2 selected one gateway: %s" % selected)
    mesh.measure("node 2 lists two gateways (hop=2) and selected %s" % selected[0])
    first_checkins(mesh, (1, 3), 0, {1: "G", 3: "G"}, 300)

    mesh.phase("node 1's cable pulled: portsense makes it a repeater; every node checks in through node 3")
    mesh.unplug(1)
    pulled = time.time()
    mesh.wait_node(1, "node 1 is a repeater", "[ \"$(uci get node.status.mode)\" = repeater ] && ! pidof portsense",
                   600, interval=3)
    reports = first_checkins(mesh, NODES, pulled, {1: "R", 2: "R", 3: "G"}, 900)
    last = max(r["time"] for r in reports.values())
    mesh.measure("the pull to the last node's first check-in: %.0fs (node 1 %.0fs, node 2 %.0fs, node 3 %.0fs)"
                 % ((last - pulled,) + tuple(reports[n]["time"] - pulled for n in NODES)))
    # node 1's gateway announcement ages out of the tables a little later
    settled = {n: mesh.wait_record("node %d's check-in with one gateway listed" % n, "checkin",
                                   lambda r: r["mac"] == mac(n) and r["fields"].get("hop") == "1", timeout=300,
                                   after=pulled) for n in (1, 2)}
    node3 = mesh.ok(3, "ip -4 -o addr show dev br-meship | awk '{ sub(\"/.*\", \"\", $4); print $4; exit }'").strip()
    expect(settled[1]["fields"]["gateway"] == settled[2]["fields"]["gateway"] == node3,
           "one way out, through node 3 (%s): %s, %s" % (node3, settled[1]["report"], settled[2]["report"]))
    mesh.measure("the repeaters list node 3 alone %.0fs after the pull" % (max(r["time"] for r in settled.values())
                                                                          - pulled))

    mesh.phase("node 3, the last gateway, unplugged and off the mesh: each repeater's lease runs out, "
               "its watchdog starts lonely, which searches")
    seen = {n: len(mesh.events(n)) for n in (1, 2)}
    mesh.unplug(3)
    mesh.topology([(1, 2)])
    lost = time.time()
    for n in (1, 2):
        mesh.wait_node(n, "the mesh lease ran out and the watchdog started lonely", SEARCH, 900, interval=3)
        mesh.measure("node %d searches (no lease, no pid file, lonely) %.0fs after the gateway left"
                     % (n, time.time() - lost))
    for n in (1, 2):
        mesh.wait_for("node %d: lonely's red LED" % n, lambda: [e for e in mesh.events(n)[seen[n]:]
                                                               if e.startswith("leds: red:link1=default-on")], 200)

    mesh.phase("node 3 comes back: plugged in, back in the mesh; the repeaters rejoin (lonely's gateway test, "
               "or the reboot its eleventh cycle asks for) and check in")
    mesh.topology(LINKS)
    mesh.plug(3)
    back = time.time()
    waiting, rebooted = {1, 2}, set()
    deadline = back + 1200
    while waiting:
        expect(time.time() < deadline, "nodes %s did not check in again" % sorted(waiting))
        for n in sorted(waiting):
            # lonely's reboot: through the platform's do_reboot, which keeps its reason 30
            if n not in rebooted and "reboot requested: reboot" in mesh.events(n)[seen[n]:] and \
                    mesh.ok(n, "cat /etc/reboot_reason 2>/dev/null; true").split()[2:] == ["30"]:
                mesh.measure("node %d: lonely asked for a reboot %.0fs after the gateway came back"
                             % (n, time.time() - back))
                mesh.reboot(n)
                rebooted.add(n)
            if [r for r in mesh.records("checkin") if r["mac"] == mac(n) and r["time"] > back and
                    r["fields"].get("role") == "R"]:
                mesh.measure("node %d checked in again %.0fs after the gateway came back (%s)"
                             % (n, time.time() - back, "after the reboot" if n in rebooted else "without a reboot"))
                waiting.discard(n)
        time.sleep(5)
