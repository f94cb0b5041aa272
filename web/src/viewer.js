// The 3D view: one three.js mesh per mesh of the model, all side by side under one root (the model has
// no transforms, and a flat scene keeps three.js's own walks shallow however deep the groups nest).
// Z is up, as in the files, unless the user turns Y up. The view is drawn only when something changed.
//
// Besides showing the model it offers what the page builds on: the camera as plain numbers (for links
// and the script API), standard views, perspective or orthographic projection, a turntable (fixed) or
// free orbit, picks that snap to vertices, up to three section planes with filled caps, edges above a
// crease angle, and snapshots at any size.
import * as THREE from 'three';
import { OrbitControls } from 'three/examples/jsm/controls/OrbitControls.js';
import { TrackballControls } from 'three/examples/jsm/controls/TrackballControls.js';

// The direction the camera looks from when fitting: front right, above.
const VIEW_AZIMUTH = (35 * Math.PI) / 180;
const VIEW_ELEVATION = (25 * Math.PI) / 180;
const SELECTED_EMISSIVE = new THREE.Color(0x3355cc);
const FOV = 40;
// Normals are drawn for at most this many vertices (two points each), edges for this many triangles.
const MAX_NORMALS = 4000000;
const MAX_EDGE_TRIANGLES = 4000000;
// A pick snaps to the nearest corner of the triangle hit when that corner is this close on screen.
const SNAP_PIXELS = 12;
// The loader gives a mesh without a colour of its own this one.
const LOADER_DEFAULT_COLOUR = [1, 1, 1, 1];

// Standard views: where the camera looks from, in terms of the frame's front, right and up.
export const STANDARD_VIEWS = {
  front: [1, 0, 0],
  back: [-1, 0, 0],
  right: [0, 1, 0],
  left: [0, -1, 0],
  top: [0, 0, 1],
  bottom: [0, 0, -1],
  iso: [Math.cos(VIEW_AZIMUTH) * Math.cos(VIEW_ELEVATION), Math.sin(VIEW_AZIMUTH) * Math.cos(VIEW_ELEVATION), Math.sin(VIEW_ELEVATION)],
};

// 1, 2 or 5 times a power of ten, at least the value.
function niceStep(value) {
  const power = 10 ** Math.floor(Math.log10(value));
  for (const m of [1, 2, 5, 10]) if (m * power >= value) return m * power;
  return 10 * power;
}

// The frame of an up axis: where "front" looks from, "right" and "up".
function frameOf(upAxis) {
  return upAxis === 'y'
    ? { front: new THREE.Vector3(0, 0, 1), right: new THREE.Vector3(1, 0, 0), up: new THREE.Vector3(0, 1, 0) }
    : { front: new THREE.Vector3(0, -1, 0), right: new THREE.Vector3(1, 0, 0), up: new THREE.Vector3(0, 0, 1) };
}

function sameColour(a, b) {
  return a.every((v, i) => v === b[i]);
}

export class Viewer {
  // onPick({index, point, vertex, normal} or null) is called when the user clicks the view without
  // dragging; onCamera() when the camera moved.
  constructor(canvas, { onPick = () => {}, onCamera = () => {} } = {}) {
    this.canvas = canvas;
    this.onPick = onPick;
    this.onCamera = onCamera;
    this.renderer = new THREE.WebGLRenderer({ canvas, antialias: true, stencil: true });
    this.renderer.setPixelRatio(Math.min(window.devicePixelRatio || 1, 2));
    this.renderer.localClippingEnabled = true;
    this.background = new THREE.Color(0xe9ecf2);
    this.renderer.setClearColor(this.background);
    this.scene = new THREE.Scene();
    this.perspective = new THREE.PerspectiveCamera(FOV, 1, 0.1, 1000);
    this.orthographic = new THREE.OrthographicCamera(-1, 1, 1, -1, 0.1, 1000);
    for (const camera of [this.perspective, this.orthographic]) {
      camera.up.set(0, 0, 1);
      const headLight = new THREE.DirectionalLight(0xffffff, 1.4);
      headLight.position.set(0.4, 1, 0.6);
      camera.add(headLight);
      this.scene.add(camera);
    }
    this.camera = this.perspective;
    this.upAxis = 'z';
    this.orbit = 'fixed';
    this.scene.add(new THREE.HemisphereLight(0xffffff, 0x8a8f99, 1.6));
    this.root = new THREE.Group();
    this.scene.add(this.root);
    this.helpers = new THREE.Group();
    this.scene.add(this.helpers);
    this.overlay = new THREE.Group(); // measurement marks, drawn over everything
    this.overlay.renderOrder = 100;
    this.scene.add(this.overlay);
    this.capping = new THREE.Group();
    this.scene.add(this.capping);
    this.meshes = [];
    this.sections = [];
    this.wireframe = false;
    this.showNormals = false;
    this.showGrid = true;
    this.edgeAngle = null;
    this.plainColour = null;
    this.capColour = new THREE.Color(0xe8743b);
    this.pending = false;
    this.onFrame = null;
    this.makeControls(new THREE.Vector3());
    new ResizeObserver(() => this.resize()).observe(canvas.parentElement);
    this.watchClicks();
    this.resize();
  }

  makeControls(target) {
    if (this.controls) this.controls.dispose();
    if (this.orbit === 'free') {
      this.controls = new TrackballControls(this.camera, this.canvas);
      this.controls.staticMoving = true;
      this.controls.rotateSpeed = 3;
      this.controls.handleResize();
      // Trackball controls move only in update(), which needs calling on each frame while they are used.
      const step = () => {
        if (this.controls.constructor !== TrackballControls) return;
        this.controls.update();
        requestAnimationFrame(step);
      };
      requestAnimationFrame(step);
    } else {
      this.controls = new OrbitControls(this.camera, this.canvas);
      this.controls.screenSpacePanning = true;
    }
    this.controls.target.copy(target);
    this.controls.addEventListener('change', () => {
      this.requestRender();
      this.onCamera();
    });
    this.controls.update();
  }

  resize() {
    const { clientWidth: width, clientHeight: height } = this.canvas.parentElement;
    if (width === 0 || height === 0) return;
    this.renderer.setSize(width, height, false);
    this.setAspect(width / height);
    if (this.controls.handleResize) this.controls.handleResize();
    this.requestRender();
  }

  setAspect(aspect) {
    this.aspect = aspect;
    this.perspective.aspect = aspect;
    this.perspective.updateProjectionMatrix();
    const o = this.orthographic;
    const half = (o.top - o.bottom) / 2;
    o.left = -half * aspect;
    o.right = half * aspect;
    o.updateProjectionMatrix();
  }

  requestRender() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.render();
      if (this.onFrame) this.onFrame();
    });
  }

  render() {
    this.renderer.render(this.scene, this.camera);
  }

  clear() {
    for (const mesh of this.meshes) {
      if (!mesh) continue;
      mesh.geometry.dispose();
      mesh.material.dispose();
      for (const extra of [mesh.userData.normals, mesh.userData.edges]) {
        if (!extra) continue;
        extra.geometry.dispose();
        extra.material.dispose();
      }
    }
    this.root.clear();
    this.clearHelpers();
    this.clearOverlay();
    this.meshes = [];
    this.normalCount = 0;
    this.edgeTriangles = 0;
    this.setSections([]);
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
  // indices, used as they are (three.js keeps these arrays; nothing is copied).
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
    const material = new THREE.MeshStandardMaterial({ roughness: 0.75, metalness: 0, side: THREE.DoubleSide, wireframe: this.wireframe });
    material.clippingPlanes = this.sections.map((s) => s.plane);
    const mesh = new THREE.Mesh(geometry, material);
    mesh.userData.index = index;
    mesh.renderOrder = 6;
    this.meshes[index] = mesh;
    this.colourMesh(mesh);
    this.root.add(mesh);
    if (this.showNormals) this.addNormals(mesh);
    if (this.edgeAngle !== null) this.addEdges(mesh);
    this.requestRender();
  }

  colourMesh(mesh) {
    let colour = this.objects[mesh.userData.index].shown_color;
    if (this.plainColour && sameColour(colour, LOADER_DEFAULT_COLOUR)) colour = [...this.plainColour, 1];
    const material = mesh.material;
    material.transparent = colour[3] < 1;
    material.opacity = colour[3];
    // The file's colours are shown as they are written, as the tree's swatches show them.
    material.color.setRGB(colour[0], colour[1], colour[2], THREE.SRGBColorSpace);
    material.needsUpdate = true;
  }

  // The colour ([r, g, b] in 0..1, or null for the loader's white) of meshes the file gives none.
  setPlainColour(colour) {
    this.plainColour = colour;
    for (const mesh of this.meshes) if (mesh) this.colourMesh(mesh);
    this.requestRender();
  }

  setBackground(hex) {
    this.background.set(hex);
    this.renderer.setClearColor(this.background);
    this.requestRender();
  }

  clearHelpers() {
    for (const helper of this.helpers.children) helper.dispose();
    this.helpers.clear();
  }

  makeHelpers() {
    this.clearHelpers();
    if (!this.box || this.box.isEmpty()) return;
    const frame = frameOf(this.upAxis);
    const size = this.box.getSize(new THREE.Vector3());
    const extent = Math.max(size.x, size.y, size.z, 1e-6);
    const step = niceStep(extent / 10);
    const flat = this.upAxis === 'y' ? Math.max(size.x, size.z) : Math.max(size.x, size.y);
    const span = step * 2 * Math.ceil((flat * 0.75 + step) / step);
    const center = this.box.getCenter(new THREE.Vector3());
    const grid = new THREE.GridHelper(span, Math.round(span / step), 0x9aa1ad, 0xc9ced8);
    const snapped = center.clone().divideScalar(step).round().multiplyScalar(step);
    if (this.upAxis === 'y') grid.position.set(snapped.x, this.box.min.y, snapped.z);
    else {
      grid.rotation.x = Math.PI / 2; // the XY plane
      grid.position.set(snapped.x, snapped.y, this.box.min.z);
    }
    this.helpers.add(grid);
    // The axes at the origin when it lies near the model, else at the grid's corner.
    const axes = new THREE.AxesHelper(step * 3);
    const near = this.box.clone().expandByScalar(extent * 0.5);
    if (!near.containsPoint(new THREE.Vector3()))
      axes.position.copy(grid.position).addScaledVector(frame.right, -span / 2).addScaledVector(frame.front, span / 2);
    this.helpers.add(axes);
    this.helpers.visible = this.showGrid;
    this.gridStep = step;
  }

  setVisibility(visible) {
    for (let i = 0; i < this.meshes.length; ++i) if (this.meshes[i]) this.meshes[i].visible = visible[i] === 1;
    this.rebuildCaps();
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

  addEdges(mesh) {
    const triangles = mesh.geometry.index.count / 3;
    if (this.edgeTriangles + triangles > MAX_EDGE_TRIANGLES) return;
    this.edgeTriangles += triangles;
    const lines = new THREE.LineSegments(
      new THREE.EdgesGeometry(mesh.geometry, this.edgeAngle),
      new THREE.LineBasicMaterial({ color: 0x20242c, clippingPlanes: this.sections.map((s) => s.plane) }),
    );
    lines.raycast = () => {};
    mesh.userData.edges = lines;
    mesh.add(lines);
  }

  // Draws the edges where neighbouring triangles meet at more than the angle (degrees); null: none.
  setEdges(angle) {
    this.edgeAngle = angle;
    this.edgeTriangles = 0;
    for (const mesh of this.meshes) {
      if (!mesh) continue;
      const edges = mesh.userData.edges;
      if (edges) {
        mesh.remove(edges);
        edges.geometry.dispose();
        edges.material.dispose();
        delete mesh.userData.edges;
      }
      if (angle !== null) this.addEdges(mesh);
    }
    this.requestRender();
  }

  // The box of the visible meshes' finite vertices, or of the model when no mesh is visible.
  visibleBox(first = 0, end = this.meshes.length) {
    const box = new THREE.Box3();
    for (let i = first; i < end; ++i) {
      const mesh = this.meshes[i];
      if (mesh && mesh.visible) box.union(mesh.geometry.boundingBox);
    }
    return box.isEmpty() && this.box ? this.box.clone() : box;
  }

  // Fits the visible meshes (of [first, end) when given) into the view, looking from a standard
  // direction (the iso one when none is given, else the one the camera looks from now).
  fit(view = 'iso', first, end) {
    const box = this.visibleBox(first, end);
    if (box.isEmpty()) return;
    const center = box.getCenter(new THREE.Vector3());
    const radius = Math.max(box.getSize(new THREE.Vector3()).length() / 2, 1e-6);
    const distance = (radius / Math.sin(THREE.MathUtils.degToRad(FOV / 2))) * 1.05;
    let direction;
    if (view) {
      const frame = frameOf(this.upAxis);
      const [f, r, u] = STANDARD_VIEWS[view];
      direction = new THREE.Vector3().addScaledVector(frame.front, f).addScaledVector(frame.right, r).addScaledVector(frame.up, u);
      // Straight from above or below, turn a hair toward the front so that the up axis still says
      // where the screen's top is.
      if (Math.abs(u) === 1) direction.addScaledVector(frame.front, 1e-4);
      this.camera.up.copy(frame.up);
    } else direction = this.camera.position.clone().sub(this.controls.target);
    direction.normalize();
    this.radius = radius;
    this.placeCamera(center.clone().addScaledVector(direction, distance), center, this.camera.up, radius * 1.05);
  }

  // Puts the camera at a position looking at a target; halfHeight is what the orthographic camera shows
  // above the target (the perspective one shows that at the distance the fit picks).
  placeCamera(position, target, up, halfHeight) {
    // The fixed orbit turns about the frame's up axis, which its controls took when they were made.
    if (this.orbit === 'fixed') up = frameOf(this.upAxis).up;
    const distance = position.distanceTo(target);
    const depth = Math.max(distance, (this.radius || halfHeight) * 2) * 20;
    for (const camera of [this.perspective, this.orthographic]) {
      camera.position.copy(position);
      camera.up.copy(up);
    }
    this.perspective.near = distance / 1000;
    this.perspective.far = depth;
    const o = this.orthographic;
    o.top = halfHeight;
    o.bottom = -halfHeight;
    o.zoom = 1;
    o.near = -depth;
    o.far = depth;
    this.setAspect(this.aspect || 1);
    this.perspective.updateProjectionMatrix();
    this.controls.target.copy(target);
    this.camera.lookAt(target);
    this.controls.update();
    this.requestRender();
    this.onCamera();
  }

  // The camera as plain numbers: {position, target, up, height, projection, orbit, upAxis}, where
  // height is what an orthographic view shows above and below the target.
  getCamera() {
    const c = this.camera;
    const distance = c.position.distanceTo(this.controls.target);
    const height = c.isOrthographicCamera ? c.top / c.zoom : distance * Math.tan(THREE.MathUtils.degToRad(FOV / 2));
    return {
      position: c.position.toArray(),
      target: this.controls.target.toArray(),
      up: c.up.toArray(),
      height,
      projection: c.isOrthographicCamera ? 'orthographic' : 'perspective',
      orbit: this.orbit,
      upAxis: this.upAxis,
    };
  }

  // Sets what getCamera gives (any of its fields; the others stay).
  setCamera(state) {
    const now = this.getCamera();
    const vector = (value, fallback) => (Array.isArray(value) && value.length === 3 && value.every(Number.isFinite) ? new THREE.Vector3(...value) : new THREE.Vector3(...fallback));
    if (state.upAxis === 'y' || state.upAxis === 'z') this.setUpAxis(state.upAxis, false);
    if (state.projection === 'orthographic' || state.projection === 'perspective') this.setProjection(state.projection, false);
    if (state.orbit === 'free' || state.orbit === 'fixed') this.setOrbit(state.orbit);
    const position = vector(state.position, now.position);
    const target = vector(state.target, now.target);
    if (position.distanceTo(target) === 0) return;
    const height = Number.isFinite(state.height) && state.height > 0 ? state.height : now.height;
    this.placeCamera(position, target, vector(state.up, this.camera.up.toArray()).normalize(), height);
    // Keep the perspective distance and the orthographic height in step, as after a fit.
    if (this.radius === undefined) this.radius = height;
  }

  setProjection(projection, keepView = true) {
    const target = this.controls.target.clone();
    const state = this.getCamera();
    this.camera = projection === 'orthographic' ? this.orthographic : this.perspective;
    this.makeControls(target);
    if (keepView) this.setCamera({ position: state.position, target: state.target, up: state.up, height: state.height });
    this.requestRender();
  }

  // Y or Z up: the grid lies across it, the fixed orbit turns about it, and the standard views follow it.
  setUpAxis(axis, refit = true) {
    if (axis === this.upAxis) return;
    this.upAxis = axis;
    const up = frameOf(axis).up;
    this.perspective.up.copy(up);
    this.orthographic.up.copy(up);
    this.makeControls(this.controls.target.clone());
    this.makeHelpers();
    if (refit) this.fit('iso');
    this.requestRender();
  }

  setOrbit(orbit) {
    if (orbit === this.orbit) return;
    this.orbit = orbit;
    if (orbit === 'fixed') this.camera.up.copy(frameOf(this.upAxis).up);
    this.makeControls(this.controls.target.clone());
    this.requestRender();
  }

  // Where a point of the model lies on the page ({x, y} in client pixels), or null behind the camera.
  project(point) {
    const v = new THREE.Vector3(...point).project(this.camera);
    if (v.z > 1) return null;
    const rect = this.canvas.getBoundingClientRect();
    return { x: rect.left + ((v.x + 1) / 2) * rect.width, y: rect.top + ((1 - v.y) / 2) * rect.height };
  }

  // Renders the view at a size of its own and gives it as a PNG blob.
  async snapshot(width, height) {
    const size = this.renderer.getSize(new THREE.Vector2());
    const ratio = this.renderer.getPixelRatio();
    const limit = this.renderer.capabilities.maxTextureSize;
    width = Math.max(1, Math.min(limit, Math.round(width)));
    height = Math.max(1, Math.min(limit, Math.round(height)));
    this.renderer.setPixelRatio(1);
    this.renderer.setSize(width, height, false);
    this.setAspect(width / height);
    this.render();
    // Read before the browser presents the frame and clears the drawing buffer.
    const url = this.canvas.toDataURL('image/png');
    this.renderer.setPixelRatio(ratio);
    this.renderer.setSize(size.x, size.y, false);
    this.setAspect(size.x / size.y);
    this.requestRender();
    return (await fetch(url)).blob();
  }

  // ---- Section planes -------------------------------------------------------------------------------

  // Sets the section planes: [{normal: [x, y, z], constant}] (the part where normal·p + constant < 0 is
  // cut away), at most three.
  setSections(sections) {
    this.sections = sections.slice(0, 3).map(({ normal, constant }) => ({ plane: new THREE.Plane(new THREE.Vector3(...normal).normalize(), constant) }));
    const planes = this.sections.map((s) => s.plane);
    for (const mesh of this.meshes) {
      if (!mesh) continue;
      mesh.material.clippingPlanes = planes;
      mesh.material.needsUpdate = true;
      if (mesh.userData.edges) mesh.userData.edges.material.clippingPlanes = planes;
    }
    this.rebuildCaps();
    this.requestRender();
  }

  setCapColour(hex) {
    this.capColour.set(hex);
    this.rebuildCaps();
    this.requestRender();
  }

  // The caps, as three.js's clipping-stencil example draws them: for each plane the visible meshes are
  // drawn into the stencil buffer only (back faces add one, front faces take one away), so that where
  // the plane cuts through a solid the count is not zero; the plane itself is then drawn there, cut by
  // the other planes, and the stencil cleared for the next one.
  rebuildCaps() {
    for (const object of this.capping.children) {
      if (object.userData.ownMaterial) object.material.dispose();
      if (object.userData.ownGeometry) object.geometry.dispose();
    }
    this.capping.clear();
    if (this.sections.length === 0) return;
    const planes = this.sections.map((s) => s.plane);
    const box = this.visibleBox();
    const center = box.getCenter(new THREE.Vector3());
    const size = Math.max(box.getSize(new THREE.Vector3()).length(), 1e-6) * 2;
    const visible = this.meshes.filter((mesh) => mesh && mesh.visible);
    planes.forEach((plane, i) => {
      const stencil = (side, operation) => {
        const material = new THREE.MeshBasicMaterial({ depthWrite: false, depthTest: false, colorWrite: false, stencilWrite: true, stencilFunc: THREE.AlwaysStencilFunc, side, clippingPlanes: [plane] });
        material.stencilFail = material.stencilZFail = material.stencilZPass = operation;
        return material;
      };
      if (visible.length === 0) return;
      const back = stencil(THREE.BackSide, THREE.IncrementWrapStencilOp);
      const front = stencil(THREE.FrontSide, THREE.DecrementWrapStencilOp);
      visible.forEach((mesh, k) => {
        for (const material of [back, front]) {
          const counter = new THREE.Mesh(mesh.geometry, material);
          counter.renderOrder = i + 1;
          counter.userData.ownMaterial = k === 0; // the meshes of a plane share its two materials
          this.capping.add(counter);
        }
      });
      const cap = new THREE.Mesh(
        new THREE.PlaneGeometry(size, size),
        new THREE.MeshStandardMaterial({
          color: this.capColour,
          roughness: 0.9,
          metalness: 0,
          side: THREE.DoubleSide,
          clippingPlanes: planes.filter((p) => p !== plane),
          stencilWrite: true,
          stencilRef: 0,
          stencilFunc: THREE.NotEqualStencilFunc,
          stencilFail: THREE.ReplaceStencilOp,
          stencilZFail: THREE.ReplaceStencilOp,
          stencilZPass: THREE.ReplaceStencilOp,
        }),
      );
      cap.userData.ownMaterial = true;
      cap.userData.ownGeometry = true;
      cap.userData.cap = true;
      plane.projectPoint(center, cap.position);
      cap.lookAt(cap.position.clone().sub(plane.normal));
      cap.onAfterRender = (renderer) => renderer.clearStencil();
      cap.renderOrder = i + 1.1;
      cap.raycast = () => {};
      this.capping.add(cap);
    });
  }

  // ---- Measurement marks ----------------------------------------------------------------------------

  clearOverlay() {
    for (const object of this.overlay.children) {
      object.geometry.dispose();
      object.material.dispose();
    }
    this.overlay.clear();
    this.requestRender();
  }

  // Marks points (dots) and, for two, the line between them; or a face's triangle.
  mark(points, triangles = []) {
    this.clearOverlay();
    const overlayMaterial = (Kind, options) => new Kind({ depthTest: false, transparent: true, ...options });
    if (points.length > 0) {
      const geometry = new THREE.BufferGeometry().setAttribute('position', new THREE.Float32BufferAttribute(points.flat(), 3));
      this.overlay.add(new THREE.Points(geometry, overlayMaterial(THREE.PointsMaterial, { color: 0xd81b60, size: 9, sizeAttenuation: false })));
      if (points.length === 2) this.overlay.add(new THREE.Line(geometry.clone(), overlayMaterial(THREE.LineBasicMaterial, { color: 0xd81b60 })));
    }
    if (triangles.length > 0) {
      const geometry = new THREE.BufferGeometry().setAttribute('position', new THREE.Float32BufferAttribute(triangles.flat(2), 3));
      this.overlay.add(new THREE.Mesh(geometry, overlayMaterial(THREE.MeshBasicMaterial, { color: 0xd81b60, opacity: 0.45, side: THREE.DoubleSide })));
    }
    for (const object of this.overlay.children) {
      object.renderOrder = 100;
      object.raycast = () => {};
    }
    this.requestRender();
  }

  // ---- Picking --------------------------------------------------------------------------------------

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

  // What lies under a point of the page: {index (of the object), point, vertex (the nearest corner of
  // the triangle hit when it is near on screen, else the point hit), snapped, normal (the triangle's,
  // by its winding), triangle (its corners)}; null over nothing. Parts cut away by section planes are
  // passed through.
  pick(clientX, clientY) {
    const rect = this.canvas.getBoundingClientRect();
    const pointer = new THREE.Vector2(((clientX - rect.left) / rect.width) * 2 - 1, -((clientY - rect.top) / rect.height) * 2 + 1);
    const raycaster = new THREE.Raycaster();
    raycaster.setFromCamera(pointer, this.camera);
    const hits = raycaster.intersectObjects(this.meshes.filter((mesh) => mesh && mesh.visible), false);
    const hit = hits.find((h) => this.sections.every((s) => s.plane.distanceToPoint(h.point) >= 0));
    if (!hit) return null;
    const position = hit.object.geometry.getAttribute('position');
    const corners = [hit.face.a, hit.face.b, hit.face.c].map((i) => new THREE.Vector3().fromBufferAttribute(position, i));
    const normal = new THREE.Triangle(...corners).getNormal(new THREE.Vector3());
    let vertex = hit.point;
    let snapped = false;
    let nearest = SNAP_PIXELS;
    for (const corner of corners) {
      const screen = this.project(corner.toArray());
      const distance = screen ? Math.hypot(screen.x - clientX, screen.y - clientY) : Infinity;
      if (distance <= nearest) {
        nearest = distance;
        vertex = corner;
        snapped = true;
      }
    }
    return {
      index: hit.object.userData.index,
      point: hit.point.toArray(),
      vertex: vertex.toArray(),
      snapped,
      normal: normal.toArray(),
      triangle: corners.map((c) => c.toArray()),
    };
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
