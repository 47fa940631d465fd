"""five nodes, three hops: a chain gateway-2-3-4 and node 5 beside node 2; node 5 moved to a wrong channel"""
import re
import time

from mesh import expect, node_mac as mac

TIME_LIMIT = 2700
TIER = "soak"
RADIOS = 6  # a radio per node and one for the station
PROGRAMS = ["watchdog", "fleetlink_supervisor", "clientscout", "ifcounter", "portsense"]
NODES = (1, 2, 3, 4, 5)
# who hears whom: the chain 1-2-3-4 and node 5 beside node 2; the station is put beside one node at a time
LINKS = [(1, 2), (2, 3), (3, 4), (2, 5)]
STATION = ("station", 1)
DISTANCE = {2: 1, 3: 2, 4: 3, 5: 2}  # batman-adv hops to the gateway, node 1
SSID = "Chain-Guest"


def mesh0(n):
    return mac(n, "10")


def neighbours(n):
    return {mesh0(b if a == n else a) for a, b in LINKS if n in (a, b)}


def check_in_place(mesh, n, report):
    """A check-in of node n in the chain: its role, one gateway listed, and the
    neighbours and signals of its own station dump."""
    f = report["fields"]
    nbs, rssi = f.get("nbs", "").split(";"), f.get("rssi", "").split(";")
    expect(set(nbs) == neighbours(n) and len(nbs) == len(neighbours(n)), "node %d's neighbours: %s" % (n, f))
    expect(rssi == ["-30"] * len(nbs), "node %d's signals: %s" % (n, f))
    # hop is the number of gateways in the table, which is one here however far the gateway is
    expect((f.get("role"), f.get("hop")) == (("G", "0") if n == 1 else ("R", "1")), "node %d: %s" % (n, f))


def searched_and_moved(events):
    """The red LED of lonely's search, then a network on channel 1."""
    red = [i for i, e in enumerate(events) if e.startswith("leds: red:link1=default-on")]
    return red and any(e.startswith("network: channel 1,") for e in events[red[0]:])


def traceroute(mesh, n):
    """The batman-adv hops from node n to the gateway, as batctl traces them."""
    out = mesh.ok(n, "batctl meshif bat0 traceroute -n %s" % mesh0(1).lower(), timeout=60)
    return [line.split()[1].upper() for line in out.splitlines() if re.match(r"\s*\d+: ", line)]


def run(mesh):
    mesh.phase("five nodes boot; only neighbours hear each other: every repeater joins through the chain")
    mesh.topology(LINKS)
    mesh.set_config("#@#config wireless\npublic.ssid %s\n" % SSID)
    for n in NODES:
        mesh.add_node(n, cable=(n == 1), programs=PROGRAMS)
    booted = time.time()
    for n in NODES:
        role = "G" if n == 1 else "R"
        # the new public SSID reported: its Wi-Fi restart, which takes the node off the mesh a moment, is over
        report = mesh.wait_record("node %d's check-in as %s with the new SSID and all its neighbours" % (n, role),
                                  "checkin", lambda r: r["mac"] == mac(n) and r["fields"].get("role") == role and
                                  r["fields"].get("pssid") == SSID and
                                  len(r["fields"].get("nbs", "").split(";")) == len(neighbours(n)), timeout=1500)
        check_in_place(mesh, n, report)
        mesh.measure("node %d checked in as %s %.0fs after the boot: nbs=%s rssi=%s hop=%s"
                     % (n, role, report["time"] - booted, report["fields"]["nbs"], report["fields"]["rssi"],
                        report["fields"]["hop"]))

    mesh.phase("real multi-hop: traceroutes to the gateway, each node's client list and statistics through the mesh")
    for n, hops in sorted(DISTANCE.items()):
        path = traceroute(mesh, n)
        expect(len(path) == hops and path[-1] == mesh0(1), "node %d's route to the gateway: %s" % (n, path))
        mesh.measure("node %d: %d hops to the gateway (%s)" % (n, hops, " ".join(path)))
    expect(traceroute(mesh, 4)[:2] == [mesh0(3), mesh0(2)], "node 4 goes through 3 and 2")
    joined = time.time()
    for n in NODES:
        mesh.wait_record("node %d's statistics" % n, "stats", lambda r: r["mac"] == mac(n), timeout=180, after=joined)
    mesh.wait_record("the gateway's client list", "clients", lambda r: r["mac"] == mac(1), timeout=60)
    # A repeater's first "Empty" goes out before it has joined, so each one is
    # shown a client: the station, beside one node after the other (the
    # farthest first), each list reaching the dashboard through the mesh.
    for n in (4, 3, 5, 2):
        mesh.topology(LINKS + [(n, STATION)])
        joined = time.time()
        mesh.vm.check("/lib/vm/station.sh join 1 %s" % SSID)
        station = mesh.vm.check("/lib/vm/station.sh mac 1").strip().upper()
        listed = mesh.wait_record("node %d's client list with the station" % n, "clients",
                                  lambda r: r["mac"] == mac(n) and station in r["clients"].upper(), timeout=240,
                                  after=joined)
        expect(listed["clients"].upper().startswith("MAC=%s;" % station), "node %d's list: %r"
               % (n, listed["clients"]))
        mesh.measure("node %d's client list with the station %.0fs after it joined" % (n, listed["time"] - joined))
        mesh.vm.check("/lib/vm/station.sh leave 1")
    mesh.topology(LINKS)

    mesh.phase("node 5 moved to channel 6 (uci, network restart): lonely finds the cell on channel 1, it rejoins")
    seen = len(mesh.events(5))
    mesh.ok(5, "uci set wireless.radio0.channel=6 && uci commit wireless && /etc/init.d/network restart", timeout=120)
    moved = time.time()
    expect(any(e.startswith("network: channel 6,") for e in mesh.events(5)[seen:]), "node 5 is on channel 6")
    # lonely, started by the watchdog, prints to nowhere: its search shows in the
    # red LED, its move in the network restart on channel 1 and in uci
    mesh.wait_for("node 5: lonely searches, then restarts the network on channel 1",
                  lambda: searched_and_moved(mesh.events(5)[seen:]), 1200, interval=5)
    mesh.measure("node 5: lonely moved the radio back to channel 1 %.0fs after the move" % (time.time() - moved))
    back = mesh.wait_record("node 5's check-in after the move, with its neighbour", "checkin",
                            lambda r: r["mac"] == mac(5) and r["fields"].get("nbs") == mesh0(2) and
                            r["fields"].get("role") == "R", timeout=600, after=moved + 60)
    check_in_place(mesh, 5, back)
    mesh.ok(5, "[ \"$(uci get wireless.radio0.channel)\" = 1 ] && iw dev mesh0 link | grep -q 'freq: 2412'")
    expect(not [e for e in mesh.events(5)[seen:] if e.startswith("reboot requested")], "node 5 rejoined without the "
           "reboot of lonely's eleventh cycle: %s" % mesh.events(5)[seen:])
    mesh.measure("node 5 rejoined: its first check-in %.0fs after the move to channel 6" % (back["time"] - moved))
