// The page in headless Chromium against the native slp program on the same files: the tree, totals
// and warnings against `slp info --json` and `slp check --json`, the saved files against `slp
// convert`, the view against a blank canvas, and the messages for files that do not load.
import assert from 'node:assert/strict';
import { copyFileSync, mkdirSync, readFileSync, statSync, writeFileSync } from 'node:fs';
import { basename, join } from 'node:path';
import { after, before, test } from 'node:test';
import { canvasPixels, makeTempDir, openFile, repoDir, sample, settled, slp, startPage, treeRows, unzip, writeGeneratedFile } from './support.mjs';

let temp;
let site;
let large;

before(async () => {
  temp = makeTempDir();
  copyFileSync(sample, join(temp.dir, 'desk_lamp.slp'));
  large = join(temp.dir, 'generated.slp');
  writeGeneratedFile(large, Number(process.env.SLP_WEB_TEST_MB || 30) * 1e6);
  writeFileSync(join(temp.dir, 'empty.slp'), '');
  writeFileSync(join(temp.dir, 'binary.slp'), Buffer.from([0x50, 0x4b, 3, 4, 0, 0, 0xff, 0x10, 0]));
  writeFileSync(join(temp.dir, 'notes.slp'), 'These are notes, not a model.\n');
  const corner = (v) => `normal 0 0 1 vertex ${v}\n`;
  writeFileSync(join(temp.dir, 'beyond.slp'), `solid beyond\ncolor 1e39 0.5 0\n${['0 0 0', '10 0 0', '0 10 0', '1e39 0 0', '11 0 0', '10 10 0'].map(corner).join('')}endsolid\n`);
  site = await startPage(temp.dir);
});

after(async () => {
  await site?.close();
  temp?.remove();
});

// The rows the tree should show for a file, from `slp info --json` (structure, counts) and its text
// form (the colours as #rrggbb): each group, then its meshes, then its child groups; a group counts
// the triangles of its whole subtree.
function expectedRows(file, name) {
  const info = JSON.parse(slp('info', '--json', file));
  const hex = [...slp('info', '-q', '--depth', '100000', file).matchAll(/^\s*mesh: .*?colour [^,(]*(?:\((#[0-9a-f]{6})\))?/gm)].map((m) => m[1]);
  const rows = [];
  const stack = [{ node: info, depth: 0, name }];
  while (stack.length > 0) {
    const { node, depth, name: groupName } = stack.pop();
    rows.push({ kind: 'group', depth, name: groupName, triangles: 0, colours: [] });
    const group = rows[rows.length - 1];
    for (const object of node.objects) {
      const colour = hex[rows.filter((row) => row.kind === 'object').length] || object.color.join(' ');
      if (group.colours.length < 6) group.colours.push(colour);
      rows.push({ kind: 'object', depth: depth + 1, name: `mesh ${node.objects.indexOf(object) + 1}`, triangles: object.triangles, colours: [colour] });
    }
    for (let i = node.groups.length - 1; i >= 0; --i) stack.push({ node: node.groups[i], depth: depth + 1, name: node.groups[i].name });
  }
  for (let i = 0; i < rows.length; ++i)
    if (rows[i].kind === 'group')
      for (let j = i + 1; j < rows.length && rows[j].depth > rows[i].depth; ++j) if (rows[j].kind === 'object') rows[i].triangles += rows[j].triangles;
  return { info, rows };
}

async function infoPanel(page) {
  return page.evaluate(() => {
    const text = (id) => document.getElementById(id).textContent;
    const number = (id) => Number(text(id).replace(/,/g, ''));
    return {
      totals: { groups: number('info-groups'), objects: number('info-objects'), triangles: number('info-triangles') },
      box: JSON.parse(document.getElementById('info-box').dataset.box),
      speed: text('info-speed'),
      findings: [...document.querySelectorAll('#findings-list li')].map((item) => item.textContent),
      summary: document.getElementById('findings').hidden ? '' : text('findings-summary'),
    };
  });
}

async function save(page, format) {
  await page.selectOption('#save-format', format);
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#save')]);
  return { name: download.suggestedFilename(), bytes: readFileSync(await download.path()) };
}

// `slp convert` of the file into a folder of its own, under the name the page gives the download (a
// .gltf names its .bin, an .obj its .mtl).
function converted(file, format) {
  const dir = join(temp.dir, 'native');
  mkdirSync(dir, { recursive: true });
  const out = join(dir, `${basename(file, '.slp')}.${format}`);
  slp('convert', file, out);
  return out;
}

function assertTreeAndTotals(rows, panel, expected) {
  assert.deepEqual(rows, expected.rows);
  assert.deepEqual(panel.totals, expected.info.totals);
  assert.deepEqual(panel.box, expected.info.bbox);
}

test('the sample: its tree and totals as slp info gives them, a view of it, and every format saved as slp convert writes it', async () => {
  const page = await site.newPage();
  await openFile(page, sample);
  assertTreeAndTotals(await treeRows(page), await infoPanel(page), expectedRows(sample, 'desk_lamp.slp'));
  assert.equal((await infoPanel(page)).summary, '', 'the sample has nothing to warn about');

  const pixels = await canvasPixels(page);
  assert.ok(pixels.model > 0.03, `the model covers ${pixels.model} of the view`);
  assert.ok(pixels.yellow > 1000 && pixels.red > 100, `the shade's yellow and the arm's red are drawn: ${JSON.stringify(pixels)}`);
  await page.screenshot({ path: process.env.SLP_WEB_SCREENSHOT || join(temp.dir, 'page.png') });

  for (const format of ['glb', 'ply', 'stl']) {
    const saved = await save(page, format);
    assert.equal(saved.name, `desk_lamp.${format}`);
    assert.ok(saved.bytes.equals(readFileSync(converted(sample, format))), `${format}: the bytes of slp convert`);
  }
  for (const [format, companion] of [['gltf', 'bin'], ['obj', 'mtl']]) {
    const saved = await save(page, format);
    assert.equal(saved.name, `desk_lamp.${format}.zip`);
    const { files, compressed } = unzip(saved.bytes);
    assert.ok(compressed, `${format}: the zip's entries are compressed`);
    const out = converted(sample, format);
    assert.deepEqual(Object.keys(files), [`desk_lamp.${format}`, `desk_lamp.${companion}`]);
    assert.ok(files[`desk_lamp.${format}`].equals(readFileSync(out)), `${format}: the bytes of slp convert`);
    assert.ok(files[`desk_lamp.${companion}`].equals(readFileSync(out.replace(/[^.]+$/, companion))), `.${companion}: the bytes of slp convert`);
  }
  await page.close();
});

test('a large generated file: tree, totals and warnings as slp info and slp check give them, progress on the way, its GLB as slp convert writes it', async (t) => {
  const page = await site.newPage();
  await page.evaluate(() => {
    window.loadProgress = new Set();
    new MutationObserver(() => window.loadProgress.add(document.body.dataset.progress)).observe(document.body, { attributeFilter: ['data-progress'] });
  });
  await openFile(page, large);
  const expected = expectedRows(large, 'generated.slp');
  const panel = await infoPanel(page);
  assertTreeAndTotals(await treeRows(page), panel, expected);

  const check = JSON.parse(slp('check', '--json', large));
  assert.ok(check.errors > 0 && check.warnings > 0, 'the generated file has faults to report');
  const byLine = [...check.findings].sort((a, b) => a.line - b.line || a.column - b.column);
  assert.deepEqual(panel.findings, byLine.map((f) => `${f.line}:${f.column}: ${f.severity}: ${f.message} [${f.code}]`));
  assert.equal(await page.$eval('#findings-title', (title) => title.textContent), 'Errors and warnings');
  assert.ok(panel.summary.replace(/,/g, '').startsWith(`${expected.info.discarded_vertices} vertices were dropped by the load.`), panel.summary);

  const steps = await page.evaluate(() => [...window.loadProgress].filter((p) => /^load \d+$/.test(p)).length);
  assert.ok(steps >= 10, `the progress bar moved through ${steps} steps of the load`);

  const speed = Number(panel.speed.replace(' MB/s', ''));
  const native = Number(/([\d.]+) MB\/s/.exec(slp('info', '-q', large))[1]);
  t.diagnostic(`${(statSync(large).size / 1e6).toFixed(1)} MB: ${speed} MB/s in the browser, ${native} MB/s native`);

  const saved = await save(page, 'glb');
  assert.ok(saved.bytes.equals(readFileSync(converted(large, 'glb'))), 'glb: the bytes of slp convert');
  await page.close();
});

test('files that do not load say why, and the page goes on to the next file', async () => {
  const page = await site.newPage();
  const message = () => page.$eval('#message', (element) => element.textContent);
  for (const [name, says] of [
    ['empty.slp', 'The file is empty.'],
    ['binary.slp', 'This is not an SLP file: it holds binary data, and SLP files are text.'],
    ['notes.slp', 'This does not look like an SLP file: there is no "solid" in it.'],
  ]) {
    await openFile(page, join(temp.dir, name));
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'error', name);
    assert.equal(await message(), says);
    assert.ok(await page.$eval('#save', (button) => button.disabled), 'nothing to save');
  }
  await page.goto(`${site.url}?file=/data/missing.slp`);
  await settled(page);
  assert.match(await message(), /^\/data\/missing\.slp could not be fetched: the server answered 404/);

  await openFile(page, sample);
  assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready');
  assert.ok(await page.$eval('#message', (element) => element.hidden), 'the message is gone');
  await page.close();
});

test('values beyond a float: the colour drawn as the writers clamp it, the view fitted to the finite vertices', async () => {
  const page = await site.newPage();
  await openFile(page, join(temp.dir, 'beyond.slp'));
  await page.click('#expand-all');
  const swatch = await page.$eval('#tree .row.mesh .swatch', (element) => [element.style.background, element.dataset.colour]);
  assert.deepEqual(swatch, ['rgb(255, 128, 0)', 'not finite 0.5 0 1']);
  assert.match(await page.$eval('#info-size', (element) => element.textContent), /^not finite × /);
  assert.ok((await canvasPixels(page)).model > 0.01, 'the finite triangle is in view');
  await page.close();
});

test('?file= opens a file of the server; a click on the model selects its mesh; hide, show only, show all', async () => {
  const page = await site.newPage('?file=/data/desk_lamp.slp');
  await settled(page);
  assert.equal((await infoPanel(page)).totals.triangles, 428);
  const all = (await canvasPixels(page)).model;

  const box = await page.locator('#canvas').boundingBox();
  await page.mouse.click(box.x + box.width / 2, box.y + box.height * 0.6);
  const selected = await page.$$eval('#tree .row[aria-selected="true"]', (rows) => rows.map((row) => row.dataset.kind));
  assert.deepEqual(selected, ['object'], 'the mesh under the pointer is selected in the tree');

  const bulb = page.locator('#tree .row.group', { hasText: 'bulb' });
  await bulb.hover();
  await bulb.locator('.isolate').click();
  const only = (await canvasPixels(page)).model;
  assert.ok(only > 0.001 && only < all / 3, `only the bulb: ${only} of the view against ${all}`);
  await page.click('#show-all');
  assert.ok(Math.abs((await canvasPixels(page)).model - all) < all * 0.05, 'show all brings every mesh back');
  await page.locator('#tree .row.group', { hasText: 'desk_lamp' }).nth(1).locator('input.eye').uncheck();
  assert.ok((await canvasPixels(page)).model < 0.01, 'hiding the top solid hides everything');
  await page.close();
});
