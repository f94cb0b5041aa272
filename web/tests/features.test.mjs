// The page's tools as a user drives them, on a file of known numbers: a closed box 10 × 20 × 30 and an
// open square sheet 10 × 10 beside it.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { copyFileSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { gzipSync } from 'node:zlib';
import { after, before, test } from 'node:test';
import { canvasPixels, clickModel, drawn, makeTempDir, openFile, pixel, sample, settled, startPage, writeBoxes } from './support.mjs';

let temp;
let site;
let boxFile;

before(async () => {
  temp = makeTempDir();
  boxFile = join(temp.dir, 'box.slp');
  writeBoxes(boxFile, [{ name: 'box', min: [0, 0, 0], max: [10, 20, 30], colour: [0.2, 0.4, 0.8] }], [{ name: 'sheet', min: [40, 0, 0], max: [50, 10, 0] }]);
  writeBoxes(join(temp.dir, 'plain.slp'), [{ name: 'box', min: [0, 0, 0], max: [10, 20, 30] }]);
  writeBoxes(join(temp.dir, 'flipped.slp'), [{ name: 'flipped', min: [0, 0, 0], max: [1, 1, 1], colour: [1, 0, 0], flip: true }]);
  copyFileSync(sample, join(temp.dir, 'desk_lamp.slp'));
  // Named without .gz: the page knows a gzipped file by its first bytes.
  writeFileSync(join(temp.dir, 'lamp.packed'), gzipSync(readFileSync(sample)));
  writeFileSync(join(temp.dir, 'broken.slp.gz'), Buffer.from([0x1f, 0x8b, 8, 0, 1, 2, 3, 4, 5, 6, 7, 8]));
  writeFileSync(join(temp.dir, 'host.html'), `<!doctype html><iframe src="/embed.html?file=/data/box.slp" width="640" height="480" style="border:0"></iframe>
<script>window.messages = []; addEventListener('message', (event) => messages.push(event.data));</script>`);
  site = await startPage(temp.dir);
});

after(async () => {
  await site?.close();
  temp?.remove();
});

const text = (page, selector) => page.$eval(selector, (element) => element.textContent);
const rowNames = (page) => page.$$eval('#tree .row .name', (names) => names.map((name) => name.title));
const row = (page, name) => page.locator('#tree .row', { has: page.locator(`.name[title="${name}"]`) });

test('measuring: a distance between corners snapped to, the angle between two faces, the area and volume of a closed box and of an open sheet', async () => {
  const page = await site.newPage();
  await openFile(page, boxFile);
  await page.selectOption('#measure', 'distance');
  // Clicked a few pixels inside two opposite corners of the top: the corners are taken.
  await clickModel(page, [0.4, 0.6, 30]);
  await clickModel(page, [9.6, 19.4, 30]);
  assert.ok(Math.abs(Number(await page.$eval('#measure-result', (e) => e.dataset.value)) - Math.sqrt(500)) < 1e-9);
  assert.match(await text(page, '#measure-result'), /^Distance 22\.36 \(Δx 10, Δy 20, Δz 0\)/);

  await page.selectOption('#measure', 'angle');
  await clickModel(page, [5, 10, 30]);
  await clickModel(page, [5, 0, 15]);
  assert.ok(Math.abs(Number(await page.$eval('#measure-result', (e) => e.dataset.value)) - 90) < 1e-6, 'the top and the front meet at 90°');
  await page.keyboard.press('Escape');

  const details = async (name) => {
    await row(page, name).locator('.name').click();
    return [await text(page, '#details-area'), await text(page, '#details-volume')];
  };
  assert.deepEqual(await details('box'), ['2200', '6000']);
  assert.deepEqual(await details('sheet'), ['100', 'none: the mesh is not closed']);
  assert.deepEqual(await details('parts'), ['2300', 'none: 1 of 2 meshes are not closed']);
  await openFile(page, join(temp.dir, 'flipped.slp'));
  assert.deepEqual(await details('flipped'), ['6', 'none: closed, but its triangles do not face one way']);
  await page.close();
});

test('a section plane: the cut through the box is filled with the cap colour, and the rest of the box stays', async () => {
  const page = await site.newPage();
  await openFile(page, boxFile);
  await page.keyboard.press('3'); // from the right (+x)
  const centre = await page.evaluate(() => window.slpViewer.project([5, 10, 15]));
  const blue = await pixel(page, centre.x, centre.y);
  assert.ok(blue[2] > blue[0] + 40, `the box's side is blue: ${blue}`);
  await page.click('#section-add');
  // Cut at x = 5: the model runs from x = 0 to 50, and the slider across it.
  await page.$eval('.section-position', (slider) => {
    slider.value = 100;
    slider.dispatchEvent(new Event('input'));
  });
  await page.waitForTimeout(100);
  const cap = await pixel(page, centre.x, centre.y);
  assert.ok(cap[0] > 150 && cap[0] > cap[1] + 40 && cap[1] > cap[2] + 20, `the cap is orange: ${cap}`);
  await page.click('.section-flip');
  await page.waitForTimeout(100);
  const kept = await pixel(page, centre.x, centre.y);
  assert.ok(kept[2] > kept[0] + 40, `flipped, the box's far half shows its blue side: ${kept}`);
  // Along a face: the plane through the box's right side (x = 10), then moved to x = 5 again.
  await page.selectOption('.section-axis', 'face');
  await clickModel(page, [10, 10, 15]);
  assert.equal(await page.$eval('.section-position', (slider) => slider.value), '200');
  await page.$eval('.section-position', (slider) => {
    slider.value = 100;
    slider.dispatchEvent(new Event('input'));
  });
  await page.waitForTimeout(100);
  const faceCap = await pixel(page, centre.x, centre.y);
  assert.ok(faceCap[0] > 150 && faceCap[0] > faceCap[2] + 60, `cut along the face: ${faceCap}`);
  await page.close();
});

test('a link to the view opens the same camera, projection and hidden parts; a snapshot at a chosen size', async () => {
  const page = await site.newPage('?file=/data/box.slp');
  await drawn(page);
  await page.selectOption('#up-axis', 'y');
  await page.keyboard.press('5'); // from the top, which is +y now
  const top = await page.evaluate(() => window.slpViewer.getCamera());
  const look = top.position.map((v, i) => v - top.target[i]);
  assert.ok(look[1] > 0 && Math.abs(look[0]) + Math.abs(look[2]) < 1e-3 * look[1], `from +y: ${look}`);
  await page.selectOption('#orbit', 'free');
  await page.keyboard.press('p'); // orthographic
  await row(page, 'sheet').locator('input.eye').uncheck();
  await page.click('#copy-link');
  const link = await page.$eval('#link-text', (input) => input.value);
  const camera = await page.evaluate(() => window.slpViewer.getCamera());
  assert.equal(camera.projection, 'orthographic');

  const other = await site.newPage();
  await other.goto(link);
  await drawn(other);
  const reopened = await other.evaluate(() => window.slpViewer.getCamera());
  for (const key of ['position', 'target', 'up']) reopened[key].forEach((v, i) => assert.ok(Math.abs(v - camera[key][i]) < 1e-4, `${key}: ${reopened[key]} against ${camera[key]}`));
  assert.ok(Math.abs(reopened.height - camera.height) < 1e-4);
  assert.deepEqual([reopened.projection, reopened.upAxis, reopened.orbit], ['orthographic', 'y', 'free']);
  assert.deepEqual([await other.inputValue('#projection'), await other.inputValue('#up-axis'), await other.inputValue('#orbit')], ['orthographic', 'y', 'free']);
  assert.equal(await row(other, 'sheet').locator('input.eye').isChecked(), false);
  assert.equal(await row(other, 'box').locator('input.eye').isChecked(), true);

  await other.click('#snapshot-button');
  await other.fill('#snapshot-width', '320');
  await other.fill('#snapshot-height', '200');
  const [download] = await Promise.all([other.waitForEvent('download'), other.click('#snapshot-save')]);
  const png = readFileSync(await download.path());
  assert.deepEqual([download.suggestedFilename(), png.readUInt32BE(16), png.readUInt32BE(20)], ['box.png', 320, 200]);
  await page.close();
  await other.close();
});

test('the embedded view: the view alone, picks and the camera through messages, files opened through window.slpViewer', async () => {
  const page = await site.newPage('data/host.html');
  await page.waitForFunction(() => window.messages.some((m) => m.slp === 'ready'), null, { timeout: 60000 });
  const frame = page.frames().find((f) => f.url().includes('embed.html'));
  assert.equal(await frame.isVisible('#side'), false);
  assert.equal(await frame.isVisible('header'), false);

  const at = await frame.evaluate(() => window.slpViewer.project([5, 0, 15]));
  await page.mouse.click(at.x, at.y); // the iframe sits at the page's top left corner
  await page.waitForFunction(() => window.messages.some((m) => m.slp === 'pick'));
  const pick = await page.evaluate(() => window.messages.find((m) => m.slp === 'pick'));
  assert.equal(pick.groupName, 'box');

  const camera = await page.evaluate(async () => {
    const view = document.querySelector('iframe').contentWindow;
    view.postMessage({ slp: 'setCamera', camera: { position: [5, -80, 15], target: [5, 10, 15], projection: 'orthographic' } }, '*');
    view.postMessage({ slp: 'getCamera', id: 7 }, '*');
    for (let i = 0; i < 100 && !window.messages.some((m) => m.id === 7); ++i) await new Promise((r) => setTimeout(r, 20));
    return window.messages.find((m) => m.id === 7).camera;
  });
  const rounded = (v) => v.map((x) => Number(x.toFixed(6)));
  assert.deepEqual([rounded(camera.position), rounded(camera.target), camera.projection], [[5, -80, 15], [5, 10, 15], 'orthographic']);

  const opened = await frame.evaluate(() => window.slpViewer.open('/data/desk_lamp.slp').then((info) => info.totals.triangles));
  assert.equal(opened, 428);
  await page.close();
});

test('the tree: a search that filters it, the keys of an ARIA tree, and a double click that shows only a group', async () => {
  const page = await site.newPage();
  await openFile(page, sample);
  await page.fill('#tree-search', 'BUL');
  assert.deepEqual(await rowNames(page), ['desk_lamp.slp', 'desk_lamp', 'shade', 'bulb', 'mesh 1']);
  await page.fill('#tree-search', '');
  assert.equal((await rowNames(page)).length, 13);

  const focused = () => page.evaluate(() => document.activeElement.querySelector('.name')?.title);
  await page.focus('#tree .row');
  await page.keyboard.press('End');
  assert.equal(await focused(), 'mesh 1');
  await page.keyboard.press('Home');
  await page.keyboard.press('ArrowDown');
  assert.equal(await focused(), 'desk_lamp');
  await page.keyboard.press('ArrowLeft'); // closes it
  assert.deepEqual(await rowNames(page), ['desk_lamp.slp', 'desk_lamp']);
  await page.keyboard.press('ArrowRight'); // opens it
  await page.keyboard.press('ArrowRight'); // to its first child
  assert.equal(await focused(), 'base');
  await page.keyboard.press(' ');
  await page.keyboard.press('Enter');
  const base = row(page, 'base');
  assert.deepEqual([await base.getAttribute('role'), await base.getAttribute('aria-level'), await base.getAttribute('aria-selected')], ['treeitem', '3', 'true']);
  assert.equal(await base.locator('input.eye').isChecked(), false, 'space hid it');

  const before = (await canvasPixels(page)).model;
  await row(page, 'bulb').locator('.name').dblclick();
  const after = (await canvasPixels(page)).model;
  assert.ok(await row(page, 'bulb').locator('.isolate.on').count(), 'shown alone');
  assert.ok(after > before / 2, `fitted: the bulb covers ${after} of the view (the lamp ${before})`);
  await page.close();
});

test('settings are kept across a reload; the theme follows the system unless set', async () => {
  const page = await site.newPage('?file=/data/plain.slp');
  await drawn(page);
  await page.emulateMedia({ colorScheme: 'dark' });
  await page.waitForFunction(() => document.documentElement.dataset.theme === 'dark'); // the system is dark
  await page.emulateMedia({ colorScheme: 'light' });
  await page.click('#settings-button');
  await page.selectOption('#setting-theme', 'dark');
  await page.fill('#setting-background', '#203040');
  await page.fill('#setting-units', 'mm');
  await page.check('#setting-edges');
  await page.fill('#setting-plain', '#00c000');
  await page.keyboard.press('Escape');

  await page.reload();
  await drawn(page);
  assert.equal(await page.evaluate(() => document.documentElement.dataset.theme), 'dark', 'dark though the system is light');
  const canvas = await page.locator('#canvas').boundingBox();
  assert.deepEqual(await pixel(page, canvas.x + canvas.width - 4, canvas.y + canvas.height / 2), [32, 48, 64]);
  assert.equal(await page.isChecked('#setting-edges'), true);
  const side = await page.evaluate(() => window.slpViewer.project([5, 0, 15]));
  const green = await pixel(page, side.x, side.y);
  assert.ok(green[1] > green[0] + 60 && green[1] > green[2] + 60, `the box without a colour is drawn green: ${green}`);
  await row(page, 'box').locator('.name').click();
  assert.equal(await text(page, '#details-area'), '2200 mm²');
  assert.equal(await text(page, '#details-volume'), '6000 mm³');
  await page.close();
});

test('a gzipped file opens, known by its first bytes; a broken one says so', async () => {
  const page = await site.newPage();
  await openFile(page, join(temp.dir, 'lamp.packed'));
  assert.equal(await text(page, '#info-triangles'), '428');
  assert.match(await text(page, '#info-bytes'), /^139\.5 kB \(\d+\.\d kB gzipped\)$/);
  await openFile(page, join(temp.dir, 'broken.slp.gz'));
  assert.equal(await text(page, '#message'), 'The file could not be loaded: the file starts as a gzipped file does, but could not be unpacked.');
  await page.close();
});

test('serve.mjs serves the examples; the screenshot script waits for the drawn model; Cancel leaves the header on one line', async () => {
  const server = spawn(process.execPath, [join(import.meta.dirname, '../scripts/serve.mjs'), '--port', '0']);
  const url = await new Promise((done) => server.stdout.on('data', (data) => done(/http:\S+\//.exec(String(data))[0])));
  const response = await fetch(`${url}examples/desk_lamp.slp`);
  server.kill();
  assert.equal(response.status, 200);

  const out = join(temp.dir, 'shot.png');
  const shot = spawn(process.execPath, [join(import.meta.dirname, '../scripts/screenshot.mjs'), '--size', '400x300', `${site.url}?file=/data/box.slp`, out], { stdio: 'inherit' });
  assert.equal(await new Promise((done) => shot.on('exit', done)), 0);
  const png = readFileSync(out);
  assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [400, 300]);

  const page = await site.newPage();
  await page.setViewportSize({ width: 1024, height: 700 });
  await openFile(page, sample);
  await page.evaluate(() => (document.getElementById('progress').hidden = false));
  const [title, save] = [await page.locator('h1').boundingBox(), await page.locator('#save').boundingBox()];
  assert.ok(Math.abs(title.y + title.height / 2 - (save.y + save.height / 2)) < 4, `Save beside the title: ${JSON.stringify([title, save])}`);
  await page.close();
});
