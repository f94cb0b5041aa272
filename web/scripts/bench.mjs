// Load speed in the browser beside the native program on the same files: each round loads each file
// once with `slp info` (its "time:" line) and once in the page (its load time), one after the other,
// and the best round of each is kept, since other work on the machine only ever adds time.
//
//   node scripts/bench.mjs [--rounds N] FILE...
import { statSync } from 'node:fs';
import { basename } from 'node:path';
import { openFile, sample, slp, startPage } from '../tests/support.mjs';

const args = process.argv.slice(2);
const rounds = args.includes('--rounds') ? Number(args.splice(args.indexOf('--rounds'), 2)[1]) : 5;
const files = args.length > 0 ? args : [sample];
const site = await startPage(sample);
const page = await site.newPage();
console.log('| file | MB | native ms | native MB/s | browser ms | browser MB/s | browser / native |');
console.log('|---|---:|---:|---:|---:|---:|---:|');
for (const file of files) {
  const megabytes = statSync(file).size / 1e6;
  let native = Infinity;
  let browser = Infinity;
  for (let round = 0; round < rounds; ++round) {
    native = Math.min(native, Number(/time: ([\d.]+) ms/.exec(slp('info', '-q', file))[1]));
    await openFile(page, file);
    browser = Math.min(browser, 1000 * Number(await page.$eval('#info-time', (element) => element.dataset.seconds)));
  }
  const speed = (ms) => (megabytes / (ms / 1000)).toFixed(0);
  console.log(`| ${basename(file)} | ${megabytes.toFixed(1)} | ${native.toFixed(0)} | ${speed(native)} | ${browser.toFixed(0)} | ${speed(browser)} | ${(native / browser).toFixed(2)} |`);
}
await site.close();
