#!/usr/bin/env python3
"""Builds the demo patch and opens its build report in headless Chromium, driven over the
DevTools protocol: the table must hold every entry of the manifests with the sizes the
resources folder has, sorting by payload must put the largest first, the filter must find
files by part of their name, the page must load nothing but itself and data URIs, and the
console must stay free of errors. The --json file must carry the same entries. Leaves a
screenshot of the page in WORK/report.png.

usage: report_browser_test.py MKPATCH MAKE_DEMO WORK"""
import base64
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import tomllib
import urllib.request
import xml.etree.ElementTree as ET

mkpatch, make_demo, work = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3])
problems = []


def check(ok, message):
    if not ok:
        problems.append(message)
    return ok


class DevTools:
    """A minimal WebSocket client for one DevTools page target."""

    def __init__(self, url):
        host, rest = url[len("ws://"):].split("/", 1)
        name, port = host.rsplit(":", 1)
        self.sock = socket.create_connection((name, int(port)), timeout=30)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall(("GET /%s HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\n"
                           "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n" % (rest, host, key)).encode())
        reply = b""
        while b"\r\n\r\n" not in reply:
            reply += self.sock.recv(4096)
        head, self.buffer = reply.split(b"\r\n\r\n", 1)
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise RuntimeError("DevTools refused the WebSocket: %r" % head)
        self.next_id = 0
        self.events = []

    def _read(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(1 << 16)
            if not chunk:
                raise RuntimeError("DevTools closed the connection")
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def _message(self):
        payload = b""
        while True:
            b0, b1 = self._read(2)
            length = b1 & 0x7F
            if length == 126:
                length = struct.unpack(">H", self._read(2))[0]
            elif length == 127:
                length = struct.unpack(">Q", self._read(8))[0]
            payload += self._read(length)
            if b0 & 0x80:
                return json.loads(payload)

    def send(self, method, **params):
        self.next_id += 1
        data = json.dumps({"id": self.next_id, "method": method, "params": params}).encode()
        mask = os.urandom(4)
        size = len(data)
        header = bytes([0x81]) + (bytes([0x80 | size]) if size < 126 else
                                  struct.pack(">BH", 0x80 | 126, size) if size < 65536 else
                                  struct.pack(">BQ", 0x80 | 127, size))
        self.sock.sendall(header + mask + bytes(c ^ mask[i % 4] for i, c in enumerate(data)))
        self.sock.settimeout(60)  # wait_for may have left a short one
        while True:
            message = self._message()
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message["result"]
            self.events.append(message)

    def wait_for(self, method, seconds=30):
        deadline = time.time() + seconds
        while time.time() < deadline:
            for event in self.events:
                if event.get("method") == method:
                    return event
            self.sock.settimeout(max(0.1, deadline - time.time()))
            self.events.append(self._message())
        raise RuntimeError("no %s within %d s" % (method, seconds))

    def eval(self, expression):
        result = self.send("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError("script failed: %s" % result["exceptionDetails"])
        return result["result"].get("value")


def expected_entries(demo, resources):
    """Every manifest entry as (path, kind, old size, new size, payload bytes)."""
    project = tomllib.load(open(os.path.join(demo, "demo.toml"), "rb"))
    old_dirs = {pack["root"]: os.path.join(demo, pack["old"])
                for section in project["language"] for pack in section["pack"]}
    rows = []
    for pack in ET.parse(os.path.join(resources, "5001.xml")).getroot().iter("pack"):
        root = pack.get("root")
        manifest = ET.parse(os.path.join(resources, pack.get("id") + ".xml")).getroot()
        for group in ("added", "updated", "deleted"):
            for f in manifest.iter(group):
                for e in f.iter("file"):
                    path = (root.replace("\\", "/") + e.get("subpath")).lstrip("/")
                    if group == "deleted":
                        old = os.path.getsize(os.path.join(old_dirs[root], e.get("subpath").lstrip("/")))
                        rows.append((path, "deleted", old, None, None))
                        continue
                    kind = "added" if group == "added" else \
                        "updated by diff" if e.get("diff", "0") != "0" else "updated whole"
                    payload = os.path.getsize(os.path.join(resources, e.get("id") + ".bin"))
                    old = int(e.get("size_org")) if group == "updated" else None
                    rows.append((path, kind, old, int(e.get("size")), payload))
    return rows


def main():
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    demo, out = os.path.join(work, "demo"), os.path.join(work, "out")
    subprocess.run([sys.executable, make_demo, demo], check=True, capture_output=True)
    extra, report_json = os.path.join(work, "extra", "page.html"), os.path.join(work, "report.json")
    subprocess.run([mkpatch, "build", os.path.join(demo, "demo.toml"), "--out", out,
                    "--resources-only", "--no-cache", "--report", extra, "--json", report_json],
                   check=True, capture_output=True)
    page = os.path.join(out, "report.html")
    check(open(page, "rb").read() == open(extra, "rb").read(), "--report differs from OUT/report.html")
    expected = expected_entries(demo, os.path.join(out, "resources"))
    check(len(expected) > 10, "the demo has only %d entries" % len(expected))

    facts = json.load(open(report_json))
    from_json = [((e["root"].replace("\\", "/") + e["subpath"]).lstrip("/"), e["kind"],
                  e["old_size"] if e["kind"] != "added" else None,
                  e["new_size"] if e["kind"] != "deleted" else None,
                  e["payload_bytes"] if e["kind"] != "deleted" else None) for e in facts["entries"]]
    check(from_json == expected, "JSON entries differ from the manifests:\n%s\n%s" % (from_json, expected))
    check(facts["result"] == "built" and facts["self_check"]["passed"], "JSON: not built and checked")
    check(len(facts["preview_frames"]) == 4, "JSON: %d preview frames" % len(facts["preview_frames"]))

    profile = tempfile.mkdtemp(prefix="vard-chromium-")
    browser = subprocess.Popen(
        ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--disable-dev-shm-usage", "--hide-scrollbars",
         "--window-size=1280,1000", "--remote-debugging-port=0", "--user-data-dir=" + profile,
         "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        port_file = os.path.join(profile, "DevToolsActivePort")
        deadline = time.time() + 60
        while not (os.path.exists(port_file) and open(port_file).read().count("\n") >= 1):
            if time.time() > deadline or browser.poll() is not None:
                sys.exit("FAIL Chromium did not open its DevTools port")
            time.sleep(0.1)
        port = int(open(port_file).read().split("\n")[0])
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%d/json/list" % port, timeout=30))
        tools = DevTools(next(t for t in targets if t["type"] == "page")["webSocketDebuggerUrl"])
        for domain in ("Network", "Runtime", "Log", "Page"):
            tools.send(domain + ".enable")
        tools.send("Page.navigate", url="file://" + page)
        tools.wait_for("Page.loadEventFired")

        rows = tools.eval("""Array.from(document.querySelectorAll('#entry-table tbody tr')).map(r => {
            const v = i => r.cells[i].getAttribute('data-v') === '-1' ? null
                                                                       : Number(r.cells[i].textContent.replace(/,/g, ''));
            return [r.cells[0].textContent, r.cells[2].textContent, v(3), v(4), v(5)]; })""")
        check([tuple(r) for r in rows] == expected,
              "the table differs from the manifests:\n%s\n%s" % (rows, expected))

        tools.eval("Array.from(document.querySelectorAll('#entry-table th')).find(th => th.textContent.startsWith('Payload')).click()")
        payloads = tools.eval("Array.from(document.querySelectorAll('#entry-table tbody tr')).map(r => Number(r.cells[5].getAttribute('data-v')))")
        largest = max(p for _, _, _, _, p in expected if p is not None)
        check(payloads[0] == largest and payloads == sorted(payloads, reverse=True),
              "sorted by payload, the rows read %s" % payloads)

        tools.eval("document.getElementById('filter').focus()")
        tools.send("Input.insertText", text="LEVEL3")
        shown = tools.eval("Array.from(document.querySelectorAll('#entry-table tbody tr')).filter(r => !r.hidden).map(r => r.cells[0].textContent)")
        want = sorted(p for p, *_ in expected if "level3" in p.lower())
        check(sorted(shown) == want and len(want) >= 2, "the filter 'LEVEL3' shows %s, not %s" % (shown, want))
        tools.eval("const f = document.getElementById('filter'); f.value = ''; f.dispatchEvent(new Event('input'))")

        images = tools.eval("Array.from(document.images).filter(i => i.complete && i.naturalWidth > 0 && i.src.startsWith('data:image/png')).length")
        check(images == 4, "%d preview frames shown, not 4" % images)
        outside = tools.eval("""Array.from(document.querySelectorAll('[src],[href],link,object,embed,iframe'))
            .map(e => e.getAttribute('src') || e.getAttribute('href') || e.tagName)
            .filter(u => !u.startsWith('data:') && !u.startsWith('#'))""")
        check(outside == [], "the page refers to %s" % outside)
        csp = tools.eval("(document.querySelector('meta[http-equiv=Content-Security-Policy]') || {}).content || ''")
        check("default-src 'none'" in csp, "no Content-Security-Policy forbids loads: %r" % csp)

        tools.eval("document.activeElement.blur(); window.scrollTo(0, 0)")
        shot = tools.send("Page.captureScreenshot", format="png")
        with open(os.path.join(work, "report.png"), "wb") as f:
            f.write(base64.b64decode(shot["data"]))

        requests = [e["params"]["request"]["url"] for e in tools.events
                    if e.get("method") == "Network.requestWillBeSent"]
        check(requests and all(u.startswith(("file:", "data:")) for u in requests),
              "the page made requests outside itself: %s" % [u[:80] for u in requests])
        errors = [e["params"] for e in tools.events
                  if e.get("method") == "Runtime.exceptionThrown"
                  or (e.get("method") == "Runtime.consoleAPICalled" and e["params"]["type"] in ("error", "assert"))
                  or (e.get("method") == "Log.entryAdded" and e["params"]["entry"]["level"] == "error")]
        check(not errors, "the console shows errors: %s" % errors)
    finally:
        browser.terminate()
        try:
            browser.wait(timeout=10)
        except subprocess.TimeoutExpired:
            browser.kill()
        shutil.rmtree(profile, ignore_errors=True)

    if problems:
        sys.exit("FAIL " + "\nFAIL ".join(problems))
    print("%d entries in the table and the JSON as in the manifests; sorting, filter, no outside loads, "
          "no console errors; screenshot %s" % (len(expected), os.path.join(work, "report.png")))


main()
