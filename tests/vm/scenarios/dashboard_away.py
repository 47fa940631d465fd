"""the dashboard away and back: refused, silent, garbage, trickled; the daemons live, bounded, nothing applied"""
import os
import time

from mesh import expect
from scenarios._wired import DAEMONS, MAC, PERIOD, checkin, settle_gateway

TIME_LIMIT = 1320
AWAY = PERIOD + 10   # how long each fault lasts
REPLY_WAIT = 30      # how long a program waits for the dashboard's next bytes
EXCHANGE_LIMIT = 50  # how long a whole reply may take
WATCHDOG_PERIOD = 180
# The daemons' pids, the committed settings and crontab, and the names in
# /tmp and /var/run: what a fault must leave as it was.
SNAPSHOT = ("for p in %s; do echo \"$p $(pidof $p)\"; done; "
            "md5sum /etc/config/* /etc/crontabs/root; uci changes; "
            "ls -A /tmp /var/run | grep -v '^dhcp.leases$'" % " ".join(DAEMONS))


def refuse(mesh, on):
    """The machine's uplink turns every connection to the dashboard (by name or
    fallback address, port 80) to a closed port of its own, which refuses it.
    Taking the rule away gives how many connections it turned."""
    rule = "PREROUTING -i inet0 -p tcp --dport 80 -j DNAT --to-destination 100.64.0.1:9"
    if on:
        mesh.vm.check("iptables -t nat -I %s" % rule)
        return 0
    counted = refused_so_far(mesh)
    mesh.vm.check("iptables -t nat -D %s" % rule)
    return counted


def refused_so_far(mesh):
    return int(mesh.vm.check("iptables -t nat -L PREROUTING 1 -v -n -x | awk '{ print $1 }'"))


def set_fault(mesh, word):
    path = os.path.join(mesh.state, "fault")
    if word:
        with open(path, "w") as f:
            f.write(word + "\n")
    elif os.path.exists(path):
        os.remove(path)


def faults_since(mesh, start, key):
    return [r for r in mesh.records("fault") if r["time"] > start and key in r]


def run(mesh):
    mesh.phase("a wired gateway checks in and reports")
    settle_gateway(mesh)
    before = mesh.ok(1, SNAPSHOT)

    mesh.phase("refused: every connection to the dashboard refused for more than a period")
    start = time.time()
    refuse(mesh, True)
    # at least two connections refused (the controller and ifcounter each try once a period)
    mesh.wait_for("two refused connections", lambda: refused_so_far(mesh) >= 2, 3 * PERIOD, interval=2)
    time.sleep(max(0, start + AWAY - time.time()))
    refused = refuse(mesh, False)
    expect(not [r for r in mesh.records() if r["time"] > start + 2], "nothing reached the dashboard while refused")
    mesh.measure("refused: %d connections in %.0fs" % (refused, time.time() - start))
    expect(mesh.ok(1, SNAPSHOT) == before, "after the refusals: daemons, settings, files as they were")

    mesh.phase("silent: the dashboard takes each connection and never answers, for more than a period")
    start = time.time()
    set_fault(mesh, "silent")
    # until the controller and ifcounter have each given up a connection
    mesh.wait_for("held check-in and statistics", lambda: {"/checkin.php", "/netstats.php"} <=
                  {r["path"] for r in faults_since(mesh, start, "held")}, 3 * PERIOD + REPLY_WAIT, interval=2)
    time.sleep(max(0, start + AWAY - time.time()))
    set_fault(mesh, None)
    silent = start
    expect(mesh.ok(1, SNAPSHOT) == before, "after the silence: daemons, settings, files as they were")

    mesh.phase("garbage: a 1 MiB reply, an HTML error page holding '#', random bytes, for more than a period")
    start = time.time()
    set_fault(mesh, "garbage")
    mesh.wait_for("every kind of garbage, and the check-in's", lambda: (
        {r["garbage"] for r in faults_since(mesh, start, "garbage")} == {"random", "html", "huge"} and
        "/checkin.php" in {r["path"] for r in faults_since(mesh, start, "garbage")}), 4 * PERIOD, interval=2)
    time.sleep(max(0, start + AWAY - time.time()))
    set_fault(mesh, None)
    served = [(r["path"], r["garbage"]) for r in faults_since(mesh, start, "garbage")]
    mesh.measure("garbage: %d replies (%s)" % (len(served), ", ".join("%s %s" % s for s in served)))
    after = mesh.ok(1, SNAPSHOT)
    expect(after == before, "after the garbage: daemons, settings, files as they were:\n%s\nwas:\n%s" % (after, before))

    mesh.phase("trickle: a reply of one byte every 20 s, for more than a period")
    start = time.time()
    set_fault(mesh, "trickle")

    def given_up():
        return [r["path"] for r in faults_since(mesh, start, "trickle")]
    # the controller and ifcounter each give up a reply and try again on their next
    # pass; the watchdog's Internet check gives up one (its period is three minutes)
    mesh.wait_for("two check-ins and statistics, one Internet check, each given up", lambda: (
        given_up().count("/checkin.php") >= 2 and given_up().count("/netstats.php") >= 2 and
        "/serverping.php" in given_up()), WATCHDOG_PERIOD + 2 * EXCHANGE_LIMIT + 60, interval=2)
    time.sleep(max(0, start + AWAY - time.time()))
    set_fault(mesh, None)
    trickled = faults_since(mesh, start, "trickle")
    longest = max(r["held"] for r in trickled)
    mesh.measure("trickle: %d replies given up after at most %.1fs and %d bytes (%s) in %.0fs"
                 % (len(trickled), longest, max(r["bytes"] for r in trickled),
                    ", ".join(sorted({r["path"] for r in trickled})), time.time() - start))
    expect(longest <= EXCHANGE_LIMIT + 5, "a trickled reply held %.1fs" % longest)
    expect(mesh.ok(1, SNAPSHOT) == before, "after the trickle: daemons, settings, files as they were")

    mesh.phase("the dashboard back: the node checks in within a period")
    back = time.time()
    # a trickled reply still running when the dashboard came back ends at its limit
    seen = checkin(mesh, "a check-in after the return", back, PERIOD + EXCHANGE_LIMIT + 30)
    mesh.wait_record("statistics after the return", "stats", lambda r: r["mac"] == MAC, timeout=PERIOD + 30,
                     after=back)
    mesh.measure("the node checked in again %.0fs after the dashboard came back" % (seen["time"] - back))
    expect(mesh.ok(1, SNAPSHOT) == before, "at the end: daemons, settings, files as they were")

    held = faults_since(mesh, silent, "silent")  # the trickled replies have their own bound
    longest = max(r["held"] for r in held)
    mesh.measure("silent dashboard: %d connections held, the longest %.1fs before the node gave up (%s)"
                 % (len(held), longest, ", ".join(sorted({r["path"] for r in held}))))
    # each wait for the next bytes is bounded; the request's few segments may take one more
    expect(longest <= 2 * REPLY_WAIT + 5, "a connection held %.1fs" % longest)
