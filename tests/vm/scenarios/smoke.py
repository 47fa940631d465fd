"""the machine and its stand-ins: isolation, one mesh, the uci store, the firmware stand-ins"""
import base64
import re
import time

from mesh import expect, gateway_address

TIME_LIMIT = 600


PING = "printf 'POST /serverping.php?fw=QX HTTP/1.0\\r\\nHost: %s\\r\\n\\r\\n' | nc -w 20 %s 80"


def isolation(mesh):
    """the dashboard is reached by name and by the fallback address, nothing else is"""
    mesh.wait_event(1, "uplink lease", lambda e: e.startswith("udhcpc: br-lan bound"), 180)
    host = mesh.ok(1, "awk '$1 == \"10.0.2.100\" { print $2 }' /etc/hosts").strip()
    built = mesh.vm.check(". /etc/vm/build; echo $DASHBOARD_HOST").strip()
    expect(host == built, "the dashboard's name %r in /etc/hosts: %r" % (built, host))
    fallback = mesh.ok(1, "uci get dashboard.remote.fallback_ip").strip()

    by_name = mesh.ok(1, PING % (host, host), timeout=60)
    expect(by_name.startswith("HTTP/1.0 200") and by_name.endswith("#@#Succeed"), "by name: %r" % by_name)
    by_ip = mesh.ok(1, PING % (host, fallback), timeout=60)
    expect(by_ip.endswith("#@#Succeed"), "by the fallback address %s: %r" % (fallback, by_ip))
    pings = mesh.records("serverping")
    expect([r["host"] for r in pings] == [host, host], "the dashboard saw both requests: %s" % pings)

    # nothing else: the host's loopback behind QEMU's gateway (where the
    # dashboard really listens), another address, QEMU's name server, other names
    port = mesh.server.server_address[1]
    for target in ("10.0.2.2 %d" % port, "10.0.2.2 22", "198.51.100.1 80", "10.0.2.3 53"):
        rc, out = mesh.sh(1, "nc -w 10 %s < /dev/null" % target, timeout=60)
        expect(rc != 0, "%s must not be reachable: %r" % (target, out))
    rc, out = mesh.sh(1, "nslookup example.com 10.0.2.3", timeout=60)
    expect(rc != 0, "no name service: %r" % out)
    rc, out = mesh.sh(1, "nc -w 10 example.com 80 < /dev/null", timeout=60)
    expect(rc != 0 and re.search(r"bad address", out), "other names do not resolve: %r" % out)

    # a node without cable and without mesh address reaches nothing
    rc, out = mesh.sh(2, PING % (host, host), timeout=60)
    expect(rc != 0 and "unreachable" in out, "node 2 without uplink: %r" % out)
    expect(len(mesh.records()) == 2, "no other request arrived: %s" % mesh.records())

    # the cable: out makes eth0 up but not running, in makes it running again
    running = "ip -o link show eth0 | grep -q 'LOWER_UP' && echo running || echo down"
    expect(mesh.ok(1, running).strip() == "running", "node 1 cable in")
    mesh.unplug(1)
    mesh.wait_node(1, "cable out", "[ \"$(%s)\" = down ]" % running, 30)
    mesh.plug(1)
    mesh.wait_node(1, "cable in", "[ \"$(%s)\" = running ]" % running, 30)
    expect(mesh.events(1)[-2:] == ["cable out", "cable in"], "cable events: %s" % mesh.events(1)[-2:])


MESH0 = {1: "02:4e:00:00:01:10", 2: "02:4e:00:00:02:10"}


def mesh_and_vlans(mesh):
    """two nodes: one ad-hoc cell, one batman-adv mesh, VLANs, gateway table, mesh DHCP"""

    # one ad-hoc cell over the simulated radios, seen in a real nl80211 station dump
    for n in (1, 2):
        link = mesh.wait_node(n, "joined the cell", "iw dev mesh0 link | grep -q 'Joined IBSS 02:ca:fe:ca:ca:40' && "
                              "iw dev mesh0 link", 60)
        expect("SSID: mesh" in link and "freq: 2412" in link, "node %d cell: %s" % (n, link))
    dump = mesh.wait_node(2, "station dump of node 1", "iw dev mesh0 station dump | grep -q '%s' && "
                          "iw dev mesh0 station dump" % MESH0[1], 60)
    expect(re.search(r"signal:\s+-\d+ dBm", dump), "signal in the station dump: %s" % dump)

    # one batman-adv mesh: each node is the other's neighbour
    for n, other in ((1, 2), (2, 1)):
        mesh.wait_node(n, "batman neighbour", "batctl meshif bat0 n -H | grep -q %s" % MESH0[other], 90)

    # the four VLANs, per node (each node has its own /proc/net/vlan)
    for n in (1, 2):
        config = mesh.ok(n, "cat /proc/net/vlan/config")
        for v in range(4):
            expect(re.search(r"^bat0\.%d\s+\| %d\s+\| bat0$" % (v, v), config, re.M), "node %d bat0.%d: %s" % (n, v, config))
    mesh.ok(1, "/etc/init.d/vlan stop")
    expect(mesh.sh(1, "ls /proc/net/vlan/bat0.0")[0] != 0, "node 1 stopped its VLANs")
    mesh.ok(2, "ls /proc/net/vlan/bat0.0 /proc/net/vlan/bat0.3")
    mesh.ok(1, "/etc/init.d/vlan start && ls /proc/net/vlan/bat0.3")

    # the gateway table: header, then the gateway's line with the mark first
    table = mesh.ok(1, "cat /sys/kernel/debug/batman_adv/bat0/gateways").splitlines()
    expect(len(table) == 2 and table[1].startswith("No gateways"), "no gateway yet: %s" % table)
    mesh.ok(1, "batctl gw server")
    table = mesh.wait_node(2, "gateway in the table", "grep -q %s /sys/kernel/debug/batman_adv/bat0/gateways && "
                           "cat /sys/kernel/debug/batman_adv/bat0/gateways" % MESH0[1], 60).splitlines()
    expect(table[0].startswith("[B.A.T.M.A.N. adv"), "table header: %s" % table)
    expect(gateway_address(table[1]) == MESH0[1], "gateway line: %s" % table)
    mesh.ok(2, "/usr/sbin/batctl ping -c 4 %s >> /dev/null" % MESH0[1])
    expect(mesh.ok(2, "batctl gw | awk '{print $1}'").strip() == "client", "node 2 is gateway client")

    # mesh DHCP: node 1 serves br-meship as a gateway does, node 2 takes its
    # address over bat0.3 and reaches the dashboard through node 1
    mesh.ok(1, "ifconfig br-meship 10.7.8.1 netmask 255.255.252.0 up && /etc/init.d/dnsmasq restart && "
               "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE")
    # the client ends without a lease when its three discovers go unanswered
    # (as while the mesh still forms), and is started again as the node does
    mesh.wait_node(2, "a mesh lease", "udhcpc -p /var/run/udhcpc-br-meship.pid -s /usr/share/udhcpc/default.script "
                   "-S -t 3 -n -i br-meship", 120)
    addr = mesh.ok(2, "ip -4 -o addr show dev br-meship")
    expect(re.search(r"inet 10\.7\.(8|9|10|11)\.\d+/22", addr), "node 2 mesh address: %s" % addr)
    expect("default via 10.7.8.1 dev br-meship" in mesh.ok(2, "ip route"), "node 2 routes through node 1")
    expect(mesh.ok(2, "cat /var/run/udhcpc-br-meship.pid").strip().isdigit(), "udhcpc pid file")
    # A lease and a route do not make a path yet: node 2's first unicast to
    # node 1 waits until batman-adv has learnt where node 2's bridge lives and
    # the two have resolved each other's address across the mesh. Wait for
    # that, then for the dashboard through it.
    t0 = time.time()
    mesh.wait_node(2, "node 1 answers across the mesh", "ping -c 1 -W 1 10.7.8.1 >/dev/null", 60)
    mesh.measure("node 2 reached node 1 across the mesh %.1fs after its lease" % (time.time() - t0))
    reply = mesh.ok(2, "printf 'POST /serverping.php?fw=QX HTTP/1.0\\r\\n\\r\\n' | nc -w 20 dashboard.fleetlink.example 80",
                    timeout=60)
    expect(reply.endswith("#@#Succeed"), "node 2 reached the dashboard through the mesh: %r" % reply)


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
    ("uci get 'node status.mode'", "", False, "uci: Parse error\n"),
    ("uci show nopackage", "", False, "uci: Entry not found\n"),
]


def outcome(mesh, n, command):
    out = mesh.ok(n, "%s >/tmp/o 2>/tmp/e; echo $?; cat /tmp/o; echo @@; cat /tmp/e" % command)
    status, _, rest = out.partition("\n")
    stdout, _, stderr = rest.partition("@@\n")
    return status == "0", stdout, stderr


def uci_store(mesh):
    """the uci stand-in: staged changes, commit, @type[index], missing options, one store per node"""
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


CHGPASSWD = "#!/bin/sh\nif [ $1 ]; then\npasswd root << EOF\n$1\n$1\nEOF\nfi\n"


def standins(mesh):
    """the firmware stand-ins: network applies channel and SSIDs, init scripts, iptables, reboot, passwd"""
    # /etc/init.d/network applies the committed channel and SSIDs to the radio
    mesh.ok(1, "uci set wireless.radio0.channel=6; uci set 'wireless.pub.ssid=Guest Net'; uci set wireless.priv.hidden=1; "
               "uci set 'wireless.priv.ssid=Staff Net'; "
               "uci commit wireless; /etc/init.d/vlan stop; /etc/init.d/network restart; /etc/init.d/vlan start",
            timeout=120)
    pub = mesh.ok(1, "iw dev pub0 info")
    expect("ssid Guest Net" in pub and "channel 6 (2437 MHz)" in pub, "pub0 after restart: %s" % pub)
    expect("freq: 2437" in mesh.ok(1, "iw dev mesh0 link"), "the cell moved to channel 6 too")
    expect("ignore_broadcast_ssid=1" in mesh.ok(1, "cat /var/run/hostapd-phy0.conf"), "hidden private network")
    events = mesh.events(1)
    expect("network: restart" in events and any(e.startswith("network: channel 6, mesh0 in cell 02:CA:FE:CA:CA:40, "
           "pub0 'Guest Net'") for e in events), "network events: %s" % events)
    mesh.ok(1, "uci set wireless.pub.disabled=1; uci commit wireless; /etc/init.d/network restart", timeout=120)
    expect(mesh.sh(1, "iw dev pub0 info")[0] != 0 and "type AP" in mesh.ok(1, "iw dev priv0 info"),
           "disabled public network")
    expect(mesh.ok(1, "cat /var/run/wifi-phy0.pid").strip().isdigit(), "the radio daemon's pid file")

    # a simulated client associates with the private access point and leaves
    sta = mesh.vm.check("/lib/vm/station.sh mac 1").strip()
    # (node 2 still offers "Fleetlink Private"; this name is node 1's alone)
    mesh.vm.check("/lib/vm/station.sh join 1 'Staff Net' private-secret")
    # the 4-way handshake ends after the station appears: wait until it is authorized
    dump = mesh.wait_node(1, "the client on priv0", "iw dev priv0 station get %s | grep -q 'authorized:.*yes' && "
                          "iw dev priv0 station get %s" % (sta, sta), 60)
    expect(re.search(r"signal:\s+-\d+ dBm", dump), "client station: %s" % dump)
    mesh.vm.check("/lib/vm/station.sh leave 1")
    mesh.wait_node(1, "the client gone", "! iw dev priv0 station dump | grep -q 'Station %s'" % sta, 60)

    # dnsmasq serves the bridges that have an address
    mesh.ok(1, "ifconfig br-pub 10.7.0.1 netmask 255.255.252.0 up; /etc/init.d/dnsmasq start")
    expect("dnsmasq: start, serving: br-pub" in mesh.events(1)[-1], "dnsmasq start: %s" % mesh.events(1)[-1])
    mesh.ok(1, "pidof dnsmasq && grep -qx 'dhcp-range=set:br-pub,10.7.0.100,10.7.0.199,255.255.252.0,1h' "
               "/var/run/dnsmasq.conf")
    mesh.ok(1, "/etc/init.d/dnsmasq stop")
    expect(mesh.sh(1, "pidof dnsmasq")[0] != 0, "dnsmasq stopped")

    # the portals run a process of their name while started
    for portal in ("chilli", "nodogsplash"):
        mesh.ok(1, "/etc/init.d/%s start" % portal)
        stat = mesh.ok(1, "cat /proc/$(cat /var/run/%s.pid)/stat" % portal)
        expect(stat.split()[1] == "(%s)" % portal, "%s process: %s" % (portal, stat))
        mesh.ok(1, "/etc/init.d/%s restart; /etc/init.d/%s stop" % (portal, portal))
        expect(not re.search(r"\(%s\)" % portal, mesh.ok(1, "cat /proc/[0-9]*/stat 2>/dev/null || true")), "%s stopped" % portal)
        expect(mesh.events(1)[-3:] == ["%s: start" % portal, "%s: restart" % portal, "%s: stop" % portal],
               "%s events: %s" % (portal, mesh.events(1)[-3:]))

    # iptables keeps its rules in the node's own network namespace
    mesh.ok(1, "/usr/sbin/iptables -t nat -F; /usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE; "
               "iptables -I FORWARD -p tcp --dport 25 -j DROP; iptables -A FORWARD -s 10.7.0.0/22 -d 10.7.4.0/22 -j DROP")
    nat = mesh.ok(1, "iptables -t nat -L")
    expect([l.split()[0] for l in nat.splitlines() if l.startswith("MASQUERADE")] == ["MASQUERADE"], "nat: %s" % nat)
    forward = mesh.ok(1, "iptables -L FORWARD -n")
    expect("tcp dpt:25" in forward and "10.7.0.0/22" in forward, "forward rules: %s" % forward)
    mesh.ok(1, "iptables -D FORWARD -p tcp --dport 25 -j DROP")
    expect("dpt:25" not in mesh.ok(1, "iptables -L FORWARD -n"), "rule deleted")
    expect(mesh.vm.check("iptables -t nat -S POSTROUTING") == "-P POSTROUTING ACCEPT\n-A POSTROUTING -o wan0 -j MASQUERADE\n",
           "the machine's own nat table is apart")

    # reboot, upgrade and password requests are recorded
    mesh.ok(1, "/sbin/do_reboot 93; /sbin/reboot; printf 'image' > /tmp/flx-pico2hp.bin; /sbin/sysupgrade -v /tmp/flx-pico2hp.bin")
    expect(mesh.events(1)[-3:] == ["reboot requested: reboot", "reboot requested: reboot",
           "sysupgrade requested: -v /tmp/flx-pico2hp.bin (md5 78805a221a988e79ef3f42d7c5bfd418, 5 bytes)"],
           "requests: %s" % mesh.events(1)[-3:])
    expect(mesh.ok(1, "cat /etc/reboot_reason").split()[2:] == ["93"], "the platform's do_reboot keeps its reason")
    mesh.ok(1, "echo %s | base64 -d > /tmp/chgpasswd; sh /tmp/chgpasswd n3wpass" % base64.b64encode(CHGPASSWD.encode()).decode())
    expect(mesh.events(1)[-1] == "passwd: root changed to 'n3wpass'", "passwd: %s" % mesh.events(1)[-1])
    expect(mesh.ok(1, "cut -d: -f2 /etc/shadow").startswith("$6$"), "a password hash in /etc/shadow")

    # LED changes are recorded
    mesh.ok(1, "echo default-on > /sys/class/leds/ubnt:red:link1/trigger")
    mesh.wait_event(1, "LED change", lambda e: e == "leds: red:link1=default-on green:link3=none green:link4=none "
                    "orange:link2=none", 30)

    # pkill finds the node's own processes by name only
    mesh.ok(1, "ln -s /usr/sbin/chilli /tmp/dummyd; /tmp/dummyd & sleep 0.5; pgrep -x dummyd && pkill dummyd && sleep 0.5 && "
               "! pgrep -x dummyd")


def run(mesh):
    modules = [line.split()[0] for line in mesh.vm.check("lsmod").splitlines()[1:]]
    for m in ("crc32c_generic", "mac80211_hwsim", "batman_adv", "8021q", "bridge", "veth"):
        expect(m in modules, "module %s not loaded: %s" % (m, modules))
    expect(len(mesh.vm.check("ls /sys/class/ieee80211").split()) == 4, "four simulated radios")
    mesh.add_node(1, cable=True)
    mesh.add_node(2, uci=["node.status.network=preset", "wireless.pub.hidden=1"])
    for n in (1, 2):
        mesh.wait_event(n, "start-up", lambda e: e == "boot done", 180)
    # in this order: node 2 has no uplink until the mesh part gives it one, and the
    # stand-ins part moves node 1 to another channel
    for part in (isolation, mesh_and_vlans, uci_store, standins):
        mesh.phase(part.__doc__)
        part(mesh)
