#!/usr/bin/python3
"""Opens a page of `velmar trace view` in headless Chromium and uses it as a
person would, through the DevTools protocol: searches the request list,
opens a request, selects a statement. Prints one JSON object with what the
page showed; the C++ test judges it. Screenshots go to SHOTS_DIR.

usage: trace_view_check.py PAGE.html SHOTS_DIR SEARCH
"""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

import websocket


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Page:
    def __init__(self, ws):
        self.ws = ws
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})

    def eval(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def shot(self, path):
        import base64
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))


def main():
    page_path, shots, search = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(shots, exist_ok=True)
    profile = tempfile.mkdtemp(prefix="velmar-chromium-")
    port = free_port()
    browser = subprocess.Popen(
        ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
         f"--remote-debugging-port={port}", "--remote-allow-origins=*", f"--user-data-dir={profile}",
         "--window-size=1400,900", "about:blank"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        targets = None
        for _ in range(200):
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{port}/json") as r:
                    targets = [t for t in json.load(r) if t.get("type") == "page"]
                if targets:
                    break
            except OSError:
                pass
            time.sleep(0.1)
        if not targets:
            raise RuntimeError("chromium gave no page to drive")
        page = Page(websocket.create_connection(targets[0]["webSocketDebuggerUrl"], timeout=60))
        page.call("Page.enable")
        page.call("Runtime.enable")
        page.call("Page.navigate", url="file://" + os.path.abspath(page_path))
        for _ in range(600):
            if page.eval("document.readyState") == "complete" and page.eval(
                    "!!document.getElementById('count') && document.getElementById('count').textContent.length > 0"):
                break
            time.sleep(0.05)
        out = {"title": page.eval("document.getElementById('title').textContent"),
               "requests": page.eval("document.querySelectorAll('#requests .req').length"),
               "rows": page.eval("document.querySelectorAll('#timeline .row').length")}
        page.shot(os.path.join(shots, "1-loaded.png"))
        # Typing into the search box, timed inside the page.
        out["searchMs"] = page.eval(
            "(() => { const s = document.getElementById('search'); const t = performance.now();"
            f" s.value = {json.dumps(search)}; s.dispatchEvent(new Event('input'));"
            " return performance.now() - t; })()")
        out["found"] = page.eval("document.querySelectorAll('#requests .req').length")
        out["count"] = page.eval("document.getElementById('count').textContent")
        page.shot(os.path.join(shots, "2-searched.png"))
        page.eval("document.querySelector('#requests .req').click()")
        out["details"] = page.eval("document.getElementById('details').innerText")
        page.eval("(() => { const b = [...document.querySelectorAll('#details button')]"
                  ".find(x => x.textContent === 'html'); if (b) b.click(); })()")
        out["frameSandbox"] = page.eval(
            "(() => { const f = document.querySelector('#details iframe');"
            " return f ? f.getAttribute('sandbox') : null; })()")
        page.shot(os.path.join(shots, "3-request.png"))
        # Back to all requests, then the status filter.
        page.eval("(() => { const s = document.getElementById('search'); s.value = '';"
                  " s.dispatchEvent(new Event('input')); const f = document.getElementById('status-filter');"
                  " f.value = '0'; f.dispatchEvent(new Event('change')); })()")
        out["failedOnly"] = page.eval(
            "[...document.querySelectorAll('#requests .req')].map(r => r.textContent)")
        # A statement that matched a pattern: its marks and the variables.
        page.eval("(() => { const rows = [...document.querySelectorAll('#timeline .row')];"
                  " const r = rows.find(x => x.textContent.includes(' match ')); (r || rows[0]).click(); })()")
        out["marks"] = page.eval("[...document.querySelectorAll('#details pre.subject > mark')].map(m => m.textContent)")
        out["vars"] = page.eval("(() => { const t = document.getElementById('vars');"
                                " return t ? t.innerText : ''; })()")
        out["source"] = page.eval("(() => { const s = document.querySelector('#details .source .here');"
                                  " return s ? s.textContent : ''; })()")
        page.shot(os.path.join(shots, "4-statement.png"))
        print(json.dumps(out))
    finally:
        browser.terminate()
        try:
            browser.wait(10)
        except subprocess.TimeoutExpired:
            browser.kill()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    main()
