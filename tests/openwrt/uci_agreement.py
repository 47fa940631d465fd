#!/usr/bin/env python3
"""Holds the two uci stand-ins against OpenWrt's real uci.

Every uci command line the programs can issue is taken from the programs'
own command texts (the string literals of the C++ sources that start with
"uci " or hold one in backquotes), its %s and %d filled from the value
table below, and run through the shell, as the programs run it, against:
  real  the real uci (-c/-C/-t over a copy of the configuration tree)
  vm    the virtual mesh's /sbin/uci and uci.awk (UCI_CONFIG_DIR, UCI_SAVE_DIR)
  unit  the unit tests' stand-in (common/testing/stand_ins.cpp, over a folder
        of one file per key, written by the build's uci_stand_in tool)
Each row compares standard output, standard error and exit status of the
line, of a get of every key it sets and of the commit of its package, before
and after that commit, and the committed package files (real and vm only).

  uci_agreement.py --uci REAL_UCI --build NATIVE_BUILD_DIR   0 when all agree
  uci_agreement.py --list            the lines as the programs issue them
  uci_agreement.py --uci REAL_UCI --confdir DIR --expect-success
                                     those lines with the real uci over a copy
                                     of DIR; 1 when any fails
"""
import argparse
import concurrent.futures
import os
import queue
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VM_UCI = os.path.join(ROOT, "scripts/vm/rootfs/sbin/uci")
VM_AWK = os.path.join(ROOT, "scripts/vm/rootfs/lib/vm/uci.awk")

# The configuration tree: (package, [(type, name or None, [(kind, option, value)])]).
# A list item holds blanks, system's section is anonymous, dhcp has no mesh
# section and node.status no hw (as on a stock OpenWrt), and the packages
# some programs commit (debug, ...) are missing.
TREE = [
    ("wireless", [
        ("wifi-device", "radio0", [("option", "type", "mac80211"), ("option", "channel", "1"),
                                   ("option", "country", "US"), ("list", "ht_capab", "SHORT-GI-20 SHORT-GI-40"),
                                   ("list", "ht_capab", "LDPC")]),
        ("wifi-iface", "mesh", [("option", "device", "radio0"), ("option", "mode", "adhoc"),
                                ("option", "ssid", "mesh")]),
        ("wifi-iface", "pub", [("option", "device", "radio0"), ("option", "mode", "ap"),
                               ("option", "ssid", "Fleetlink Public"), ("option", "encryption", "none"),
                               ("option", "disabled", "0"), ("option", "hidden", "0"), ("option", "isolate", "0")]),
        ("wifi-iface", "priv", [("option", "device", "radio0"), ("option", "mode", "ap"),
                                ("option", "ssid", "Fleetlink Private"), ("option", "encryption", "psk-mixed"),
                                ("option", "key", "private-secret"), ("option", "disabled", "0"),
                                ("option", "hidden", "0"), ("option", "isolate", "0")]),
    ]),
    ("dhcp", [
        ("dhcp", "pub", [("option", "interface", "br-pub"), ("option", "ipaddr", "10.3.48.1"),
                         ("option", "netmask", "255.255.252.0"), ("list", "dhcp_option", "6,10.3.48.1 10.3.48.2")]),
        ("dhcp", "priv", [("option", "interface", "br-priv"), ("option", "netmask", "255.255.252.0")]),
    ]),
    ("node", [
        ("status", "status", [("option", "mode", "repeater"), ("option", "id", "0"), ("option", "network", "vmesh")]),
        ("setting", "setting", [("option", "rootpwd", "admin"), ("option", "reboot_token", "0")]),
        ("security", "security", [("option", "lan_block", "0")]),
    ]),
    ("system", [
        ("system", None, [("option", "hostname", "node"), ("option", "timezone", "UTC")]),
        ("timeserver", "ntp", [("list", "server", "0.openwrt.pool.ntp.org"), ("list", "server", "a b")]),
    ]),
    ("dashboard", [
        ("remote", "remote", [("option", "host", "dash.example"), ("option", "fallback_ip", "10.0.2.100"),
                              ("option", "path", "/checkin.php"), ("option", "cupath", "/netstats.php"),
                              ("option", "interval", "1"), ("option", "cinterval", "1")]),
    ]),
]

# The values that fill the command texts. "issued": as the programs fill them
# (their own sections and packages; any value or number, which comes from the
# dashboard); the other rows are there to catch the stand-ins out.
SECTIONS = {"issued": ["pub", "priv", "mesh"],
            "probe": ["radio0", "nosuch", "@wifi-iface[0]", "@dhcp[1]", "@nosuch[0]", "@wifi-iface[9]"]}
# commit_uci_config's packages, and the controller's after-apply rows that
# commit the package named after their keyword.
PACKAGES = {"issued": ["node", "dhcp", "wireless", "system", "dashboard", "debug", "madwifi", "anyip",
                       "filter", "nodes", "management", "reboot", "ledsign"],
            "probe": []}
NUMBERS = {"issued": ["0", "1", "165", "-1", "2147483647"], "probe": []}
# Values put after "=" in the programs' own shell quoting (uci_stand_in --quote).
VALUES = {"issued": ["Cafe Lobby", "a;b", "x; uci set node.status.mode=gateway", "$HOME", "`id`", "it's",
                     'say "hi"', "back\\slash", "tab\there", "line1\nline2", "", "x" * 300, "plain-1.2_ok",
                     " lead", "trail ", "#hash", "*"],
          # a control character: uci refuses the whole value ("uci: Parse error")
          "probe": ["bell\a"]}
# Each head takes this many of the values, the next head the next ones, so
# that every value meets several heads.
VALUES_PER_HEAD = 6
# Option names in place of a set's own (uci takes letters, digits and '_').
OPTIONS = {"issued": [], "probe": ["bad-name"]}
# A value put after "=" without quoting: what a quoting regression would issue.
UNQUOTED = "Cafe Lobby"


# ---------------------------------------------------------------- command texts

LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
ESCAPES = {"n": "\n", "t": "\t", "\\": "\\", '"': '"', "'": "'", "r": "\r", "0": "\0"}


def strip_comments(text):
    """The source with comments blanked; string and character literals kept."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            i = n if j < 0 else j + 2
            out.append(" ")
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def literals(text):
    """The string literals of a C++ source, adjacent ones joined, escapes decoded."""
    text = strip_comments(text)
    found, last_end = [], None
    for m in LITERAL.finditer(text):
        # a character literal such as '"' is no string
        if m.start() > 0 and text[m.start() - 1] == "'":
            continue
        value = re.sub(r"\\(.)", lambda e: ESCAPES.get(e.group(1), e.group(1)), m.group(1))
        if last_end is not None and text[last_end:m.start()].strip() == "":
            found[-1] += value
        else:
            found.append(value)
        last_end = m.end()
    return found


def product_sources():
    skip_dirs = {"tests", "fuzz", "testing", "docs", "scripts"}
    for top, dirs, files in os.walk(ROOT):
        dirs[:] = sorted(d for d in dirs if d not in skip_dirs and not d.startswith((".", "build")))
        for f in sorted(files):
            if f.endswith(".cpp") and not f.endswith(("_test.cpp", "_benchmark.cpp")):
                yield os.path.join(top, f)


def command_texts():
    """(source, uci command text) for every uci command text of the programs,
    and the packages they commit through commit_uci_config."""
    texts, commits = [], set()
    for path in product_sources():
        src = open(path, encoding="utf-8").read()
        rel = os.path.relpath(path, ROOT)
        commits.update(re.findall(r'commit_uci_config\("([^"]*)"\)', src))
        for lit in literals(src):
            if lit.startswith("uci "):
                texts.append((rel, lit))
            elif "`uci " in lit:
                texts.extend((rel, m) for m in re.findall(r"`(uci [^`]*)`", lit))
            elif re.search(r"\buci\b", lit):
                texts.append((rel, lit))  # uci inside other text: parse_form refuses it
    return texts, commits


class FormError(Exception):
    pass


def parse_form(text):
    """A command text as [(verb, key or package, value or None)], value None
    for get and commit; a set whose text ends at "=" is a head: the programs
    append the value in their shell quoting."""
    parts = [p.strip(" \n") for p in text.split(";")]
    form = []
    for k, part in enumerate(parts):
        m = re.fullmatch(r"uci (get|set|commit) (\S+)", part)
        if not m:
            raise FormError("not a uci get, set or commit of one argument")
        verb, arg = m.groups()
        for conv in re.findall(r"%.?", arg):
            if conv not in ("%s", "%d"):
                raise FormError("conversion %s has no values in the table" % conv)
        if verb == "set":
            if "=" not in arg:
                raise FormError("a set without '='")
            key, value = arg.split("=", 1)
            if "%s" in value:
                raise FormError("a %s in a value goes to the shell unquoted")
            if value == "" and k != len(parts) - 1:
                raise FormError("a value appended before the end of the line")
            form.append((verb, key, value))
        else:
            form.append((verb, arg, None))
        names = form[-1][1].split(".")
        if verb == "commit":
            if len(names) != 1 or names[0] not in ("%s",) + tuple(PACKAGES["issued"]):
                raise FormError("commit of a package the table does not hold")
        elif len(names) not in (2, 3) or "%s" in (names[0], names[-1]) and len(names) == 3 or names[0] == "%s":
            raise FormError("a %s outside the section of the key")
        if "%d" in form[-1][1]:
            raise FormError("a %d in a key")
    return form


def shell_form(tool, value):
    return subprocess.run([tool, "--quote", value], check=True, capture_output=True, text=True).stdout


class Row:
    def __init__(self, source, line, keys, packages, issued):
        self.source, self.line, self.keys, self.packages, self.issued = source, line, keys, packages, issued


def instantiate(source, text, form, quote, first_value):
    """The rows of one command text. The issued rows: the i-th takes the i-th
    issued value of each class the text uses (cycling); a head (a set that
    ends at "=") takes every value, quoted as the programs quote it. Then one
    row per probe value, the other classes at their first value, and a head
    once with its value unquoted."""
    classes = {}
    if any("%s" in key for verb, key, _ in form if verb != "commit"):
        classes["section"] = SECTIONS
    if any(key == "%s" for verb, key, _ in form if verb == "commit"):
        classes["package"] = PACKAGES
    if "%d" in text:
        classes["number"] = NUMBERS
    head = form[-1][0] == "set" and form[-1][2] == ""
    if head:
        n = len(VALUES["issued"])
        classes["value"] = {"issued": [VALUES["issued"][(first_value + i) % n] for i in range(VALUES_PER_HEAD)],
                            "probe": VALUES["probe"]}
    picks = []
    if classes:
        n = max(len(c["issued"]) for c in classes.values())
        picks = [(True, {k: c["issued"][i % len(c["issued"])] for k, c in classes.items()}) for i in range(n)]
        picks += [(False, dict(picks[0][1], **{k: p})) for k, c in classes.items() for p in c["probe"]]
    else:
        picks = [(True, {})]
    if head:
        picks.append((False, dict(picks[0][1], value=None)))
    last_set = [key for verb, key, _ in form if verb == "set" and key.count(".") == 2][-1:]
    picks += [(False, dict(picks[0][1], option=o)) for o in OPTIONS["probe"] if last_set]
    body, tail = text.rstrip("\n"), text[len(text.rstrip("\n")):]
    rows = []
    for issued, pick in picks:
        line, form_keys = body, [key for verb, key, _ in form if verb == "set"]
        if "option" in pick:
            other = last_set[0].rsplit(".", 1)[0] + "." + pick["option"]
            line = line.replace(last_set[0] + "=", other + "=")
            form_keys = [other if k == last_set[0] else k for k in form_keys]
        if "section" in pick:
            line = line.replace(".%s.", "." + pick["section"] + ".")
        line = line.replace("%s", pick.get("package", "")).replace("%d", pick.get("number", ""))
        if head:
            line += quote(pick["value"]) if pick["value"] is not None else UNQUOTED
        keys = [key.replace("%s", pick.get("section", "")) for key in form_keys]
        packages = []
        for verb, key, _ in form:
            package = pick.get("package", "") if key == "%s" else key.split(".")[0]
            if verb != "get" and package not in packages:
                packages.append(package)
        rows.append(Row(source, line + tail, keys, packages, issued))
    return rows


def table(quote):
    texts, commits = command_texts()
    problems = ["%s: commit_uci_config(\"%s\"): a package the table does not hold" % ("commit", p)
                for p in sorted(commits - set(PACKAGES["issued"]))]
    rows, seen, first_value = [], set(), 0
    for source, text in texts:
        try:
            form = parse_form(text)
        except FormError as e:
            problems.append("%s: %r: %s" % (source, text, e))
            continue
        if form[-1][0] == "set" and form[-1][2] == "":
            first_value += VALUES_PER_HEAD
        for row in instantiate(source, text, form, quote, first_value):
            if row.line not in seen:
                seen.add(row.line)
                rows.append(row)
    if problems or not rows:
        for p in problems or ["no uci command text found under %s" % ROOT]:
            print("uci_agreement: cannot instantiate %s" % p, file=sys.stderr)
        sys.exit(2)
    return rows


# ---------------------------------------------------------------- the tools

def config_text(sections):
    """A package file as the real uci writes it on commit."""
    q = lambda v: "'" + v.replace("'", "'\\''") + "'"
    out = ""
    for stype, name, options in sections:
        out += "\nconfig %s%s\n" % (stype, " " + q(name) if name else "")
        for kind, option, value in options:
            out += "\t%s %s %s\n" % (kind, option, q(value))
    return out + "\n"


def unit_store(store):
    """The tree as the unit stand-in's store: a section is the file
    <package>.<section> holding its type, an option <package>.<section>.<option>
    holding its value. Anonymous sections are only @type[index]; named ones
    are also written under @type[index] (the store cannot alias them, so a
    row compares only what is reached through the key it uses). Lists are
    left out: no program reads or writes one."""
    os.makedirs(store)
    for package, sections in TREE:
        count = {}
        for stype, name, options in sections:
            index = count.get(stype, 0)
            count[stype] = index + 1
            for sec in ([name] if name else []) + ["@%s[%d]" % (stype, index)]:
                with open(os.path.join(store, package + "." + sec), "w") as f:
                    f.write(stype + "\n")
                for kind, option, value in options:
                    if kind == "option":
                        with open(os.path.join(store, "%s.%s.%s" % (package, sec, option)), "w") as f:
                            f.write(value + "\n")


class Tool:
    """One uci, run through the shell as the programs run it, over a fresh
    copy of the tree for every row. prelude: shell text that points the uci
    of PATH at the copy, as its own users point it."""

    def __init__(self, name, work, has_files, tree=None):
        self.name, self.work, self.has_files, self.tree = name, work, has_files, tree
        self.bin = os.path.join(work, "bin")
        self.config = os.path.join(work, "config")
        self.save = os.path.join(work, "save")
        os.makedirs(self.bin)
        self.prelude = ""

    def fresh(self):
        for d in (self.config, self.save):
            shutil.rmtree(d, ignore_errors=True)
        if self.tree:
            shutil.copytree(self.tree, self.config)
        else:
            os.makedirs(self.config)
            for package, sections in TREE:
                with open(os.path.join(self.config, package), "w") as f:
                    f.write(config_text(sections))

    def run(self, commands):
        """[(stdout, stderr, status)] of each command, in one shell."""
        self.fresh()
        out = os.path.join(self.work, "out")
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        driver = self.prelude + 'i=0\nfor c in "$@"; do\n  ( eval "$c" ) >"%s/o$i" 2>"%s/e$i"; echo $? >"%s/s$i"; i=$((i + 1))\ndone\n' \
            % (out, out, out)
        env = dict(os.environ, PATH=self.bin + ":/usr/bin:/bin", LC_ALL="C")
        subprocess.run(["sh", "-c", driver, "sh"] + commands, env=env, cwd=self.work, timeout=60, check=True)
        read = lambda f: open(os.path.join(out, f), "rb").read()
        return [(normalise(read("o%d" % i)), normalise(read("e%d" % i)), int(read("s%d" % i))) for i in range(len(commands))]

    def files(self):
        return {f: open(os.path.join(self.config, f), "rb").read() for f in sorted(os.listdir(self.config))}


def normalise(text):
    # The real uci's usage is its own text, which the stand-ins do not copy:
    # a usage compares by its first word and the command's name.
    return b"Usage: uci ..." if text.startswith(b"Usage: uci ") else text


def real_tool(work, uci, tree=None):
    tool = Tool("real", work, True, tree)
    # called as "uci", which its messages start with
    os.symlink(os.path.abspath(uci), os.path.join(tool.bin, "uci"))
    tool.prelude = 'uci() { command uci -c %s -C %s/conf2 -t %s "$@"; }\n' % (
        shlex.quote(tool.config), shlex.quote(work), shlex.quote(tool.save))
    os.makedirs(os.path.join(work, "conf2"))
    return tool


def vm_tool(work):
    tool = Tool("vm", work, True)
    os.symlink(VM_UCI, os.path.join(tool.bin, "uci"))
    busybox = shutil.which("busybox")
    if busybox:  # the virtual mesh's awk is busybox's
        os.symlink(busybox, os.path.join(tool.bin, "awk"))
    tool.prelude = "export UCI_CONFIG_DIR=%s UCI_SAVE_DIR=%s UCI_AWK=%s\n" % (
        shlex.quote(tool.config), shlex.quote(tool.save), shlex.quote(VM_AWK))
    return tool


class UnitTool(Tool):
    """The unit stand-in: its store, not a package file, is what a row starts from."""

    def __init__(self, work, stand_in):
        super().__init__("unit", work, False)
        self.store = os.path.join(work, "store")
        self.template = os.path.join(work, "store.tree")
        unit_store(self.template)
        script = subprocess.run([stand_in, self.store], check=True, capture_output=True).stdout
        with open(os.path.join(self.bin, "uci"), "wb") as f:
            f.write(script)
        os.chmod(os.path.join(self.bin, "uci"), 0o755)

    def fresh(self):
        super().fresh()
        shutil.rmtree(self.store, ignore_errors=True)
        shutil.copytree(self.template, self.store)


def outcome(tool, row):
    """What a row does with one tool: [(step, stdout, stderr, status)] for the
    line, the commit of what it sets and a get of each key after; the package
    files after."""
    steps = [row.line] + ["uci commit " + shlex.quote(p) for p in row.packages if row.keys] + \
        ["uci get " + shlex.quote(k) for k in row.keys]
    names = ["line"] + ["commit %s" % p for p in row.packages if row.keys] + ["get %s after commit" % k for k in row.keys]
    results = tool.run(steps)
    return [(n,) + r for n, r in zip(names, results)], tool.files() if tool.has_files else None


def show(value):
    return repr(value if len(value) < 120 else value[:100] + b"..." + value[-10:])


def found(path, what):
    if not os.access(path, os.X_OK):
        print("uci_agreement: %s: %s not found" % (path, what), file=sys.stderr)
        sys.exit(2)
    return path


def quoter(build):
    """The programs' shell quoting, from the build's uci_stand_in tool."""
    tool = found(os.path.join(build, "bin/uci_stand_in"), "the unit stand-in tool (a build with the tests)")
    return lambda v: shell_form(tool, v)


def differences(row, tools):
    """The lines that tell how each stand-in's outcome of the row differs from the real uci's."""
    real, others = tools[0], tools[1:]
    want_steps, want_files = outcome(real, row)
    report = []
    for tool in others:
        steps, files = outcome(tool, row)
        diffs = []
        for want, got in zip(want_steps, steps):
            for what, w, g in zip(("stdout", "stderr", "status"), want[1:], got[1:]):
                if w != g:
                    shown = (w, g) if what == "status" else (show(w), show(g))
                    diffs.append("%s %s: real %s, %s %s" % (want[0], what, shown[0], tool.name, shown[1]))
        # the unit stand-in keeps no package file: its gets above stand for it
        if files is not None:
            for name in sorted(set(want_files) | set(files)):
                if want_files.get(name) != files.get(name):
                    diffs.append("committed %s: real %s, %s %s" % (name, show(want_files.get(name, b"(none)")),
                                                                    tool.name, show(files.get(name, b"(none)"))))
        if diffs:
            line = row.line.rstrip("\n").encode("unicode_escape").decode()
            report.append("DIFFERENT %s: %s (%s)\n" % (tool.name, line, row.source) + "".join("    %s\n" % d for d in diffs))
    return report


def agree(args):
    found(args.uci, "the real uci")
    stand_in = found(os.path.join(args.build, "bin/uci_stand_in"), "the unit stand-in tool (a build with the tests)")
    busy = [p for p, _ in TREE if os.path.exists(os.path.join("/tmp/.uci", p))]
    if busy:
        # the real uci always reads /tmp/.uci besides its -t folder
        print("uci_agreement: /tmp/.uci holds changes to %s" % " ".join(busy), file=sys.stderr)
        return 2
    started = time.monotonic()
    rows = table(quoter(args.build))
    work = tempfile.mkdtemp(prefix="uci-agreement.")
    try:
        # two lanes, each with its own copies of the three
        lanes = queue.Queue()
        for lane in ("a", "b"):
            d = os.path.join(work, lane)
            lanes.put([real_tool(d + "/real", args.uci), vm_tool(d + "/vm"), UnitTool(d + "/unit", stand_in)])

        def check(row):
            tools = lanes.get()
            try:
                return differences(row, tools)
            finally:
                lanes.put(tools)

        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            reports = [r for found_in_row in pool.map(check, rows) for r in found_in_row]
    finally:
        shutil.rmtree(work, ignore_errors=True)
    sys.stdout.write("".join(reports))
    print("uci agreement: %d command lines (%d issued by the programs) from %d command texts; %d differences"
          " between a stand-in and the real uci (%.1f s)"
          % (len(rows), sum(r.issued for r in rows), len(command_texts()[0]), len(reports), time.monotonic() - started))
    return 1 if reports else 0


def expect_success(args):
    rows = [r for r in table(quoter(args.build)) if r.issued]
    work = tempfile.mkdtemp(prefix="uci-success.")
    failed = 0
    try:
        real = real_tool(os.path.join(work, "real"), args.uci, tree=args.confdir)
        for row in rows:
            [(out, err, status)] = real.run([row.line])
            # a get of a key not set, or a commit of a package the node has no
            # file for, says "Entry not found" on any node: the programs take it
            # as empty or nothing to commit; everything else must succeed
            absent = err.strip() == b"uci: Entry not found" and not row.line.startswith("uci set")
            if status != 0 and not absent:
                failed += 1
                print("FAILED (%d): %s: %s" % (status, row.line.rstrip("\n"), err.decode(errors="replace").strip()))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("uci over %s: %d of %d command lines failed" % (args.confdir, failed, len(rows)))
    return 1 if failed else 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--uci", help="the real uci")
    ap.add_argument("--build", help="the native build folder (for the unit stand-in and the quoting)")
    ap.add_argument("--list", action="store_true", help="print the command lines as the programs issue them")
    ap.add_argument("--confdir", help="with --expect-success: the configuration to run them over")
    ap.add_argument("--expect-success", action="store_true")
    args = ap.parse_args()
    if not args.build:
        ap.error("--build is needed")
    if args.list:
        for row in table(quoter(args.build)):
            if row.issued:
                sys.stdout.write(row.line.rstrip("\n") + "\n")
        return 0
    if not args.uci:
        ap.error("--uci is needed")
    if args.expect_success:
        if not args.confdir:
            ap.error("--expect-success needs --confdir")
        return expect_success(args)
    return agree(args)


if __name__ == "__main__":
    sys.exit(main())
