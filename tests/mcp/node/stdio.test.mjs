// vistrel-mcp's standard input and output as raw lines: what no SDK client
// would send, and the end of input.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { test } from 'node:test';

import { binaries } from './harness.mjs';

function session(lines) {
  return new Promise((resolve, reject) => {
    const child = spawn(binaries.mcp, ['--port', '9'], { stdio: ['pipe', 'pipe', 'pipe'] });
    let out = '';
    let err = '';
    child.stdout.on('data', (chunk) => { out += chunk; });
    child.stderr.on('data', (chunk) => { err += chunk; });
    child.on('error', reject);
    child.on('exit', (status) => resolve({ status, out, err }));
    child.stdin.end(lines.join('\n') + '\n');
  });
}

test('a line that is not JSON, an unknown method, then the end of input', async () => {
  const { status, out, err } = await session([
    'this is not JSON',
    '{"jsonrpc":"2.0","id":1,"method":"no/such/method"}',
    '{"jsonrpc":"2.0","id":2,"method":"ping"}',
    '{"jsonrpc":"2.0","method":"notifications/initialized"}',
  ]);
  assert.equal(status, 0, 'the end of input ends the server normally');
  assert.equal(err, '');
  assert.deepEqual(out.split('\n'), [
    '{"jsonrpc":"2.0","error":{"code":-32700,"message":"parse error: the line is not JSON"}}',
    '{"jsonrpc":"2.0","id":1,"error":{"code":-32601,"message":"method not found: no/such/method"}}',
    '{"jsonrpc":"2.0","id":2,"result":{}}',
    '',
  ]);
});

test('a call in flight at the end of input still answers', async () => {
  const { status, out } = await session(['{"jsonrpc":"2.0","id":"s","method":"tools/call","params":{"name":"status"}}']);
  assert.equal(status, 0);
  const reply = JSON.parse(out);
  assert.equal(reply.id, 's');
  assert.equal(reply.result.isError, true);
});

test('revision 2026-07-28 as raw lines: discovery, then a list that says how long it keeps', async () => {
  const meta = '"_meta":{"io.modelcontextprotocol/protocolVersion":"2026-07-28","io.modelcontextprotocol/clientCapabilities":{}}';
  const { status, out } = await session([
    `{"jsonrpc":"2.0","id":1,"method":"server/discover","params":{${meta}}}`,
    `{"jsonrpc":"2.0","id":2,"method":"tools/list","params":{${meta}}}`,
    '{"jsonrpc":"2.0","id":3,"method":"server/discover","params":{}}',
  ]);
  assert.equal(status, 0);
  const [discover, list, legacy] = out.trim().split('\n').map((line) => JSON.parse(line));
  assert.equal(discover.result.resultType, 'complete');
  assert.equal(discover.result.supportedVersions[0], '2026-07-28');
  assert.equal(list.result.resultType, 'complete');
  assert.equal(list.result.cacheScope, 'public');
  assert.equal(legacy.error.code, -32602);
});
