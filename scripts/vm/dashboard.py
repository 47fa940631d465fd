#!/usr/bin/env python3
"""Stand-in dashboard for the virtual mesh, on the host's loopback.

Speaks the node programs' HTTP/1.0 exchanges (one POST per connection, the
reply ends when the connection closes, payloads behind the "#@#" marker):

  /nodeid.php?hw=QX&mac=B64        -> "id:switch:nodeid" (ids given out in order)
  /serverping.php?fw=QX            -> "Succeed" (or "Failed" while STATE/internet-down exists)
  check-in path ?mac=B64&data=B64  -> "200" and the base64 of the node's configuration
                                      text: STATE/config/<MAC>.conf, else STATE/config/default.conf
  /client.php, body id=B64&data=B64 (client list), statistics path ?mac=B64&data=B64
  /validate.php?voucher=V&mac=M&network=N -> "valid" when V is a line of STATE/vouchers
  a POST to .../custom.sh          -> STATE/files/custom.sh (the custom script)
  any GET                          -> STATE/files/<last part of the path> (firmware, splash)

Every request is decoded and appended to STATE/records.jsonl, and a readable
line is printed on standard output as it arrives.

While STATE/fault holds one of these words, every request gets that fault
instead (recorded as kind "fault" with the request's path):
  silent    the connection is held without a byte until the node closes it
            (the record's "held" gives the seconds it waited)
  garbage   in turn: a reply of 1 MiB ("200", "#@#" and random base64); an HTML
            error page holding "#"; 4 KiB of random bytes (huge, html, random in
            the record's "garbage"); the check-in path has a turn of its own,
            which starts with the 1 MiB reply, the other paths one starting
            with the random bytes
  trickle   a whole reply ("200", "#@#Succeed"), one byte every 20 s, until the
            node closes (the record's "held" and "bytes": how long it waited
            and how much it got)

    dashboard.py --state DIR [--port N] [--checkin-path P] [--stats-path P]
"""
import argparse
import base64
import binascii
import json
import os
import random
import select
import socketserver
import sys
import threading
import time
import urllib.parse

LOCK = threading.Lock()

FAULTS = ("silent", "garbage", "trickle")
TRICKLE = b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n#@#Succeed\n"
TRICKLE_PAUSE = 20  # seconds between two bytes: less than a node's 30 s wait for the next ones
HTML_ERROR = (b"HTTP/1.0 502 Bad Gateway\r\nContent-Type: text/html\r\n\r\n<html><head><title>502</title>"
              b"<style>#main { color: red }</style></head><body><div id=\"main\"><h1>Bad Gateway</h1>"
              b"<a href=\"#top\">#@# back to the top</a></div></body></html>\n")


def b64text(value):
    """Decodes a base64 value the way the node encodes it (no percent-encoding)."""
    try:
        return base64.b64decode(value + "=" * (-len(value) % 4)).decode("utf-8", "replace")
    except (binascii.Error, ValueError):
        return "<not base64: %s>" % value


def query_fields(query):
    """Splits a query without percent-decoding: base64 keeps its '+', '/' and '='."""
    fields = {}
    for part in query.split("&"):
        if part:
            key, _, value = part.partition("=")
            fields[key] = value
    return fields


class Dashboard:
    def __init__(self, state, checkin_path, stats_path, switch, out=sys.stdout):
        self.state = state
        self.checkin_path = checkin_path
        self.stats_path = stats_path
        self.switch = switch
        self.out = out
        for sub in ("config", "files"):
            os.makedirs(os.path.join(state, sub), exist_ok=True)
        self.ids_file = os.path.join(state, "node-ids.json")
        self.records = os.path.join(state, "records.jsonl")

    # --- what the node asked, what it gets --------------------------------
    def handle(self, method, target, headers, body):
        path, _, query = target.partition("?")
        fields = query_fields(query)
        record = {"time": time.time(), "method": method, "path": path, "host": headers.get("host", "")}
        if path == "/nodeid.php":
            mac = b64text(fields.get("mac", ""))
            node_id = self.node_id(mac)
            record.update(kind="nodeid", mac=mac, hw=fields.get("hw", ""),
                          reply="%d:%d:%d" % (node_id, self.switch, 100 + node_id))
            return self.done(record, "#@#" + record["reply"])
        if path == "/serverping.php":
            ok = not os.path.exists(os.path.join(self.state, "internet-down"))
            record.update(kind="serverping", fw=fields.get("fw", ""), reply="Succeed" if ok else "Failed")
            return self.done(record, "#@#" + record["reply"])
        if path == self.checkin_path and method == "POST":
            mac = b64text(fields.get("mac", ""))
            report = b64text(fields.get("data", ""))
            config = self.config_for(mac)
            record.update(kind="checkin", mac=mac, report=report, fields=query_fields(report),
                          config_lines=len(config.splitlines()))
            return self.done(record, "#@#" + base64.b64encode(config.encode()).decode())
        if path == self.stats_path and method == "POST":
            report = b64text(fields.get("data", ""))
            record.update(kind="stats", mac=b64text(fields.get("mac", "")), report=report,
                          fields=query_fields(report))
            return self.done(record, "#@#OK")
        if path == "/client.php":
            form = query_fields(body.decode("latin-1"))
            record.update(kind="clients", mac=b64text(form.get("id", "")),
                          clients=b64text(form.get("data", "")))
            return self.done(record, "#@#OK")
        if path == "/validate.php":
            values = {k: urllib.parse.unquote(v) for k, v in fields.items()}
            valid = values.get("voucher", "") in self.vouchers()
            record.update(kind="voucher", voucher=values.get("voucher", ""), mac=values.get("mac", ""),
                          network=values.get("network", ""), reply="valid" if valid else "invalid")
            return self.done(record, "#@#" + record["reply"])
        if method == "POST" and path.endswith("/custom.sh"):
            record.update(kind="custom-script", form=body.decode("latin-1"))
            return self.serve_file(record, "custom.sh")
        if method == "GET":
            record.update(kind="download")
            return self.serve_file(record, os.path.basename(path))
        record.update(kind="unknown", body=body.decode("latin-1"))
        return self.done(record, "not here", status="404 Not Found")

    def fault(self):
        """The fault that STATE/fault names, or None."""
        try:
            with open(os.path.join(self.state, "fault")) as f:
                word = f.read().strip()
        except OSError:
            return None
        return word if word in FAULTS else None

    def garbage(self, target):
        """The next garbage reply of the path's turn."""
        checkin = target.partition("?")[0] == self.checkin_path
        with LOCK:
            self.turns = getattr(self, "turns", {True: 0, False: 0})
            self.turns[checkin] += 1
            turn = self.turns[checkin]
        kinds = ("huge", "html", "random") if checkin else ("random", "html", "huge")
        kind = kinds[(turn - 1) % 3]
        noise = random.Random("%s %d" % (checkin, turn))
        if kind == "random":
            reply = noise.randbytes(4096)
        elif kind == "html":
            reply = HTML_ERROR
        else:
            reply = b"HTTP/1.0 200 OK\r\n\r\n#@#" + base64.b64encode(noise.randbytes(3 << 18))
        self.note_fault(target, garbage=kind, bytes=len(reply))
        return reply

    def note_fault(self, target, **fields):
        record = {"time": time.time(), "kind": "fault", "path": target.partition("?")[0]}
        record.update(fields)
        with LOCK:
            with open(self.records, "a") as f:
                f.write(json.dumps(record) + "\n")
            print("%s dashboard: fault      %s %s" % (time.strftime("%H:%M:%S"), record["path"],
                  " ".join("%s=%s" % kv for kv in sorted(fields.items()))), file=self.out, flush=True)

    def node_id(self, mac):
        with LOCK:
            ids = self.load_json(self.ids_file, {})
            if mac not in ids:
                ids[mac] = len(ids) + 1
                with open(self.ids_file + ".tmp", "w") as f:
                    json.dump(ids, f)
                os.replace(self.ids_file + ".tmp", self.ids_file)
            return ids[mac]

    def config_for(self, mac):
        for name in (mac.upper() + ".conf", "default.conf"):
            try:
                with open(os.path.join(self.state, "config", name)) as f:
                    return f.read()
            except OSError:
                continue
        return ""

    def vouchers(self):
        try:
            with open(os.path.join(self.state, "vouchers")) as f:
                return {line.strip() for line in f if line.strip()}
        except OSError:
            return set()

    def serve_file(self, record, name):
        try:
            with open(os.path.join(self.state, "files", name), "rb") as f:
                data = f.read()
        except OSError:
            record["served"] = None
            return self.done(record, "no such file", status="404 Not Found")
        record["served"] = name
        record["bytes"] = len(data)
        return self.done(record, data)

    def done(self, record, payload, status="200 OK"):
        record["status"] = status.split()[0]
        with LOCK:
            with open(self.records, "a") as f:
                f.write(json.dumps(record) + "\n")
            print(describe(record), file=self.out, flush=True)
        if isinstance(payload, str):
            payload = payload.encode()
        return b"HTTP/1.0 " + status.encode() + b"\r\nContent-Type: text/plain\r\n\r\n" + payload

    @staticmethod
    def load_json(path, default):
        try:
            with open(path) as f:
                return json.load(f)
        except (OSError, ValueError):
            return default


def describe(r):
    """One readable line per exchange, for the live view."""
    stamp = time.strftime("%H:%M:%S", time.localtime(r["time"]))
    kind = r.get("kind")
    if kind == "checkin":
        f = r["fields"]
        text = "check-in   %s role=%s RR=%s hop=%s ip=%s lan=%s ssid=%r pssid=%r nbs=%s rssi=%s uptime=%s%s -> %d config lines" % (
            r["mac"], f.get("role"), f.get("RR"), f.get("hop"), f.get("ip"), f.get("lan"), f.get("ssid"),
            f.get("pssid"), f.get("nbs") or "-", f.get("rssi") or "-", f.get("uptime"),
            " upgrade=1" if "upgrade" in f else "", r["config_lines"])
    elif kind == "nodeid":
        text = "node id    %s -> %s" % (r["mac"], r["reply"])
    elif kind == "serverping":
        text = "serverping -> %s" % r["reply"]
    elif kind == "clients":
        text = "clients    %s: %s" % (r["mac"], r["clients"].replace("\n", " | "))
    elif kind == "stats":
        text = "statistics %s: %s" % (r["mac"], r["report"])
    elif kind == "voucher":
        text = "voucher    %s from %s on %s -> %s" % (r["voucher"], r["mac"], r["network"], r["reply"])
    elif kind in ("custom-script", "download"):
        text = "%-10s %s -> %s" % (kind if kind == "download" else "script", r["path"],
                                   "%s (%d bytes)" % (r["served"], r["bytes"]) if r.get("served") else "404")
    else:
        text = "unknown    %s %s -> 404" % (r["method"], r["path"])
    return "%s dashboard: %s" % (stamp, text)


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        self.request.settimeout(60)
        data = b""
        try:
            while b"\r\n\r\n" not in data and len(data) < 65536:
                chunk = self.request.recv(65536)
                if not chunk:
                    break
                data += chunk
            head, _, body = data.partition(b"\r\n\r\n")
            lines = head.decode("latin-1").split("\r\n")
            words = lines[0].split()
            if len(words) < 2:
                return
            headers = {}
            for line in lines[1:]:
                key, _, value = line.partition(":")
                headers[key.strip().lower()] = value.strip()
            length = int(headers.get("content-length", "0") or 0)
            while len(body) < length:
                chunk = self.request.recv(65536)
                if not chunk:
                    break
                body += chunk
            dashboard = self.server.dashboard
            fault = dashboard.fault()
            if fault == "silent":
                return self.hold(dashboard, words[1])
            if fault == "garbage":
                return self.request.sendall(dashboard.garbage(words[1]))
            if fault == "trickle":
                return self.trickle(dashboard, words[1])
            reply = dashboard.handle(words[0], words[1], headers, body[:length] if length else body)
            self.request.sendall(reply)
        except (OSError, ValueError):
            pass


    def hold(self, dashboard, target):
        """Answers nothing until the node gives up and closes (at most 10 minutes)."""
        start = time.time()
        self.request.settimeout(600)
        try:
            while self.request.recv(65536):
                pass
        except OSError:
            pass
        dashboard.note_fault(target, silent=1, held=round(time.time() - start, 1))


    def trickle(self, dashboard, target):
        """Sends TRICKLE a byte at a time, TRICKLE_PAUSE apart, until the node
        closes (at most 10 minutes; the rest of the reply is then held back)."""
        start = time.time()
        sent = 0
        try:
            while time.time() - start < 600:
                if sent < len(TRICKLE):
                    self.request.sendall(TRICKLE[sent:sent + 1])
                    sent += 1
                ready, _, _ = select.select([self.request], [], [], TRICKLE_PAUSE)
                if ready and not self.request.recv(65536):
                    break
        except OSError:
            pass
        dashboard.note_fault(target, trickle=1, held=round(time.time() - start, 1), bytes=sent)


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def serve(state, port=0, checkin_path="/checkin.php", stats_path="/netstats.php", switch=7, out=sys.stdout):
    """Starts the dashboard in a thread; returns the server (server_address[1] is the port)."""
    server = Server(("127.0.0.1", port), Handler)
    server.dashboard = Dashboard(state, checkin_path, stats_path, switch, out)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--state", required=True, help="folder of the configuration texts, files and records")
    ap.add_argument("--port", type=int, default=8080)
    ap.add_argument("--checkin-path", default="/checkin.php")
    ap.add_argument("--stats-path", default="/netstats.php")
    ap.add_argument("--switch", type=int, default=7, help="network number given out with the node ids")
    args = ap.parse_args()
    server = serve(args.state, args.port, args.checkin_path, args.stats_path, args.switch)
    print("dashboard on 127.0.0.1:%d, state in %s" % (server.server_address[1], args.state), flush=True)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
