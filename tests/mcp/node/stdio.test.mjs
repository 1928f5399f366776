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

test('the end of input waits for a call in flight', async () => {
  const { status, out } = await session(['{"jsonrpc":"2.0","id":"s","method":"tools/call","params":{"name":"status"}}']);
  assert.equal(status, 0);
  const reply = JSON.parse(out);
  assert.equal(reply.id, 's');
  assert.equal(reply.result.isError, true);
});
