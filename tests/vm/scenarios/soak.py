"""the two-node mesh for an hour, the configuration changing: the same daemons, memory, descriptors, processes flat"""
import os
import time

from mesh import expect, node_mac

SECONDS = int(os.environ.get("SOAK_SECONDS", "3900"))
TIME_LIMIT = SECONDS + 900
TIER = "soak"
DAEMONS = ["watchdog", "fleetlink_supervisor", "clientscout", "ifcounter"]
SAMPLE_EVERY = 300
CHANGE_EVERY = 200  # about every third check-in
# Each daemon's resident memory (kB) and open descriptors, and the node's processes.
# A daemon running a command has a child of its name for a moment: the
# daemon is the oldest process of the name. The processes are counted by
# their names alone: one that ends while it is counted cannot make an error.
SAMPLE = ("for p in %s; do pid=$(pidof $p | tr ' ' '\\n' | sort -n | head -n 1); "
          "[ -n \"$pid\" ] || { echo \"$p - - -\"; continue; }; "
          "echo \"$p $pid $(awk '/^VmRSS/ { print $2 }' /proc/$pid/status) $(ls /proc/$pid/fd | wc -l)\"; done; "
          "echo \"processes $(echo /proc/[0-9]* | wc -w)\"" % " ".join(DAEMONS))


def config(turn):
    return "#@#config wireless\npublic.ssid Soak-%d\n" % (turn % 2)


def sample(mesh, n):
    """{daemon: (pid, rss kB, descriptors)}, and the node's process count."""
    rows, processes = {}, 0
    for line in mesh.ok(n, SAMPLE).splitlines():
        words = line.split()
        if words[0] == "processes":
            processes = int(words[1])
        else:
            expect(words[1] != "-", "node %d: %s is not running" % (n, words[0]))
            rows[words[0]] = (words[1], int(words[2]), int(words[3]))
    return rows, processes


def report(mesh, n, samples):
    for d in DAEMONS:
        rss = [s[0][d][1] for s in samples]
        fds = [s[0][d][2] for s in samples]
        # the whole series, which tells a one-time growth from a steady one
        mesh.measure("node %d %-20s rss kB %s (largest %d); descriptors %s"
                     % (n, d, " ".join(map(str, rss)), max(rss), " ".join(map(str, fds))))
        pids = sorted({s[0][d][0] for s in samples}, key=int)
        # a daemon started anew would begin its figures afresh and hide a leak
        expect(len(pids) == 1, "node %d %s ran as several processes in turn: pids %s" % (n, d, pids))
        expect(rss[-1] <= rss[0] + 128, "node %d %s grew from %d to %d kB" % (n, d, rss[0], rss[-1]))
        expect(max(fds) <= fds[0] + 2 and fds[-1] <= fds[0] + 1, "node %d %s descriptors %s" % (n, d, fds))
    procs = [s[1] for s in samples]
    mesh.measure("node %d processes %s" % (n, " ".join(map(str, procs))))
    expect(procs[-1] <= procs[0] + 3, "node %d processes %s" % (n, procs))


def run(mesh):
    mesh.phase("two nodes boot: a gateway and a repeater")
    mesh.set_config(config(0))
    for n in (1, 2):
        mesh.add_node(n, cable=(n == 1), programs=DAEMONS + ["portsense"])
    # the gateway's first check-in goes out as R, before portsense has settled its role
    mesh.wait_record("the repeater's check-in", "checkin",
                     lambda r: r["mac"] == node_mac(2) and r["fields"].get("role") == "R", timeout=600)

    mesh.phase("%ds with the configuration changing every %ds, sampled every %ds" % (SECONDS, CHANGE_EVERY,
                                                                                  SAMPLE_EVERY))
    start = time.time()
    samples = {1: [], 2: []}
    turn, next_change, next_sample = 0, start + CHANGE_EVERY, start
    while True:
        now = time.time()
        if now >= next_sample:
            for n in (1, 2):
                samples[n].append(sample(mesh, n))
            next_sample += SAMPLE_EVERY
            if now - start >= SECONDS:
                break
        if now >= next_change:
            turn += 1
            mesh.set_config(config(turn))
            next_change += CHANGE_EVERY
        time.sleep(5)
    checkins = [r for r in mesh.records("checkin") if r["time"] > start]
    applied = {r["fields"].get("pssid") for r in checkins}
    mesh.measure("%d samples, %d configuration changes, %d check-ins; SSIDs reported %s"
                 % (len(samples[1]), turn, len(checkins), sorted(applied)))
    # every SSID but the last one set has had a check-in to report it
    wanted = {"Soak-%d" % (t % 2) for t in range(max(1, turn))}
    expect(wanted <= applied, "the changes were applied: %s, wanted %s" % (sorted(applied), sorted(wanted)))
    for n in (1, 2):
        report(mesh, n, samples[n])
