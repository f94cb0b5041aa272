// The view as the part of a link after '#': the file (when it was opened by its address), the camera and
// what is hidden or shown alone, so that the link opens the same view.
//
//   #file=models/lamp.slp&pos=x,y,z&target=x,y,z&up=x,y,z&height=h&proj=ortho&axis=y&orbit=free
//    &hide=3,7-9&hidemesh=12&only=group:4
//
// Lists of numbers are written as runs (7-9), so that hiding most of a thousand parts stays short.

function runs(list) {
  const parts = [];
  for (let i = 0; i < list.length; ) {
    let j = i;
    while (j + 1 < list.length && list[j + 1] === list[j] + 1) ++j;
    parts.push(j > i ? `${list[i]}-${list[j]}` : `${list[i]}`);
    i = j + 1;
  }
  return parts.join(',');
}

// At most this many numbers are read from one list, whatever its runs claim.
const MAX_LISTED = 1e7;

function numbersOf(text) {
  const list = [];
  for (const part of (text || '').split(',')) {
    const match = /^(\d+)(?:-(\d+))?$/.exec(part);
    if (!match) continue;
    const first = Number(match[1]);
    const last = Math.min(Number(match[2] ?? match[1]), first + MAX_LISTED - list.length);
    for (let i = first; i <= last; ++i) list.push(i);
    if (list.length >= MAX_LISTED) break;
  }
  return list;
}

function vectorOf(text) {
  const v = (text || '').split(',').map(Number);
  return v.length === 3 && v.every(Number.isFinite) ? v : undefined;
}

const number = (v) => String(Number(v.toPrecision(7)));

// view: {file, camera (as the viewer gives it), visibility (as the tree gives it)} -> 'file=…&pos=…'.
export function writeView({ file, camera, visibility }) {
  const p = new URLSearchParams();
  if (file) p.set('file', file);
  if (camera) {
    p.set('pos', camera.position.map(number).join(','));
    p.set('target', camera.target.map(number).join(','));
    p.set('up', camera.up.map(number).join(','));
    p.set('height', number(camera.height));
    if (camera.projection === 'orthographic') p.set('proj', 'ortho');
    if (camera.upAxis === 'y') p.set('axis', 'y');
    if (camera.orbit === 'free') p.set('orbit', 'free');
  }
  if (visibility) {
    if (visibility.hiddenGroups.length) p.set('hide', runs(visibility.hiddenGroups));
    if (visibility.hiddenObjects.length) p.set('hidemesh', runs(visibility.hiddenObjects));
    if (visibility.isolated) p.set('only', `${visibility.isolated.kind}:${visibility.isolated.index}`);
  }
  // Commas and slashes read better unescaped, and mean nothing special after '#'.
  return p.toString().replace(/%2C/g, ',').replace(/%2F/g, '/');
}

// The reverse of writeView, from the text after '#'; parts that are missing or malformed are undefined.
export function readView(hash) {
  const p = new URLSearchParams(hash.replace(/^#/, ''));
  const position = vectorOf(p.get('pos'));
  const target = vectorOf(p.get('target'));
  const camera = position && target
    ? {
        position,
        target,
        up: vectorOf(p.get('up')),
        height: Number(p.get('height')) || undefined,
        projection: p.get('proj') === 'ortho' ? 'orthographic' : 'perspective',
        upAxis: p.get('axis') === 'y' ? 'y' : 'z',
        orbit: p.get('orbit') === 'free' ? 'free' : 'fixed',
      }
    : undefined;
  const only = /^(group|object):(\d+)$/.exec(p.get('only') || '');
  const visibility = p.has('hide') || p.has('hidemesh') || only
    ? { hiddenGroups: numbersOf(p.get('hide')), hiddenObjects: numbersOf(p.get('hidemesh')), isolated: only ? { kind: only[1], index: Number(only[2]) } : null }
    : undefined;
  return { file: p.get('file') || undefined, camera, visibility };
}
