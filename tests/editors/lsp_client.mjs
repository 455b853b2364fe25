// Drives `velmar lsp` with the JSON-RPC client editors are built on: opens a
// script in a home folder with an include, waits for its diagnostics, asks
// for completion, hover, definition, references and the outline, changes the
// text and waits for the debounced check, then shuts the server down.
// Usage: node lsp_client.mjs VELMAR WORK_DIR
import { spawn } from 'node:child_process';
import { mkdirSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import assert from 'node:assert/strict';
import rpc from 'vscode-jsonrpc/node.js';

const [velmar, work] = process.argv.slice(2);
const home = path.join(work, 'lsp-home');
mkdirSync(path.join(home, 'Script', 'lib'), { recursive: true });
writeFileSync(path.join(home, 'Script', 'lib', 'util.vlm'), '<helper>\nvar [#shared] 1\nreturn\n');
const mainPath = path.join(home, 'Script', 'main.vlm');
const text = 'using lib.util\n<main>\nvar [#count] 2\ncall <helper>\ngoto <nowhere>\nshow [#count] [@len<<<abc]\nexit\n';
writeFileSync(mainPath, text);
const uri = 'file://' + mainPath;

const server = spawn(velmar, ['lsp'], { stdio: ['pipe', 'pipe', 'inherit'] });
const connection = rpc.createMessageConnection(
  new rpc.StreamMessageReader(server.stdout), new rpc.StreamMessageWriter(server.stdin));
const diagnostics = [];
let waiting = null;
connection.onNotification('textDocument/publishDiagnostics', (params) => {
  diagnostics.push(params);
  if (waiting) waiting();
});
connection.listen();
const nextDiagnostics = () => new Promise((resolve, reject) => {
  const timer = setTimeout(() => reject(new Error('no diagnostics within 10 s')), 10000);
  const seen = diagnostics.length;
  waiting = () => { if (diagnostics.length > seen) { clearTimeout(timer); waiting = null; resolve(diagnostics.at(-1)); } };
});

const init = await connection.sendRequest('initialize', { processId: process.pid, rootUri: null, capabilities: {} });
assert.equal(init.capabilities.positionEncoding, 'utf-16');
connection.sendNotification('initialized', {});
let pending = nextDiagnostics();
connection.sendNotification('textDocument/didOpen', { textDocument: { uri, languageId: 'velmar', version: 1, text } });
let published = await pending;
assert.equal(published.uri, uri);
const missing = published.diagnostics.find((d) => d.message.includes('<nowhere>'));
assert.ok(missing, JSON.stringify(published));
assert.equal(missing.range.start.line, 4);
assert.equal(missing.severity, 1);

const at = (line, character) => ({ textDocument: { uri }, position: { line, character } });
const completion = await connection.sendRequest('textDocument/completion', at(5, 8));
const labels = completion.items.map((i) => i.label);
assert.ok(labels.includes('count') && labels.includes('shared'), labels.join(' '));
const builtins = await connection.sendRequest('textDocument/completion', at(5, 17));
const len = builtins.items.find((i) => i.label === 'len');
assert.ok(len && len.detail.startsWith('[@len'), JSON.stringify(len));
const hover = await connection.sendRequest('textDocument/hover', at(5, 17));
assert.match(hover.contents.value, /len/);
const keyword = await connection.sendRequest('textDocument/hover', at(2, 1));
assert.match(keyword.contents.value, /var \[#NAME\] VALUE/);
const definition = await connection.sendRequest('textDocument/definition', at(3, 7));
assert.equal(definition[0].uri, 'file://' + path.join(home, 'Script', 'lib', 'util.vlm'));
assert.equal(definition[0].range.start.line, 0);
const references = await connection.sendRequest('textDocument/references', { ...at(2, 6), context: { includeDeclaration: true } });
assert.equal(references.length, 2);
const symbols = await connection.sendRequest('textDocument/documentSymbol', { textDocument: { uri } });
assert.deepEqual(symbols.map((s) => s.name), ['<main>']);
await assert.rejects(connection.sendRequest('textDocument/hover', { textDocument: { uri: 'file:///no/such.vlm' }, position: { line: 0, character: 0 } }),
  (e) => e.code === -32602);

// The fault mended while typing: the next check is clean.
pending = nextDiagnostics();
connection.sendNotification('textDocument/didChange', {
  textDocument: { uri, version: 2 },
  contentChanges: [{ text: text.replace('goto <nowhere>', 'goto <main>') }],
});
published = await pending;
assert.equal(published.version, 2);
assert.equal(published.diagnostics.filter((d) => d.severity === 1).length, 0, JSON.stringify(published));

await connection.sendRequest('shutdown');
connection.sendNotification('exit');
const code = await new Promise((resolve) => server.on('exit', resolve));
assert.equal(code, 0);
console.log('lsp client: all checks passed');
process.exit(0);
