"""two nodes: one ad-hoc cell, one batman-adv mesh, VLANs, gateway table, mesh DHCP"""
import re

from mesh import expect

TIME_LIMIT = 420
MESH0 = {1: "02:4e:00:00:01:10", 2: "02:4e:00:00:02:10"}


def run(mesh):
    modules = [line.split()[0] for line in mesh.vm.check("lsmod").splitlines()[1:]]
    for m in ("crc32c_generic", "mac80211_hwsim", "batman_adv", "8021q", "bridge", "veth"):
        expect(m in modules, "module %s not loaded: %s" % (m, modules))
    expect(len(mesh.vm.check("ls /sys/class/ieee80211").split()) == 4, "four simulated radios")

    mesh.add_node(1, cable=True)
    mesh.add_node(2)
    for n in (1, 2):
        mesh.wait_event(n, "start-up", lambda e: e == "boot done", 180)

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
    expect(table[1].split()[1] == MESH0[1], "gateway line: %s" % table)
    mesh.ok(2, "/usr/sbin/batctl ping -c 4 %s >> /dev/null" % MESH0[1])
    expect(mesh.ok(2, "batctl gw | awk '{print $1}'").strip() == "client", "node 2 is gateway client")

    # mesh DHCP: node 1 serves br-meship as a gateway does, node 2 takes its
    # address over bat0.3 and reaches the dashboard through node 1
    mesh.wait_event(1, "uplink lease", lambda e: e.startswith("udhcpc: br-lan bound"), 60)
    mesh.ok(1, "ifconfig br-meship 10.7.8.1 netmask 255.255.252.0 up && /etc/init.d/dnsmasq restart && "
               "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE")
    mesh.ok(2, "udhcpc -p /var/run/udhcpc-br-meship.pid -s /usr/share/udhcpc/default.script -S -t 0 -n -i br-meship",
            timeout=90)
    addr = mesh.ok(2, "ip -4 -o addr show dev br-meship")
    expect(re.search(r"inet 10\.7\.(8|9|10|11)\.\d+/22", addr), "node 2 mesh address: %s" % addr)
    expect("default via 10.7.8.1 dev br-meship" in mesh.ok(2, "ip route"), "node 2 routes through node 1")
    expect(mesh.ok(2, "cat /var/run/udhcpc-br-meship.pid").strip().isdigit(), "udhcpc pid file")
    reply = mesh.ok(2, "printf 'POST /serverping.php?fw=QX HTTP/1.0\\r\\n\\r\\n' | nc -w 20 dashboard.fleetlink.example 80",
                    timeout=60)
    expect(reply.endswith("#@#Succeed"), "node 2 reached the dashboard through the mesh: %r" % reply)
