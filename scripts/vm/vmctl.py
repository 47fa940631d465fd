#!/usr/bin/env python3
"""Boots the virtual node machine under QEMU and runs commands in it.

The machine's only network link is QEMU's user network with restrict=on: it
reaches no address but 10.0.2.100:80, which QEMU hands to relay.py, which
connects to the stand-in dashboard on the host's loopback. Commands travel
over the second serial port to /lib/vm/agent.sh; the first serial port is the
machine's console, kept in WORKDIR/console.log.
"""
import base64
import os
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
DASHBOARD_ADDR = "10.0.2.100"


class VmError(Exception):
    pass


# The machines a node can be: this machine's processor, or the router's own
# (32-bit big-endian MIPS, the FPU-less 24Kc, on the malta board).
MACHINES = {
    "x86_64": {"qemu": ["qemu-system-x86_64"], "nic": "e1000", "memory_mb": 768, "image": "vm"},
    "mips": {"qemu": ["qemu-system-mips", "-M", "malta", "-cpu", "24Kc"], "nic": "pcnet", "memory_mb": 256,
             "image": "vm-mips"},
}


class Vm:
    def __init__(self, workdir, dashboard_port, arch="x86_64", radios=4, memory_mb=None):
        if arch not in MACHINES:
            raise VmError("no virtual node for the architecture %r" % arch)
        self.workdir = workdir
        self.dashboard_port = dashboard_port
        self.arch = arch
        self.image = os.path.join(ROOT, "build", MACHINES[arch]["image"])
        self.radios = radios
        self.memory_mb = memory_mb or MACHINES[arch]["memory_mb"]
        self.proc = None
        self.sock = None
        self.buf = b""
        self.seq = 0
        self.boot_seconds = None
        os.makedirs(workdir, exist_ok=True)

    def command_line(self):
        agent = os.path.join(self.workdir, "agent.sock")
        relay = "cmd:%s %s 127.0.0.1 %d" % (sys.executable if os.path.isabs(sys.executable) else "/usr/bin/python3",
                                             os.path.join(HERE, "relay.py"), self.dashboard_port)
        machine = MACHINES[self.arch]
        return machine["qemu"] + [
            "-accel", "tcg", "-m", str(self.memory_mb), "-smp", "1",
            "-nodefaults", "-nographic", "-no-reboot",
            "-kernel", os.path.join(self.image, "vmlinuz"),
            "-initrd", os.path.join(self.image, "initrd.gz"),
            # the radios are the module's option on x86-64, the built-in driver's on mips
            "-append", "console=ttyS0 quiet panic=-1 vm.radios=%d mac80211_hwsim.radios=%d" % (self.radios, self.radios),
            "-serial", "file:" + os.path.join(self.workdir, "console.log"),
            "-serial", "unix:%s,server=on,wait=off" % agent,
            "-netdev", "user,id=n0,restrict=on,guestfwd=tcp:%s:80-%s" % (DASHBOARD_ADDR, relay),
            "-device", machine["nic"] + ",netdev=n0,romfile=",
        ]

    def start(self, timeout=180):
        try:
            return self._start(timeout)
        except BaseException:
            self.stop()  # a machine that did not come up is not left running
            raise

    def _start(self, timeout):
        agent = os.path.join(self.workdir, "agent.sock")
        for f in (agent, os.path.join(self.workdir, "console.log")):
            if os.path.exists(f):
                os.unlink(f)
        t0 = time.time()
        log = open(os.path.join(self.workdir, "qemu.log"), "w")
        self.proc = subprocess.Popen(self.command_line(), stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        while True:
            if self.proc.poll() is not None:
                raise VmError("QEMU ended at start-up (see %s/qemu.log)" % self.workdir)
            if time.time() - t0 > timeout:
                raise VmError("the virtual machine did not come up within %ds" % timeout)
            if os.path.exists(agent):
                try:
                    self.sock = socket.socket(socket.AF_UNIX)
                    self.sock.connect(agent)
                    break
                except OSError:
                    self.sock.close()
                    self.sock = None
            time.sleep(0.1)
        self._read_until(lambda line: line == "@@READY", deadline=t0 + timeout)
        self.boot_seconds = time.time() - t0
        return self

    def _read_line(self, deadline):
        while b"\n" not in self.buf:
            left = deadline - time.time()
            if left <= 0:
                raise VmError("no answer from the virtual machine in time")
            self.sock.settimeout(min(left, 5))
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                if self.proc.poll() is not None:
                    raise VmError("the virtual machine stopped")
                continue
            if not chunk:
                raise VmError("the virtual machine closed its command line")
            self.buf += chunk
        line, _, self.buf = self.buf.partition(b"\n")
        return line.decode("latin-1").strip()

    def _read_until(self, done, deadline):
        while True:
            line = self._read_line(deadline)
            if done(line):
                return line

    def sh(self, script, timeout=120):
        """Runs a shell script in the machine; returns (exit status, output).
        The machine kills a script still running after timeout seconds (status 137)."""
        self.seq += 1
        seq = self.seq
        self.sock.sendall(b"%d %d %s\n" % (seq, int(timeout), base64.b64encode(script.encode())))
        deadline = time.time() + timeout + 30
        self._read_until(lambda line: line == "@@B %d" % seq, deadline)
        lines = []
        while True:
            line = self._read_line(deadline)
            if line.startswith("@@E %d " % seq):
                return int(line.split()[2]), base64.b64decode("".join(lines)).decode("utf-8", "replace")
            lines.append(line)

    def check(self, script, timeout=120):
        """Runs a script that must succeed; returns its output."""
        rc, out = self.sh(script, timeout)
        if rc != 0:
            raise VmError("command failed (%d): %s\n%s" % (rc, script, out))
        return out

    def node(self, n, script, timeout=120):
        """Runs a shell script inside node n; returns (exit status, output)."""
        return self.sh("/lib/vm/node.sh exec %d %s" % (n, shell_quote(script)), timeout)

    def stop(self):
        if self.sock:
            self.sock.close()
            self.sock = None
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def shell_quote(text):
    return "'" + text.replace("'", "'\\''") + "'"
