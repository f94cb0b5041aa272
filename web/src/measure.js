// Surface area and volume of meshes as the view holds them: vertices of 6 floats (x y z nx ny nz) and
// three indices a triangle. The binding merges vertices only where position and normal are equal, so
// for the edges the positions are merged here: a mesh is closed when every edge between two distinct
// positions belongs to exactly two triangles. Its volume is then that of the solid it bounds (the
// divergence theorem over its triangles), which holds when the triangles of each edge run it in
// opposite directions (consistently wound); both are checked.

// An index per vertex, equal for vertices of equal position (-0 and 0 are equal; NaN equals nothing).
function positionIds(vertices) {
  const count = vertices.length / 6;
  const bits = new Uint32Array(vertices.buffer, vertices.byteOffset, vertices.length);
  const size = 2 ** Math.ceil(Math.log2(count * 2 + 2));
  const table = new Int32Array(size).fill(-1);
  const ids = new Int32Array(count);
  for (let v = 0; v < count; ++v) {
    const s = v * 6;
    let h = 0x811c9dc5;
    for (let k = 0; k < 3; ++k) h = Math.imul(h ^ (vertices[s + k] === 0 ? 0 : bits[s + k]), 0x01000193);
    h ^= h >>> 15;
    for (let slot = h & (size - 1); ; slot = (slot + 1) & (size - 1)) {
      const other = table[slot];
      if (other < 0) {
        table[slot] = v;
        ids[v] = v;
        break;
      }
      const o = other * 6;
      if (vertices[o] === vertices[s] && vertices[o + 1] === vertices[s + 1] && vertices[o + 2] === vertices[s + 2]) {
        ids[v] = other;
        break;
      }
    }
  }
  return ids;
}

// {area, volume, closed, oriented, triangles} of one mesh. The volume is null unless the mesh is closed
// and consistently wound. Triangles with two corners at one position bound nothing and are left out of
// the edges.
export function meshMeasures(vertices, indices) {
  const ids = positionIds(vertices);
  const triangles = indices.length / 3;
  const size = 2 ** Math.ceil(Math.log2(triangles * 3 + 2));
  const low = new Int32Array(size).fill(-1);
  const high = new Int32Array(size);
  const uses = new Int32Array(size);
  const turns = new Int32Array(size); // +1 for each use from low to high, -1 from high to low
  let area = 0;
  let volume = 0;
  let edges = 0;
  const corner = [0, 0, 0];
  for (let t = 0; t < triangles; ++t) {
    for (let k = 0; k < 3; ++k) corner[k] = ids[indices[3 * t + k]];
    const [a, b, c] = corner;
    const [ax, ay, az] = [vertices[a * 6], vertices[a * 6 + 1], vertices[a * 6 + 2]];
    const [ux, uy, uz] = [vertices[b * 6] - ax, vertices[b * 6 + 1] - ay, vertices[b * 6 + 2] - az];
    const [vx, vy, vz] = [vertices[c * 6] - ax, vertices[c * 6 + 1] - ay, vertices[c * 6 + 2] - az];
    const [nx, ny, nz] = [uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx];
    area += Math.hypot(nx, ny, nz) / 2;
    // The signed volume of the tetrahedron from the origin: a · (u × v) / 6 with the cross above.
    volume += (ax * nx + ay * ny + az * nz) / 6;
    if (a === b || b === c || a === c) continue;
    for (let k = 0; k < 3; ++k) {
      const from = corner[k];
      const to = corner[(k + 1) % 3];
      const lo = Math.min(from, to);
      const hi = Math.max(from, to);
      let slot = Math.imul(lo, 0x9e3779b1) ^ Math.imul(hi, 0x85ebca6b);
      slot = (slot ^ (slot >>> 13)) & (size - 1);
      while (low[slot] >= 0 && (low[slot] !== lo || high[slot] !== hi)) slot = (slot + 1) & (size - 1);
      if (low[slot] < 0) {
        low[slot] = lo;
        high[slot] = hi;
        ++edges;
      }
      ++uses[slot];
      turns[slot] += from === lo ? 1 : -1;
    }
  }
  let closed = edges > 0;
  let oriented = true;
  for (let slot = 0; slot < size && closed; ++slot) {
    if (low[slot] < 0) continue;
    if (uses[slot] !== 2) closed = false;
    else if (turns[slot] !== 0) oriented = false;
  }
  return { area, volume: closed && oriented ? Math.abs(volume) : null, closed, oriented: closed && oriented, triangles };
}

// The measures of several meshes together: areas add up, and so do volumes when every mesh has one.
export function sumMeasures(list) {
  const total = { area: 0, volume: 0, meshes: list.length, open: 0, unoriented: 0, triangles: 0 };
  for (const m of list) {
    total.area += m.area;
    total.triangles += m.triangles;
    if (!m.closed) ++total.open;
    else if (!m.oriented) ++total.unoriented;
    else total.volume += m.volume;
  }
  if (total.open + total.unoriented > 0 || list.length === 0) total.volume = null;
  return total;
}

// The angle in degrees between two directions.
export function angleBetween(a, b) {
  const dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  const lengths = Math.hypot(...a) * Math.hypot(...b);
  return (Math.acos(Math.min(1, Math.max(-1, dot / lengths))) * 180) / Math.PI;
}

export function distanceBetween(a, b) {
  return Math.hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}
