// Load speed of the page's WebAssembly module run by Node beside the native loader, both on one thread:
// each round loads each file once natively (`slp_bench --measure parse FILE 1`, CSLPParser::Parse with
// one thread) and once in the module (slpweb_load, which times the same Parse), one after the other, and
// the best round of each is kept, since other work on the machine only ever adds time. The module is
// the one `npm run build` makes for Node (build/wasm) unless --module names another build of it (one
// configured with -DSLP_WASM_SIMD=OFF, say), the native program the release build's.
//
//   node scripts/bench-node.mjs [--rounds N] [--native PATH_TO_slp_bench] [--module PATH_TO_slpwebnode.js] FILE...
import { spawnSync } from 'node:child_process';
import { readFileSync, rmSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import { loadNodeModule, repoDir } from '../tests/support.mjs';

const args = process.argv.slice(2);
const option = (name, fallback) => (args.includes(name) ? args.splice(args.indexOf(name), 2)[1] : fallback);
const rounds = Number(option('--rounds', 5));
const nativeBench = option('--native', join(repoDir, 'build', 'release', 'bench', 'slp_bench'));
const modulePath = option('--module', undefined);
if (args.length === 0) {
  console.error('usage: node scripts/bench-node.mjs [--rounds N] [--native PATH_TO_slp_bench] [--module PATH_TO_slpwebnode.js] FILE...');
  process.exit(2);
}
const M = await loadNodeModule(modulePath);
const jsonPath = join(tmpdir(), `slp-bench-node-${process.pid}.json`);

function nativeSeconds(file) {
  const result = spawnSync(nativeBench, ['--measure', 'parse', file, '1'], { encoding: 'utf8' });
  if (result.status !== 0) throw new Error(`${nativeBench} --measure parse ${file} 1 failed: ${result.stderr}`);
  return Number(result.stdout.split(' ')[0]);
}

function moduleSeconds(file) {
  if (M.ccall('slpweb_load', 'number', ['string', 'string'], [file, jsonPath]) !== 0) throw new Error(`the module could not load ${file}`);
  const { seconds } = JSON.parse(readFileSync(jsonPath, 'utf8'));
  rmSync(jsonPath);
  M._slpweb_unload();
  return seconds;
}

console.log('| file | MB | native ms | native MB/s | wasm (Node) ms | wasm MB/s | wasm / native |');
console.log('|---|---:|---:|---:|---:|---:|---:|');
for (const file of args) {
  const megabytes = statSync(file).size / 1e6;
  let native = Infinity;
  let wasm = Infinity;
  for (let round = 0; round < rounds; ++round) {
    native = Math.min(native, nativeSeconds(file));
    wasm = Math.min(wasm, moduleSeconds(file));
  }
  const speed = (seconds) => (megabytes / seconds).toFixed(0);
  console.log(`| ${basename(file)} | ${megabytes.toFixed(1)} | ${(native * 1000).toFixed(0)} | ${speed(native)} | ${(wasm * 1000).toFixed(0)} | ${speed(wasm)} | ${(native / wasm).toFixed(2)} |`);
}
