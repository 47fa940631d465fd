#!/usr/bin/env python3
"""A virtual mesh: one virtual machine holding simulated nodes, and the
stand-in dashboard they talk to. Used by the scenarios (tests/vm) and, as a
program, by scripts/mesh.sh: boots the mesh and prints, as it happens, what
the dashboard receives and what the nodes apply.

    mesh.py [--nodes N] [--for SECONDS] [--state DIR]
"""
import argparse
import json
import os
import shutil
import sys
import time

import dashboard
import vmctl

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
DAEMONS = ["watchdog", "fleetlink_supervisor", "clientscout", "ifcounter"]


class ScenarioFailure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise ScenarioFailure(message)


def node_mac(n, last="E0"):
    """A MAC address the image gives node n (E0 its cable, the node's id in
    the check-ins; 10 its mesh0), upper case as the check-ins carry it."""
    return "02:4E:00:00:%02X:%s" % (n, last)


def gateway_address(line):
    """The gateway's address in a line of the batman-adv gateway table: the
    first field, or the second behind the mark of the selected gateway."""
    fields = line.split()
    return fields[1] if fields and fields[0] in ("*", "=>") and len(fields) > 1 else (fields or [""])[0]


class Mesh:
    """The virtual machine, its nodes and the dashboard's records."""

    def __init__(self, workdir, dashboard_out=None, radios=4, arch="x86_64"):
        self.workdir = workdir
        self.state = os.path.join(workdir, "dashboard")
        os.makedirs(self.state, exist_ok=True)
        self.log = dashboard_out or open(os.path.join(workdir, "dashboard.log"), "a")
        self.server = dashboard.serve(self.state, out=self.log)
        self.radios = radios
        self.vm = vmctl.Vm(os.path.join(workdir, "vm"), self.server.server_address[1], arch=arch, radios=radios)
        self.event_seen = {}
        self.phases = []  # (name, start time): the parts of a scenario, for its report
        self.measures = []  # figures a scenario measured, for its report
        self.created = {}  # node number: when it was started
        self.cpu_per_checkin = {}  # node number: the controller's processor seconds per check-in

    def start(self):
        self.vm.start()
        return self

    def stop(self):
        self.vm.stop()
        self.server.shutdown()
        self.server.server_close()

    # --- nodes -----------------------------------------------------------
    def add_node(self, n, cable=False, programs=(), uci=()):
        """Starts node n; programs start at boot, uci ("pkg.section.option=value",
        no blanks) is set and committed before it boots."""
        self.created[n] = time.time()
        self.vm.check("NODE_UCI=%s /lib/vm/node.sh create %d %s %s" % (
            vmctl.shell_quote(" ".join(uci)), n, "cable" if cable else "", " ".join(programs)))

    def reboot(self, n):
        """What the router does on a reboot request, which its stand-in only records."""
        self.vm.check("/lib/vm/node.sh reboot %d" % n)

    def radio(self, who):
        """The radio of node n, or of station S given as ("station", S) (station.sh counts from the last)."""
        return self.radios - who[1] if isinstance(who, tuple) else who - 1

    def topology(self, links):
        """Only the pairs in links hear each other; frames between any other two
        radios are not delivered. Each link is one bit of mac80211_hwsim's radio
        groups: two radios hear each other when their groups share a bit."""
        groups = {}
        for bit, pair in enumerate(links):
            for who in pair:
                groups[self.radio(who)] = groups.get(self.radio(who), 0) | 1 << bit
        self.vm.check("; ".join("echo 0x%x > /sys/kernel/debug/ieee80211/phy%d/hwsim/group"
                                % (groups.get(phy, 0), phy) for phy in range(self.radios)))

    def sh(self, n, script, timeout=120):
        """Runs a script in node n: (exit status, output)."""
        return self.vm.node(n, script, timeout)

    def ok(self, n, script, timeout=120):
        rc, out = self.sh(n, script, timeout)
        expect(rc == 0, "node %d: %r failed (%d): %s" % (n, script, rc, out.strip()))
        return out

    def plug(self, n):
        self.vm.check("/lib/vm/node.sh plug %d" % n)

    def unplug(self, n):
        self.vm.check("/lib/vm/node.sh unplug %d" % n)

    def events(self, n):
        rc, out = self.vm.sh("cat /nodes/%d/var/log/vm-events 2>/dev/null" % n)
        return [line.split(" ", 1)[1] for line in out.splitlines() if " " in line]

    def new_events(self, nodes):
        """The node events that arrived since the last call, as (node, text)."""
        script = "; ".join("echo @%d; cat /nodes/%d/var/log/vm-events 2>/dev/null" % (n, n) for n in nodes)
        _, out = self.vm.sh(script)
        fresh, node = [], None
        counts = {}
        for line in out.splitlines():
            if line.startswith("@"):
                node = int(line[1:])
                continue
            counts[node] = counts.get(node, 0) + 1
            if counts[node] > self.event_seen.get(node, 0) and " " in line:
                fresh.append((node, line.split(" ", 1)[1]))
        self.event_seen.update(counts)
        return fresh

    # --- waiting for what can be observed ---------------------------------
    def wait_for(self, what, probe, timeout, interval=1.0):
        """Calls probe until it returns something true; fails after timeout seconds."""
        deadline = time.time() + timeout
        last = None
        while True:
            last = probe()
            if last:
                return last
            if time.time() > deadline:
                raise ScenarioFailure("waited %ds for %s" % (timeout, what))
            time.sleep(interval)

    def wait_node(self, n, what, script, timeout, interval=1.0):
        """Waits until a script in node n succeeds; returns its output."""
        def probe():
            rc, out = self.sh(n, script)
            return (out,) if rc == 0 else None  # a tuple: an empty output counts too
        return self.wait_for("node %d: %s" % (n, what), probe, timeout, interval)[0]

    def wait_event(self, n, what, predicate, timeout):
        return self.wait_for("node %d: %s" % (n, what),
                             lambda: [e for e in self.events(n) if predicate(e)], timeout)

    def phase(self, name):
        """Starts a named part of a scenario; the runner reports each part's time."""
        self.phases.append((name, time.time()))

    def measure(self, text):
        """A figure the scenario measured (a recovery time, a count); the runner reports it."""
        self.measures.append(text)

    # --- the dashboard ----------------------------------------------------
    def records(self, kind=None):
        try:
            with open(os.path.join(self.state, "records.jsonl")) as f:
                rows = [json.loads(line) for line in f if line.strip()]
        except OSError:
            return []
        return [r for r in rows if kind is None or r.get("kind") == kind]

    def wait_record(self, what, kind, predicate=lambda r: True, timeout=300, after=0):
        """Waits for a dashboard record of that kind, received after the time
        `after`, for which predicate holds; returns it."""
        def probe():
            rows = [r for r in self.records(kind) if r["time"] > after and predicate(r)]
            return rows[0] if rows else None
        return self.wait_for("the dashboard: %s" % what, probe, timeout, interval=2)

    def set_config(self, text, mac=None):
        """The configuration text that the dashboard sends to one node (or to all)."""
        name = (mac.upper() + ".conf") if mac else "default.conf"
        with open(os.path.join(self.state, "config", name), "w") as f:
            f.write(text)

    def put_file(self, name, data):
        """A file the dashboard serves (custom.sh, a firmware image, a splash archive)."""
        with open(os.path.join(self.state, "files", name), "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())


SAMPLE_CONFIG = """#@#config wireless
radio0.channel 1
public.ssid Fleetlink-Guest
private.ssid Fleetlink-Staff
private.key staff-secret
#@#config management
network vmesh
"""


def live(args):
    workdir = args.state
    os.makedirs(workdir, exist_ok=True)
    for old in ("vm", "dashboard"):
        shutil.rmtree(os.path.join(workdir, old), ignore_errors=True)
    mesh = Mesh(workdir, dashboard_out=sys.stdout)
    mesh.set_config(SAMPLE_CONFIG)
    print("booting the virtual machine (QEMU, software emulation)...", flush=True)
    try:
        mesh.start()
        _, programs = mesh.vm.sh(". /etc/vm/build; echo $PROGRAMS")
        programs = programs.split()
        print("up in %.0fs; programs in the image: %s" % (mesh.vm.boot_seconds, " ".join(programs) or "none yet"),
              flush=True)
        start = [p for p in DAEMONS + ["portsense"] if p in programs]
        for n in range(1, args.nodes + 1):
            mesh.add_node(n, cable=(n == 1), programs=start)
            print("%s node%d: created (%s), starts: %s" % (time.strftime("%H:%M:%S"), n,
                  "gateway cable plugged" if n == 1 else "no cable", " ".join(start) or "nothing"), flush=True)
        deadline = time.time() + args.seconds if args.seconds else None
        while deadline is None or time.time() < deadline:
            for n, text in mesh.new_events(range(1, args.nodes + 1)):
                print("%s node%d: %s" % (time.strftime("%H:%M:%S"), n, text), flush=True)
            time.sleep(2)
        if args.memory:
            print_memory(mesh, args.nodes, start)
    except KeyboardInterrupt:
        pass
    finally:
        print("stopping the virtual mesh", flush=True)
        mesh.stop()
    return 0


def daemon_figures(mesh, n, program):
    """Each running process of a program on node n: {"hwm", "rss"} in kB,
    "age" in seconds and "cpu" (user and system time) in seconds."""
    _, out = mesh.sh(n, "for pid in $(pidof %s); do "
                        "awk '/^VmHWM|^VmRSS/ { printf \"%%s %%s \", $1, $2 }' /proc/$pid/status; "
                        "awk -v up=\"$(cut -d' ' -f1 /proc/uptime)\" "
                        "'{ print \"age\", up - $22 / 100, \"cpu\", ($14 + $15) / 100 }' /proc/$pid/stat; done" % program)
    found = []
    for line in out.splitlines():
        words = line.replace(":", "").split()
        values = dict(zip(words[0::2], words[1::2]))
        if {"VmHWM", "VmRSS", "age", "cpu"} <= set(values):
            found.append({"hwm": int(values["VmHWM"]), "rss": int(values["VmRSS"]),
                          "age": float(values["age"]), "cpu": float(values["cpu"])})
    return found


def print_memory(mesh, nodes, programs):
    """Each daemon's peak and current resident memory (VmHWM, VmRSS) on each
    node, how long that process has run (a restarted one has run fewer
    cycles), and what the dashboard received: the cycles behind the figures."""
    print("peak resident memory (VmHWM) and resident now (VmRSS), kB; the process's age:", flush=True)
    for n in range(1, nodes + 1):
        for p in programs:
            text = " ".join("VmHWM %(hwm)d VmRSS %(rss)d age %(age)ds" % f for f in daemon_figures(mesh, n, p))
            print("  node%d %-22s %s" % (n, p, text or "not running"), flush=True)
    counts = {}
    for r in mesh.records():
        key = (r.get("mac", "").upper(), r.get("kind"))
        counts[key] = counts.get(key, 0) + 1
    print("the dashboard received:", flush=True)
    for mac in sorted({m for m, _ in counts if m}):
        print("  %s: %s" % (mac, ", ".join("%d %s" % (counts[(mac, k)], k) for k in ("checkin", "stats", "clients")
                                           if (mac, k) in counts)), flush=True)


def node_figures(mesh, nodes, programs):
    """What a node costs, as lines: each daemon's peak resident memory, the
    time from the node's start to its first check-in, and the controller's
    processor time per check-in it made (user and system time over the
    check-ins the dashboard received since that process started)."""
    lines = []
    checkins = mesh.records("checkin")
    for n in nodes:
        peaks = []
        for p in programs:
            figures = daemon_figures(mesh, n, p)
            peaks.append("%s %s" % (p, "/".join("%d" % f["hwm"] for f in figures) or "-"))
            if p == "fleetlink_supervisor" and len(figures) == 1:
                since = time.time() - figures[0]["age"]
                made = [r for r in checkins if r["mac"] == node_mac(n) and r["time"] >= since]
                if made:
                    mesh.cpu_per_checkin[n] = figures[0]["cpu"] / len(made)
                    lines.append("node %d: %.3f s of processor time per check-in (%.2f s over %d check-ins)" % (
                        n, mesh.cpu_per_checkin[n], figures[0]["cpu"], len(made)))
        if peaks:
            lines.append("node %d: peak resident memory (VmHWM, kB): %s" % (n, ", ".join(peaks)))
        first = [r["time"] for r in checkins if r["mac"] == node_mac(n)]
        if first and n in mesh.created:
            lines.append("node %d: first check-in %.0f s after the node started" % (n, min(first) - mesh.created[n]))
    return lines


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--nodes", type=int, default=2)
    ap.add_argument("--for", dest="seconds", type=int, default=0, help="stop after this many seconds")
    ap.add_argument("--state", default=os.path.join(ROOT, "build", "vm-mesh"))
    ap.add_argument("--memory", action="store_true",
                    help="at the end (--for), print each daemon's peak resident memory on each node")
    return live(ap.parse_args())


if __name__ == "__main__":
    sys.exit(main())
