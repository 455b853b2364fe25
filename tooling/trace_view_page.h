#pragma once
// The page of `velmar trace view`; the trace's data replaces the marker
// /*TRACE-DATA*/. Everything the page shows is put in as text (never as
// markup), and a response shown as HTML goes into a sandboxed frame with
// scripts off: a trace holds whatever the servers sent. The content policy
// keeps the page from loading anything over the network.

namespace velmar {

inline constexpr const char kTraceViewPage[] = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:; frame-src 'self' about:">
<title>Velmar trace</title>
<style>
body { font: 13px sans-serif; margin: 0; display: flex; flex-direction: column; height: 100vh; }
header { padding: 6px 10px; background: #234; color: #fff; }
header .problems { color: #fc8; }
main { flex: 1; display: flex; min-height: 0; }
section { display: flex; flex-direction: column; min-width: 0; border-right: 1px solid #ccc; }
#left { width: 45%; }
#right { flex: 1; overflow: auto; padding: 6px 10px; }
h2 { font-size: 13px; margin: 6px; }
#timeline { height: 40%; overflow: auto; position: relative; border-bottom: 1px solid #ccc; }
#timeline .row, #requests .req { white-space: nowrap; overflow: hidden; text-overflow: ellipsis; cursor: pointer; padding: 0 6px; }
#timeline .row { position: absolute; left: 0; right: 0; height: 18px; line-height: 18px; }
.row.failed, .req.failed { color: #b00; }
.row.selected, .req.selected { background: #cde; }
#filters { padding: 4px 6px; display: flex; flex-wrap: wrap; gap: 4px; }
#search { flex: 1 1 8em; min-width: 0; }
#requests { flex: 1; overflow: auto; }
#count { padding: 0 6px; color: #555; }
pre { white-space: pre-wrap; word-break: break-all; background: #f6f6f6; padding: 4px; margin: 4px 0; }
mark { background: #fd4; }
mark.capture { background: #9d9; }
table.vars td { border-bottom: 1px solid #eee; padding: 1px 6px; vertical-align: top; }
.source .here { background: #fe9; }
iframe { width: 100%; height: 300px; border: 1px solid #ccc; }
button.on { font-weight: bold; }
</style>
</head>
<body>
<header><span id="title"></span> <span id="problems" class="problems"></span></header>
<main>
<section id="left">
<h2>Statements</h2>
<div id="timeline"><div id="timeline-space"></div></div>
<h2>Requests</h2>
<div id="filters">
<input id="search" type="search" placeholder="search URL, status, method, body text">
<select id="method-filter"><option value="">any method</option></select>
<select id="status-filter"><option value="">any status</option><option value="2">2xx</option><option value="3">3xx</option><option value="4">4xx</option><option value="5">5xx</option><option value="0">failed</option></select>
</div>
<div id="count"></div>
<div id="requests"></div>
</section>
<section id="right"><div id="details">Select a statement or a request.</div></section>
</main>
<script type="application/json" id="trace-data">/*TRACE-DATA*/</script>
<script>
"use strict";
const D = JSON.parse(document.getElementById("trace-data").textContent);
const $ = (id) => document.getElementById(id);
function el(tag, text, cls) {
  const e = document.createElement(tag);
  if (text !== undefined && text !== null) e.textContent = String(text);
  if (cls) e.className = cls;
  return e;
}
function at(s) { const f = D.files[s[1]]; return (f === undefined ? "?" : f) + ":" + s[2]; }
function ms(us) { return us < 0 ? "-" : (us / 1000).toFixed(1) + " ms"; }

$("title").textContent = "Velmar trace, started " + (D.header.started || "?") + ": " +
  D.statements.length + " statements, " + D.requests.length + " requests";
if (D.problems.length) $("problems").textContent = D.problems.length + " damaged line(s): " + D.problems[0];

// The timeline shows only the rows in view: a run may have a million.
const ROW = 18;
const timeline = $("timeline");
$("timeline-space").style.height = (D.statements.length * ROW) + "px";
let selectedStatement = -1;
function drawTimeline() {
  for (const old of Array.from(timeline.querySelectorAll(".row"))) old.remove();
  const first = Math.max(0, Math.floor(timeline.scrollTop / ROW) - 5);
  const last = Math.min(D.statements.length, first + Math.ceil(timeline.clientHeight / ROW) + 10);
  for (let i = first; i < last; i++) {
    const s = D.statements[i];
    const row = el("div", at(s) + "  " + s[3] + " " + (s[5] || s[4]) + "  (" + (s[6] / 1e6).toFixed(3) + " ms)",
                   "row" + (s[7] ? " failed" : "") + (i === selectedStatement ? " selected" : ""));
    row.style.top = (i * ROW) + "px";
    row.dataset.index = i;
    row.onclick = () => showStatement(i);
    timeline.appendChild(row);
  }
}
timeline.addEventListener("scroll", drawTimeline);

// Requests: search over URL, status, method and body text; filters by
// method and status class.
const methods = new Set(D.requests.map((r) => r.method));
for (const m of methods) $("method-filter").appendChild(el("option", m)).value = m;
const lowered = new Map();
function bodyText(r) {
  let t = lowered.get(r.n);
  if (t === undefined) { t = (r.body + "\n" + r.request).toLowerCase(); lowered.set(r.n, t); }
  return t;
}
const LIST_LIMIT = 2000;
let selectedRequest = -1;
function drawRequests() {
  const q = $("search").value.trim().toLowerCase();
  const method = $("method-filter").value;
  const status = $("status-filter").value;
  const list = $("requests");
  list.textContent = "";
  let shown = 0, matching = 0;
  for (const r of D.requests) {
    if (method && r.method !== method) continue;
    if (status !== "" && (status === "0" ? r.status !== 0 : String(r.status)[0] !== status || r.status === 0)) continue;
    if (q && !(r.url.toLowerCase().includes(q) || String(r.status) === q ||
               r.method.toLowerCase() === q || bodyText(r).includes(q))) continue;
    matching++;
    if (shown >= LIST_LIMIT) continue;
    shown++;
    const row = el("div", "#" + r.n + " " + (r.status || "failed") + " " + r.method + " " + r.url,
                   "req" + (r.status === 0 || r.status >= 400 ? " failed" : "") + (r.n === selectedRequest ? " selected" : ""));
    row.dataset.n = r.n;
    row.onclick = () => showRequest(r.n);
    list.appendChild(row);
  }
  $("count").textContent = matching + " of " + D.requests.length + " requests" +
    (matching > shown ? " (first " + shown + " listed; narrow the search)" : "");
}
$("search").addEventListener("input", drawRequests);
$("method-filter").addEventListener("change", drawRequests);
$("status-filter").addEventListener("change", drawRequests);

function section(title, content) {
  const d = $("details");
  d.appendChild(el("h2", title));
  if (content) d.appendChild(content);
}
function pre(text) { return el("pre", text); }

function showRequest(n) {
  selectedRequest = n;
  const r = D.requests[n - 1];
  const d = $("details");
  d.textContent = "";
  d.dataset.request = n;
  section("#" + r.n + " " + r.method + " " + r.url, pre((r.at || "") + "  status " + (r.status || "none") +
          (r.error ? "  failed: " + r.error : "") + (r.proxy ? "  proxy " + r.proxy : "")));
  const t = r.timing || {};
  section("Timing", pre("name resolved " + ms(t.dns) + ", connected " + ms(t.connect) + ", TLS " + ms(t.tls) +
          ", first byte " + ms(t.firstByte) + ", total " + ms(t.total)));
  if (r.tls) section("TLS", pre(r.tls.version + " " + r.tls.cipher + "\nsubject " + r.tls.subject + "\nissuer " + r.tls.issuer));
  section("Request", pre(r.request));
  section("Response head", pre(r.head));
  const views = el("div");
  const body = el("div", null, "body");
  const show = (how) => {
    body.textContent = "";
    for (const b of views.querySelectorAll("button")) b.className = b.dataset.how === how ? "on" : "";
    if (how === "html") {
      const frame = document.createElement("iframe");
      frame.setAttribute("sandbox", "");
      frame.srcdoc = r.body;
      body.appendChild(frame);
    } else if (how === "image") {
      const img = document.createElement("img");
      img.src = "data:image/*;base64," + r.image;
      body.appendChild(img);
    } else {
      body.appendChild(pre(r.body));
    }
  };
  for (const how of ["text", "html"].concat(r.image ? ["image"] : [])) {
    const b = el("button", how);
    b.dataset.how = how;
    b.onclick = () => show(how);
    views.appendChild(b);
  }
  section("Response body (" + r.size + " bytes" + (r.body.length < r.size ? ", shown in part" : "") + ")", views);
  d.appendChild(body);
  show(r.image ? "image" : "text");
  drawRequests();
}

// A pattern's subject with every match marked and its captures inside.
function highlighted(subject, matches) {
  const p = el("pre", null, "subject");
  let pos = 0;
  for (const m of matches) {
    if (!m.length || m[0][0] < pos) continue;
    p.appendChild(document.createTextNode(subject.slice(pos, m[0][0])));
    const mark = el("mark");
    let inner = m[0][0];
    for (const c of m.slice(1)) {
      if (c[0] < inner || c[1] > m[0][1] || c[0] < 0) continue;
      mark.appendChild(document.createTextNode(subject.slice(inner, c[0])));
      mark.appendChild(el("mark", subject.slice(c[0], c[1]), "capture"));
      inner = c[1];
    }
    mark.appendChild(document.createTextNode(subject.slice(inner, m[0][1])));
    p.appendChild(mark);
    pos = m[0][1];
  }
  p.appendChild(document.createTextNode(subject.slice(pos)));
  return p;
}

function showStatement(i) {
  selectedStatement = i;
  const s = D.statements[i];
  const d = $("details");
  d.textContent = "";
  d.dataset.statement = i;
  section(at(s) + "  " + s[3], pre((s[4] || "") + (s[5] ? "\n→ " + s[5] : "") + "\n" + (s[6] / 1e6).toFixed(3) + " ms" + (s[7] ? ", failed" : "")));
  const lines = D.sources[String(s[1])];
  if (lines) {
    const src = el("div", null, "source");
    for (let l = Math.max(1, s[2] - 3); l <= Math.min(lines.length, s[2] + 3); l++) {
      src.appendChild(el("pre", l + "  " + lines[l - 1], l === s[2] ? "here" : ""));
    }
    section("Source", src);
  }
  for (const e of D.events) {
    if (e.stmt !== i) continue;
    if (e.ev === "match") {
      section("Pattern " + e.name + " /" + e.pattern + "/ over " + e.subjectVar + ": " + e.matches.length + " match(es)",
              highlighted(e.subject, e.matches));
    } else if (e.ev !== "var") {
      const copy = Object.assign({}, e);
      delete copy.stmt;
      section(e.ev, pre(JSON.stringify(copy, null, 1)));
    }
  }
  for (const r of D.requests) {
    if (r.stmt !== i) continue;
    const link = el("button", "#" + r.n + " " + r.method + " " + r.url + " → " + (r.status || "failed"));
    link.onclick = () => showRequest(r.n);
    section("Request", link);
  }
  // The variables as they stood once this statement had run.
  const vars = new Map();
  for (const e of D.events) {
    if (e.stmt > i) break;
    if (e.ev === "var") vars.set(e.name, e.value);
  }
  const table = el("table", null, "vars");
  table.id = "vars";
  for (const [name, value] of [...vars.entries()].sort()) {
    const tr = el("tr");
    tr.appendChild(el("td", name));
    tr.appendChild(el("td", value.length > 300 ? value.slice(0, 300) + "…" : value));
    table.appendChild(tr);
  }
  section("Variables after this statement", table);
  drawTimeline();
}

drawTimeline();
drawRequests();
</script>
</body>
</html>
)PAGE";

}  // namespace velmar
