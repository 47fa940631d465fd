"""A wired gateway settled for a scenario: node 1 boots with its cable,
checks in, becomes the gateway through portsense and reports."""
import time

DAEMONS = ["watchdog", "fleetlink_supervisor", "clientscout", "ifcounter"]
MAC = "02:4E:00:00:01:E0"
PERIOD = 60  # the controller's check-in period and the reporters' cycle


def checkin(mesh, what, after, timeout, predicate=lambda f: True):
    """The next check-in of node 1 after the time `after` whose query fields satisfy predicate."""
    return mesh.wait_record(what, "checkin", lambda r: r["mac"] == MAC and predicate(r["fields"]),
                            timeout=timeout, after=after)


def settle_gateway(mesh):
    mesh.add_node(1, cable=True, programs=DAEMONS)
    checkin(mesh, "the first check-in", 0, 240)
    mesh.vm.check("/lib/vm/node.sh uplink 1 ifup")
    mesh.wait_node(1, "portsense done: the gateway role", "[ \"$(uci get node.status.mode)\" = gateway ] && "
                   "! pidof portsense", 240, interval=3)
    settled = time.time()
    checkin(mesh, "a check-in of the gateway", settled, PERIOD + 60)
    mesh.wait_record("a statistics report", "stats", lambda r: r["mac"] == MAC, timeout=PERIOD + 60, after=settled)
