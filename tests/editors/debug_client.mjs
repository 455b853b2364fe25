// Drives `velmar debug` with the Debug Adapter Protocol test client of VS
// Code's debug extensions. The script fetches a page from a loopback server
// started here, cuts cells out of it and loops in a subroutine; the client
// sets a conditional breakpoint, a log point and a hit-count breakpoint,
// reads the call stack, the variables, the named expressions and the last
// response, evaluates expressions, steps over and out, and lets the script
// end. A second script that never stops looping is paused and then ended by
// a disconnect.
// Usage: node debug_client.mjs VELMAR WORK_DIR
import http from 'node:http';
import { mkdirSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import assert from 'node:assert/strict';
import testsupport from '@vscode/debugadapter-testsupport';

const { DebugClient } = testsupport;
const [velmar, work] = process.argv.slice(2);

const server = http.createServer((req, res) => {
  res.writeHead(200, { 'Content-Type': 'text/html' });
  res.end('<table><tr><td>a</td><td>b</td></tr></table>');
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const base = `http://127.0.0.1:${server.address().port}`;

const home = path.join(work, 'debug-home');
mkdirSync(path.join(home, 'Script'), { recursive: true });
const program = path.join(home, 'Script', 'fetch.vlm');
writeFileSync(program, [
  '<main>',                        // 1
  'var [#base] [#param]',          // 2
  'var [#n] 0',                    // 3
  'get [#base]/page.html',         // 4
  'regex cell <td>{[^<]*}</td>',   // 5
  'match cell [#http_body]',       // 6
  'call <count>',                  // 7
  'show done [#n]',                // 8
  'exit',                          // 9
  '<count>',                       // 10
  'var [#i] 0',                    // 11
  'while ([#i]<5)',                // 12
  '{',                             // 13
  '  var [#i] ([#i]+1)',           // 14
  '  var [#n] ([#n]+[#i])',        // 15
  '}',                             // 16
  'return',                        // 17
].join('\n') + '\n');

async function withClient(body) {
  const dc = new DebugClient(velmar, 'debug', 'velmar');
  dc.defaultTimeout = 20000;
  const output = [];
  dc.on('output', (e) => output.push(e.body.output));
  await dc.start();
  try {
    await body(dc, output);
  } finally {
    await dc.stop();
  }
}

await withClient(async (dc, output) => {
  await dc.initializeRequest();
  await Promise.all([dc.waitForEvent('initialized'), dc.launch({ program, param: base, home })]);
  const set = await dc.setBreakpointsRequest({
    source: { path: program },
    breakpoints: [
      { line: 14, logMessage: 'i before [#i]' },
      { line: 15, condition: '([#i]==3)' },
      { line: 8, hitCondition: '2' },  // reached once: never stops
    ],
  });
  assert.ok(set.body.breakpoints.every((b) => b.verified));
  const stopped = dc.waitForEvent('stopped');
  await dc.configurationDoneRequest();
  assert.equal((await stopped).body.reason, 'breakpoint');

  const trace = await dc.stackTraceRequest({ threadId: 1 });
  const frames = trace.body.stackFrames.map((f) => `${f.name}:${f.line}`);
  assert.deepEqual(frames, ['<count>:15', '<main>:7']);
  assert.equal(trace.body.stackFrames[0].source.path, program);

  const scopes = (await dc.scopesRequest({ frameId: 0 })).body.scopes;
  const vars = async (name) => {
    const scope = scopes.find((s) => s.name === name);
    const list = (await dc.variablesRequest({ variablesReference: scope.variablesReference })).body.variables;
    return Object.fromEntries(list.map((v) => [v.name, v]));
  };
  const variables = await vars('Variables');
  assert.equal(variables.i.value, '3');
  assert.equal(variables.n.value, '3');  // 1 + 2: the breakpoint stops before the line
  const response = await vars('Last response');
  assert.equal(response.http_status.value, '200');
  assert.match(response.http_body.value, /<td>a<\/td>/);
  const expressions = await vars('Named expressions');
  assert.match(expressions.cell.value, /^2 matches, 1 groups/);
  const captures = (await dc.variablesRequest({ variablesReference: expressions.cell.variablesReference })).body.variables;
  assert.deepEqual(captures.slice(2).map((v) => v.value), ['a', 'b']);
  assert.deepEqual(await vars('Result sets'), {});

  assert.equal((await dc.evaluateRequest({ expression: '([#i]*10)', frameId: 0 })).body.result, '30');
  assert.equal((await dc.evaluateRequest({ expression: 'n', frameId: 0 })).body.result, '3');
  assert.equal((await dc.evaluateRequest({ expression: '[$cell.count]', frameId: 0 })).body.result, '2');
  // A failing evaluation is an error of the request, not of the run.
  await assert.rejects(dc.evaluateRequest({ expression: '[@split<<<a]', frameId: 0 }));

  let next = dc.waitForEvent('stopped');
  await dc.nextRequest({ threadId: 1 });
  assert.equal((await next).body.reason, 'step');
  let top = (await dc.stackTraceRequest({ threadId: 1 })).body.stackFrames[0];
  assert.equal(top.line, 16);
  next = dc.waitForEvent('stopped');
  await dc.stepOutRequest({ threadId: 1 });
  await next;
  top = (await dc.stackTraceRequest({ threadId: 1 })).body.stackFrames;
  assert.deepEqual(top.map((f) => `${f.name}:${f.line}`), ['<main>:8']);
  assert.equal((await dc.evaluateRequest({ expression: 'n', frameId: 0 })).body.result, '15');

  const ended = dc.waitForEvent('terminated');
  await dc.continueRequest({ threadId: 1 });
  await ended;
  const text = output.join('');
  assert.match(text, /show: done 15/);
  for (const i of [0, 1, 2, 3, 4]) assert.ok(text.includes(`i before ${i}\n`), text);
  assert.ok(!text.includes('alert:'), text);  // the failed evaluation showed no alert
});

// A script that never stops on its own: paused while busy, then ended.
const busy = path.join(home, 'Script', 'busy.vlm');
writeFileSync(busy, '<main>\nvar [#x] 0\nwhile (1)\n{\n  var [#x] ([#x]+1)\n}\n');
await withClient(async (dc) => {
  await dc.initializeRequest();
  await Promise.all([dc.waitForEvent('initialized'), dc.launch({ program: busy, home })]);
  await dc.configurationDoneRequest();
  await assert.rejects(dc.stackTraceRequest({ threadId: 1 }));  // running: nothing to show
  const stopped = dc.waitForEvent('stopped');
  await dc.pauseRequest({ threadId: 1 });
  assert.equal((await stopped).body.reason, 'pause');
  // Paused wherever the run was: x is a count, or still empty when the
  // pause came before its first `var`.
  assert.match((await dc.evaluateRequest({ expression: 'x' })).body.result, /^\d*$/);
  const ended = dc.waitForEvent('terminated');
  await dc.disconnectRequest({});
  await ended;
});

// Stopped on entry, then into a `call` and back out of it by steps.
const calls = path.join(home, 'Script', 'calls.vlm');
writeFileSync(calls, '<main>\ncall <sub>\nexit\n<sub>\nshow in sub\nreturn\n');
await withClient(async (dc) => {
  await dc.initializeRequest();
  await Promise.all([dc.waitForEvent('initialized'), dc.launch({ program: calls, home, stopOnEntry: true })]);
  let stopped = dc.waitForEvent('stopped');
  await dc.configurationDoneRequest();
  assert.equal((await stopped).body.reason, 'entry');
  const where = async () => (await dc.stackTraceRequest({ threadId: 1 })).body.stackFrames.map((f) => `${f.name}:${f.line}`);
  assert.deepEqual(await where(), ['<main>:2']);
  for (const [step, expected] of [['stepIn', ['<sub>:5', '<main>:2']], ['next', ['<sub>:6', '<main>:2']],
                                  ['next', ['<main>:3']]]) {
    stopped = dc.waitForEvent('stopped');
    await dc.customRequest(step, { threadId: 1 });
    assert.equal((await stopped).body.reason, 'step');
    assert.deepEqual(await where(), expected, step);
  }
  const ended = dc.waitForEvent('terminated');
  await dc.continueRequest({ threadId: 1 });
  await ended;
});

server.close();
console.log('debug client: all checks passed');
process.exit(0);
