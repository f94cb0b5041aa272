// Builds the page into build/web at the top of the repository: the WebAssembly module with CMake (the
// wasm preset, incrementally), then the worker and the page bundled by esbuild. The page is four
// files, index.html, embed.html (the view alone, for an iframe), app.js and style.css, which any static
// file server can serve.
//
//   node scripts/build.mjs [--skip-wasm]
import { spawnSync } from 'node:child_process';
import { copyFileSync, existsSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import * as esbuild from 'esbuild';

const webDir = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const repoDir = resolve(webDir, '..');
const outDir = join(repoDir, 'build', 'web');
const modulePath = join(repoDir, 'build', 'wasm', 'web', 'wasm', 'slpweb.js');

function run(command, args) {
  const result = spawnSync(command, args, { cwd: repoDir, stdio: 'inherit' });
  if (result.status !== 0) {
    console.error(`build: ${command} ${args.join(' ')} failed`);
    process.exit(1);
  }
}

if (!process.argv.includes('--skip-wasm')) {
  if (!existsSync(join(repoDir, 'build', 'wasm', 'CMakeCache.txt'))) run('cmake', ['--preset', 'wasm']);
  run('cmake', ['--build', '--preset', 'wasm']);
}

// The worker, with the module inside it, as one script; the page starts it from that text.
const worker = await esbuild.build({
  entryPoints: [join(webDir, 'src', 'worker.js')],
  bundle: true,
  format: 'iife',
  minify: true,
  write: false,
  logLevel: 'warning',
  alias: { 'slpweb-module': modulePath },
});

const workerSource = {
  name: 'worker-source',
  setup(build) {
    build.onResolve({ filter: /^worker-source$/ }, () => ({ path: 'worker-source', namespace: 'worker-source' }));
    build.onLoad({ filter: /.*/, namespace: 'worker-source' }, () => ({
      contents: worker.outputFiles[0].text,
      loader: 'text',
    }));
  },
};

mkdirSync(outDir, { recursive: true });
// A classic script, not a module: browsers run those from file:// pages too.
await esbuild.build({
  entryPoints: [join(webDir, 'src', 'main.js')],
  bundle: true,
  format: 'iife',
  minify: true,
  outfile: join(outDir, 'app.js'),
  logLevel: 'warning',
  plugins: [workerSource],
});
copyFileSync(join(webDir, 'src', 'index.html'), join(outDir, 'index.html'));
const page = readFileSync(join(webDir, 'src', 'index.html'), 'utf8');
const embed = page.replace('<html lang="en"', '<html lang="en" class="embed"').replace('<title>SLP viewer</title>', '<title>SLP view</title>');
if (embed === page) throw new Error('build: index.html has no <html lang="en"> to mark as embedded');
writeFileSync(join(outDir, 'embed.html'), embed);
copyFileSync(join(webDir, 'src', 'style.css'), join(outDir, 'style.css'));
console.log(`build: the page is in ${outDir}`);
