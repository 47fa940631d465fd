"""a wired node: first boot, custom script, clients, voucher, watchdog, firmware upgrade"""
import hashlib
import re
import time

from mesh import expect

TIME_LIMIT = 1200
# portsense runs when the cable's link comes up, here after the first check-in
DAEMONS = ["watchdog", "fleetlink_supervisor", "clientscout", "ifcounter"]
MAC = "02:4E:00:00:01:E0"
STATION = "02:00:00:00:03:00"
SCRIPT = "#!/bin/sh\n. /lib/vm/functions.sh\nvm_event \"custom script: ran in $(pwd)\"\n"
IMAGE = bytes(range(256)) * 64  # 16 KiB standing in for a firmware image
WATCHDOG_PERIOD = 180
GATEWAY_STATE = " && ".join([
    "[ \"$(uci get node.status.mode)\" = gateway ]",
    "[ \"$(batctl gw | awk '{print $1}')\" = server ]",
    "ip -4 -o addr show dev br-pub | grep -q 'inet 10.7.0.1/22'",
    "ip -4 -o addr show dev br-priv | grep -q 'inet 10.7.4.1/22'",
    "ip -4 -o addr show dev br-meship | grep -q 'inet 10.7.8.1/22'",
    "[ ! -e /var/run/udhcpc-br-meship.pid ]"])


def first_boot_config(host):
    return ("#@#config wireless\nradio0.channel 6\npublic.ssid Fleetlink-Guest\n"
            "#@#config customscript\ncs_enable 1\ncs_url http://%s/scripts\ncs_md5 %s\n"
            % (host, hashlib.md5(SCRIPT.encode()).hexdigest()))


def staff_config(host):
    return first_boot_config(host) + "#@#config wireless\nprivate.ssid Fleetlink-Staff\n"


def upgrade_config(host):
    return staff_config(host) + ("#@#config fwupgrade\nupgrade 1\nversion 2.0.0-vm\nsum %s\npath http://%s/firmware\n"
                                 % (hashlib.md5(IMAGE).hexdigest(), host))


def checkin(mesh, what, predicate=lambda f: True, after=0, timeout=300):
    """The next check-in of node 1 whose query fields satisfy predicate."""
    return mesh.wait_record(what, "checkin", lambda r: r["mac"] == MAC and predicate(r["fields"]),
                            timeout=timeout, after=after)


def count_events(mesh, text):
    return sum(1 for e in mesh.events(1) if e.startswith(text))


def run(mesh):
    host = mesh.vm.check(". /etc/vm/build; echo $DASHBOARD_HOST").strip()
    mesh.put_file("custom.sh", SCRIPT)
    mesh.set_config(first_boot_config(host), mac=MAC)

    mesh.phase("wired node, first boot: check-in RR=1 applies SSID, channel, custom script; portsense: node id, "
               "gateway role, planned addresses; check-in RR=0")
    mesh.add_node(1, cable=True, programs=DAEMONS)
    first = checkin(mesh, "first check-in", timeout=240)
    expect(first["fields"].get("RR") == "1" and first["fields"].get("pssid") == "Fleetlink Public",
           "the first check-in: %s" % first["report"])
    # the check-in ends with the custom script, after the Wi-Fi restart
    mesh.wait_event(1, "the custom script", lambda e: e.startswith("custom script:"), 240)
    expect(count_events(mesh, "network: restart") == 1, "one Wi-Fi restart: %s" % mesh.events(1))
    wireless = mesh.ok(1, "uci changes; cat /etc/config/wireless")
    expect("option channel '6'" in wireless and "option ssid 'Fleetlink-Guest'" in wireless,
           "channel and SSID committed: %s" % wireless)
    pub = mesh.ok(1, "iw dev pub0 info")
    expect("ssid Fleetlink-Guest" in pub and "channel 6 (2437 MHz)" in pub, "pub0: %s" % pub)
    expect("freq: 2437" in mesh.ok(1, "iw dev mesh0 link"), "the mesh cell moved to channel 6 too")

    # the cable's link event: through the package's hotplug script, portsense
    mesh.vm.check("/lib/vm/node.sh uplink 1 ifup")
    nodeid = mesh.wait_record("node id request", "nodeid", timeout=120)
    expect((nodeid["mac"], nodeid["reply"]) == (MAC, "1:7:101"), "node id exchange: %s" % nodeid)
    mesh.wait_node(1, "portsense done: gateway role, planned addresses", GATEWAY_STATE + " && ! pidof portsense",
                   240, interval=3)
    settled = time.time()
    expect(mesh.ok(1, "uci get node.status.id; uci get node.status.switch; uci get node.status.nodeid; "
                      "uci get dhcp.pub.ipaddr; uci get dhcp.priv.ipaddr; uci get dhcp.mesh.ipaddr").split() ==
           ["1", "7", "101", "10.7.0.1", "10.7.4.1", "10.7.8.1"], "node identity and address plan in uci")
    second = checkin(mesh, "a check-in of the gateway", after=settled, timeout=150)
    f = second["fields"]
    expect((f.get("RR"), f.get("role"), f.get("hop"), f.get("pssid")) == ("0", "G", "0", "Fleetlink-Guest"),
           "the gateway's check-in: %s" % second["report"])
    expect(re.fullmatch(r"100\.64\.0\.\d+", f.get("lan", "")) and f.get("ip") == "169.254.1.16",
           "gateway addresses in the check-in: %s" % second["report"])

    mesh.phase("Wi-Fi restart on a gateway: the mesh bridge keeps its address; the custom script ran once")
    restarts = count_events(mesh, "dnsmasq: start")
    # portsense restarted the network too when it made the node a gateway
    network_restarts = count_events(mesh, "network: restart")
    mesh.set_config(staff_config(host), mac=MAC)
    mesh.wait_event(1, "the private network renamed", lambda e: "priv0 'Fleetlink-Staff'" in e, 200)
    mesh.wait_node(1, "the Wi-Fi restart done", "[ $(grep -c 'dnsmasq: start' /var/log/vm-events) -gt %d ]" % restarts,
                   120, interval=3)
    expect(count_events(mesh, "network: restart") == network_restarts + 1,
           "one more Wi-Fi restart: %s" % mesh.events(1))
    served = [e for e in mesh.events(1) if e.startswith("dnsmasq: start")][-1]
    expect(served == "dnsmasq: start, serving: br-pub br-priv br-meship", "the gateway serves the mesh: %s" % served)
    mesh.ok(1, GATEWAY_STATE)
    scripts = mesh.records("custom-script")
    expect(len(scripts) == 1 and scripts[0]["path"] == "/scripts/custom.sh" and scripts[0]["served"] == "custom.sh",
           "one script download: %s" % scripts)
    ran = [e for e in mesh.events(1) if e.startswith("custom script:")]
    expect(ran == ["custom script: ran in /tmp"], "the script ran once: %s" % ran)
    expect(mesh.sh(1, "ls /tmp/custom.sh")[0] != 0, "the script is removed after its run")
    expect(mesh.ok(1, "uci get node.setting.cs_md5").strip() == hashlib.md5(SCRIPT.encode()).hexdigest(),
           "the script's md5 kept in uci")

    mesh.phase("clients: a station on the public access point reported, then Empty once")
    joined = time.time()
    mesh.vm.check("/lib/vm/station.sh join 1 Fleetlink-Guest")
    mesh.wait_node(1, "the station on pub0", "iw dev pub0 station get %s | grep -q 'authorized:.*yes'" % STATION, 90)
    listed = mesh.wait_record("client list with the station", "clients",
                              lambda r: r["mac"] == MAC and STATION in r["clients"], timeout=150, after=joined)
    lines = listed["clients"].splitlines()
    expect(len(lines) == 1, "one client: %r" % listed["clients"])
    m = re.fullmatch(r"mac=%s;rx=(\d+);tx=(\d+);ctime=(\d+);rssi=(-\d+)(\[[-\d, ]*\] )?;txbitrate=([^|]*)\|" % STATION,
                     lines[0])
    expect(m, "client record: %r" % lines[0])
    rx, tx, ctime, rssi = (int(m.group(i)) for i in range(1, 5))
    expect(rx > 0 and tx > 0 and 0 <= ctime <= time.time() - joined + 5 and rssi == -30,
           "real counters, connected time and signal: %r" % lines[0])
    expect(m.group(6).endswith("MBit/s"), "transmit rate: %r" % lines[0])
    mesh.vm.check("/lib/vm/station.sh leave 1")
    left = time.time()
    empty = mesh.wait_record("Empty after the station left", "clients", lambda r: r["mac"] == MAC,
                             timeout=150, after=left)
    expect(empty["clients"] == "Empty", "the list after the station left: %r" % empty["clients"])

    mesh.phase("voucher: vouchercheck prints the dashboard's answer")
    with open(mesh.state + "/vouchers", "w") as fh:
        fh.write("ABC123\n")
    expect(mesh.ok(1, "vouchercheck x %s ABC123" % STATION) == "valid", "a listed voucher")
    expect(mesh.ok(1, "vouchercheck x %s NOPE99" % STATION) == "invalid", "an unknown voucher")
    asked = [(r["voucher"], r["mac"], r["network"]) for r in mesh.records("voucher")]
    expect(asked == [("ABC123", STATION, "vmesh"), ("NOPE99", STATION, "vmesh")], "voucher requests: %s" % asked)
    # a full clientscout period after the Empty report: no second one
    time.sleep(max(0, empty["time"] + 75 - time.time()))
    later = [r for r in mesh.records("clients") if r["time"] > empty["time"]]
    expect(later == [], "Empty is reported once: %s" % later)

    mesh.phase("watchdog: killed controller and clientscout back, NAT rule restored, within one period")
    pids = mesh.ok(1, "cat /tmp/kestrel.pid /tmp/clientscout.pid").split()
    expect(len(pids) == 2, "pid files: %s" % pids)
    mesh.ok(1, "kill -9 %s %s; iptables -t nat -F" % tuple(pids))
    killed = time.time()
    mesh.ok(1, "sleep 1; [ -e /tmp/kestrel.pid ] && ! pidof fleetlink_supervisor && ! pidof clientscout && "
               "! iptables -t nat -L | grep -q ^MASQUERADE")
    back = mesh.wait_node(1, "both daemons and the NAT rule back", " && ".join([
        "iptables -t nat -L | grep -q ^MASQUERADE",
        "c=$(pidof fleetlink_supervisor) && s=$(pidof clientscout)",
        "[ \"$c\" = \"$(cat /tmp/kestrel.pid)\" ] && [ \"$s\" = \"$(cat /tmp/clientscout.pid)\" ]",
        "echo $c $s"]), WATCHDOG_PERIOD + 60, interval=3).split()
    took = time.time() - killed
    expect(took <= WATCHDOG_PERIOD + 30, "back after %.0fs, more than one watchdog period" % took)
    expect(set(back).isdisjoint(pids), "new processes: %s, killed %s" % (back, pids))
    restarted = checkin(mesh, "check-in of the restarted controller", after=killed, timeout=120)
    expect(restarted["fields"].get("RR") == "1", "a restarted controller reports RR=1: %s" % restarted["report"])

    mesh.phase("firmware upgrade: download, md5, upgrade script, sysupgrade with the image")
    mesh.put_file("flx-pico2hp.bin", IMAGE)
    network_restarts = count_events(mesh, "network: restart")
    controller = mesh.ok(1, "cat /tmp/kestrel.pid").strip()
    mesh.set_config(upgrade_config(host), mac=MAC)
    wanted = "sysupgrade requested: -v /tmp/flx-pico2hp.bin (md5 %s, %d bytes)" % (hashlib.md5(IMAGE).hexdigest(),
                                                                                len(IMAGE))
    mesh.wait_event(1, "sysupgrade with the image", lambda e: e == wanted, 240)
    downloads = [(r["path"], r.get("served")) for r in mesh.records("download")]
    expect(downloads == [("/firmware/flx-pico2hp.bin", "flx-pico2hp.bin")], "image download: %s" % downloads)
    expect(mesh.ok(1, "cat /etc/fw_a_version.old") == mesh.ok(1, "cat /etc/fw_a_version"),
           "the running version kept in /etc/fw_a_version.old")
    # the controller ends itself after starting the upgrade
    mesh.wait_node(1, "the controller ended", "! kill -0 %s" % controller, 60)
    expect(count_events(mesh, "custom script:") == 1, "the custom script still ran only once")
    expect(count_events(mesh, "network: restart") == network_restarts, "no Wi-Fi restart for the upgrade")
