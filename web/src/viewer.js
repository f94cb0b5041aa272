// The 3D view: one three.js mesh per mesh of the model, all side by side under one root (the model has
// no transforms, and a flat scene keeps three.js's own walks shallow however deep the groups nest).
// Z is up, as in the files. The view is drawn only when something changed.
import * as THREE from 'three';
import { OrbitControls } from 'three/examples/jsm/controls/OrbitControls.js';

// The direction the camera looks from when fitting: front right, above.
const VIEW_AZIMUTH = (35 * Math.PI) / 180;
const VIEW_ELEVATION = (25 * Math.PI) / 180;
const SELECTED_EMISSIVE = new THREE.Color(0x3355cc);
// Normals are drawn for at most this many vertices (two points each).
const MAX_NORMALS = 4000000;

// 1, 2 or 5 times a power of ten, at least the value.
function niceStep(value) {
  const power = 10 ** Math.floor(Math.log10(value));
  for (const m of [1, 2, 5, 10]) if (m * power >= value) return m * power;
  return 10 * power;
}

export class Viewer {
  // onPick(objectIndex or -1) is called when the user clicks the view without dragging.
  constructor(canvas, onPick) {
    this.canvas = canvas;
    this.onPick = onPick;
    this.renderer = new THREE.WebGLRenderer({ canvas, antialias: true });
    this.renderer.setPixelRatio(Math.min(window.devicePixelRatio || 1, 2));
    this.renderer.setClearColor(0xe9ecf2);
    this.scene = new THREE.Scene();
    this.camera = new THREE.PerspectiveCamera(40, 1, 0.1, 1000);
    this.camera.up.set(0, 0, 1);
    this.scene.add(this.camera);
    this.scene.add(new THREE.HemisphereLight(0xffffff, 0x8a8f99, 1.6));
    const headLight = new THREE.DirectionalLight(0xffffff, 1.4);
    headLight.position.set(0.4, 1, 0.6);
    this.camera.add(headLight);
    this.root = new THREE.Group();
    this.scene.add(this.root);
    this.helpers = new THREE.Group();
    this.scene.add(this.helpers);
    this.controls = new OrbitControls(this.camera, canvas);
    this.controls.screenSpacePanning = true;
    this.controls.addEventListener('change', () => this.requestRender());
    this.meshes = [];
    this.wireframe = false;
    this.showNormals = false;
    this.showGrid = true;
    this.pending = false;
    new ResizeObserver(() => this.resize()).observe(canvas.parentElement);
    this.watchClicks();
    this.resize();
  }

  resize() {
    const { clientWidth: width, clientHeight: height } = this.canvas.parentElement;
    if (width === 0 || height === 0) return;
    this.renderer.setSize(width, height, false);
    this.camera.aspect = width / height;
    this.camera.updateProjectionMatrix();
    this.requestRender();
  }

  requestRender() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.renderer.render(this.scene, this.camera);
    });
  }

  clear() {
    for (const mesh of this.meshes) {
      if (!mesh) continue;
      mesh.geometry.dispose();
      mesh.material.dispose();
      if (mesh.userData.normals) {
        mesh.userData.normals.geometry.dispose();
        mesh.userData.normals.material.dispose();
      }
    }
    this.root.clear();
    this.clearHelpers();
    this.meshes = [];
    this.normalCount = 0;
    this.requestRender();
  }

  // A new model: its objects (for colours) and its box, {min, max} or null.
  setModel(objects, box) {
    this.clear();
    this.objects = objects;
    this.meshes = new Array(objects.length).fill(null);
    const finite = box && [...box.min, ...box.max].every((v) => typeof v === 'number' && Number.isFinite(v));
    this.box = finite ? new THREE.Box3(new THREE.Vector3(...box.min), new THREE.Vector3(...box.max)) : null;
    this.makeHelpers();
  }

  // An object's geometry: vertices (x y z nx ny nz each, as the binding builds them) and triangle
  // indices, used as they are.
  addMesh(index, vertices, indices) {
    const geometry = new THREE.BufferGeometry();
    const interleaved = new THREE.InterleavedBuffer(vertices, 6);
    geometry.setAttribute('position', new THREE.InterleavedBufferAttribute(interleaved, 3, 0));
    geometry.setAttribute('normal', new THREE.InterleavedBufferAttribute(interleaved, 3, 3));
    geometry.setIndex(new THREE.BufferAttribute(indices, 1));
    // Bounds from the finite vertices only: a vertex of 1e39 is infinite in a float, and bounds that
    // hold it would cull the mesh from the view and put the fitted camera at infinity.
    geometry.boundingBox = finiteBox(vertices);
    geometry.boundingSphere = geometry.boundingBox.getBoundingSphere(new THREE.Sphere());
    const colour = this.objects[index].shown_color;
    const alpha = colour[3];
    const material = new THREE.MeshStandardMaterial({
      roughness: 0.75,
      metalness: 0,
      side: THREE.DoubleSide,
      transparent: alpha < 1,
      opacity: alpha,
      wireframe: this.wireframe,
    });
    // The file's colours are shown as they are written, as the tree's swatches show them.
    material.color.setRGB(colour[0], colour[1], colour[2], THREE.SRGBColorSpace);
    const mesh = new THREE.Mesh(geometry, material);
    mesh.userData.index = index;
    this.meshes[index] = mesh;
    this.root.add(mesh);
    if (this.showNormals) this.addNormals(mesh);
    this.requestRender();
  }

  clearHelpers() {
    for (const helper of this.helpers.children) helper.dispose();
    this.helpers.clear();
  }

  makeHelpers() {
    this.clearHelpers();
    if (!this.box || this.box.isEmpty()) return;
    const size = this.box.getSize(new THREE.Vector3());
    const extent = Math.max(size.x, size.y, size.z, 1e-6);
    const step = niceStep(extent / 10);
    const span = step * 2 * Math.ceil((Math.max(size.x, size.y) * 0.75 + step) / step);
    const center = this.box.getCenter(new THREE.Vector3());
    const grid = new THREE.GridHelper(span, Math.round(span / step), 0x9aa1ad, 0xc9ced8);
    grid.rotation.x = Math.PI / 2; // the XY plane
    grid.position.set(Math.round(center.x / step) * step, Math.round(center.y / step) * step, this.box.min.z);
    this.helpers.add(grid);
    // The axes at the origin when it lies near the model, else at the grid's corner.
    const axes = new THREE.AxesHelper(step * 3);
    const near = this.box.clone().expandByScalar(extent * 0.5);
    if (near.containsPoint(new THREE.Vector3())) axes.position.set(0, 0, 0);
    else axes.position.set(grid.position.x - span / 2, grid.position.y - span / 2, this.box.min.z);
    this.helpers.add(axes);
    this.helpers.visible = this.showGrid;
    this.gridStep = step;
  }

  setVisibility(visible) {
    for (let i = 0; i < this.meshes.length; ++i) if (this.meshes[i]) this.meshes[i].visible = visible[i] === 1;
    this.requestRender();
  }

  // Highlights the objects in [first, end).
  setSelection(first, end) {
    for (let i = 0; i < this.meshes.length; ++i) {
      const mesh = this.meshes[i];
      if (mesh) mesh.material.emissive.copy(i >= first && i < end ? SELECTED_EMISSIVE : new THREE.Color(0));
    }
    this.requestRender();
  }

  setWireframe(on) {
    this.wireframe = on;
    for (const mesh of this.meshes) if (mesh) mesh.material.wireframe = on;
    this.requestRender();
  }

  setGrid(on) {
    this.showGrid = on;
    this.helpers.visible = on;
    this.requestRender();
  }

  addNormals(mesh) {
    if (mesh.userData.normals) return;
    const source = mesh.geometry.getAttribute('position').data.array;
    const count = source.length / 6;
    if ((this.normalCount || 0) + count > MAX_NORMALS) return;
    this.normalCount = (this.normalCount || 0) + count;
    const length = (this.gridStep || 1) * 0.4;
    const points = new Float32Array(count * 6);
    for (let v = 0; v < count; ++v) {
      const s = v * 6;
      for (let k = 0; k < 3; ++k) {
        points[s + k] = source[s + k];
        points[s + 3 + k] = source[s + k] + source[s + 3 + k] * length;
      }
    }
    const geometry = new THREE.BufferGeometry();
    geometry.setAttribute('position', new THREE.BufferAttribute(points, 3));
    const lines = new THREE.LineSegments(geometry, new THREE.LineBasicMaterial({ color: 0x1b7a3a }));
    lines.raycast = () => {};
    mesh.userData.normals = lines;
    mesh.add(lines);
  }

  setNormals(on) {
    this.showNormals = on;
    for (const mesh of this.meshes) {
      if (!mesh) continue;
      if (on) this.addNormals(mesh);
      if (mesh.userData.normals) mesh.userData.normals.visible = on;
    }
    this.requestRender();
  }

  // The box of the visible meshes' finite vertices, or of the model when no mesh is visible.
  visibleBox() {
    const box = new THREE.Box3();
    for (const mesh of this.meshes) if (mesh && mesh.visible) box.union(mesh.geometry.boundingBox);
    return box.isEmpty() && this.box ? this.box.clone() : box;
  }

  fit() {
    const box = this.visibleBox();
    if (box.isEmpty()) return;
    const center = box.getCenter(new THREE.Vector3());
    const radius = Math.max(box.getSize(new THREE.Vector3()).length() / 2, 1e-6);
    const distance = radius / Math.sin(THREE.MathUtils.degToRad(this.camera.fov / 2)) * 1.05;
    const direction = new THREE.Vector3(
      Math.sin(VIEW_AZIMUTH) * Math.cos(VIEW_ELEVATION),
      -Math.cos(VIEW_AZIMUTH) * Math.cos(VIEW_ELEVATION),
      Math.sin(VIEW_ELEVATION),
    );
    this.camera.position.copy(center).addScaledVector(direction, distance);
    this.camera.near = distance / 1000;
    this.camera.far = distance * 20;
    this.camera.updateProjectionMatrix();
    this.controls.target.copy(center);
    this.controls.update();
    this.requestRender();
  }

  watchClicks() {
    let down = null;
    this.canvas.addEventListener('pointerdown', (event) => {
      down = { x: event.clientX, y: event.clientY };
    });
    this.canvas.addEventListener('pointerup', (event) => {
      if (!down || Math.hypot(event.clientX - down.x, event.clientY - down.y) > 4) return;
      down = null;
      this.onPick(this.pick(event.clientX, event.clientY));
    });
  }

  // The object under a point of the page, or -1.
  pick(clientX, clientY) {
    const rect = this.canvas.getBoundingClientRect();
    const pointer = new THREE.Vector2(((clientX - rect.left) / rect.width) * 2 - 1, -((clientY - rect.top) / rect.height) * 2 + 1);
    const raycaster = new THREE.Raycaster();
    raycaster.setFromCamera(pointer, this.camera);
    const hits = raycaster.intersectObjects(this.meshes.filter((mesh) => mesh && mesh.visible), false);
    return hits.length > 0 ? hits[0].object.userData.index : -1;
  }
}

// The box of the vertices (x y z nx ny nz each) whose coordinates are all finite.
function finiteBox(vertices) {
  const box = new THREE.Box3();
  const point = new THREE.Vector3();
  for (let s = 0; s < vertices.length; s += 6) {
    const x = vertices[s];
    const y = vertices[s + 1];
    const z = vertices[s + 2];
    if (Number.isFinite(x) && Number.isFinite(y) && Number.isFinite(z)) box.expandByPoint(point.set(x, y, z));
  }
  return box;
}
