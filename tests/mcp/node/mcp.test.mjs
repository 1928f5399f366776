// vistrel-mcp end to end: the SDK's client against the real server and the
// real vistrel-app under a private X display.
import assert from 'node:assert/strict';
import { existsSync, readdirSync, readFileSync, statSync } from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import {
  connect, connectV2, decodeJpeg, decodeJpegFile, removeFolder, startApp, startXvfb, stop, tempFolder, vistrelError,
} from './harness.mjs';

const hiddenFocus = 137;  // where the simulated lens is sharp
const budget = { longEdge: 1568, pixels: 1_150_000, base64: 1_000_000 };
const toolNames = ['look', 'snap', 'screenshot', 'windows', 'focus', 'record', 'recording', 'devices', 'controls',
  'set_control', 'status', 'sources', 'add_source', 'forget_source'];
const readOnly = ['snap', 'screenshot', 'windows', 'devices', 'controls', 'status', 'sources'];

function imageOf(result) {
  const image = result.content.find((item) => item.type === 'image');
  assert.ok(image, `no image in ${JSON.stringify(result).slice(0, 300)}`);
  assert.equal(image.mimeType, 'image/jpeg');
  return image;
}

function textOf(result) {
  return result.content.find((item) => item.type === 'text').text;
}

describe('vistrel-mcp with vistrel-app', () => {
  let folder;
  let xvfb;
  let app;
  let client;
  let cameraId;  // the simulated camera, as devices lists it

  before(async () => {
    folder = tempFolder('mcp-e2e');
    // A screen larger than a model takes, so that the screenshot is fitted.
    xvfb = await startXvfb(1920, 1080);
    app = await startApp(xvfb.display, path.join(folder, 'config'), hiddenFocus);
    client = await connect(['--port', String(app.port), '--dir', folder]);
  });

  after(async () => {
    await client?.close();
    await stop(app?.child);
    await stop(xvfb?.child);
    removeFolder(folder);
  });

  // Within the budget and decodable: what a model can take.
  function checkPicture(result) {
    assert.notEqual(result.isError, true, textOf(result));
    const image = imageOf(result);
    assert.ok(image.data.length < budget.base64, `${image.data.length} bytes of base64`);
    const picture = decodeJpeg(Buffer.from(image.data, 'base64'), folder);
    assert.equal(picture.codec, 'mjpeg');
    assert.ok(Math.max(picture.width, picture.height) <= budget.longEdge, `${picture.width}x${picture.height}`);
    assert.ok(picture.width * picture.height <= budget.pixels, `${picture.width}x${picture.height}`);
    return picture;
  }

  test('the server introduces itself', () => {
    assert.equal(client.getServerVersion().name, 'vistrel-mcp');
    assert.match(client.getInstructions(), /look/);
    assert.deepEqual(client.getServerCapabilities().tools, { listChanged: false });
  });

  test('lists every tool with its schemas', async () => {
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((tool) => tool.name), toolNames);
    for (const tool of tools) {
      assert.equal(tool.inputSchema.type, 'object', tool.name);
      assert.ok(tool.description.length > 40, tool.name);
      assert.equal(tool.annotations.readOnlyHint, readOnly.includes(tool.name), tool.name);
    }
    assert.ok(JSON.stringify({ tools }).length < 12000, 'the list stays small');
  });

  test('arguments that break the schema come back as results the model reads', async () => {
    const cases = [
      [{ name: 'record', arguments: { secs: 0 } }, 'record: arguments.secs must be at least 1'],
      [{ name: 'screenshot', arguments: { device: '0' } },
        'screenshot: arguments has the member "device", which is not one of its parameters'],
      [{ name: 'snap', arguments: { width: 5000 } }, 'snap: arguments.width must be at most 4096'],
    ];
    for (const [call, text] of cases) {
      const result = await client.callTool(call);
      assert.equal(result.isError, true, JSON.stringify(call));
      assert.deepEqual(result.content, [{ type: 'text', text }]);
    }
  });

  test('status', async () => {
    const result = await client.callTool({ name: 'status', arguments: {} });
    assert.equal(result.structuredContent.port, app.port);
    assert.equal(typeof result.structuredContent.version, 'string');
    assert.match(textOf(result), new RegExp(`running on port ${app.port}`));
  });

  test('devices', async () => {
    const result = await client.callTool({ name: 'devices', arguments: {} });
    const { devices } = result.structuredContent;
    const camera = devices.find((device) => device.focusable);
    assert.ok(camera, JSON.stringify(devices));
    cameraId = camera.id;
    assert.ok(devices.some((device) => device.id === 'screen'), JSON.stringify(devices));
    assert.ok(textOf(result).includes(`${camera.id}  ${camera.name}  (focusable)`), textOf(result));
  });

  test('controls and set_control', async () => {
    const listed = await client.callTool({ name: 'controls', arguments: { device: cameraId } });
    const focus = listed.structuredContent.controls.find((control) => control.name === 'focus');
    assert.ok(focus, textOf(listed));
    const set = await client.callTool({ name: 'set_control', arguments: { name: 'focus', value: 60, device: cameraId } });
    assert.deepEqual(set.structuredContent, { control: 'focus', value: 60, was: focus.value });
    assert.equal(textOf(set), `focus is now 60 (was ${focus.value})`);
  });

  test('focus locks the sharpest position', async () => {
    const result = await client.callTool({ name: 'focus', arguments: {} });
    const { focus, samples } = result.structuredContent;
    assert.ok(Math.abs(focus - hiddenFocus) <= 2, `locked at ${focus}`);
    assert.ok(samples.length > 3);
    assert.match(textOf(result), new RegExp(`^locked focus ${focus} · sharpness \\d+ · ${samples.length} samples$`));
  });

  test('look focuses and shows the photo', async () => {
    const result = await client.callTool({ name: 'look', arguments: { device: cameraId } });
    const [, focus] = /^focus (\d+) \(sharpness \d+\)\n1280x720 JPEG, \d+ bytes, full resolution; region x,y,w,h are in camera pixels$/.exec(textOf(result)) ?? [];
    assert.ok(Math.abs(focus - hiddenFocus) <= 2, textOf(result));
    assert.deepEqual(checkPicture(result), { codec: 'mjpeg', width: 1280, height: 720 });
  });

  test('snap, at the camera\'s own size and at an asked one', async () => {
    assert.deepEqual(checkPicture(await client.callTool({ name: 'snap', arguments: {} })),
      { codec: 'mjpeg', width: 1280, height: 720 });
    const small = await client.callTool({ name: 'snap', arguments: { width: 320, height: 240 } });
    assert.deepEqual(checkPicture(small), { codec: 'mjpeg', width: 320, height: 240 });
  });

  test('a screenshot larger than the budget is fitted, says how it maps, and save keeps the full one', async () => {
    for (let round = 0; round < 2; ++round) {  // the second asks for the fitted size at once
      const result = await client.callTool({ name: 'screenshot', arguments: { save: round === 0 } });
      const picture = checkPicture(result);
      assert.equal(picture.width, 1429);
      assert.ok(Math.abs(picture.height - 804) <= 1, `${picture.width}x${picture.height}`);
      const lines = textOf(result).split('\n');
      assert.equal(lines[0], `1429x${picture.height} JPEG, ${Buffer.from(imageOf(result).data, 'base64').length} bytes, `
        + 'scaled down from 1920x1080 (1.344 screen pixels per picture pixel); region x,y,w,h are in screen pixels');
      if (round === 0) {
        const [, size, file] = /^saved the full picture \(1920x1080, (\d+) bytes\) to (.*)$/.exec(lines[1]) ?? [];
        assert.ok(file, lines[1]);
        assert.equal(path.dirname(file), folder);
        assert.equal(statSync(file).size, Number(size));
        assert.deepEqual(decodeJpegFile(file), { codec: 'mjpeg', width: 1920, height: 1080 });
      } else {
        assert.equal(lines.length, 1);
      }
    }
  });

  test('network sources', async () => {
    const added = await client.callTool({ name: 'add_source', arguments: { name: 'phone', url: 'http://127.0.0.1:9/shot.jpg' } });
    assert.deepEqual(added.structuredContent, { added: 'phone' });
    const listed = await client.callTool({ name: 'sources', arguments: {} });
    assert.deepEqual(listed.structuredContent.sources, [{ name: 'phone', url: 'http://127.0.0.1:9/shot.jpg' }]);
    const removed = await client.callTool({ name: 'forget_source', arguments: { name: 'phone' } });
    assert.deepEqual(removed.structuredContent, { removed: 'phone' });
  });

  test('a failing call gives isError with the message vistrel prints', async () => {
    const port = `--port=${app.port}`;
    const cases = [
      [{ name: 'forget_source', arguments: { name: 'nobody' } }, ['forget-source', 'nobody', port]],
      [{ name: 'snap', arguments: { device: 'no-such-eye' } }, ['snap', '--device=no-such-eye', port, '--out=/dev/null']],
      [{ name: 'set_control', arguments: { name: 'focus', value: 999 } }, ['set', 'focus', '999', port]],
      [{ name: 'focus', arguments: { device: 'screen' } }, ['focus', '--device=screen', port]],
    ];
    for (const [call, args] of cases) {
      const result = await client.callTool(call);
      assert.equal(result.isError, true, JSON.stringify(call));
      assert.deepEqual(result.content, [{ type: 'text', text: vistrelError(args) }]);
    }
  });

  test('ping is answered while a recording runs; progress comes; the file is linked', async () => {
    const progress = [];
    let recordDone = false;
    const recording = client.callTool({ name: 'record', arguments: { secs: 2 } }, undefined, {
      onprogress: (report) => progress.push(report),
      timeout: 60000,
    }).then((result) => {
      recordDone = true;
      return result;
    });
    await new Promise((resolve) => setTimeout(resolve, 300));
    await client.ping();
    const status = await client.callTool({ name: 'status', arguments: {} });
    assert.equal(status.structuredContent.port, app.port);
    assert.equal(recordDone, false, 'answered while the recording ran');
    const result = await recording;
    assert.notEqual(result.isError, true, textOf(result));
    assert.ok(progress.length >= 1, 'progress reported');
    assert.ok(progress.every((report) => report.total === 2));
    const link = result.content.find((item) => item.type === 'resource_link');
    assert.equal(link.mimeType, 'video/webm');
    const file = fileURLToPath(link.uri);
    assert.equal(path.dirname(file), folder);
    assert.ok(existsSync(file));
    assert.equal(statSync(file).size, link.size);
    assert.equal(readFileSync(file).subarray(0, 4).toString('hex'), '1a45dfa3', 'a WebM file');
    assert.equal(textOf(result), `saved a 2-second screen recording (webm) of ${link.size} bytes to ${file}`);
  });
});

// A cancelled recording is hung up on, so that the app takes the next at
// once; a recording longer than a client waits for a call returns at once and
// the recording tool waits for it, each call well inside the minute that
// clients wait by default.
describe('vistrel-mcp recordings as clients cancel and time them', () => {
  let folder;
  let xvfb;
  let app;
  let client;

  before(async () => {
    folder = tempFolder('mcp-record');
    xvfb = await startXvfb(640, 480);
    app = await startApp(xvfb.display, path.join(folder, 'config'), hiddenFocus);
    client = await connect(['--port', String(app.port), '--dir', folder]);
  });

  after(async () => {
    await client?.close();
    await stop(app?.child);
    await stop(xvfb?.child);
    removeFolder(folder);
  });

  test('a cancelled record, then at once a new one that the app takes', async () => {
    const abort = new AbortController();
    const cancelled = client.callTool({ name: 'record', arguments: { secs: 30 } }, undefined, { signal: abort.signal });
    await new Promise((resolve) => setTimeout(resolve, 1500));
    abort.abort();
    await assert.rejects(cancelled);
    // The app needs a moment to end its recorder after the hang-up.
    let result;
    for (let tries = 0; tries < 20; ++tries) {
      result = await client.callTool({ name: 'record', arguments: { secs: 1 } });
      if (!result.isError || !/already running/.test(textOf(result))) break;
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
    assert.notEqual(result.isError, true, textOf(result));
    assert.match(textOf(result), /^saved a 1-second screen recording \(webm\)/);
    const files = readdirSync(folder).filter((name) => name.startsWith('vistrel-screen-'));
    assert.equal(files.length, 1, `the cancelled recording left no file: ${files}`);
  });

  test('a record of more than a minute, through a client with its default timeout', async () => {
    const started = Date.now();
    const result = await client.callTool({ name: 'record', arguments: { secs: 62 } });
    assert.notEqual(result.isError, true, textOf(result));
    assert.match(textOf(result), /^recording 62 s of the screen \(webm\) to (.*); it will be saved at about /);
    assert.ok(Date.now() - started < 10000, 'the call returns at once');
    let done;
    for (let calls = 0; calls < 5 && !done; ++calls) {
      const call = Date.now();
      const waited = await client.callTool({ name: 'recording', arguments: {} });
      assert.ok(Date.now() - call < 50000, 'no call outlasts the clients\' timeout');
      if (/^saved /.test(textOf(waited))) done = waited;
      else assert.match(textOf(waited), /^still recording to /);
    }
    assert.ok(done, 'the recording was saved');
    assert.match(textOf(done), /^saved a 62-second screen recording \(webm\) of \d+ bytes to /);
    const link = done.content.find((item) => item.type === 'resource_link');
    assert.equal(readFileSync(fileURLToPath(link.uri)).subarray(0, 4).toString('hex'), '1a45dfa3', 'a WebM file');
  });
});

// The official v2 client, on its own choice of revision and pinned to
// 2026-07-28: every tool answers. Tools that need what only a newer app
// serves (windows, regions) answer with isError against this one.
describe('vistrel-mcp with the v2 client', () => {
  let folder;
  let xvfb;
  let app;

  before(async () => {
    folder = tempFolder('mcp-v2');
    xvfb = await startXvfb(1280, 720);
    app = await startApp(xvfb.display, path.join(folder, 'config'), hiddenFocus);
  });

  after(async () => {
    await stop(app?.child);
    await stop(xvfb?.child);
    removeFolder(folder);
  });

  for (const mode of ['auto', { pin: '2026-07-28' }]) {
    test(`every tool, ${JSON.stringify(mode)}`, async () => {
      const client = await connectV2(['--port', String(app.port), '--dir', folder], mode);
      try {
        assert.equal(client.getNegotiatedProtocolVersion(), '2026-07-28');
        assert.equal(client.getServerVersion().name, 'vistrel-mcp');
        const { tools } = await client.listTools();
        assert.deepEqual(tools.map((tool) => tool.name), toolNames);
        const calls = [
          ['status', {}], ['devices', {}], ['windows', {}], ['controls', {}], ['set_control', { name: 'focus', value: 50 }],
          ['focus', {}], ['look', {}], ['snap', { width: 320, height: 180 }], ['screenshot', {}],
          ['screenshot', { region: { x: 0, y: 0, width: 100, height: 100 } }], ['record', { secs: 1, preview: 4 }],
          ['recording', {}], ['sources', {}], ['add_source', { name: 'cam', url: 'http://127.0.0.1:9/x.jpg' }],
          ['forget_source', { name: 'cam' }],
        ];
        const answered = new Set();
        for (const [name, args] of calls) {
          const result = await client.callTool({ name, arguments: args });
          assert.ok(Array.isArray(result.content) && result.content.length > 0, name);
          answered.add(name);
          if (['windows', 'screenshot'].includes(name) && result.isError) continue;  // not served by this app
          assert.notEqual(result.isError, true, `${name}: ${textOf(result)}`);
        }
        assert.deepEqual([...answered].sort(), [...toolNames].sort());
        const record = await client.callTool({ name: 'record', arguments: { secs: 1, preview: 4 } });
        // This app makes no preview sheet yet; a newer one shows it.
        assert.match(textOf(record), /\n(no preview is available: |preview: )/);
        const wrong = await client.callTool({ name: 'record', arguments: { secs: 0 } });
        assert.equal(wrong.isError, true);
      } finally {
        await client.close();
      }
    });
  }
});

describe('vistrel-mcp without the app', () => {
  test('every call says what vistrel says, with vistrel-mcp\'s own way to give the port', async () => {
    const port = '9';  // nothing listens on the discard port
    const client = await connect(['--port', port]);
    try {
      const result = await client.callTool({ name: 'status', arguments: {} });
      assert.equal(result.isError, true);
      const lines = textOf(result).split('\n');
      const vistrelLines = vistrelError(['status', `--port=${port}`]).split('\n');
      assert.deepEqual(lines.slice(0, 2), vistrelLines.slice(0, 2));
      assert.match(lines[0], /^cannot reach Vistrel at http:\/\/127\.0\.0\.1:9\/api \(/);
      assert.equal(lines[2], '  Different port?     give vistrel-mcp "--port", "7999" in the agent\'s MCP configuration, '
        + 'or set VISTREL_PORT');
    } finally {
      await client.close();
    }
  });
});
