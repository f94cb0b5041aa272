// The tree of groups and meshes beside the view: names, triangle counts and colours, with show/hide
// and isolate per group and per mesh, selection, a search that filters the rows by group name, and the
// keys of an ARIA tree (arrows move and open, Enter selects, space shows or hides, Home and End).
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
  // callbacks: onVisibility(visible: Uint8Array per object), onSelect({kind, index} or null),
  // onIsolate({kind, index}) after a double click has shown only that.
  constructor(container, callbacks) {
    this.container = container;
    this.callbacks = callbacks;
    this.model = null;
    this.filter = '';
    this.focused = null;
    container.addEventListener('click', (event) => this.onClick(event));
    container.addEventListener('change', (event) => this.onChange(event));
    container.addEventListener('keydown', (event) => this.onKey(event));
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
    this.focused = { kind: 'group', index: 0 };
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
    this.setFilter(this.filter);
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

  // What is hidden and isolated, as lists of numbers (for a link to the view).
  visibilityState() {
    const on = (flags) => flags.reduce((list, flag, i) => (flag ? (list.push(i), list) : list), []);
    return { hiddenGroups: on(this.hiddenGroups), hiddenObjects: on(this.hiddenObjects), isolated: this.isolated };
  }

  // Sets what visibilityState gave; numbers out of range are left out.
  setVisibilityState({ hiddenGroups = [], hiddenObjects = [], isolated = null }) {
    if (!this.model) return;
    const set = (flags, list) => {
      flags.fill(0);
      for (const i of list) if (Number.isInteger(i) && i >= 0 && i < flags.length) flags[i] = 1;
    };
    set(this.hiddenGroups, hiddenGroups);
    set(this.hiddenObjects, hiddenObjects);
    const limit = isolated && (isolated.kind === 'group' ? this.model.groups.length : this.model.objects.length);
    this.isolated = isolated && Number.isInteger(isolated.index) && isolated.index >= 0 && isolated.index < limit ? { kind: isolated.kind, index: isolated.index } : null;
    this.changed();
  }

  // Shows only the rows of groups whose names hold the text (any case), the groups above them, and what
  // those matching groups hold; '' shows all.
  setFilter(text) {
    this.filter = text.trim().toLowerCase();
    if (!this.model) return;
    const groups = this.model.groups;
    // 2: the name matches; 1: a group below matches. Children come after their parents, so one pass
    // from the end carries the marks up.
    this.matches = new Uint8Array(groups.length);
    if (this.filter) {
      for (let g = groups.length - 1; g >= 0; --g) {
        if (g > 0 && groups[g].name.toLowerCase().includes(this.filter)) this.matches[g] = 2;
        if (this.matches[g] && g > 0 && !this.matches[groups[g].parent]) this.matches[groups[g].parent] = 1;
      }
      this.matches[0] ||= 1;
    }
    this.render();
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
    if (!row) return;
    const kind = row.dataset.kind;
    const index = Number(row.dataset.index);
    this.focused = { kind, index };
    if (event.target.matches('input')) return;
    // The second click of a double click (the rows are made anew on each click, so the dblclick event
    // would fire on a row that has left the page).
    if (event.detail === 2 && !event.target.closest('.toggle, button')) {
      this.isolate({ kind, index });
      return;
    }
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

  // Shows only the group or mesh, selected, and hands it on to be fitted into the view.
  isolate(target) {
    this.isolated = target;
    this.selected = target;
    this.changed();
    this.callbacks.onSelect(target);
    if (this.callbacks.onIsolate) this.callbacks.onIsolate(target);
  }

  onKey(event) {
    const rows = [...this.container.querySelectorAll('.row')];
    const at = rows.indexOf(event.target.closest('.row'));
    if (at < 0 || event.altKey || event.ctrlKey || event.metaKey) return;
    const row = rows[at];
    const kind = row.dataset.kind;
    const index = Number(row.dataset.index);
    const group = kind === 'group';
    let next = null;
    switch (event.key) {
      case 'ArrowDown':
        next = rows[at + 1];
        break;
      case 'ArrowUp':
        next = rows[at - 1];
        break;
      case 'Home':
        next = rows[0];
        break;
      case 'End':
        next = rows[rows.length - 1];
        break;
      case 'ArrowRight':
        if (group && !this.expanded[index] && row.hasAttribute('aria-expanded')) {
          this.expanded[index] = 1;
          this.render();
        } else if (group) next = rows[at + 1] && Number(rows[at + 1].dataset.depth) > Number(row.dataset.depth) ? rows[at + 1] : null;
        break;
      case 'ArrowLeft':
        if (group && this.expanded[index] && row.hasAttribute('aria-expanded') && index > 0) {
          this.expanded[index] = 0;
          this.render();
        } else {
          const parent = group ? this.model.groups[index].parent : this.model.objects[index].group;
          if (parent >= 0) next = this.container.querySelector(`.row[data-kind="group"][data-index="${parent}"]`);
        }
        break;
      case 'Enter':
        this.select(this.selected && this.selected.kind === kind && this.selected.index === index ? null : { kind, index });
        break;
      case ' ': {
        const flags = group ? this.hiddenGroups : this.hiddenObjects;
        flags[index] ^= 1;
        this.changed();
        break;
      }
      default:
        return;
    }
    event.preventDefault();
    if (next) this.focused = { kind: next.dataset.kind, index: Number(next.dataset.index) };
    this.focusRow();
  }

  // Moves the keyboard focus to the focused row (rows are made anew on each render).
  focusRow() {
    const row = this.focusedRow();
    if (row) {
      row.focus();
      row.scrollIntoView({ block: 'nearest' });
    }
  }

  focusedRow() {
    const f = this.focused;
    return f && this.container.querySelector(`.row[data-kind="${f.kind}"][data-index="${f.index}"]`);
  }

  onChange(event) {
    const row = event.target.closest('.row');
    if (!row || !event.target.matches('input.eye')) return;
    const flags = row.dataset.kind === 'group' ? this.hiddenGroups : this.hiddenObjects;
    flags[Number(row.dataset.index)] = event.target.checked ? 0 : 1;
    this.changed();
  }

  makeRow(kind, index, depth, name, triangles, swatchObjects, hidden, inherited, open = false) {
    const row = document.createElement('div');
    row.className = `row ${kind === 'group' ? 'group' : 'mesh'}`;
    row.setAttribute('role', 'treeitem');
    row.setAttribute('aria-level', String(depth + 1));
    row.tabIndex = -1;
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
      const expanded = open || this.expanded[index];
      toggle.textContent = hasChildren ? (expanded ? '▾' : '▸') : '';
      if (hasChildren) row.setAttribute('aria-expanded', expanded ? 'true' : 'false');
    }
    const eye = document.createElement('input');
    eye.type = 'checkbox';
    eye.className = 'eye';
    eye.tabIndex = -1;
    eye.setAttribute('aria-label', hidden ? `Show ${name}` : `Hide ${name}`);
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
    isolate.tabIndex = -1;
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
    const filtering = this.filter !== '' && this.matches && this.matches.length === groups.length;
    let rows = 0;
    let skipped = 0;
    let hiddenUntil = -1;
    let matchedUntil = -1; // inside the subtree of a group whose name matches the search
    for (let g = 0; g < groups.length; ) {
      const inMatch = g < matchedUntil;
      if (filtering && !inMatch && !this.matches[g]) {
        g = groups[g].end;
        continue;
      }
      if (filtering && !inMatch && this.matches[g] === 2) matchedUntil = groups[g].end;
      // A group shown only because something below it matches: its groups, open, without its meshes.
      const onPath = filtering && !inMatch && this.matches[g] === 1;
      const inherited = g < hiddenUntil;
      if (!inherited && this.hiddenGroups[g]) hiddenUntil = groups[g].end;
      const [first, n] = groups[g].objects;
      const name = g === 0 ? this.fileName : groups[g].name;
      if (rows < MAX_ROWS) {
        const swatchObjects = objects.slice(first, first + Math.min(n, 6));
        fragment.append(this.makeRow('group', g, groups[g].depth, name, this.subtreeTriangles[g], swatchObjects, this.hiddenGroups[g], inherited, onPath));
        ++rows;
      } else ++skipped;
      if (!this.expanded[g] && !onPath) {
        g = groups[g].end;
        continue;
      }
      for (let o = first; o < first + n && !onPath; ++o) {
        if (rows < MAX_ROWS) {
          const hidden = this.hiddenObjects[o];
          fragment.append(this.makeRow('object', o, groups[g].depth + 1, `mesh ${o - first + 1}`, objects[o].triangles, [objects[o]], hidden, inherited || this.hiddenGroups[g]));
          ++rows;
        } else ++skipped;
      }
      ++g;
    }
    if (filtering && rows === 0) {
      const none = document.createElement('div');
      none.className = 'more';
      none.textContent = 'No group has that in its name.';
      fragment.append(none);
    }
    if (skipped > 0) {
      const more = document.createElement('div');
      more.className = 'more';
      more.textContent = `${plural(skipped, 'more row', 'more rows')} not shown: collapse some groups to see them.`;
      fragment.append(more);
    }
    const hadFocus = this.container.contains(document.activeElement);
    this.container.replaceChildren(fragment);
    // One row takes the Tab key's focus: the focused one, else the first.
    const focusable = this.focusedRow() || this.container.querySelector('.row');
    if (focusable) {
      focusable.tabIndex = 0;
      if (hadFocus) focusable.focus();
    }
  }
}
