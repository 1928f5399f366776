// Timings of vistrel-mcp through the SDK's client against the real app under
// a private Xvfb (a benchmark, not a test; bench/mcp.sh runs it):
//   - screenshot of a 1920x1080 screen, fitted to the picture budget;
//   - after a cancelled record, how long until the app takes a new recording.
//
//   node bench.mjs [SCREENSHOTS]     (VISTREL_MCP_BIN and VISTREL_APP_BIN set)
//
// With VISTREL_MCP_OTHER naming another build of vistrel-mcp, its
// screenshots are timed too, interleaved with this build's, so that a busy
// machine slows both alike.
import path from 'node:path';

import { connect, removeFolder, startApp, startXvfb, stop, tempFolder } from './harness.mjs';

const calls = Number(process.argv[2] ?? 50);

function summary(times) {
  const sorted = [...times].sort((a, b) => a - b);
  const mean = times.reduce((a, b) => a + b, 0) / times.length;
  return `median ${sorted[Math.floor(sorted.length / 2)].toFixed(1)} ms, mean ${mean.toFixed(1)} ms`;
}

const folder = tempFolder('mcp-bench');
const xvfb = await startXvfb(1920, 1080);
const app = await startApp(xvfb.display, path.join(folder, 'config'), 137);
const client = await connect(['--port', String(app.port), '--dir', folder]);
const other = process.env.VISTREL_MCP_OTHER
  ? await connect(['--port', String(app.port), '--dir', folder], process.env.VISTREL_MCP_OTHER) : null;
try {
  const clients = other ? [['this build', client], ['the other build', other]] : [['this build', client]];
  for (const [, each] of clients) {
    for (let i = 0; i < 5; ++i) await each.callTool({ name: 'screenshot', arguments: {} });
  }
  const times = clients.map(() => []);
  const texts = [];
  for (let i = 0; i < calls; ++i) {
    for (const [index, [, each]] of clients.entries()) {
      const start = performance.now();
      const result = await each.callTool({ name: 'screenshot', arguments: {} });
      times[index].push(performance.now() - start);
      texts[index] = result.content[0].text;
    }
  }
  for (const [index, [name]] of clients.entries()) {
    console.log(`screenshot through the SDK, ${name}, ${calls} calls: ${summary(times[index])} `
      + `(${texts[index].split('\n')[0]})`);
  }

  const waits = [];
  for (let round = 0; round < 5; ++round) {
    const abort = new AbortController();
    const recording = client.callTool({ name: 'record', arguments: { secs: 20 } }, undefined, { signal: abort.signal })
      .catch(() => null);
    await new Promise((resolve) => setTimeout(resolve, 1500));
    const cancelled = performance.now();
    abort.abort();
    await recording;
    for (;;) {
      const start = performance.now();
      const result = await client.callTool({ name: 'record', arguments: { secs: 1 } });
      if (!result.isError) {
        waits.push(start - cancelled);
        break;
      }
      if (!/already running/.test(result.content[0].text)) throw new Error(result.content[0].text);
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  }
  console.log(`a new recording taken after a cancel, 5 rounds: ${summary(waits)}; each: ${waits.map((w) => w.toFixed(0)).join(', ')} ms`);
} finally {
  await client.close();
  await other?.close();
  await stop(app.child);
  await stop(xvfb.child);
  removeFolder(folder);
}
