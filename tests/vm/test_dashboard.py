#!/usr/bin/env python3
"""The stand-in dashboard answers each exchange the way the node programs
frame it (no virtual machine needed)."""
import base64
import json
import os
import socket
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "scripts", "vm"))
import dashboard  # noqa: E402

MAC = "02:4E:00:00:01:E0"
EMPTY_BODY = ("POST %s HTTP/1.0\r\nHost: %s\r\nContent-type: application/x-www-form-urlencoded\r\n"
              "Content-length: 0\r\n\r\n")
WITH_BODY = ("POST %s HTTP/1.0\r\nHost: %s\r\nContent-type: application/x-www-form-urlencoded\r\n"
             "Content-length: %d\r\n\r\n%s")
CHECKIN = "POST %s?mac=%s&data=%s HTTP/1.0\r\nUser-Agent:Kestrel 0.1\r\nHost: %s\r\n\r\n"
STATS = "POST %s?mac=%s&data=%s  HTTP/1.0\r\nUser-Agent:Kestrel 0.1\r\nHost: %s\r\n\r\n"
VOUCHER = "POST %s?%s HTTP/1.0\r\nHost: %s\r\n\r\n"
HOST = "dashboard.fleetlink.example"


def b64(text):
    return base64.b64encode(text.encode()).decode()


class DashboardTest(unittest.TestCase):
    def setUp(self):
        self.state = tempfile.mkdtemp()
        self.out = open(os.devnull, "w")
        self.server = dashboard.serve(self.state, out=self.out)
        self.port = self.server.server_address[1]

    def tearDown(self):
        self.server.shutdown()
        self.server.server_close()
        self.out.close()

    def exchange(self, *pieces):
        """Sends the request in the given pieces, returns the reply up to the close."""
        with socket.create_connection(("127.0.0.1", self.port)) as s:
            for piece in pieces:
                s.sendall(piece.encode() if isinstance(piece, str) else piece)
                time.sleep(0.05)
            reply = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    return reply
                reply += chunk

    def payload(self, reply):
        return reply.split(b"#@#", 1)[1] if b"#@#" in reply else None

    def records(self):
        with open(os.path.join(self.state, "records.jsonl")) as f:
            return [json.loads(line) for line in f]

    def test_node_ids_are_given_out_in_order_and_kept(self):
        cases = [(MAC, b"1:7:101"), ("00:1A:2B:3C:4D:5E", b"2:7:102"), (MAC, b"1:7:101")]
        for mac, want in cases:
            reply = self.exchange(EMPTY_BODY % ("/nodeid.php?hw=QX&mac=%s" % b64(mac), HOST))
            self.assertEqual(self.payload(reply), want, mac)
        self.assertEqual([r["mac"] for r in self.records()], [MAC, "00:1A:2B:3C:4D:5E", MAC])

    def test_internet_check_answers_succeed_until_told_otherwise(self):
        ping = EMPTY_BODY % ("/serverping.php?fw=QX", HOST)
        self.assertEqual(self.payload(self.exchange(ping)), b"Succeed")
        open(os.path.join(self.state, "internet-down"), "w").close()
        self.assertEqual(self.payload(self.exchange(ping)), b"Failed")

    def test_checkin_gets_the_nodes_own_configuration_else_the_default(self):
        os.makedirs(os.path.join(self.state, "config"), exist_ok=True)
        with open(os.path.join(self.state, "config", "default.conf"), "w") as f:
            f.write("#@#config wireless\nradio0.channel 6\n")
        with open(os.path.join(self.state, "config", MAC + ".conf"), "w") as f:
            f.write("#@#config wireless\npublic.ssid Mine\n")
        # a report whose base64 holds '+' and '/', which travel unescaped
        report = "hw=QX&ip=&lan=10.7.0.1&role=G&RR=1&ssid=a>?b&nbs=&hop=0"
        self.assertRegex(b64(report), r"[+/]")
        reply = self.exchange(CHECKIN % ("/checkin.php", b64(MAC), b64(report), HOST))
        self.assertIn(b"200", reply.split(b"\r\n")[0])
        self.assertEqual(base64.b64decode(self.payload(reply)), b"#@#config wireless\npublic.ssid Mine\n")
        other = self.exchange(CHECKIN % ("/checkin.php", b64("00:11:22:33:44:55"), b64("RR=0"), HOST))
        self.assertEqual(base64.b64decode(self.payload(other)), b"#@#config wireless\nradio0.channel 6\n")
        first = self.records()[0]
        self.assertEqual((first["kind"], first["mac"], first["report"]), ("checkin", MAC, report))
        self.assertEqual((first["fields"]["role"], first["fields"]["RR"], first["fields"]["ssid"]), ("G", "1", "a>?b"))

    def test_statistics_and_client_list_are_decoded(self):
        stats = "rxb=100&txb=200&rxp=3&txp=4"
        reply = self.exchange(STATS % ("/netstats.php", b64(MAC), b64(stats), HOST))
        self.assertIn(b"200", reply)
        clients = "02:00:00:00:03:00 pub0 -30 100 200 12\n"
        body = "id=%s&data=%s" % (b64(MAC), b64(clients))
        # headers and body in separate segments are read whole
        self.exchange(WITH_BODY % ("/client.php", HOST, len(body), ""), body)
        got = [(r["kind"], r.get("report") or r.get("clients")) for r in self.records()]
        self.assertEqual(got, [("stats", stats), ("clients", clients)])

    def test_vouchers_from_the_list(self):
        with open(os.path.join(self.state, "vouchers"), "w") as f:
            f.write("ABC123\n")
        for voucher, want in (("ABC123", b"valid"), ("XYZ", b"invalid")):
            query = "voucher=%s&mac=00:11:22:33:44:55&network=office" % voucher
            self.assertEqual(self.payload(self.exchange(VOUCHER % ("/validate.php", query, HOST))), want)
        self.assertEqual(self.records()[0]["network"], "office")

    def test_served_files(self):
        files = os.path.join(self.state, "files")
        with open(os.path.join(files, "custom.sh"), "w") as f:
            f.write("#!/bin/sh\necho hi\n")
        with open(os.path.join(files, "flx-pico2hp.bin"), "wb") as f:
            f.write(bytes(range(256)))
        script = self.exchange(WITH_BODY % ("/scripts//custom.sh", HOST, 6, "data1="))
        self.assertEqual(script[script.index(b"#"):], b"#!/bin/sh\necho hi\n")
        image = self.exchange("GET /fw/1.2/flx-pico2hp.bin HTTP/1.1\r\nHost: %s\r\n\r\n" % HOST)
        self.assertEqual(image.split(b"\r\n\r\n", 1)[1], bytes(range(256)))
        missing = self.exchange("GET /splash.tar.gz HTTP/1.1\r\nHost: %s\r\n\r\n" % HOST)
        self.assertTrue(missing.startswith(b"HTTP/1.0 404"))

    def test_faults_answer_in_place_of_the_dashboard(self):
        ping = EMPTY_BODY % ("/serverping.php?fw=QX", HOST)
        checkin = CHECKIN % ("/checkin.php", b64(MAC), b64("RR=0"), HOST)
        with open(os.path.join(self.state, "fault"), "w") as f:
            f.write("garbage\n")
        replies = [self.exchange(ping), self.exchange(checkin), self.exchange(ping), self.exchange(checkin)]
        self.assertEqual(len(replies[0]), 4096)
        self.assertTrue(replies[1].startswith(b"HTTP/1.0 200 OK\r\n\r\n#@#"))
        self.assertEqual(len(base64.b64decode(self.payload(replies[1]))), 3 << 18)
        self.assertEqual(replies[2:], [dashboard.HTML_ERROR] * 2)
        self.assertIn(b"#", dashboard.HTML_ERROR.split(b"\r\n\r\n")[1])
        with open(os.path.join(self.state, "fault"), "w") as f:
            f.write("silent\n")
        with socket.create_connection(("127.0.0.1", self.port)) as s:
            s.sendall(ping.encode())
            s.settimeout(1.5)
            self.assertRaises(socket.timeout, s.recv, 1)
        os.remove(os.path.join(self.state, "fault"))
        self.assertEqual(self.payload(self.exchange(ping)), b"Succeed")
        for _ in range(50):  # the held connection is noted once its end is seen
            faults = [r for r in self.records() if r["kind"] == "fault"]
            if len(faults) == 5:
                break
            time.sleep(0.1)
        self.assertEqual([(r["path"], r.get("garbage")) for r in faults[:4]],
                         [("/serverping.php", "random"), ("/checkin.php", "huge"),
                          ("/serverping.php", "html"), ("/checkin.php", "html")])
        self.assertEqual(faults[4]["path"], "/serverping.php")
        self.assertGreaterEqual(faults[4]["held"], 1.5)

if __name__ == "__main__":
    unittest.main()
