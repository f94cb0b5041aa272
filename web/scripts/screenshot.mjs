// A screenshot of the page once its model is drawn, for documents and automation:
//
//   node scripts/screenshot.mjs [--size 1280x800] [--wait-check] URL OUT.png
//
// It waits until the page's <html> says data-state="ready" (the first frame of the loaded model is
// drawn) or "error", and with --wait-check also for the check's findings (data-check="done").
import { chromium } from 'playwright-core';

const args = process.argv.slice(2);
const take = (name) => (args.includes(name) ? args.splice(args.indexOf(name), 2)[1] : undefined);
const [width, height] = (take('--size') || '1280x800').split('x').map(Number);
const waitCheck = args.includes('--wait-check') ? (args.splice(args.indexOf('--wait-check'), 1), true) : false;
const [url, out] = args;
if (!url || !out || !(width > 0 && height > 0)) {
  console.error('usage: node scripts/screenshot.mjs [--size WxH] [--wait-check] URL OUT.png');
  process.exit(2);
}
const flags = ['--headless', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'];
if (process.getuid && process.getuid() === 0) flags.push('--no-sandbox');
const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium', args: flags });
try {
  const page = await browser.newPage({ viewport: { width, height } });
  await page.goto(url);
  await page.waitForFunction((check) => {
    const { state, check: checked } = document.documentElement.dataset;
    return state === 'error' || (state === 'ready' && (!check || checked === 'done'));
  }, waitCheck, { timeout: 600000 });
  await page.screenshot({ path: out });
  const state = await page.evaluate(() => document.documentElement.dataset.state);
  console.log(`${out}: ${width}x${height}, the page ${state === 'ready' ? 'ready' : 'says it could not load the file'}`);
  if (state !== 'ready') process.exitCode = 1;
} finally {
  await browser.close();
}
