// The tree of groups and meshes beside the view: names, triangle counts and colours, with show/hide
// and isolate per group and per mesh, and selection.
//
// The model comes as flat lists (see the binding): groups in walk order, each before its children with
// the end of its subtree, and objects in the same order, so a group's subtree is a range of both lists.
// Everything here walks those ranges; nothing recurses, however deep the groups nest.
import { colourHex, count, plural } from './text.js';

// Rows drawn at most; the rest are counted (collapse groups to see them).
const MAX_ROWS = 5000;
const INDENT_PX = 14;
const MAX_INDENT_LEVELS = 30;

export class GroupTree {
  // callbacks: onVisibility(visible: Uint8Array per object), onSelect({kind, index} or null).
  constructor(container, callbacks) {
    this.container = container;
    this.callbacks = callbacks;
    this.model = null;
    container.addEventListener('click', (event) => this.onClick(event));
    container.addEventListener('change', (event) => this.onChange(event));
  }

  setModel(model, fileName) {
    this.model = model;
    this.fileName = fileName;
    const groups = model.groups;
    const objects = model.objects;
    this.hiddenGroups = new Uint8Array(groups.length);
    this.hiddenObjects = new Uint8Array(objects.length);
    this.isolated = null;
    this.selected = null;
    // Triangles of each subtree, children added to parents from the last group back.
    this.subtreeTriangles = new Float64Array(groups.length);
    for (let g = 0; g < groups.length; ++g) {
      const [first, n] = groups[g].objects;
      for (let o = first; o < first + n; ++o) this.subtreeTriangles[g] += objects[o].triangles;
    }
    for (let g = groups.length - 1; g > 0; --g) this.subtreeTriangles[groups[g].parent] += this.subtreeTriangles[g];
    this.expanded = new Uint8Array(groups.length);
    if (groups.length <= 200) this.expanded.fill(1);
    else for (let g = 0; g < groups.length; ++g) this.expanded[g] = groups[g].depth < 2 ? 1 : 0;
    this.render();
  }

  // The objects of a group's subtree: [first, end).
  objectRange(g) {
    const groups = this.model.groups;
    const end = groups[g].end;
    return [groups[g].objects[0], end < groups.length ? groups[end].objects[0] : this.model.objects.length];
  }

  // Per object: 1 when it is shown (no hidden group above it, not hidden itself, inside what is isolated).
  visibility() {
    const { groups, objects } = this.model;
    const visible = new Uint8Array(objects.length);
    let range = [0, objects.length];
    if (this.isolated) range = this.isolated.kind === 'group' ? this.objectRange(this.isolated.index) : [this.isolated.index, this.isolated.index + 1];
    let hiddenUntil = -1;
    for (let g = 0; g < groups.length; ++g) {
      let hidden = g < hiddenUntil;
      if (!hidden && this.hiddenGroups[g]) {
        hiddenUntil = groups[g].end;
        hidden = true;
      }
      const [first, n] = groups[g].objects;
      for (let o = first; o < first + n; ++o)
        visible[o] = !hidden && !this.hiddenObjects[o] && o >= range[0] && o < range[1] ? 1 : 0;
    }
    return visible;
  }

  expandAll(expand) {
    if (!this.model) return;
    if (expand) this.expanded.fill(1);
    else for (let g = 0; g < this.expanded.length; ++g) this.expanded[g] = g === 0 ? 1 : 0;
    this.render();
  }

  showAll() {
    if (!this.model) return;
    this.hiddenGroups.fill(0);
    this.hiddenObjects.fill(0);
    this.isolated = null;
    this.changed();
  }

  // Selects an object (picked in the view): opens the groups above it and scrolls to its row.
  revealObject(index) {
    const objects = this.model.objects;
    if (index < 0 || index >= objects.length) return;
    for (let g = objects[index].group; g >= 0; g = this.model.groups[g].parent) this.expanded[g] = 1;
    this.select({ kind: 'object', index });
    const row = this.container.querySelector(`.row[data-kind="object"][data-index="${index}"]`);
    if (row) row.scrollIntoView({ block: 'nearest' });
  }

  select(selection) {
    this.selected = selection;
    this.render();
    this.callbacks.onSelect(selection);
  }

  changed() {
    this.render();
    this.callbacks.onVisibility(this.visibility());
  }

  onClick(event) {
    const row = event.target.closest('.row');
    if (!row || event.target.matches('input')) return;
    const kind = row.dataset.kind;
    const index = Number(row.dataset.index);
    if (event.target.closest('.toggle') && kind === 'group') {
      this.expanded[index] ^= 1;
      this.render();
    } else if (event.target.closest('.isolate')) {
      const on = this.isolated && this.isolated.kind === kind && this.isolated.index === index;
      this.isolated = on ? null : { kind, index };
      this.changed();
    } else {
      const same = this.selected && this.selected.kind === kind && this.selected.index === index;
      this.select(same ? null : { kind, index });
    }
  }

  onChange(event) {
    const row = event.target.closest('.row');
    if (!row || !event.target.matches('input.eye')) return;
    const flags = row.dataset.kind === 'group' ? this.hiddenGroups : this.hiddenObjects;
    flags[Number(row.dataset.index)] = event.target.checked ? 0 : 1;
    this.changed();
  }

  makeRow(kind, index, depth, name, triangles, swatchObjects, hidden, inherited) {
    const row = document.createElement('div');
    row.className = `row ${kind === 'group' ? 'group' : 'mesh'}`;
    row.setAttribute('role', 'treeitem');
    row.dataset.kind = kind;
    row.dataset.index = index;
    row.dataset.depth = depth;
    row.dataset.triangles = triangles;
    if (hidden || inherited) row.classList.add('hidden-row');
    const isSelected = this.selected && this.selected.kind === kind && this.selected.index === index;
    if (isSelected) row.classList.add('selected');
    row.setAttribute('aria-selected', isSelected ? 'true' : 'false');
    const levels = Math.min(depth, MAX_INDENT_LEVELS);
    row.style.paddingLeft = `${4 + levels * INDENT_PX}px`;
    const toggle = document.createElement('span');
    toggle.className = 'toggle';
    if (kind === 'group') {
      const hasChildren = this.model.groups[index].end > index + 1 || this.model.groups[index].objects[1] > 0;
      toggle.textContent = hasChildren ? (this.expanded[index] ? '▾' : '▸') : '';
      row.setAttribute('aria-expanded', this.expanded[index] ? 'true' : 'false');
    }
    const eye = document.createElement('input');
    eye.type = 'checkbox';
    eye.className = 'eye';
    eye.checked = !hidden;
    eye.title = hidden ? 'Show' : 'Hide';
    row.append(toggle, eye);
    for (const { color: colour, shown_color: shown } of swatchObjects) {
      const swatch = document.createElement('span');
      swatch.className = 'swatch';
      const [r, g, b] = shown.map((c) => Math.round(c * 255));
      swatch.style.background = `rgb(${r}, ${g}, ${b})`;
      const hex = colourHex(colour);
      const text = colour.map((c) => (typeof c === 'number' ? c : 'not finite'));
      swatch.dataset.colour = hex || text.join(' ');
      swatch.title = `colour ${text.slice(0, 3).join(' ')}${hex ? ` (${hex})` : ''}`;
      row.append(swatch);
    }
    const label = document.createElement('span');
    label.className = 'name';
    label.textContent = depth > MAX_INDENT_LEVELS ? `${name} (level ${depth})` : name;
    label.title = name;
    const counter = document.createElement('span');
    counter.className = 'count';
    counter.textContent = count(triangles);
    counter.title = plural(triangles, 'triangle', 'triangles');
    const isolate = document.createElement('button');
    isolate.type = 'button';
    isolate.className = 'isolate';
    isolate.textContent = 'only';
    isolate.title = 'Show only this';
    if (this.isolated && this.isolated.kind === kind && this.isolated.index === index) isolate.classList.add('on');
    row.append(label, counter, isolate);
    return row;
  }

  render() {
    const fragment = document.createDocumentFragment();
    const model = this.model;
    if (!model) {
      this.container.replaceChildren();
      return;
    }
    const { groups, objects } = model;
    let rows = 0;
    let skipped = 0;
    let hiddenUntil = -1;
    for (let g = 0; g < groups.length; ) {
      const inherited = g < hiddenUntil;
      if (!inherited && this.hiddenGroups[g]) hiddenUntil = groups[g].end;
      const [first, n] = groups[g].objects;
      const name = g === 0 ? this.fileName : groups[g].name;
      if (rows < MAX_ROWS) {
        const swatchObjects = objects.slice(first, first + Math.min(n, 6));
        fragment.append(this.makeRow('group', g, groups[g].depth, name, this.subtreeTriangles[g], swatchObjects, this.hiddenGroups[g], inherited));
        ++rows;
      } else ++skipped;
      if (!this.expanded[g]) {
        g = groups[g].end;
        continue;
      }
      for (let o = first; o < first + n; ++o) {
        if (rows < MAX_ROWS) {
          const hidden = this.hiddenObjects[o];
          fragment.append(this.makeRow('object', o, groups[g].depth + 1, `mesh ${o - first + 1}`, objects[o].triangles, [objects[o]], hidden, inherited || this.hiddenGroups[g]));
          ++rows;
        } else ++skipped;
      }
      ++g;
    }
    if (skipped > 0) {
      const more = document.createElement('div');
      more.className = 'more';
      more.textContent = `${plural(skipped, 'more row', 'more rows')} not shown: collapse some groups to see them.`;
      fragment.append(more);
    }
    this.container.replaceChildren(fragment);
  }
}
