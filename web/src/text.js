// Numbers and colours as the page writes them: the same in every browser language.

// 1234567 -> "1,234,567".
export function count(n) {
  return String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
}

export function plural(n, one, many) {
  return `${count(n)} ${n === 1 ? one : many}`;
}

// A length for people: up to 4 significant digits, without trailing zeros. The model's JSON has null
// where a value is not finite.
export function length(value) {
  if (typeof value !== 'number') return 'not finite';
  if (!Number.isFinite(value)) return String(value);
  return String(Number(value.toPrecision(4)));
}

export function bytes(n) {
  if (n >= 1e6) return `${(n / 1e6).toFixed(1)} MB`;
  if (n >= 1e3) return `${(n / 1e3).toFixed(1)} kB`;
  return `${n} bytes`;
}

export function seconds(s) {
  return s < 1 ? `${(s * 1000).toFixed(1)} ms` : `${s.toFixed(2)} s`;
}

// The colour as "#rrggbb" when each channel lies in 0..1 (as `slp info` writes it), else null.
export function colourHex(colour) {
  let hex = '#';
  for (let i = 0; i < 3; ++i) {
    const f = colour[i];
    if (typeof f !== 'number' || !(f >= 0 && f <= 1)) return null;
    hex += Math.trunc(Math.fround(Math.fround(f * 255) + 0.5)).toString(16).padStart(2, "0");
  }
  return hex;
}

// Why a load failed, for people, from the loader's reason.
export function failureMessage(reason) {
  switch (reason) {
    case 'empty file':
      return 'The file is empty.';
    case 'binary data, not SLP text':
      return 'This is not an SLP file: it holds binary data, and SLP files are text.';
    case 'no solid in the file':
      return 'This does not look like an SLP file: there is no "solid" in it.';
    default:
      return `The file could not be loaded (${reason}).`;
  }
}
