#!/usr/bin/env python3
"""Runs the virtual mesh scenarios: each in its own virtual machine with its
own stand-in dashboard, at most JOBS at a time, each within its time limit.
Ends with "N passed, N failed"; exit status 0 when all passed.

    run.py [--jobs N] [--list] [--tier vm|soak|target] [--arch x86_64|mips] [scenario...]

A scenario is a module in scenarios/ with a TIME_LIMIT (seconds), a one-line
docstring and run(mesh), which raises on failure (mesh: scripts/vm/mesh.py);
RADIOS, when it has one, is the number of simulated radios (4 otherwise).
--arch mips runs the scenarios on the router's processor (a big-endian MIPS
machine, build/vm-mips) instead of this machine's.
Without names, the scenarios of the tier run: those whose TIER is that
tier's name ("vm" when a module names none; "soak" for the long ones that
the default test command leaves out).
"""
import argparse
import concurrent.futures
import importlib
import os
import shutil
import sys
import threading
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "scripts", "vm"))
sys.path.insert(0, HERE)

import mesh as meshlib  # noqa: E402
import vmctl  # noqa: E402

PRINT = threading.Lock()


def scenario_names():
    return sorted(f[:-3] for f in os.listdir(os.path.join(HERE, "scenarios"))
                  if f.endswith(".py") and not f.startswith("_"))


DIAGNOSTICS = ("cat /var/log/vm-events; iw dev; iw dev mesh0 link; iw dev mesh0 station dump; "
               "batctl meshif bat0 n; batctl meshif bat0 o; batctl meshif bat0 gwl; batctl meshif bat0 tl; "
               "batctl meshif bat0 tg; batctl meshif bat0 dc; ip -br addr; ip route; ip neigh; ps; logread | tail -n 100")


def diagnostics(mesh):
    """What the nodes looked like when a scenario failed."""
    if not mesh.vm.proc or mesh.vm.proc.poll() is not None:
        return "\n(the virtual machine had stopped)\n"
    text = ""
    try:
        _, nodes = mesh.vm.sh("ls /run/vm 2>/dev/null | sed -n 's/^node\\([0-9]*\\)\\.pid$/\\1/p'", timeout=30)
        for n in nodes.split():
            _, out = mesh.sh(int(n), DIAGNOSTICS, timeout=60)
            text += "\n===== node %s\n%s" % (n, out)
    except Exception as e:
        text += "\n(no diagnostics: %s)\n" % e
    return text


def phase_lines(phases, end, failed):
    """One line per part of a scenario with its time; a failed scenario failed in its last part."""
    text = ""
    for i, (title, start) in enumerate(phases):
        last = i + 1 == len(phases)
        stop = end if last else phases[i + 1][1]
        text += "     %5.0fs  %s%s\n" % (stop - start, title, "  <- failed here" if failed and last else "")
    return text


def run_one(name, workroot, arch, figures=False):
    """Runs one scenario; returns (passed, the controller's processor seconds
    per check-in by node, when figures were asked for)."""
    module = importlib.import_module("scenarios." + name)
    workdir = os.path.join(workroot, name)
    label = name if arch == "x86_64" else "%s@%s" % (name, arch)
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    t0 = time.time()
    mesh = meshlib.Mesh(workdir, radios=getattr(module, "RADIOS", 4), arch=arch)
    expired = threading.Event()

    def expire():
        expired.set()
        if mesh.vm.proc:
            mesh.vm.proc.kill()

    timer = threading.Timer(module.TIME_LIMIT, expire)
    timer.start()
    error = None
    try:
        mesh.start()
        module.run(mesh)
        if figures:
            programs = getattr(module, "PROGRAMS", None) or getattr(module, "DAEMONS", None) or []
            for line in meshlib.node_figures(mesh, sorted(mesh.created), programs):
                mesh.measure(line)
    except Exception as e:  # a scenario fails on any error, the others go on
        error = ("time limit of %ds reached" % module.TIME_LIMIT) if expired.is_set() else \
            "%s: %s" % (type(e).__name__, e)
        with open(os.path.join(workdir, "failure.txt"), "w") as f:
            f.write(traceback.format_exc())
            f.write(diagnostics(mesh))
    finally:
        timer.cancel()
        mesh.stop()
    end = time.time()
    took = end - t0
    with PRINT:
        if error:
            print("FAIL %-24s %5.0fs  %s" % (label, took, error))
            print("     details in %s (failure.txt, vm/console.log, dashboard.log)" % workdir)
        else:
            print("PASS %-24s %5.0fs  %s (boot %.0fs)" % (label, took, (module.__doc__ or "").strip(),
                                                          mesh.vm.boot_seconds or 0))
        print(phase_lines(mesh.phases, end, failed=bool(error)), end="")
        for m in mesh.measures:
            print("     measured: %s" % m)
        sys.stdout.flush()
    return error is None, dict(mesh.cpu_per_checkin)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--list", action="store_true")
    ap.add_argument("--work")
    ap.add_argument("--tier", default="vm")
    ap.add_argument("--arch", default="x86_64", help="x86_64, mips, or a list (x86_64,mips): each scenario on each")
    ap.add_argument("--figures", action="store_true",
                    help="after each scenario: each daemon's peak memory, the time to the first check-in, "
                         "the processor time per check-in (and its ratio between the architectures)")
    ap.add_argument("names", nargs="*")
    args = ap.parse_args()
    arches = args.arch.split(",")
    for arch in arches:
        if arch not in vmctl.MACHINES:
            print("no such architecture: %s" % arch)
            return 2
    names = args.names or [n for n in scenario_names()
                           if getattr(importlib.import_module("scenarios." + n), "TIER", "vm") == args.tier]
    if args.list:
        for name in names:
            module = importlib.import_module("scenarios." + name)
            print("%-24s %4ds  %s" % (name, module.TIME_LIMIT, (module.__doc__ or "").strip()))
        return 0
    unknown = set(names) - set(scenario_names())
    if unknown:
        print("no such scenario: %s" % " ".join(sorted(unknown)))
        return 2
    # the longest first, so that the short ones fill the other lane
    names.sort(key=lambda n: -importlib.import_module("scenarios." + n).TIME_LIMIT)
    runs = [(name, arch) for name in names for arch in arches]

    def work(arch):
        return args.work or os.path.join(ROOT, "build", "vm-runs" if arch == "x86_64" else "vm-runs-" + arch)

    t0 = time.time()
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        results = list(pool.map(lambda r: run_one(r[0], work(r[1]), r[1], args.figures), runs))
    passed = sum(ok for ok, _ in results)
    cpu = {run: per_node for run, (ok, per_node) in zip(runs, results) if ok}
    for name in names:
        for node in sorted(cpu.get((name, arches[0]), {})):
            each = [cpu.get((name, arch), {}).get(node) for arch in arches]
            if len(arches) > 1 and all(each):
                print("%s node %d: processor time per check-in %s: %s" % (
                    name, node, " : ".join(arches), " : ".join("%.2f" % (c / each[0]) for c in each)))
    print("vm scenarios: %.0fs in all" % (time.time() - t0))
    print("%d passed, %d failed" % (passed, len(results) - passed))
    return 0 if passed == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
