// The worker: loads, checks and exports with the library compiled to WebAssembly, so the page stays
// responsive. The user's file is mounted in the module's file system (WORKERFS), from where the
// library's own file reader reads it in blocks: it is never copied whole into memory. A gzipped file
// (known by its first two bytes, 1f 8b) is unpacked first by the browser's DecompressionStream, its
// bytes gathered as a Blob of blobs (which the browser may keep on disk), and read from there.
//
// Messages in: {type: 'load', file, name} and {type: 'export', format, baseName}.
// Messages out: 'progress' {stage, percent}, 'model' {model}, 'meshes' {meshes: [{index, vertices,
// indices}]}, 'loaded', 'check' {report}, 'exported' {files: [{name, bytes}], report}, and 'error'
// {message}, after which this worker is not used again.
import createSlpModule from 'slpweb-module';

const INPUT_DIR = '/input';
const INPUT_PATH = '/input/model.slp';
const OUTPUT_DIR = '/output';
const STAGES = ['load', 'check', 'export'];
// Unpacked bytes are gathered in blobs of about this size.
const UNPACK_PART_BYTES = 16 << 20;
// Meshes go to the page in batches of about this many bytes, so that an assembly of thousands of small
// meshes is not thousands of messages.
const BATCH_BYTES = 4 << 20;
// Findings kept for the page; the counts count them all.
const KEPT_FINDINGS = 1000;

const modulePromise = createSlpModule({
  onProgress: (stage, percent) => postMessage({ type: 'progress', stage: STAGES[stage], percent }),
  print: () => {},
  printErr: () => {},
}).then((M) => {
  installReadAhead(M);
  return M;
});

function readJson(M, path) {
  const text = M.FS.readFile(path, { encoding: 'utf8' });
  M.FS.unlink(path);
  return JSON.parse(text);
}

// WORKERFS reads each block that the library asks for (256 KB) with a FileReaderSync call of its own,
// and such a call costs far more than the bytes it brings: the file is read here 8 MB at a time, and
// the library's blocks are served from that.
const READ_AHEAD = 8 << 20;
let readAhead = { blob: null, start: 0, bytes: new Uint8Array(0) };

function installReadAhead(M) {
  const reader = new FileReaderSync();
  M.FS.filesystems.WORKERFS.stream_ops.read = (stream, buffer, offset, length, position) => {
    const blob = stream.node.contents;
    if (position >= blob.size) return 0;
    const count = Math.min(length, blob.size - position);
    if (readAhead.blob !== blob || position < readAhead.start || position + count > readAhead.start + readAhead.bytes.length) {
      const end = Math.min(blob.size, position + Math.max(count, READ_AHEAD));
      readAhead = { blob, start: position, bytes: new Uint8Array(reader.readAsArrayBuffer(blob.slice(position, end))) };
    }
    const from = position - readAhead.start;
    buffer.set(readAhead.bytes.subarray(from, from + count), offset);
    return count;
  };
}

function mountInput(M, file) {
  readAhead = { blob: null, start: 0, bytes: new Uint8Array(0) };
  if (!M.FS.analyzePath(INPUT_DIR).exists) M.FS.mkdir(INPUT_DIR);
  else M.FS.unmount(INPUT_DIR);
  M.FS.mount(M.FS.filesystems.WORKERFS, { blobs: [{ name: 'model.slp', data: file }] }, INPUT_DIR);
}

// Builds each mesh in the module's memory and sends a copy of it out of that memory (the views are
// copied once, into buffers that are then moved to the page, not copied again).
function sendMeshes(M, count) {
  let batch = [];
  let transfer = [];
  let bytes = 0;
  const flush = () => {
    if (batch.length > 0) postMessage({ type: 'meshes', meshes: batch }, transfer);
    batch = [];
    transfer = [];
    bytes = 0;
  };
  for (let index = 0; index < count; ++index) {
    const vertexCount = M._slpweb_build_mesh(index);
    if (vertexCount === 0) continue;
    // Addresses come back as signed 32-bit numbers; past 2 GiB of module memory they must be read unsigned.
    const vertexPointer = M._slpweb_mesh_vertices() >>> 0;
    const indexPointer = M._slpweb_mesh_indices() >>> 0;
    const indexCount = M._slpweb_mesh_index_count();
    const vertices = new Float32Array(M.HEAPF32.buffer, vertexPointer, vertexCount * 6).slice();
    const indices = new Uint32Array(M.HEAPU32.buffer, indexPointer, indexCount).slice();
    batch.push({ index, vertices, indices });
    transfer.push(vertices.buffer, indices.buffer);
    bytes += vertices.byteLength + indices.byteLength;
    if (bytes >= BATCH_BYTES) flush();
  }
  flush();
  M._slpweb_release_mesh();
}

function isGzip(file) {
  if (file.size < 2) return false;
  const head = new Uint8Array(new FileReaderSync().readAsArrayBuffer(file.slice(0, 2)));
  return head[0] === 0x1f && head[1] === 0x8b;
}

// The unpacked bytes of a gzipped file, as a Blob; the progress follows the packed bytes read.
async function gunzip(file) {
  let read = 0;
  let shown = -1;
  const counter = new TransformStream({
    transform(chunk, controller) {
      read += chunk.byteLength;
      const percent = Math.floor((read * 100) / file.size);
      if (percent !== shown) postMessage({ type: 'progress', stage: 'unpack', percent: (shown = percent) });
      controller.enqueue(chunk);
    },
  });
  const reader = file.stream().pipeThrough(counter).pipeThrough(new DecompressionStream('gzip')).getReader();
  const parts = [];
  let pending = [];
  let pendingBytes = 0;
  for (;;) {
    let next;
    try {
      next = await reader.read();
    } catch {
      throw new Error('the file starts as a gzipped file does, but could not be unpacked');
    }
    if (next.done) break;
    pending.push(next.value);
    pendingBytes += next.value.byteLength;
    if (pendingBytes >= UNPACK_PART_BYTES) {
      parts.push(new Blob(pending));
      pending = [];
      pendingBytes = 0;
    }
  }
  parts.push(new Blob(pending));
  return new Blob(parts);
}

async function load(M, { file }) {
  let packedBytes = 0;
  if (isGzip(file)) {
    packedBytes = file.size;
    file = await gunzip(file);
  }
  mountInput(M, file);
  const result = M.ccall('slpweb_load', 'number', ['string', 'string'], [INPUT_PATH, '/tmp/model.json']);
  if (result < 0) throw new Error('the model could not be handed to the page');
  const model = readJson(M, '/tmp/model.json');
  model.packedBytes = packedBytes;
  postMessage({ type: 'model', model });
  if (model.result !== 0) return;
  sendMeshes(M, model.objects.length);
  postMessage({ type: 'loaded' });
  M.ccall('slpweb_check', 'number', ['string', 'number', 'string'], [INPUT_PATH, KEPT_FINDINGS, '/tmp/check.json']);
  postMessage({ type: 'check', report: readJson(M, '/tmp/check.json') });
}

function exportModel(M, { format, baseName }) {
  if (!M.FS.analyzePath(OUTPUT_DIR).exists) M.FS.mkdir(OUTPUT_DIR);
  const path = `${OUTPUT_DIR}/${baseName}.${format}`;
  const result = M.ccall('slpweb_export', 'number', ['string', 'string', 'string'], [path, format, '/tmp/export.json']);
  if (result < 0) throw new Error('nothing is loaded to save');
  const report = readJson(M, '/tmp/export.json');
  const files = report.files.map((written) => {
    const bytes = M.FS.readFile(written);
    M.FS.unlink(written);
    return { name: written.slice(written.lastIndexOf('/') + 1), bytes };
  });
  postMessage({ type: 'exported', files, report }, files.map((f) => f.bytes.buffer));
}

const handlers = { load, export: exportModel };

self.onmessage = async (event) => {
  let M;
  try {
    M = await modulePromise;
  } catch (error) {
    postMessage({ type: 'error', message: `the loader could not start (${error && error.message ? error.message : error})` });
    return;
  }
  try {
    await handlers[event.data.type](M, event.data);
  } catch (error) {
    // The module may be in any state after a failure inside it (running out of memory, say).
    const message = error && error.message ? error.message : String(error);
    postMessage({ type: 'error', message: /memory|alloc/i.test(message) ? 'it ran out of memory' : message });
  }
};
