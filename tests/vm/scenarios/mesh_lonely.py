"""a lonely node on the wrong channel finds the cell and joins; two nodes, one mesh; the gateway leaves"""
import re
import time

from mesh import expect, gateway_address

TIME_LIMIT = 1800
PROGRAMS = ["watchdog", "fleetlink_supervisor", "clientscout", "ifcounter", "portsense"]
MAC = {1: "02:4E:00:00:01:E0", 2: "02:4E:00:00:02:E0"}
MESH0 = {1: "02:4e:00:00:01:10", 2: "02:4e:00:00:02:10"}


def run(mesh):
    mesh.phase("lonely node: portsense finds no gateway, lonely scans, moves to channel 1, joins as repeater")
    mesh.add_node(1, cable=True, programs=PROGRAMS)
    mesh.add_node(2, programs=PROGRAMS, uci=["wireless.radio0.channel=6"])
    mesh.wait_event(2, "start-up on channel 6", lambda e: e.startswith("network: channel 6,"), 180)
    mesh.wait_node(1, "node 1 is a gateway", "[ \"$(batctl gw | awk '{print $1}')\" = server ]", 300, interval=3)
    # portsense reads the gateway table four times, 30 s apart, then starts lonely, which
    # settles 70 s, reads the table three more times and scans
    log = mesh.wait_node(2, "lonely found the cell on channel 1",
                         "logread | grep -q 'Found BSSID on Channel: 1' && logread | grep portsense",
                         600, interval=5)
    expect("Lonely pid:" in log and "Configuring wireless channel on 1" in log, "portsense and lonely: %s" % log)
    found = time.time()
    # The mesh DHCP client's three discovers, right after the network restart, can come before
    # batman-adv has chosen its gateway; then the watchdog starts lonely again (its settle, three
    # table reads and a scan), which is the node's own way back: the bound covers one such round.
    mesh.wait_node(2, "node 2 joined as repeater", " && ".join([
        "[ \"$(uci get node.status.mode)\" = repeater ]",
        "grep -q \"option channel '1'\" /etc/config/wireless",
        "iw dev mesh0 link | grep -q 'freq: 2412'",
        "ip -4 -o addr show dev br-meship | grep -Eq 'inet 10\\.7\\.(8|9|10|11)\\.[0-9]+/22'",
        "! pidof lonely"]), 600, interval=5)
    mesh.measure("node 2 joined as repeater %.0fs after lonely found the cell" % (time.time() - found))
    expect("network: channel 1, mesh0 in cell 02:CA:FE:CA:CA:40" in " ".join(mesh.events(2)),
           "node 2's radio moved to channel 1: %s" % mesh.events(2))
    joined = time.time()

    mesh.phase("two nodes, one mesh: gateway table, bat_ping, the repeater's check-in (role R, hop 1, neighbour)")
    table = mesh.wait_node(2, "node 1 in the gateway table",
                           "grep -q %s /sys/kernel/debug/batman_adv/bat0/gateways && "
                           "cat /sys/kernel/debug/batman_adv/bat0/gateways" % MESH0[1], 60).splitlines()
    expect(len(table) == 2 and gateway_address(table[1]) == MESH0[1], "gateway table of node 2: %s" % table)
    mesh.ok(2, "/usr/sbin/batctl ping -c 4 %s >> /dev/null" % MESH0[1], timeout=60)
    expect(mesh.ok(2, "batctl gw | awk '{print $1}'").strip() == "client", "node 2 is gateway client")
    report = mesh.wait_record("node 2's check-in through the mesh", "checkin",
                              lambda r: r["mac"] == MAC[2] and r["fields"].get("role") == "R",
                              timeout=240, after=joined - 60)
    f = report["fields"]
    expect((f.get("hop"), f.get("nbs"), f.get("rssi")) == ("1", MESH0[1].upper(), "-30"),
           "repeater check-in: %s" % report["report"])
    expect(re.fullmatch(r"10\.7\.(8|9|10|11)\.\d+", f.get("lan", "")) and f.get("ip") == "169.254.2.16" and
           f.get("gateway") == "10.7.8.1", "repeater addresses: %s" % report["report"])
    gateway = mesh.wait_record("node 1's check-in with its neighbour", "checkin",
                               lambda r: r["mac"] == MAC[1] and r["fields"].get("nbs") == MESH0[2].upper(),
                               timeout=180, after=joined)
    expect((gateway["fields"].get("role"), gateway["fields"].get("hop"), gateway["fields"].get("rssi")) ==
           ("G", "0", "-30"), "gateway check-in: %s" % gateway["report"])

    mesh.phase("the gateway leaves: the repeater's lease runs out, its watchdog ends the DHCP client and starts "
               "lonely, which searches")
    mesh.unplug(1)
    mesh.ok(1, "ip link set mesh0 down")  # off the mesh
    left = time.time()
    # the mesh's leases are short; once one has run out the client discovers
    # on without end (busybox's client never ends once it has had a lease)
    mesh.wait_node(2, "the mesh lease ran out", "! ip -4 -o addr show dev br-meship | grep -q inet", 400, interval=5)
    lost = time.time()
    mesh.measure("node 2's mesh lease ran out %.0fs after the gateway left" % (lost - left))
    seen = len(mesh.events(2))
    mesh.wait_node(2, "the watchdog ended the mesh DHCP client and started lonely",
                   "[ ! -e /var/run/udhcpc-br-meship.pid ] && pidof lonely && "
                   "for p in $(pidof udhcpc); do ! grep -q br-meship /proc/$p/cmdline || exit 1; done", 400, interval=2)
    mesh.measure("node 2's watchdog started lonely %.0fs after the lease ran out" % (time.time() - lost))
    # a node that counts as mesh client ends lonely after its settle; this one
    # searches: its red LED goes on and lonely goes on
    mesh.wait_for("node 2: lonely searches", lambda: [e for e in mesh.events(2)[seen:]
                                                      if e.startswith("leds: red:link1=default-on")], 200)
    time.sleep(40)
    mesh.ok(2, "pidof lonely")
