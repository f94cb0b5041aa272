// Serves the built page (build/web) on this machine only: http://127.0.0.1:8080/ by default, with the
// repository's examples/ under /examples/, so that ?file=examples/desk_lamp.slp opens the sample.
//
//   node scripts/serve.mjs [--port N] [--root DIR]
//
// Any static file server does the same; this one needs nothing but Node. The tests start it too, with
// a second folder of files mounted under a path (for ?file=).
import { createReadStream, statSync } from 'node:fs';
import { createServer } from 'node:http';
import { dirname, extname, join, resolve, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.png': 'image/png',
  '.slp': 'text/plain; charset=utf-8',
  '.gz': 'application/gzip',
};

// The file under root that a URL path names, or null (outside root, or no such file).
function resolveFile(root, urlPath) {
  const full = resolve(root, `.${urlPath}`);
  if (full !== root && !full.startsWith(root + sep)) return null;
  try {
    const info = statSync(full);
    if (info.isDirectory()) return resolveFile(root, `${urlPath.replace(/\/?$/, '/')}index.html`);
    return info.isFile() ? full : null;
  } catch {
    return null;
  }
}

// mounts: {'/prefix/': folder} served beside root. Resolves to the listening server.
export function serve({ root, port = 8080, host = '127.0.0.1', mounts = {} }) {
  const server = createServer((request, response) => {
    let path;
    try {
      path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    } catch {
      path = null;
    }
    let file = null;
    if (path) {
      const prefix = Object.keys(mounts).find((p) => path.startsWith(p));
      file = prefix ? resolveFile(resolve(mounts[prefix]), `/${path.slice(prefix.length)}`) : resolveFile(resolve(root), path);
    }
    if (!file || (request.method !== 'GET' && request.method !== 'HEAD')) {
      response.writeHead(file ? 405 : 404, { 'content-type': 'text/plain' });
      response.end(file ? 'Method not allowed\n' : 'Not found\n');
      return;
    }
    let size;
    try {
      size = statSync(file).size;
    } catch {
      response.writeHead(404, { 'content-type': 'text/plain' });
      response.end('Not found\n');
      return;
    }
    response.writeHead(200, {
      'content-type': TYPES[extname(file).toLowerCase()] || 'application/octet-stream',
      'content-length': size,
      'cache-control': 'no-cache',
    });
    if (request.method === 'HEAD') response.end();
    // A file that cannot be read (or went) ends the response, not the server.
    else createReadStream(file).on('error', () => response.destroy()).pipe(response);
  });
  return new Promise((done, failed) => {
    server.once('error', failed);
    server.listen(port, host, () => done(server));
  });
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const args = process.argv.slice(2);
  const option = (name, fallback) => (args.includes(name) ? args[args.indexOf(name) + 1] : fallback);
  const root = resolve(option('--root', join(dirname(fileURLToPath(import.meta.url)), '..', '..', 'build', 'web')));
  const examples = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..', 'examples');
  const server = await serve({ root, port: Number(option('--port', 8080)), mounts: { '/examples/': examples } });
  console.log(`Serving ${root} at http://127.0.0.1:${server.address().port}/ (Ctrl-C stops)`);
}
