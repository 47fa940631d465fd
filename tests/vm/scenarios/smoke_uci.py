"""the uci stand-in: staged changes, commit, @type[index], missing options, one store per node"""
from mesh import expect

TIME_LIMIT = 300

# uci command, its standard output, whether it succeeds, its standard error
GETS = [
    ("uci get wireless.radio0.channel", "1\n", True, ""),
    ("uci get wireless.pub.ssid", "Fleetlink Public\n", True, ""),
    ("uci get system.@system[0].timezone", "UTC\n", True, ""),
    ("uci get system.@system[-1].hostname", "node\n", True, ""),
    ("uci get wireless.radio0", "wifi-device\n", True, ""),
    ("uci get node.status.nothing", "", False, "uci: Entry not found\n"),
    ("uci get node.nosection.mode", "", False, "uci: Entry not found\n"),
    ("uci get nopackage.status.mode", "", False, "uci: Entry not found\n"),
    ("uci get system.@system[1].timezone", "", False, "uci: Entry not found\n"),
    ("uci -q get node.status.nothing", "", False, ""),
]


def outcome(mesh, n, command):
    out = mesh.ok(n, "%s >/tmp/o 2>/tmp/e; echo $?; cat /tmp/o; echo @@; cat /tmp/e" % command)
    status, _, rest = out.partition("\n")
    stdout, _, stderr = rest.partition("@@\n")
    return status == "0", stdout, stderr


def run(mesh):
    mesh.add_node(1)
    mesh.add_node(2, uci=["node.status.network=preset", "wireless.pub.hidden=1"])
    for n in (1, 2):
        mesh.wait_event(n, "start-up", lambda e: e == "boot done", 180)

    for command, stdout, ok, stderr in GETS:
        got = outcome(mesh, 1, command)
        expect(got == (ok, stdout, stderr), "%s: %r, wanted %r" % (command, got, (ok, stdout, stderr)))

    # a set is visible to get at once, and reaches the file only with commit
    mesh.ok(1, "uci set wireless.radio0.channel=6")
    expect(mesh.ok(1, "uci get wireless.radio0.channel") == "6\n", "staged value visible")
    expect("option channel '1'" in mesh.ok(1, "cat /etc/config/wireless"), "file unchanged before commit")
    expect(mesh.ok(1, "uci changes wireless") == "wireless.radio0.channel='6'\n", "uci changes")
    mesh.ok(1, "uci commit wireless")
    expect("option channel '6'" in mesh.ok(1, "cat /etc/config/wireless"), "file changed by commit")
    expect(mesh.ok(1, "uci changes wireless") == "", "nothing staged after commit")
    expect(mesh.ok(1, "uci get wireless.radio0.channel") == "6\n", "committed value")

    # the anonymous section form, values with blanks and quotes, several sets on one line
    mesh.ok(1, "uci set system.@system[0].timezone=CET-1CEST; uci set \"system.@system[0].hostname=it's a node\"; "
               "uci commit system")
    expect(mesh.ok(1, "uci get system.@system[0].timezone; uci get system.@system[0].hostname") ==
           "CET-1CEST\nit's a node\n", "anonymous section values")
    conf = mesh.ok(1, "cat /etc/config/system")
    expect("config system\n" in conf and "option timezone 'CET-1CEST'" in conf and
           "option hostname 'it'\\''s a node'" in conf, "system file: %s" % conf)

    # an empty value removes the option; revert drops what is staged
    mesh.ok(1, "uci set wireless.priv.server=10.0.0.9; uci commit wireless; uci set wireless.priv.server=")
    expect(outcome(mesh, 1, "uci get wireless.priv.server")[0] is False, "empty value deletes")
    mesh.ok(1, "uci commit wireless")
    expect("server" not in mesh.ok(1, "cat /etc/config/wireless"), "deleted in the file")
    mesh.ok(1, "uci set node.status.mode=gateway; uci revert node")
    expect(mesh.ok(1, "uci get node.status.mode") == "repeater\n", "revert")
    # a new named section, and a set into a missing section fails
    mesh.ok(1, "uci set node.extra=settings; uci set node.extra.flag=1; uci commit node")
    expect(mesh.ok(1, "uci get node.extra; uci get node.extra.flag") == "settings\n1\n", "new section")
    expect(outcome(mesh, 1, "uci set node.missing.flag=1")[0] is False, "set into a missing section")

    # every node has its own store, and a node can start with other values
    expect(mesh.ok(2, "uci get wireless.radio0.channel") == "1\n", "node 2 keeps its own channel")
    expect(mesh.ok(2, "uci get node.status.network; uci get wireless.pub.hidden; uci changes") == "preset\n1\n",
           "node 2 started with its preset values, committed")
    expect("ignore_broadcast_ssid=1" in mesh.ok(2, "cat /var/run/hostapd-phy1.conf"), "and applied at boot")
