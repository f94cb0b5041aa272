// A 1 GB generated file (about 3.4 million facets) opened in the page: its totals and box as `slp info`
// gives them, the progress through every stage, and the browser's peak memory on the way (reported,
// not asserted). Long: run with `npm run test:long`, not in the default run. SLP_WEB_LARGE_FILE names
// a file to use instead of generating one.
import assert from 'node:assert/strict';
import { readdirSync, readFileSync, statSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { drawn, makeTempDir, openFile, slp, startPage, writeGeneratedFile } from '../support.mjs';

let temp;
let site;
let file;

before(async () => {
  temp = makeTempDir();
  file = process.env.SLP_WEB_LARGE_FILE || join(temp.dir, 'large.slp');
  if (!process.env.SLP_WEB_LARGE_FILE) writeGeneratedFile(file, 1e9);
  site = await startPage(temp.dir);
});

after(async () => {
  await site?.close();
  temp?.remove();
});

// The proportional set size (shared pages split among their users) of this process's descendants, the
// browser's processes, by kind (browser, renderer, gpu-process, ...): each page counted once however
// many of them map it.
function browserMemory() {
  const children = new Map();
  for (const name of readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    try {
      const parent = Number(readFileSync(`/proc/${name}/stat`, 'utf8').split(') ')[1].split(' ')[1]);
      if (!children.has(parent)) children.set(parent, []);
      children.get(parent).push(Number(name));
    } catch {
      // the process ended meanwhile
    }
  }
  const bytes = { total: 0 };
  const stack = [...(children.get(process.pid) || [])];
  while (stack.length > 0) {
    const pid = stack.pop();
    stack.push(...(children.get(pid) || []));
    try {
      const pss = /^Pss:\s+(\d+) kB/m.exec(readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8'));
      const kind = /--type=([\w-]+)/.exec(readFileSync(`/proc/${pid}/cmdline`, 'utf8'))?.[1] || 'browser';
      const size = pss ? Number(pss[1]) * 1024 : 0;
      bytes[kind] = (bytes[kind] || 0) + size;
      bytes.total += size;
    } catch {
      // the process ended meanwhile
    }
  }
  return bytes;
}

test('long: a 1 GB file opens, with its totals and box as slp info gives them and progress throughout', { timeout: 1800000 }, async (t) => {
  const page = await site.newPage();
  await page.evaluate(() => {
    window.stages = [];
    new MutationObserver(() => window.stages.push(document.body.dataset.progress)).observe(document.body, { attributeFilter: ['data-progress'] });
  });
  const idle = browserMemory();
  let peak = idle;
  const sampler = setInterval(() => {
    const now = browserMemory();
    if (now.total > peak.total) peak = now;
  }, 250);
  const start = Date.now();
  await page.setInputFiles('#file-input', file);
  await drawn(page);
  const drawnAfter = (Date.now() - start) / 1000;
  await page.waitForFunction(() => document.body.dataset.check === 'done', null, { timeout: 1200000 });
  clearInterval(sampler);

  const info = JSON.parse(slp('info', '--json', file));
  const panel = await page.evaluate(() => ({
    state: document.documentElement.dataset.state,
    triangles: Number(document.getElementById('info-triangles').textContent.replace(/,/g, '')),
    box: JSON.parse(document.getElementById('info-box').dataset.box),
    stages: window.stages,
  }));
  assert.equal(panel.state, 'ready');
  assert.equal(panel.triangles, info.totals.triangles);
  assert.deepEqual(panel.box, info.bbox);
  // Each stage moves on its own, from its start to its end.
  for (const stage of ['load', 'view', 'check']) {
    const steps = panel.stages.filter((p) => p && p.startsWith(`${stage} `)).map((p) => Number(p.split(' ')[1]));
    assert.ok(steps.length >= 10 && steps.every((v, i) => i === 0 || v >= steps[i - 1]), `${stage}: ${steps.length} steps, rising`);
  }
  const gb = (n) => (n / 2 ** 30).toFixed(2);
  const kinds = Object.entries(peak).filter(([kind]) => kind !== 'total').map(([kind, n]) => `${kind} ${gb(n)}`).join(', ');
  t.diagnostic(`${(statSync(file).size / 1e6).toFixed(0)} MB, ${info.totals.triangles} triangles: drawn after ${drawnAfter.toFixed(1)} s; browser memory ${gb(idle.total)} GiB before, peak ${gb(peak.total)} GiB (${kinds})`);
  await page.close();
});
