// The page's WebAssembly module, built for Node, against the native slp program: each file loaded by
// both gives the same tree, counts, boxes, colours and every vertex and normal, bit for bit as floats.
// A file is written to put every kind of byte at every place of the scans' 64-byte chunks, so that a
// vector scan or a number conversion that differs between the two builds shows here.
import assert from 'node:assert/strict';
import { readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { loadNodeModule, makeTempDir, repoDir, slp, writeGeneratedFile } from './support.mjs';

let temp;
let M;

before(async () => {
  temp = makeTempDir();
  M = await loadNodeModule();
});

after(() => temp?.remove());

// White space of every kind, bytes next to the ranges the vector tests take (digits, the point, tab..CR,
// the brackets, the quote) and the same bytes with the top bit set, which a signed comparison would take
// for them.
const SPACES = [' ', '\t', '\n', '\r\n', '\v', '\f', '\0', '   ', ' '.repeat(37)];
const ODD_WORDS = ['1/5', '1:5', '1.5\x89', '\xb0.5', '2\xae5', '(1)', '[2]', '{3}', '"4"', '1e', '--1', '1.2.3', '\xa0', '\x8b', '\x08', '\x0e', '+-1', '.', '5.'];
const NAMES = ['part', 'ro\xc3\xa9', 'a(b', 'c)d', 'e[f', 'g]h', 'i{j', 'k}l', '"quoted name"', 'w\x89z', 'tab\x8bname', 'q\xa2q', 'x\xa8y\xa9\xdbz\xdd\xfb\xfd'];

function writeScanFile(path, facets) {
  let state = 7n;
  const random = (n) => {
    state = (state * 6364136223846793005n + 1442695040888963407n) & 0xffffffffffffffffn;
    return Number(state >> 33n) % n;
  };
  const pick = (list) => list[random(list.length)];
  // A bracket before a keyword ends a keyword run, and is a token of its own in front of the keyword.
  const keyword = (word) => (random(25) === 0 ? pick([...'()[]{}']) : '') + [...word].map((c) => (random(4) === 0 ? c.toUpperCase() : c)).join('');
  const number = () => {
    if (random(1500) === 0) return pick(ODD_WORDS);
    let digits = '';
    for (let n = 1 + random(17); n > 0; --n) digits += random(10);
    const point = random(digits.length + 2);
    if (point <= digits.length) digits = digits.slice(0, point) + '.' + digits.slice(point);
    const exponent = random(8) === 0 ? `${pick(['e', 'E'])}${pick(['', '-', '+'])}${random(50)}` : '';
    return pick(['', '', '-', '+']) + digits + exponent;
  };
  const words = [];
  for (let f = 0; f < facets; ++f) {
    if (f % 40 === 0) words.push(keyword('solid'), pick(NAMES));
    if (f % 13 === 0) words.push(keyword('color'), number(), number(), number());
    // Words that the load passes over, long enough for the tokenizer to list them with its block scan
    // rather than take them one by one after a run, then a colour whose bracket that scan must split off.
    if (f % 25 === 12) words.push(...NAMES, ...ODD_WORDS, pick([...'()[]{}']) + 'color', number(), number(), number());
    words.push(keyword('facet'), keyword('outer'), keyword('loop'));
    for (let k = 0; k < 3; ++k) words.push(keyword('normal'), number(), number(), number(), keyword('vertex'), number(), number(), number());
    words.push(keyword('endloop'), keyword('endfacet'));
    if (f % 40 === 39) words.push(keyword('endsolid'));
  }
  writeFileSync(path, Buffer.from(words.map((word) => word + pick(SPACES)).join(''), 'latin1'));
}

// The native program's model: groups in walk order (each before its children) and their meshes.
function nativeModel(file) {
  const info = JSON.parse(slp('info', '--json', '--geometry', file));
  const groups = [];
  const objects = [];
  const stack = [{ node: info, depth: 0 }];
  while (stack.length > 0) {
    const { node, depth } = stack.pop();
    const index = groups.length;
    groups.push({ name: node.name ?? '', depth });
    for (const object of node.objects) objects.push({ ...object, group: index });
    for (let i = node.groups.length - 1; i >= 0; --i) stack.push({ node: node.groups[i], depth: depth + 1 });
  }
  return { info, groups, objects };
}

// The module's model, each mesh's corners taken back from its merged vertices and indices.
function wasmModel(file) {
  const jsonPath = join(temp.dir, 'model.json');
  M.ccall('slpweb_load', 'number', ['string', 'string'], [file, jsonPath]);
  const model = JSON.parse(readFileSync(jsonPath, 'utf8'));
  rmSync(jsonPath);
  model.objects.forEach((object, index) => {
    const count = M._slpweb_build_mesh(index);
    const vertices = new Float32Array(M.HEAPF32.buffer, M._slpweb_mesh_vertices() >>> 0, count * 6);
    const indices = new Uint32Array(M.HEAPU32.buffer, M._slpweb_mesh_indices() >>> 0, M._slpweb_mesh_index_count());
    object.corners = count === 0 ? [] : [...indices].map((i) => vertices.slice(6 * i, 6 * i + 6));
  });
  M._slpweb_release_mesh();
  M._slpweb_unload();
  return model;
}

// A float of the module against the native JSON's number for it (null for what is not finite).
const same = (value, expected) => (expected === null ? !Number.isFinite(value) : value === Math.fround(expected));

function compare(file) {
  const native = nativeModel(file);
  const wasm = wasmModel(file);
  assert.equal(wasm.result, native.info.result, file);
  assert.deepEqual([wasm.totals, wasm.discarded_vertices, wasm.bbox], [native.info.totals, native.info.discarded_vertices, native.info.bbox], file);
  assert.deepEqual(wasm.groups.slice(1).map((g) => [g.name, g.depth]), native.groups.slice(1).map((g) => [g.name, g.depth]), file);
  assert.equal(wasm.objects.length, native.objects.length, file);
  wasm.objects.forEach((object, i) => {
    const expected = native.objects[i];
    assert.deepEqual([object.group, object.triangles, object.color, object.bbox], [expected.group, expected.triangles, expected.color, expected.bbox], `${file}: mesh ${i}`);
    assert.equal(object.corners.length, expected.vertices.length, `${file}: mesh ${i}`);
    object.corners.forEach((corner, k) => {
      const values = [...expected.vertices[k], ...expected.normals[k]];
      if (!values.every((value, j) => same(corner[j], value)))
        assert.fail(`${file}: mesh ${i}, corner ${k}: ${[...corner].join(' ')} where the native program has ${values.join(' ')}`);
    });
  });
  return wasm.totals.triangles;
}

test('the module loads the fixtures as the native program does', () => {
  const dirs = [join(repoDir, 'tests', 'data'), join(repoDir, 'examples')];
  const files = dirs.flatMap((dir) => readdirSync(dir).filter((name) => name.endsWith('.slp')).map((name) => join(dir, name)));
  assert.ok(files.length > 10);
  for (const file of files) compare(file);
});

test('the module scans every byte class at every chunk position as the native program does', () => {
  const scan = join(temp.dir, 'scan.slp');
  writeScanFile(scan, 6000);
  assert.ok(compare(scan) > 3000, 'most facets of the scan file load');
  const generated = join(temp.dir, 'generated.slp');
  writeGeneratedFile(generated, 2e6);
  compare(generated);
});
