// The page: opens a file (picker, drop, ?file=URL or #file=URL, or the script API), hands it to a
// worker running the library, and shows what comes back: the model in 3D, its group tree, what `slp
// info` and `slp check` say about it, and the formats it can be saved in. Around the view: measuring,
// section planes, links to the view, snapshots and the settings. embed.html is the same page with the
// view alone.
//
// The document's data-state attribute (on <html>) says where the page is: idle, loading, ready (the
// model is drawn) or error; data-check="done" follows once the check's findings are shown.
import workerSource from 'worker-source';
import { zipSync } from 'fflate';
import { angleBetween, distanceBetween, meshMeasures, sumMeasures } from './measure.js';
import { backgroundOf, loadSettings, rgbOf, saveSettings, themeOf } from './settings.js';
import { readView, writeView } from './share.js';
import { GroupTree } from './tree.js';
import { STANDARD_VIEWS, Viewer } from './viewer.js';
import { bytes, count, failureMessage, length, plural, seconds } from './text.js';

const $ = (id) => document.getElementById(id);
const root = document.documentElement;
const embedded = root.classList.contains('embed');
// The worker starts from its text, so the page needs no second file and works from file:// as well.
const workerUrl = URL.createObjectURL(new Blob([workerSource], { type: 'text/javascript' }));
const STAGE_LABELS = { fetch: 'Downloading', unpack: 'Unpacking', load: 'Loading', check: 'Checking', export: 'Saving', view: 'Preparing the view' };
// Selections of up to this many triangles are measured as soon as they are selected; larger ones on
// request, since the edges of millions of triangles take a while.
const AUTO_MEASURE_TRIANGLES = 1000000;
const VIEW_KEYS = { 1: 'front', 2: 'back', 3: 'right', 4: 'left', 5: 'top', 6: 'bottom', 0: 'iso' };

let worker = null;
let model = null;
let fileName = '';
let fileUrl = ''; // the address the file was opened from, for links; '' for a file of this computer
let meshesShown = 0;
// Counts the files opened and the cancels, so that a ?file= fetch that ends after either is dropped.
let openings = 0;
let pendingView = null; // a link's camera and visibility, applied once its model is loaded
let settings = loadSettings();
let measureMode = '';
let measured = [];
let sections = [];
let sectionFacePending = -1;
const measures = new Map(); // object index -> its meshMeasures
const listeners = { ready: new Set(), pick: new Set(), error: new Set(), camera: new Set() };
let readyWaiters = [];

const viewer = new Viewer($('canvas'), { onPick: (hit) => onPick(hit), onCamera: () => onCameraMoved() });
const tree = new GroupTree($('tree'), {
  onVisibility: (visible) => {
    viewer.setVisibility(visible);
    viewChanged();
  },
  onSelect: (selection) => showSelection(selection),
  onIsolate: (target) => {
    const [first, end] = rangeOf(target);
    viewer.fit(null, first, end);
  },
});

function emit(event, data) {
  for (const listener of listeners[event]) {
    try {
      listener(data);
    } catch (error) {
      console.error(error);
    }
  }
  if (embedded && window.parent !== window) window.parent.postMessage({ slp: event, ...data }, '*');
}

function setState(state) {
  document.body.dataset.state = state;
  if (state !== 'ready') root.dataset.state = state; // 'ready' once the model is drawn (see onMessage)
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
  emit('error', { message: text });
  for (const waiter of readyWaiters) waiter.reject(new Error(text));
  readyWaiters = [];
}

function reset() {
  model = null;
  meshesShown = 0;
  measures.clear();
  viewer.clear();
  tree.model = null;
  tree.render();
  sections = [];
  renderSections();
  setMeasureMode('');
  for (const id of ['info', 'details', 'findings', 'tree-panel', 'view-tools', 'dims', 'message', 'measure-result', 'link-panel']) $(id).hidden = true;
  delete document.body.dataset.check;
  delete root.dataset.check;
}

function baseNameOf(name) {
  const stem = name.replace(/\.gz$/i, '').replace(/\.[^.]*$/, '').replace(/[\u0000-\u001f/\\:*?"<>|]/g, '_').slice(0, 200);
  return stem || 'model';
}

// Loads a File (or a Blob fetched for ?file=) in a new worker: each file gets a fresh module, so the
// memory of the one before is given back whole.
function open(file, name, url = '') {
  ++openings;
  stopWorker();
  reset();
  fileName = name;
  fileUrl = url;
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
  $('view-tools').hidden = embedded && !new URLSearchParams(location.search).has('tools');
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
  $('info-bytes').textContent = bytes(model.bytes) + (model.packedBytes ? ` (${bytes(model.packedBytes)} gzipped)` : '');
  $('info-time').textContent = seconds(model.seconds);
  $('info-time').dataset.seconds = model.seconds;
  $('info-speed').textContent = model.seconds > 0 ? `${(model.bytes / model.seconds / 1e6).toFixed(1)} MB/s` : '';
  $('info').hidden = false;
}

// Lengths, areas and volumes carry the units label of the settings (the file's own units: SLP files
// do not say which they are).
function unit(power = 1) {
  if (!settings.units) return '';
  return ` ${settings.units}${power === 2 ? '²' : power === 3 ? '³' : ''}`;
}

function sizeText(box) {
  const finite = (v) => typeof v === 'number';
  return [0, 1, 2].map((i) => length(finite(box.max[i]) && finite(box.min[i]) ? box.max[i] - box.min[i] : null)).join(' × ') + unit();
}

function showFindings(report) {
  document.body.dataset.check = 'done';
  root.dataset.check = 'done';
  const list = $('findings-list');
  list.replaceChildren();
  const lost = model.discarded_vertices;
  if (report.errors + report.warnings === 0 && lost === 0) return;
  let summary = report.errors + report.warnings === 0 ? 'no problems' : `${plural(report.errors, 'error', 'errors')}, ${plural(report.warnings, 'warning', 'warnings')}`;
  if (report.lost_vertices > 0) summary += `; ${plural(report.lost_vertices, 'vertex', 'vertices')} lost`;
  if (lost > 0) summary = `${plural(lost, 'vertex was', 'vertices were')} dropped by the load. ${summary}`;
  $('findings-title').textContent = report.errors > 0 && report.warnings > 0 ? 'Errors and warnings' : report.errors > 0 ? 'Errors' : report.warnings > 0 ? 'Warnings' : 'Dropped vertices';
  $('findings-summary').textContent = summary;
  // By line and column, whatever order the check gives them in.
  const findings = [...report.findings].sort((a, b) => a.line - b.line || a.column - b.column);
  for (const finding of findings) {
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

function rangeOf(selection) {
  return selection.kind === 'group' ? tree.objectRange(selection.index) : [selection.index, selection.index + 1];
}

function showSelection(selection) {
  const dims = $('dims');
  if (!model || !model.bbox) {
    dims.hidden = true;
    $('details').hidden = true;
    return;
  }
  let first = 0;
  let end = 0;
  let text = `Model ${sizeText(model.bbox)}`;
  if (selection) {
    [first, end] = rangeOf(selection);
    let min = [Infinity, Infinity, Infinity];
    let max = [-Infinity, -Infinity, -Infinity];
    for (let o = first; o < end; ++o) {
      const box = model.objects[o].bbox;
      if (!box) continue;
      min = min.map((v, i) => Math.min(v, box.min[i]));
      max = max.map((v, i) => Math.max(v, box.max[i]));
    }
    if (min[0] <= max[0]) text += ` · selected ${sizeText({ min, max })}`;
    showDetails(selection, first, end, min[0] <= max[0] ? sizeText({ min, max }) : 'no geometry');
  } else $('details').hidden = true;
  viewer.setSelection(first, end);
  dims.textContent = text;
  dims.hidden = false;
}

// The details of a selection: its size, surface area and volume.
function showDetails(selection, first, end, size) {
  const name = selection.kind === 'group' ? (selection.index === 0 ? fileName : model.groups[selection.index].name) : `mesh ${selection.index - model.groups[model.objects[selection.index].group].objects[0] + 1} of ${model.groups[model.objects[selection.index].group].name || fileName}`;
  $('details-name').textContent = name;
  $('details-size').textContent = size;
  let triangles = 0;
  for (let o = first; o < end; ++o) triangles += model.objects[o].triangles;
  const compute = () => {
    const list = [];
    for (let o = first; o < end; ++o) {
      const mesh = viewer.meshes[o];
      if (!mesh) continue;
      if (!measures.has(o)) measures.set(o, meshMeasures(mesh.geometry.getAttribute('position').data.array, mesh.geometry.index.array));
      list.push(measures.get(o));
    }
    const total = sumMeasures(list);
    $('details-area').textContent = length(total.area) + unit(2);
    $('details-area').dataset.value = total.area;
    let volume;
    if (total.volume !== null) volume = length(total.volume) + unit(3) + (total.meshes > 1 ? ` (${plural(total.meshes, 'closed mesh', 'closed meshes')}, added up)` : '');
    else if (total.meshes === 0) volume = 'no triangles';
    else if (total.open > 0) volume = total.meshes === 1 ? 'none: the mesh is not closed' : `none: ${total.open} of ${plural(total.meshes, 'mesh is', 'meshes are')} not closed`;
    else volume = 'none: closed, but its triangles do not face one way';
    $('details-volume').textContent = volume;
    $('details-volume').dataset.value = total.volume === null ? '' : total.volume;
    $('details-compute').hidden = true;
  };
  if (triangles <= AUTO_MEASURE_TRIANGLES) compute();
  else {
    $('details-area').textContent = $('details-volume').textContent = `${plural(triangles, 'triangle', 'triangles')}: not yet computed`;
    $('details-compute').hidden = false;
    $('details-compute').onclick = compute;
  }
  $('details').hidden = false;
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
  } else {
    const zip = zipSync(Object.fromEntries(files.map((f) => [f.name, f.bytes])), { level: 6 });
    download(`${files[0].name}.zip`, new Blob([zip], { type: 'application/zip' }));
  }
}

function onLoaded() {
  // What the tree was told while the meshes were still arriving applies to all of them.
  viewer.setVisibility(tree.visibility());
  showSelection(tree.selected);
  applySettings();
  const view = pendingView;
  pendingView = null;
  if (view && view.visibility) tree.setVisibilityState(view.visibility);
  if (view && view.camera) viewer.setCamera(view.camera);
  else viewer.fit();
  syncViewControls();
  setState('ready');
  document.body.dataset.check = 'pending';
  showProgress('check', 0);
  // Ready once the first frame of the model is drawn.
  viewer.onFrame = () => {
    viewer.onFrame = null;
    root.dataset.state = 'ready';
    const info = { file: fileName, url: fileUrl, totals: model.totals, bbox: model.bbox };
    emit('ready', info);
    for (const waiter of readyWaiters) waiter.resolve(info);
    readyWaiters = [];
    viewChanged();
  };
  viewer.requestRender();
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
      onLoaded();
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
        root.dataset.check = 'done';
      } else fail(`The file could not be loaded: ${message.message}.`);
      break;
  }
}

// ---- Picks: selection, measuring, section planes ----------------------------------------------------

function onPick(hit) {
  if (!model) return;
  if (sectionFacePending >= 0 && hit) {
    const section = sections[sectionFacePending];
    sectionFacePending = -1;
    if (section) {
      section.normal = hit.normal;
      section.position = positionAlong(hit.normal, hit.point);
      section.flip = facesAway(hit.normal);
      renderSections();
      return;
    }
  }
  if (measureMode && hit) {
    measure(hit);
    return;
  }
  if (hit) tree.revealObject(hit.index);
  else tree.select(null);
  const group = hit ? model.objects[hit.index].group : -1;
  emit('pick', hit ? { object: hit.index, group, groupName: group > 0 ? model.groups[group].name : fileName, point: hit.point, vertex: hit.vertex, normal: hit.normal } : { object: -1 });
}

function setMeasureMode(mode) {
  measureMode = mode;
  measured = [];
  $('measure').value = mode;
  $('measure-result').hidden = !mode;
  $('measure-result').textContent = mode === 'distance' ? 'Click two points (corners snap).' : mode === 'angle' ? 'Click two faces.' : '';
  delete $('measure-result').dataset.value;
  document.body.classList.toggle('measuring', !!mode);
  viewer.clearOverlay();
}

function measure(hit) {
  if (measured.length === 2) measured = [];
  measured.push(hit);
  const result = $('measure-result');
  if (measureMode === 'distance') {
    const points = measured.map((m) => m.vertex);
    viewer.mark(points);
    if (points.length === 1) {
      result.textContent = `From ${points[0].map(length).join(', ')}${measured[0].snapped ? ' (a corner)' : ''}: click a second point.`;
      return;
    }
    const d = distanceBetween(points[0], points[1]);
    const delta = [0, 1, 2].map((k) => length(Math.abs(points[1][k] - points[0][k])));
    result.textContent = `Distance ${length(d)}${unit()} (Δx ${delta[0]}, Δy ${delta[1]}, Δz ${delta[2]})`;
    result.dataset.value = d;
  } else {
    viewer.mark([], measured.map((m) => m.triangle));
    if (measured.length === 1) {
      result.textContent = 'Click a second face.';
      return;
    }
    const angle = angleBetween(measured[0].normal, measured[1].normal);
    result.textContent = `Angle between the faces ${Number(angle.toFixed(2))}° (between their normals)`;
    result.dataset.value = angle;
  }
}

// Where a plane of this normal through the point lies along the normal, within the model's box (0..1).
function positionAlong(normal, point) {
  const [lo, hi] = extentAlong(normal);
  const at = normal[0] * point[0] + normal[1] * point[1] + normal[2] * point[2];
  return hi > lo ? Math.min(1, Math.max(0, (at - lo) / (hi - lo))) : 0.5;
}

// The least and greatest of normal·p over the corners of the model's box.
function extentAlong(normal) {
  const box = model.bbox;
  let lo = Infinity;
  let hi = -Infinity;
  for (let corner = 0; corner < 8; ++corner) {
    const p = [0, 1, 2].map((k) => (corner & (1 << k) ? box.max[k] : box.min[k]));
    const at = normal[0] * p[0] + normal[1] * p[1] + normal[2] * p[2];
    lo = Math.min(lo, at);
    hi = Math.max(hi, at);
  }
  return [lo, hi];
}

const AXES = { x: [1, 0, 0], y: [0, 1, 0], z: [0, 0, 1] };

// Whether a cut across this direction shows its face to the camera only when flipped: a new section
// keeps the part beyond its cut, as seen from the camera, so that the cut faces the viewer.
function facesAway(normal) {
  const { position, target } = viewer.getCamera();
  return [0, 1, 2].reduce((sum, k) => sum + (position[k] - target[k]) * normal[k], 0) < 0;
}

// Each section keeps what lies on the near side of its cut: normal·p <= the cut (>= when flipped).
function applySections() {
  if (!model || !model.bbox) return;
  viewer.setSections(
    sections.map((s) => {
      const normal = s.normal;
      const [lo, hi] = extentAlong(normal);
      const cut = lo + s.position * (hi - lo);
      const sign = s.flip ? 1 : -1;
      return { normal: normal.map((v) => v * sign), constant: -sign * cut };
    }),
  );
}

function renderSections() {
  const container = $('sections');
  container.replaceChildren();
  sections.forEach((section, i) => {
    const row = document.createElement('div');
    row.className = 'tool-row section';
    row.dataset.index = i;
    const axis = document.createElement('select');
    axis.className = 'section-axis';
    axis.setAttribute('aria-label', `Section ${i + 1} along`);
    for (const [value, label] of [['x', 'X'], ['y', 'Y'], ['z', 'Z'], ['face', 'A face…']]) axis.append(new Option(label, value, false, section.axis === value));
    axis.addEventListener('change', () => {
      section.axis = axis.value;
      if (axis.value === 'face') {
        sectionFacePending = i;
        note.textContent = 'Click a face.';
        return;
      }
      section.normal = AXES[axis.value];
      section.position = 0.5;
      section.flip = facesAway(section.normal);
      renderSections();
    });
    const slider = document.createElement('input');
    slider.type = 'range';
    slider.className = 'section-position';
    slider.min = 0;
    slider.max = 1000;
    slider.value = Math.round(section.position * 1000);
    slider.setAttribute('aria-label', `Section ${i + 1} position`);
    slider.addEventListener('input', () => {
      section.position = slider.value / 1000;
      applySections();
    });
    const flip = document.createElement('label');
    flip.innerHTML = '<input type="checkbox" class="section-flip"> flip';
    flip.firstChild.checked = section.flip;
    flip.firstChild.addEventListener('change', (event) => {
      section.flip = event.target.checked;
      applySections();
    });
    const remove = document.createElement('button');
    remove.type = 'button';
    remove.textContent = '×';
    remove.title = 'Remove this section';
    remove.addEventListener('click', () => {
      sections.splice(i, 1);
      sectionFacePending = -1;
      renderSections();
    });
    const note = document.createElement('span');
    note.className = 'note';
    row.append(axis, slider, flip, remove, note);
    container.append(row);
  });
  $('section-add').disabled = sections.length >= 3;
  applySections();
}

// ---- The view: controls, links, snapshots ------------------------------------------------------------

let hashTimer = 0;
let cameraTimer = 0;

function onCameraMoved() {
  viewChanged();
  clearTimeout(cameraTimer);
  cameraTimer = setTimeout(() => emit('camera', { camera: viewer.getCamera() }), 100);
}

function currentView() {
  return { file: fileUrl, camera: viewer.getCamera(), visibility: tree.visibilityState() };
}

function linkToView() {
  return `${location.origin}${location.pathname}${location.search.includes('tools') ? '?tools' : ''}#${writeView(currentView())}`;
}

// The address bar follows the view (without adding to the history), so that it is a link to it too.
function viewChanged() {
  if (!model || root.dataset.state !== 'ready') return;
  clearTimeout(hashTimer);
  hashTimer = setTimeout(() => {
    if (model && location.protocol !== 'file:') history.replaceState(null, '', `${location.pathname}${location.search}#${writeView(currentView())}`);
  }, 200);
}

function syncViewControls() {
  const camera = viewer.getCamera();
  $('projection').value = camera.projection;
  $('up-axis').value = camera.upAxis;
  $('orbit').value = camera.orbit;
}

async function copyLink() {
  const link = linkToView();
  $('link-text').value = link;
  $('link-panel').hidden = false;
  $('link-text').select();
  try {
    await navigator.clipboard.writeText(link);
    $('link-note').textContent = fileUrl ? 'Copied.' : 'Copied. The file was opened from this computer: whoever opens the link opens the file the same way.';
  } catch {
    $('link-note').textContent = 'Copy it from here.';
  }
}

async function saveSnapshot() {
  const width = Number($('snapshot-width').value) || 1920;
  const height = Number($('snapshot-height').value) || 1080;
  const blob = await viewer.snapshot(width, height);
  download(`${baseNameOf(fileName)}.png`, blob);
}

// ---- Settings -------------------------------------------------------------------------------------------

function applySettings() {
  root.dataset.theme = themeOf(settings);
  viewer.setBackground(backgroundOf(settings));
  viewer.setPlainColour(settings.plainColour ? rgbOf(settings.plainColour) : null);
  if ((settings.edges ? settings.creaseAngle : null) !== viewer.edgeAngle && model) viewer.setEdges(settings.edges ? settings.creaseAngle : null);
  else viewer.edgeAngle = settings.edges ? settings.creaseAngle : null;
  $('setting-theme').value = settings.theme;
  $('setting-background').value = backgroundOf(settings);
  $('setting-plain').value = settings.plainColour || '#ffffff';
  $('setting-edges').checked = settings.edges;
  $('setting-crease').value = settings.creaseAngle;
  $('setting-units').value = settings.units;
  if (model) {
    showInfo();
    showSelection(tree.selected);
  }
}

function changeSetting(name, value) {
  settings = { ...settings, [name]: value };
  saveSettings(settings);
  applySettings();
}

$('settings-button').addEventListener('click', () => $('settings').showModal());
$('setting-theme').addEventListener('change', (event) => changeSetting('theme', event.target.value));
$('setting-background').addEventListener('input', (event) => changeSetting('background', event.target.value));
$('setting-background-reset').addEventListener('click', () => changeSetting('background', ''));
$('setting-plain').addEventListener('input', (event) => changeSetting('plainColour', event.target.value));
$('setting-plain-reset').addEventListener('click', () => changeSetting('plainColour', ''));
$('setting-edges').addEventListener('change', (event) => changeSetting('edges', event.target.checked));
$('setting-crease').addEventListener('change', (event) => {
  const angle = Number(event.target.value);
  if (Number.isFinite(angle) && angle >= 0 && angle <= 180) changeSetting('creaseAngle', angle);
});
$('setting-units').addEventListener('input', (event) => changeSetting('units', event.target.value.trim()));
if (window.matchMedia) window.matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => applySettings());
applySettings();

// ---- Controls --------------------------------------------------------------------------------------------

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
$('fit').addEventListener('click', () => viewer.fit(null));
$('view-select').addEventListener('change', (event) => {
  if (event.target.value) viewer.fit(event.target.value);
  event.target.value = '';
});
$('projection').addEventListener('change', (event) => viewer.setProjection(event.target.value));
$('up-axis').addEventListener('change', (event) => viewer.setUpAxis(event.target.value));
$('orbit').addEventListener('change', (event) => viewer.setOrbit(event.target.value));
$('wireframe').addEventListener('change', (event) => viewer.setWireframe(event.target.checked));
$('normals').addEventListener('change', (event) => viewer.setNormals(event.target.checked));
$('grid').addEventListener('change', (event) => viewer.setGrid(event.target.checked));
$('measure').addEventListener('change', (event) => setMeasureMode(event.target.value));
$('section-add').addEventListener('click', () => {
  if (sections.length >= 3 || !model) return;
  const used = new Set(sections.map((s) => s.axis));
  const axis = ['x', 'y', 'z'].find((a) => !used.has(a)) || 'x';
  sections.push({ axis, normal: AXES[axis], position: 0.5, flip: facesAway(AXES[axis]) });
  renderSections();
});
$('copy-link').addEventListener('click', copyLink);
$('snapshot-button').addEventListener('click', () => ($('snapshot-panel').hidden = !$('snapshot-panel').hidden));
$('snapshot-save').addEventListener('click', saveSnapshot);
$('expand-all').addEventListener('click', () => tree.expandAll(true));
$('collapse-all').addEventListener('click', () => tree.expandAll(false));
$('show-all').addEventListener('click', () => tree.showAll());
$('tree-search').addEventListener('input', (event) => tree.setFilter(event.target.value));

// Keys for the view, when no field has the focus: standard views, fit, projection, measuring.
window.addEventListener('keydown', (event) => {
  if (!model || event.ctrlKey || event.metaKey || event.altKey || event.target.closest('input, select, textarea, [role="tree"], dialog')) return;
  const view = VIEW_KEYS[event.key];
  if (view && STANDARD_VIEWS[view]) viewer.fit(view);
  else if (event.key === 'f' || event.key === 'F') viewer.fit(null);
  else if (event.key === 'p' || event.key === 'P') {
    viewer.setProjection(viewer.getCamera().projection === 'perspective' ? 'orthographic' : 'perspective');
    syncViewControls();
  } else if (event.key === 'm' || event.key === 'M') setMeasureMode(measureMode === '' ? 'distance' : measureMode === 'distance' ? 'angle' : '');
  else if (event.key === 'Escape') setMeasureMode('');
  else return;
  event.preventDefault();
});

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

// ---- Files by address ------------------------------------------------------------------------------------

// Downloads in parts (so the progress can follow), kept as a Blob of blobs, which the browser may keep
// on disk rather than in memory.
async function fetchBlob(url, opening) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`the server answered ${response.status} ${response.statusText}`.trim());
  const total = Number(response.headers.get('content-length')) || 0;
  if (!response.body) return response.blob();
  const reader = response.body.getReader();
  const parts = [];
  let pending = [];
  let pendingBytes = 0;
  let received = 0;
  for (;;) {
    const { done, value } = await reader.read();
    if (opening !== openings) {
      reader.cancel();
      return null;
    }
    if (done) break;
    pending.push(value);
    pendingBytes += value.length;
    received += value.length;
    if (pendingBytes >= 16 << 20) {
      parts.push(new Blob(pending));
      pending = [];
      pendingBytes = 0;
    }
    if (total > 0) showProgress('fetch', Math.min(100, Math.floor((received * 100) / total)));
  }
  parts.push(new Blob(pending));
  return new Blob(parts);
}

// A file on the same server as the page.
async function openFromUrl(parameter) {
  const opening = ++openings;
  stopWorker();
  reset();
  setState('loading');
  showProgress('fetch', 0);
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
    const blob = await fetchBlob(url, opening);
    if (!blob || opening !== openings) return; // the user opened another file or cancelled meanwhile
    open(blob, decodeURIComponent(url.pathname.slice(url.pathname.lastIndexOf('/') + 1)) || 'model.slp', parameter);
  } catch (error) {
    if (opening === openings) fail(`${url.pathname} could not be fetched: ${error.message}.`);
  }
}

// A link's view: its file opened (unless it is open already), then its camera and visibility.
function openView(hash) {
  const view = readView(hash);
  const file = new URLSearchParams(location.search).get('file') || view.file;
  if (file && (file !== fileUrl || !model)) {
    pendingView = view;
    openFromUrl(file);
  } else if (model) {
    if (view.visibility) tree.setVisibilityState(view.visibility);
    if (view.camera) viewer.setCamera(view.camera);
    syncViewControls();
  }
}

window.addEventListener('hashchange', () => openView(location.hash));
openView(location.hash);

// ---- The script API: window.slpViewer, and messages to an embedded page ------------------------------------

function whenReady() {
  return new Promise((resolve, reject) => readyWaiters.push({ resolve, reject }));
}

// source: an address on this page's server, a File or Blob, or the bytes (ArrayBuffer or typed array).
function openSource(source, name) {
  const ready = whenReady();
  if (typeof source === 'string') {
    pendingView = null;
    openFromUrl(source);
  } else if (source instanceof Blob) open(source, name || source.name || 'model.slp');
  else if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) open(new Blob([source]), name || 'model.slp');
  else return Promise.reject(new TypeError('open takes an address, a File or Blob, or bytes'));
  return ready;
}

window.slpViewer = {
  open: openSource,
  get state() {
    return root.dataset.state;
  },
  getCamera: () => viewer.getCamera(),
  setCamera: (camera) => {
    viewer.setCamera(camera || {});
    syncViewControls();
  },
  fit: (view = 'iso') => viewer.fit(STANDARD_VIEWS[view] ? view : 'iso'),
  project: (point) => viewer.project(point),
  link: () => linkToView(),
  on: (event, listener) => listeners[event] && listeners[event].add(listener),
  off: (event, listener) => listeners[event] && listeners[event].delete(listener),
};

window.addEventListener('message', (event) => {
  const data = event.data;
  if (!data || typeof data !== 'object' || typeof data.slp !== 'string' || event.source === window) return;
  const reply = (message) => event.source && event.source.postMessage({ ...message, id: data.id }, event.origin === 'null' ? '*' : event.origin);
  switch (data.slp) {
    case 'open':
      openSource(data.url ?? data.file ?? data.bytes, typeof data.name === 'string' ? data.name : undefined).catch(() => {});
      break;
    case 'setCamera':
      if (data.camera && typeof data.camera === 'object') window.slpViewer.setCamera(data.camera);
      break;
    case 'fit':
      window.slpViewer.fit(data.view);
      break;
    case 'getCamera':
      reply({ slp: 'camera', camera: viewer.getCamera() });
      break;
  }
});
