// The page: opens a file (picker, drop, or ?file=URL), hands it to a worker running the library, and
// shows what comes back: the model in 3D, its group tree, what `slp info` and `slp check` say about it,
// and the formats it can be saved in.
import workerSource from 'worker-source';
import { GroupTree } from './tree.js';
import { Viewer } from './viewer.js';
import { bytes, count, failureMessage, length, plural, seconds } from './text.js';
import { storedZip } from './zip.js';

const $ = (id) => document.getElementById(id);
// The worker starts from its text, so the page needs no second file and works from file:// as well.
const workerUrl = URL.createObjectURL(new Blob([workerSource], { type: 'text/javascript' }));
const STAGE_LABELS = { load: 'Loading', check: 'Checking', export: 'Saving', view: 'Preparing the view' };

let worker = null;
let model = null;
let fileName = '';
let meshesShown = 0;
// Counts the files opened and the cancels, so that a ?file= fetch that ends after either is dropped.
let openings = 0;

const viewer = new Viewer($('canvas'), (index) => {
  if (!model) return;
  if (index >= 0) tree.revealObject(index);
  else tree.select(null);
});
const tree = new GroupTree($('tree'), {
  onVisibility: (visible) => viewer.setVisibility(visible),
  onSelect: (selection) => showSelection(selection),
});

function setState(state) {
  document.body.dataset.state = state;
  const ready = state === 'ready';
  $('save').disabled = !ready;
  $('save-format').disabled = !ready;
}

function showProgress(stage, percent) {
  $('progress').hidden = false;
  $('progress-label').textContent = STAGE_LABELS[stage];
  $('progress-bar').value = percent;
  $('progress-percent').textContent = `${percent} %`;
  document.body.dataset.progress = `${stage} ${percent}`;
}

function hideProgress() {
  $('progress').hidden = true;
}

function showMessage(text, isNote = false) {
  $('message').textContent = text;
  $('message').classList.toggle('note', isNote);
  $('message').hidden = false;
}

function stopWorker() {
  if (worker) worker.terminate();
  worker = null;
}

function fail(text) {
  stopWorker();
  hideProgress();
  showMessage(text);
  setState('error');
}

function reset() {
  model = null;
  meshesShown = 0;
  viewer.clear();
  tree.model = null;
  tree.render();
  for (const id of ['info', 'findings', 'tree-panel', 'view-tools', 'dims', 'message']) $(id).hidden = true;
  delete document.body.dataset.check;
}

function baseNameOf(name) {
  const stem = name.replace(/\.[^.]*$/, '').replace(/[\u0000-\u001f/\\:*?"<>|]/g, '_').slice(0, 200);
  return stem || 'model';
}

// Loads a File (or a Blob fetched for ?file=) in a new worker: each file gets a fresh module, so the
// memory of the one before is given back whole.
function open(file, name) {
  ++openings;
  stopWorker();
  reset();
  fileName = name;
  setState('loading');
  showProgress('load', 0);
  worker = new Worker(workerUrl);
  worker.onmessage = (event) => onMessage(event.data);
  worker.onerror = (event) => {
    event.preventDefault();
    fail(`The loader stopped unexpectedly${event.message ? `: ${event.message}` : ''}.`);
  };
  worker.postMessage({ type: 'load', file });
}

function onModel(loaded) {
  if (loaded.result !== 0) {
    fail(failureMessage(loaded.reason));
    return;
  }
  model = loaded;
  showProgress('view', 0);
  showInfo();
  tree.setModel(model, fileName);
  viewer.setModel(model.objects, model.bbox);
  $('tree-panel').hidden = false;
  $('view-tools').hidden = false;
  showSelection(null);
}

function onMeshes(meshes) {
  for (const mesh of meshes) viewer.addMesh(mesh.index, mesh.vertices, mesh.indices);
  meshesShown += meshes.length;
  showProgress('view', Math.floor((meshesShown * 100) / Math.max(model.objects.length, 1)));
}

function showInfo() {
  const { totals, bbox } = model;
  $('info-name').textContent = fileName;
  $('info-groups').textContent = count(totals.groups);
  $('info-objects').textContent = count(totals.objects);
  $('info-triangles').textContent = count(totals.triangles);
  $('info-size').textContent = bbox ? sizeText(bbox) : 'no geometry';
  $('info-box').textContent = bbox ? `[${bbox.min.map(length).join(' ')}] .. [${bbox.max.map(length).join(' ')}]` : 'empty';
  $('info-box').dataset.box = JSON.stringify(bbox);
  $('info-bytes').textContent = bytes(model.bytes);
  $('info-time').textContent = seconds(model.seconds);
  $('info-time').dataset.seconds = model.seconds;
  $('info-speed').textContent = model.seconds > 0 ? `${(model.bytes / model.seconds / 1e6).toFixed(1)} MB/s` : '';
  $('info').hidden = false;
}

function sizeText(box) {
  const finite = (v) => typeof v === 'number';
  return [0, 1, 2].map((i) => length(finite(box.max[i]) && finite(box.min[i]) ? box.max[i] - box.min[i] : null)).join(' × ');
}

function showFindings(report) {
  document.body.dataset.check = 'done';
  const list = $('findings-list');
  list.replaceChildren();
  const lost = model.discarded_vertices;
  if (report.errors + report.warnings === 0 && lost === 0) return;
  let summary = report.errors + report.warnings === 0 ? 'no problems' : `${plural(report.errors, 'error', 'errors')}, ${plural(report.warnings, 'warning', 'warnings')}`;
  if (report.lost_vertices > 0) summary += `; ${plural(report.lost_vertices, 'vertex', 'vertices')} lost`;
  if (lost > 0) summary = `${plural(lost, 'vertex was', 'vertices were')} dropped by the load. ${summary}`;
  $('findings-summary').textContent = summary;
  for (const finding of report.findings) {
    const item = document.createElement('li');
    item.className = finding.severity;
    item.textContent = `${finding.line}:${finding.column}: ${finding.severity}: ${finding.message} [${finding.code}]`;
    list.append(item);
  }
  const rest = report.errors + report.warnings - report.findings.length;
  if (rest > 0) {
    const item = document.createElement('li');
    item.textContent = `… and ${count(rest)} more`;
    list.append(item);
  }
  $('findings').hidden = false;
}

function showSelection(selection) {
  const dims = $('dims');
  if (!model || !model.bbox) {
    dims.hidden = true;
    return;
  }
  let first = 0;
  let end = 0;
  let text = `Model ${sizeText(model.bbox)}`;
  if (selection) {
    [first, end] = selection.kind === 'group' ? tree.objectRange(selection.index) : [selection.index, selection.index + 1];
    let min = [Infinity, Infinity, Infinity];
    let max = [-Infinity, -Infinity, -Infinity];
    for (let o = first; o < end; ++o) {
      const box = model.objects[o].bbox;
      if (!box) continue;
      min = min.map((v, i) => Math.min(v, box.min[i]));
      max = max.map((v, i) => Math.max(v, box.max[i]));
    }
    if (min[0] <= max[0]) text += ` · selected ${sizeText({ min, max })}`;
  }
  viewer.setSelection(first, end);
  dims.textContent = text;
  dims.hidden = false;
}

function download(name, blob) {
  const url = URL.createObjectURL(blob);
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

function onExported(files, report) {
  hideProgress();
  if (report.result !== 0) {
    showMessage(`Saving failed: ${report.message}`);
    return;
  }
  if (files.length === 1) {
    const type = files[0].name.endsWith('.glb') ? 'model/gltf-binary' : 'application/octet-stream';
    download(files[0].name, new Blob([files[0].bytes], { type }));
  } else download(`${files[0].name}.zip`, storedZip(files));
}

function onMessage(message) {
  switch (message.type) {
    case 'progress':
      showProgress(message.stage, message.percent);
      break;
    case 'model':
      onModel(message.model);
      break;
    case 'meshes':
      onMeshes(message.meshes);
      break;
    case 'loaded':
      // What the tree was told while the meshes were still arriving applies to all of them.
      viewer.setVisibility(tree.visibility());
      showSelection(tree.selected);
      viewer.fit();
      setState('ready');
      document.body.dataset.check = 'pending';
      showProgress('check', 0);
      break;
    case 'check':
      hideProgress();
      showFindings(message.report);
      break;
    case 'exported':
      onExported(message.files, message.report);
      break;
    case 'error':
      if (document.body.dataset.state === 'ready') {
        // Saving (or the check after a load) went wrong; the model on screen stays.
        stopWorker();
        hideProgress();
        $('save').disabled = true;
        showMessage(`Something went wrong: ${message.message}. Open the file again to save it.`);
        document.body.dataset.check = 'done';
      } else fail(`The file could not be loaded: ${message.message}.`);
      break;
  }
}

$('file-input').addEventListener('change', (event) => {
  const file = event.target.files[0];
  if (file) open(file, file.name);
  event.target.value = '';
});
$('cancel').addEventListener('click', () => {
  const loading = document.body.dataset.state === 'loading';
  ++openings;
  stopWorker();
  hideProgress();
  if (loading) {
    reset();
    setState('idle');
  } else $('save').disabled = true;
});
$('save').addEventListener('click', () => {
  if (!worker || !model) return;
  showProgress('export', 0);
  worker.postMessage({ type: 'export', format: $('save-format').value, baseName: baseNameOf(fileName) });
});
$('fit').addEventListener('click', () => viewer.fit());
$('wireframe').addEventListener('change', (event) => viewer.setWireframe(event.target.checked));
$('normals').addEventListener('change', (event) => viewer.setNormals(event.target.checked));
$('grid').addEventListener('change', (event) => viewer.setGrid(event.target.checked));
$('expand-all').addEventListener('click', () => tree.expandAll(true));
$('collapse-all').addEventListener('click', () => tree.expandAll(false));
$('show-all').addEventListener('click', () => tree.showAll());

// Drop a file anywhere on the page.
window.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('dragging');
});
window.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) document.body.classList.remove('dragging');
});
window.addEventListener('drop', (event) => {
  event.preventDefault();
  document.body.classList.remove('dragging');
  const file = event.dataTransfer && event.dataTransfer.files[0];
  if (file) open(file, file.name);
});

// ?file=URL: a file on the same server.
async function openFromUrl(parameter) {
  const opening = ++openings;
  setState('loading');
  showProgress('load', 0);
  let url;
  try {
    url = new URL(parameter, location.href);
  } catch {
    fail(`"${parameter}" is not a web address.`);
    return;
  }
  if (url.origin !== location.origin || location.protocol === 'file:') {
    fail(`Only files on the server of this page can be opened with ?file= (not ${url.href}); use "Open an SLP file…" instead.`);
    return;
  }
  try {
    const response = await fetch(url);
    if (!response.ok) throw new Error(`the server answered ${response.status} ${response.statusText}`.trim());
    const blob = await response.blob();
    if (opening !== openings) return; // the user opened another file or cancelled meanwhile
    open(blob, decodeURIComponent(url.pathname.slice(url.pathname.lastIndexOf('/') + 1)) || 'model.slp');
  } catch (error) {
    if (opening === openings) fail(`${url.pathname} could not be fetched: ${error.message}.`);
  }
}

const parameter = new URLSearchParams(location.search).get('file');
if (parameter) openFromUrl(parameter);
