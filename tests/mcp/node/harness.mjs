// What every end-to-end test needs: a private X display, the real
// vistrel-app on a free port, vistrel-mcp driven by the SDK's client, and
// ffmpeg to prove that a picture is a JPEG of the size it claims.
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';

import { Client as ClientV2 } from '@modelcontextprotocol/client';
import { StdioClientTransport as StdioClientTransportV2 } from '@modelcontextprotocol/client/stdio';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set (ctest sets it)`);
  return value;
}

export const binaries = {
  mcp: required('VISTREL_MCP_BIN'),
  app: required('VISTREL_APP_BIN'),
  client: required('VISTREL_BIN'),
};

export function tempFolder(name) {
  return mkdtempSync(path.join(os.tmpdir(), `vistrel-${name}-`));
}

export function removeFolder(folder) {
  rmSync(folder, { recursive: true, force: true });
}

function firstLine(stream, ms, what) {
  return new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => reject(new Error(`${what} did not start in time: ${text}`)), ms);
    stream.setEncoding('utf8');
    stream.on('data', (chunk) => {
      text += chunk;
      const end = text.indexOf('\n');
      if (end >= 0) {
        clearTimeout(timer);
        resolve(text.slice(0, end));
      }
    });
    stream.on('end', () => {
      clearTimeout(timer);
      reject(new Error(`${what} ended before it started: ${text}`));
    });
  });
}

// Xvfb on a display number it picks itself, so that tests can run side by side.
export async function startXvfb(width, height) {
  const child = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', `${width}x${height}x24`, '-nolisten', 'tcp', '-noreset'], {
    stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
  });
  const number = await firstLine(child.stdio[3], 15000, 'Xvfb');
  return { child, display: `:${number.trim()}` };
}

// vistrel-app on a free port. The simulated camera is asked for when the app
// knows the option; an app that does not know it always has the simulation.
export async function startApp(display, configHome, focusAt) {
  const help = spawnSync(binaries.app, ['--help'], { encoding: 'utf8' }).stdout ?? '';
  const args = ['--port', '0', '--focus-at', String(focusAt)];
  if (help.includes('--simulated-camera')) args.push('--simulated-camera');
  const env = { ...process.env, DISPLAY: display, XDG_CONFIG_HOME: configHome };
  delete env.VISTREL_PORT;
  const child = spawn(binaries.app, args, { env, stdio: ['ignore', 'pipe', 'inherit'] });
  const line = await firstLine(child.stdout, 10000, 'vistrel-app');
  const match = /listening on http:\/\/127\.0\.0\.1:(\d+)\/api$/.exec(line);
  if (!match) throw new Error(`vistrel-app said: ${line}`);
  return { child, port: Number(match[1]) };
}

export async function stop(child) {
  if (!child || child.exitCode !== null || child.signalCode !== null) return;
  const ended = new Promise((resolve) => child.once('exit', resolve));
  child.kill('SIGTERM');
  const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
  await ended;
  clearTimeout(timer);
}

export async function connect(args, command = binaries.mcp) {
  const env = { ...process.env };
  delete env.VISTREL_PORT;
  const transport = new StdioClientTransport({ command, args, env, stderr: 'inherit' });
  const client = new Client({ name: 'vistrel-e2e', version: '1.0.0' });
  await client.connect(transport);
  return client;
}

// The official v2 client: `mode` 'auto' probes with server/discover and
// falls back to initialize; { pin: '2026-07-28' } speaks that revision only.
export async function connectV2(args, mode) {
  const env = { ...process.env };
  delete env.VISTREL_PORT;
  const transport = new StdioClientTransportV2({ command: binaries.mcp, args, env, stderr: 'inherit' });
  const client = new ClientV2({ name: 'vistrel-e2e-v2', version: '1.0.0' }, { versionNegotiation: { mode } });
  await client.connect(transport);
  return client;
}

// What `vistrel` prints after "error: " for the same failure.
export function vistrelError(args) {
  const run = spawnSync(binaries.client, args, { encoding: 'utf8', env: { ...process.env, VISTREL_PORT: '' } });
  if (run.status !== 1 || !run.stderr.startsWith('error: ')) throw new Error(`vistrel ${args}: ${run.stderr}`);
  return run.stderr.slice('error: '.length).replace(/\n$/, '');
}

// Decodes the JPEG whole with ffmpeg; gives its width and height.
export function decodeJpeg(bytes, folder) {
  const file = path.join(folder, `picture-${process.hrtime.bigint()}.jpg`);
  writeFileSync(file, bytes);
  return decodeJpegFile(file);
}

export function decodeJpegFile(file) {
  const decoded = spawnSync('ffmpeg', ['-v', 'error', '-xerror', '-f', 'image2', '-c:v', 'mjpeg', '-i', file, '-f', 'null', '-'], {
    encoding: 'utf8',
  });
  if (decoded.status !== 0 || decoded.stderr !== '') throw new Error(`not a JPEG: ${decoded.stderr}`);
  const probe = spawnSync('ffprobe', ['-v', 'error', '-show_entries', 'stream=codec_name,width,height', '-of', 'json', file], {
    encoding: 'utf8',
  });
  const stream = JSON.parse(probe.stdout).streams[0];
  return { codec: stream.codec_name, width: stream.width, height: stream.height };
}
