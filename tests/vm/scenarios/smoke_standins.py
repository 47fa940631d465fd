"""the firmware stand-ins: network applies channel and SSIDs, init scripts, iptables, reboot, passwd"""
import base64
import re

from mesh import expect

TIME_LIMIT = 360
CHGPASSWD = "#!/bin/sh\nif [ $1 ]; then\npasswd root << EOF\n$1\n$1\nEOF\nfi\n"


def run(mesh):
    mesh.add_node(1, cable=True)
    mesh.wait_event(1, "start-up", lambda e: e == "boot done", 180)

    # /etc/init.d/network applies the committed channel and SSIDs to the radio
    mesh.ok(1, "uci set wireless.radio0.channel=6; uci set 'wireless.pub.ssid=Guest Net'; uci set wireless.priv.hidden=1; "
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
    mesh.vm.check("/lib/vm/station.sh join 1 'Fleetlink Private' private-secret")
    # the 4-way handshake ends after the station appears: wait until it is authorized
    dump = mesh.wait_node(1, "the client on priv0", "iw dev priv0 station get %s | grep -q 'authorized:.*yes' && "
                          "iw dev priv0 station get %s" % (sta, sta), 60)
    expect(re.search(r"signal:\s+-\d+ dBm", dump), "client station: %s" % dump)
    mesh.vm.check("/lib/vm/station.sh leave 1")
    mesh.wait_node(1, "the client gone", "! iw dev priv0 station dump | grep -q 'Station %s'" % sta, 60)

    # dnsmasq serves the bridges that have an address
    mesh.ok(1, "ifconfig br-pub 10.7.0.1 netmask 255.255.252.0 up; /etc/init.d/dnsmasq start")
    expect("dnsmasq: start, serving: br-pub" in mesh.events(1)[-1], "dnsmasq start: %s" % mesh.events(1)[-1])
    mesh.ok(1, "pidof udhcpd")
    mesh.ok(1, "/etc/init.d/dnsmasq stop")
    expect(mesh.sh(1, "pidof udhcpd")[0] != 0, "dnsmasq stopped")

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
    expect(mesh.events(1)[-3:] == ["reboot requested: do_reboot 93", "reboot requested: reboot",
           "sysupgrade requested: -v /tmp/flx-pico2hp.bin (md5 78805a221a988e79ef3f42d7c5bfd418, 5 bytes)"],
           "requests: %s" % mesh.events(1)[-3:])
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
