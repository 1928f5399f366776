// A smoke test with the MCP Inspector's command-line mode.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';
import path from 'node:path';
import { test } from 'node:test';

import { binaries } from './harness.mjs';

const require = createRequire(import.meta.url);
const inspector = path.join(path.dirname(require.resolve('@modelcontextprotocol/inspector-cli/package.json')), 'build/cli.js');

function inspect(...args) {
  // The port travels in the environment, so that no option of the server's
  // is taken for one of the Inspector's.
  const run = spawnSync(process.execPath, [inspector, '--cli', binaries.mcp, '-e', 'VISTREL_PORT=9', ...args], {
    encoding: 'utf8',
    timeout: 60000,
    // The CLI finds its own package.json through a path it checks against
    // the working folder, so it runs from its own build folder.
    cwd: path.dirname(inspector),
  });
  assert.equal(run.status, 0, run.stderr);
  return JSON.parse(run.stdout.slice(run.stdout.indexOf('{')));
}

test('the Inspector lists the tools', () => {
  const { tools } = inspect('--method', 'tools/list');
  assert.equal(tools.length, 14);
  assert.ok(tools.some((tool) => tool.name === 'status'));
});

test('the Inspector calls status', () => {
  const result = inspect('--method', 'tools/call', '--tool-name', 'status');
  assert.equal(result.isError, true);
  assert.match(result.content[0].text, /^cannot reach Vistrel at http:\/\/127\.0\.0\.1:9\/api /);
});
