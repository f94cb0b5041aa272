// The user's settings, kept in the browser (localStorage) from one visit to the next: the theme (the
// system's unless chosen), the view's background, the colour of meshes the file gives none, edges
// above a crease angle, and the label of the file's length unit.

const KEY = 'slp-viewer-settings';

export const DEFAULTS = {
  theme: 'system', // 'system', 'light' or 'dark'
  background: '', // '#rrggbb', or '' for the theme's
  plainColour: '', // '#rrggbb', or '' for the loader's white
  edges: false,
  creaseAngle: 30, // degrees
  units: '', // shown after lengths, e.g. 'mm'
};

const THEME_BACKGROUNDS = { light: '#e9ecf2', dark: '#23272f' };

// The settings saved, each checked, with the defaults for what is missing or malformed.
export function loadSettings() {
  let saved = {};
  try {
    saved = JSON.parse(localStorage.getItem(KEY) || '{}') || {};
  } catch {
    saved = {};
  }
  const colour = (v) => (typeof v === 'string' && /^#[0-9a-f]{6}$/i.test(v) ? v.toLowerCase() : '');
  return {
    theme: ['system', 'light', 'dark'].includes(saved.theme) ? saved.theme : DEFAULTS.theme,
    background: colour(saved.background),
    plainColour: colour(saved.plainColour),
    edges: saved.edges === true,
    creaseAngle: Number.isFinite(saved.creaseAngle) && saved.creaseAngle >= 0 && saved.creaseAngle <= 180 ? saved.creaseAngle : DEFAULTS.creaseAngle,
    units: typeof saved.units === 'string' ? saved.units.slice(0, 20) : DEFAULTS.units,
  };
}

export function saveSettings(settings) {
  try {
    localStorage.setItem(KEY, JSON.stringify(settings));
  } catch {
    // Storage may be full or refused (a private window): the settings hold for this visit only.
  }
}

// 'light' or 'dark': the chosen theme, or the system's.
export function themeOf(settings) {
  if (settings.theme !== 'system') return settings.theme;
  return window.matchMedia && window.matchMedia('(prefers-color-scheme: dark)').matches ? 'dark' : 'light';
}

export function backgroundOf(settings) {
  return settings.background || THEME_BACKGROUNDS[themeOf(settings)];
}

// '#rrggbb' -> [r, g, b] in 0..1.
export function rgbOf(hex) {
  return [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16) / 255);
}
