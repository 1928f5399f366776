// vistrel-mcp end to end: the SDK's client against the real server and the
// real vistrel-app under a private X display.
import assert from 'node:assert/strict';
import { existsSync, readFileSync, statSync } from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import {
  connect, decodeJpeg, decodeJpegFile, removeFolder, startApp, startXvfb, stop, tempFolder, vistrelError,
} from './harness.mjs';

const hiddenFocus = 137;  // where the simulated lens is sharp
const budget = { longEdge: 1568, pixels: 1_150_000, base64: 1_000_000 };
const toolNames = ['look', 'snap', 'screenshot', 'focus', 'record', 'devices', 'controls', 'set_control', 'status',
  'sources', 'add_source', 'forget_source'];

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
      assert.equal(typeof tool.annotations.readOnlyHint, 'boolean', tool.name);
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
    const [, focus] = /^focus (\d+) \(sharpness \d+\)\n1280x720 JPEG, \d+ bytes$/.exec(textOf(result)) ?? [];
    assert.ok(Math.abs(focus - hiddenFocus) <= 2, textOf(result));
    assert.deepEqual(checkPicture(result), { codec: 'mjpeg', width: 1280, height: 720 });
  });

  test('snap, at the camera\'s own size and at an asked one', async () => {
    assert.deepEqual(checkPicture(await client.callTool({ name: 'snap', arguments: {} })),
      { codec: 'mjpeg', width: 1280, height: 720 });
    const small = await client.callTool({ name: 'snap', arguments: { width: 320, height: 240 } });
    assert.deepEqual(checkPicture(small), { codec: 'mjpeg', width: 320, height: 240 });
  });

  test('a screenshot larger than the budget is fitted; path keeps the full one', async () => {
    const file = path.join(folder, 'screen.jpg');
    const result = await client.callTool({ name: 'screenshot', arguments: { path: file } });
    assert.deepEqual(checkPicture(result), { codec: 'mjpeg', width: 1429, height: 804 });
    assert.equal(textOf(result), `1429x804 JPEG, ${Buffer.from(imageOf(result).data, 'base64').length} bytes `
      + `(scaled down from 1920x1080 to fit)\nsaved the full picture (1920x1080, ${statSync(file).size} bytes) to ${file}`);
    assert.deepEqual(decodeJpegFile(file), { codec: 'mjpeg', width: 1920, height: 1080 });
    const again = await client.callTool({ name: 'screenshot', arguments: { path: file } });
    assert.equal(again.isError, true);
    assert.match(textOf(again), /^cannot write .*screen\.jpg: File exists \(os error 17\)$/);
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

describe('vistrel-mcp without the app', () => {
  test('every call says what vistrel says: the unreachable hint', async () => {
    const port = '9';  // nothing listens on the discard port
    const client = await connect(['--port', port]);
    try {
      const result = await client.callTool({ name: 'status', arguments: {} });
      assert.equal(result.isError, true);
      assert.equal(textOf(result), vistrelError(['status', `--port=${port}`]));
      assert.match(textOf(result), /^cannot reach Vistrel at http:\/\/127\.0\.0\.1:9\/api \(/);
    } finally {
      await client.close();
    }
  });
});
