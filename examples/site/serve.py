#!/usr/bin/env python3
"""The example site: the pages and forms the example scripts talk to.

    python3 serve.py [--port 8080]

serves on 127.0.0.1 only (never on other addresses): the static pages of
www/ (a product table, a paged listing, a page in GBK) and a small dynamic
part: a login form that sets a session cookie, an account page that needs
it, an upload form, a captcha image and the form that checks it. Stop it
with Ctrl+C.
"""

import argparse
import http.server
import os
import re
import struct
import sys
import zlib

USER, PASSWORD, SESSION, CAPTCHA = "alice", "secret word", "abc123", "x7k2"
WWW = os.path.join(os.path.dirname(os.path.abspath(__file__)), "www")


def page(body):
    return ("<html><head><title>t</title></head><body>" + body + "</body></html>\n").encode()


# 5x7 glyphs of the captcha's characters, one string of 0/1 per row.
GLYPHS = {
    "x": ["00000", "00000", "10001", "01010", "00100", "01010", "10001"],
    "7": ["11111", "00001", "00010", "00100", "01000", "01000", "01000"],
    "k": ["10000", "10000", "10010", "10100", "11000", "10100", "10010"],
    "2": ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
}


def captcha_png(text, scale=4):
    """A black-on-white PNG of the text, drawn from the glyphs above."""
    width, height = (len(text) * 6 + 1) * scale, 9 * scale
    rows = []
    for y in range(height):
        row = bytearray(b"\x00")  # filter type: none
        for x in range(width):
            gx, gy = x // scale - 1, y // scale - 1
            ink = False
            if 0 <= gy < 7 and gx >= 0 and gx % 6 < 5 and gx // 6 < len(text):
                ink = GLYPHS[text[gx // 6]][gy][gx % 6] == "1"
            row.append(0 if ink else 255)
        rows.append(bytes(row))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)  # 8-bit greyscale
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(b"".join(rows))) + chunk(b"IEND", b""))


def form_fields(body):
    fields = {}
    for pair in body.split("&"):
        name, _, value = pair.partition("=")
        from urllib.parse import unquote_plus
        fields[unquote_plus(name)] = unquote_plus(value)
    return fields


def multipart_parts(content_type, body):
    """{field name: (file name or None, bytes)} of a multipart/form-data body."""
    match = re.search(r"boundary=\"?([^\";]+)\"?", content_type)
    if not match:
        return {}
    parts = {}
    for part in body.split(b"--" + match.group(1).encode()):
        head, sep, data = part.partition(b"\r\n\r\n")
        if not sep:
            continue
        name = re.search(rb'name="([^"]*)"', head)
        filename = re.search(rb'filename="([^"]*)"', head)
        if name:
            parts[name.group(1).decode("utf-8", "replace")] = (
                filename.group(1).decode("utf-8", "replace") if filename else None,
                data[:-2] if data.endswith(b"\r\n") else data)
    return parts


class Site(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=WWW, **kwargs)

    def reply(self, body, status=200, headers=(), content_type="text/html"):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def body(self):
        return self.rfile.read(int(self.headers.get("Content-Length") or 0))

    def do_GET(self):
        if self.path == "/account":
            logged_in = ("session=" + SESSION) in (self.headers.get("Cookie") or "")
            self.reply(page("<h1>Welcome, alice</h1>" if logged_in else "<h1>Please log in</h1>"))
        elif self.path == "/captcha.png":
            self.reply(captcha_png(CAPTCHA), content_type="image/png")
        else:
            super().do_GET()

    def do_POST(self):
        data = self.body()
        if self.path == "/login":
            fields = form_fields(data.decode("latin-1"))
            if fields.get("user") == USER and fields.get("password") == PASSWORD:
                self.reply(b"", 302, [("Set-Cookie", "session=%s; path=/; HttpOnly" % SESSION),
                                      ("Location", "/account")])
            else:
                self.reply(page("<h1>wrong password</h1>"))
        elif self.path == "/upload":
            parts = multipart_parts(self.headers.get("Content-Type") or "", data)
            title = parts.get("title", (None, b"?"))[1].decode("utf-8", "replace")
            if "report" in parts and parts["report"][0] is not None:
                name = os.path.basename(parts["report"][0].replace("\\", "/"))
                text = "received %s (%d bytes) titled %s" % (name, len(parts["report"][1]), title)
            else:
                text = "no file"
            self.reply(page("<p>" + text + "</p>"))
        elif self.path == "/check":
            fields = form_fields(data.decode("latin-1"))
            accepted = fields.get("code", "").lower() == CAPTCHA
            self.reply(page("<p>code accepted</p>" if accepted else "<p>code wrong</p>"))
        else:
            self.reply(page("<h1>not found</h1>"), 404)

    def log_message(self, format, *args):
        if not self.server.quiet:
            super().log_message(format, *args)


def main():
    parser = argparse.ArgumentParser(description="The example site of the Velmar examples, on 127.0.0.1.")
    parser.add_argument("--port", type=int, default=8080, help="port on 127.0.0.1 (default 8080)")
    parser.add_argument("--quiet", action="store_true", help="no line per request")
    options = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", options.port), Site)
    server.quiet = options.quiet
    print("example site on http://127.0.0.1:%d/ (Ctrl+C stops it)" % options.port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
