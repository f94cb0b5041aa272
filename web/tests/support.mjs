// What the browser tests share: where things are, the native program to compare with, a generated
// file, the server and the browser.
import { spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';
import { closeSync, existsSync, mkdtempSync, openSync, rmSync, writeFileSync, writeSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { crc32, inflateRawSync } from 'node:zlib';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { serve } from '../scripts/serve.mjs';

export const repoDir = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..');
export const pageDir = join(repoDir, 'build', 'web');
export const sample = join(repoDir, 'examples', 'desk_lamp.slp');

// The slp program of a native build: SLP_PROGRAM, else the release or the program preset's.
export function nativeProgram() {
  const candidates = [process.env.SLP_PROGRAM, join(repoDir, 'build/release/tools/slp'), join(repoDir, 'build/program/tools/slp')];
  const found = candidates.find((path) => path && existsSync(path));
  if (!found) throw new Error('no slp program: build it first (cmake --preset program && cmake --build --preset program)');
  return found;
}

// Runs the native program; its standard output (exit status 1 is fine: a file that loses geometry).
export function slp(...args) {
  const result = spawnSync(nativeProgram(), args, { encoding: 'utf8', maxBuffer: 1 << 28 });
  if (result.status !== 0 && result.status !== 1) throw new Error(`slp ${args.join(' ')}: ${result.stderr}`);
  return result.stdout;
}

// A deterministic SLP file of about the given size: 40 assemblies of solids nested three deep, each
// solid with two colours; numbers mostly with six decimals, some with exponents or many digits; and
// a few faults the checker reports (a run short of a normal, a facet of four vertices, a solid name of
// two words).
export function writeGeneratedFile(path, targetBytes) {
  let state = 12345n;
  const random = () => {
    state = (state * 6364136223846793005n + 1442695040888963407n) & 0xffffffffffffffffn;
    return Number(state >> 11n) / 2 ** 53;
  };
  const number = (value, i) => (i % 97 === 0 ? value.toExponential(4) : i % 89 === 0 ? value.toFixed(13) : value.toFixed(6));
  const file = openSync(path, 'w');
  let written = 0;
  let chunk = [];
  const emit = (line) => {
    chunk.push(line);
    if (chunk.length >= 20000) flush();
  };
  const flush = () => {
    const text = chunk.join('\n') + '\n';
    written += Buffer.byteLength(text);
    writeSync(file, text);
    chunk = [];
  };
  const facetsPerRun = Math.max(8, Math.floor(targetBytes / 240 / 290)); // 240 runs of about 290 bytes a facet
  let n = 0;
  for (let a = 0; a < 40; ++a) {
    emit(a === 7 ? `solid assembly_${a} extra words` : `solid assembly_${a}`);
    for (let depth = 0; depth < 3; ++depth) {
      emit(`${'  '.repeat(depth + 1)}solid part_${a}_${depth}`);
      for (let run = 0; run < 2; ++run) {
        emit(`color ${random().toFixed(3)} ${random().toFixed(3)} ${random().toFixed(3)}`);
        for (let f = 0; f < facetsPerRun; ++f) {
          const base = [random() * 2000 - 1000, random() * 2000 - 1000, random() * 2000 - 1000];
          emit('facet');
          emit('  outer loop');
          const corners = a === 11 && f === 3 ? 4 : 3;
          for (let k = 0; k < corners; ++k) {
            if (!(a === 23 && run === 1 && f === 5 && k === 1))
              emit(`    normal ${number(random() * 2 - 1, ++n)} ${number(random() * 2 - 1, ++n)} ${number(random(), ++n)}`);
            emit(`    vertex ${base.map((c) => number(c + random() * 20 - 10, ++n)).join(' ')}`);
          }
          emit('  endloop');
          emit('endfacet');
        }
      }
    }
    for (let depth = 2; depth >= 0; --depth) emit(`${'  '.repeat(depth + 1)}endsolid part_${a}_${depth}`);
    emit(`endsolid assembly_${a}`);
  }
  flush();
  closeSync(file);
  return written;
}

// The page's module built for Node (build/wasm, target slp_web_node, or the one at the path given), which
// reads files by their paths on this machine.
export async function loadNodeModule(path = join(repoDir, 'build', 'wasm', 'web', 'wasm', 'slpwebnode.js')) {
  if (!existsSync(path)) throw new Error(`no Node module ${path}: run npm run build first`);
  return createRequire(import.meta.url)(resolve(path))({ print: () => {}, printErr: () => {} });
}

export function makeTempDir() {
  const dir = mkdtempSync(join(tmpdir(), `slp-web-test-${process.pid}-`));
  return { dir, remove: () => rmSync(dir, { recursive: true, force: true }) };
}

// The built page served with the test's own files under /data/, and a headless Chromium.
export async function startPage(dataDir) {
  if (!existsSync(join(pageDir, 'index.html'))) throw new Error('no built page: run npm run build first');
  const server = await serve({ root: pageDir, port: 0, mounts: { '/data/': dataDir } });
  const args = ['--use-angle=swiftshader', '--enable-unsafe-swiftshader'];
  if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');
  const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium', args });
  const url = `http://127.0.0.1:${server.address().port}/`;
  return {
    url,
    browser,
    newPage: async (path = '') => {
      const page = await browser.newPage({ viewport: { width: 1280, height: 800 }, acceptDownloads: true });
      page.on('pageerror', (error) => console.error(`page error: ${error.message}`));
      await page.goto(url + path);
      return page;
    },
    close: async () => {
      await browser.close();
      await new Promise((done) => server.close(done));
    },
  };
}

// Opens a file through the file input and waits until the page has shown it (and checked it) or
// said why it could not.
export async function openFile(page, path) {
  await page.setInputFiles('#file-input', path);
  await settled(page);
}

export async function settled(page) {
  await page.waitForFunction(() => document.body.dataset.check === 'done' || document.body.dataset.state === 'error', null, { timeout: 120000 });
}

// The tree's rows, every group expanded: {kind, depth, name, triangles, colours}.
export async function treeRows(page) {
  await page.click('#expand-all');
  return page.$$eval('#tree .row', (rows) =>
    rows.map((row) => ({
      kind: row.dataset.kind,
      depth: Number(row.dataset.depth),
      name: row.querySelector('.name').title,
      triangles: Number(row.dataset.triangles),
      colours: [...row.querySelectorAll('.swatch')].map((swatch) => swatch.dataset.colour),
    })),
  );
}

// The files of a zip archive: {name: Buffer}, read as unzip reads them, from the central directory at
// the end, each entry inflated with Node's zlib when it is compressed and checked against its CRC-32;
// also whether every entry was compressed.
export function unzip(buffer) {
  const end = buffer.lastIndexOf(Buffer.from([0x50, 0x4b, 0x05, 0x06]));
  if (end < 0) throw new Error('no end of central directory');
  const files = {};
  let compressed = true;
  let at = buffer.readUInt32LE(end + 16);
  for (let entry = buffer.readUInt16LE(end + 10); entry > 0; --entry) {
    if (buffer.readUInt32LE(at) !== 0x02014b50) throw new Error(`no central directory entry at ${at}`);
    const [method, crc, size, nameLength] = [buffer.readUInt16LE(at + 10), buffer.readUInt32LE(at + 16), buffer.readUInt32LE(at + 20), buffer.readUInt16LE(at + 28)];
    const name = buffer.toString('utf8', at + 46, at + 46 + nameLength);
    const local = buffer.readUInt32LE(at + 42);
    if (buffer.readUInt32LE(local) !== 0x04034b50) throw new Error(`${name}: no local header`);
    const start = local + 30 + buffer.readUInt16LE(local + 26) + buffer.readUInt16LE(local + 28);
    const data = buffer.subarray(start, start + size);
    compressed &&= method === 8;
    files[name] = method === 8 ? inflateRawSync(data) : data;
    if (crc32(files[name]) !== crc) throw new Error(`${name}: CRC-32 differs`);
    at += 46 + nameLength + buffer.readUInt16LE(at + 30) + buffer.readUInt16LE(at + 32);
  }
  return { files, compressed };
}

// The share of the view's pixels that are far from the background and the grid (light greys), and how
// many of them are yellow and how many red.
export async function canvasPixels(page) {
  const png = (await page.locator('#canvas').screenshot()).toString('base64');
  return page.evaluate(async (png) => {
    const image = new Image();
    image.src = `data:image/png;base64,${png}`;
    await image.decode();
    const canvas = new OffscreenCanvas(image.width, image.height);
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    const data = context.getImageData(0, 0, image.width, image.height).data;
    let model = 0;
    let yellow = 0;
    let red = 0;
    for (let i = 0; i < data.length; i += 4) {
      const [r, g, b] = [data[i], data[i + 1], data[i + 2]];
      if (!(Math.max(r, g, b) - Math.min(r, g, b) < 24 && r > 140)) ++model;
      if (r > 120 && g > 80 && r - b > 90 && g - b > 50) ++yellow;
      if (r > 90 && r - g > 60 && r - b > 60 && g < 80) ++red;
    }
    return { model: model / (data.length / 4), yellow, red };
  }, png);
}

// An SLP file of boxes, each {name, min, max, colour (none if missing), flip}, with outward-facing triangles (but the top
// turned inward where flip is set), and open sheets
// (squares of two triangles), each {name, min, max} flat in z; a solid holding them all.
export function writeBoxes(path, boxes, sheets = []) {
  const facet = (corners) => {
    const [a, b, c] = corners;
    const u = b.map((v, k) => v - a[k]);
    const w = c.map((v, k) => v - a[k]);
    const n = [u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]];
    const l = Math.hypot(...n);
    const normal = n.map((v) => v / l).join(' ');
    return `facet\nouter loop\n${corners.map((p) => `normal ${normal}\nvertex ${p.join(' ')}\n`).join('')}endloop\nendfacet\n`;
  };
  const quad = (a, b, c, d) => facet([a, b, c]) + facet([a, c, d]);
  let text = 'solid parts\n';
  for (const { name, min, max, colour, flip } of boxes) {
    const p = (i, j, k) => [[min[0], max[0]][i], [min[1], max[1]][j], [min[2], max[2]][k]];
    text += `solid ${name}\n${colour ? `color ${colour.join(' ')}\n` : ''}`;
    text += quad(p(0, 0, 0), p(0, 0, 1), p(0, 1, 1), p(0, 1, 0)) + quad(p(1, 0, 0), p(1, 1, 0), p(1, 1, 1), p(1, 0, 1));
    text += quad(p(0, 0, 0), p(1, 0, 0), p(1, 0, 1), p(0, 0, 1)) + quad(p(0, 1, 0), p(0, 1, 1), p(1, 1, 1), p(1, 1, 0));
    text += quad(p(0, 0, 0), p(0, 1, 0), p(1, 1, 0), p(1, 0, 0)) + (flip ? quad(p(0, 1, 1), p(1, 1, 1), p(1, 0, 1), p(0, 0, 1)) : quad(p(0, 0, 1), p(1, 0, 1), p(1, 1, 1), p(0, 1, 1)));
    text += `endsolid ${name}\n`;
  }
  for (const { name, min, max } of sheets)
    text += `solid ${name}\n${quad(min, [max[0], min[1], min[2]], [max[0], max[1], min[2]], [min[0], max[1], min[2]])}endsolid ${name}\n`;
  writeFileSync(path, `${text}endsolid parts\n`);
}

// The colour [r, g, b] of a pixel of the page.
export async function pixel(page, x, y) {
  const png = (await page.screenshot({ clip: { x: Math.round(x), y: Math.round(y), width: 1, height: 1 } })).toString('base64');
  return page.evaluate(async (png) => {
    const image = new Image();
    image.src = `data:image/png;base64,${png}`;
    await image.decode();
    const context = new OffscreenCanvas(1, 1).getContext('2d');
    context.drawImage(image, 0, 0);
    return [...context.getImageData(0, 0, 1, 1).data.slice(0, 3)];
  }, png);
}

// Clicks the view where a point of the model is drawn, moved by (dx, dy) pixels.
export async function clickModel(page, point, dx = 0, dy = 0) {
  const at = await page.evaluate((point) => window.slpViewer.project(point), point);
  await page.mouse.click(at.x + dx, at.y + dy);
}

export async function drawn(page) {
  await page.waitForFunction(() => ['ready', 'error'].includes(document.documentElement.dataset.state), null, { timeout: 120000 });
}
