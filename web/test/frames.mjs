// Test frames from libzint symbols: `zint --dump` gives the module grid,
// which is drawn into a grey frame at a given size, place and turn, with
// 3x3 supersampling so that module edges are grey like a camera's.
import { execFileSync } from "node:child_process";

// The module grid of an Aztec symbol holding `text` (UTF-8), optionally in
// the character set of an ECI designator: rows of booleans, true = dark.
export function aztecModules(text, { eci } = {}) {
  const args = ["-b", "92", "--dump", "-d", text];
  if (eci !== undefined) args.push(`--eci=${eci}`);
  const dump = execFileSync("zint", args, { encoding: "utf8" }).trim().split("\n");
  const size = dump.length;  // Aztec symbols are square
  return dump.map((line) => {
    const bits = [...line.replace(/\s+/g, "")].flatMap((h) => {
      const v = parseInt(h, 16);
      return [8, 4, 2, 1].map((b) => (v & b) !== 0);
    });
    return bits.slice(0, size);
  });
}

// Draws `modules` into `frame` (a grey Uint8Array of width x height, left as
// it was outside the symbol and its quiet zone): centre (cx, cy), `module`
// pixels per module, turned `degrees` clockwise. Returns the symbol's four
// outer corners in frame pixels.
export function drawSymbol(frame, width, height, modules, { cx, cy, module, degrees = 0, dark = 30, light = 225 }) {
  const n = modules.length;
  const a = (degrees * Math.PI) / 180;
  const cos = Math.cos(a);
  const sin = Math.sin(a);
  const quiet = 2;  // modules of light margin around the symbol
  const reach = ((n / 2 + quiet) * module) * Math.SQRT2 + 2;
  const x0 = Math.max(0, Math.floor(cx - reach));
  const x1 = Math.min(width - 1, Math.ceil(cx + reach));
  const y0 = Math.max(0, Math.floor(cy - reach));
  const y1 = Math.min(height - 1, Math.ceil(cy + reach));
  for (let y = y0; y <= y1; ++y) {
    for (let x = x0; x <= x1; ++x) {
      let sum = 0;
      let inside = 0;
      for (let sy = 0; sy < 3; ++sy) {
        for (let sx = 0; sx < 3; ++sx) {
          const dx = x + (sx + 0.5) / 3 - 0.5 - cx;
          const dy = y + (sy + 0.5) / 3 - 0.5 - cy;
          // Back into symbol coordinates (modules from the symbol's centre).
          const u = (cos * dx + sin * dy) / module + n / 2;
          const v = (-sin * dx + cos * dy) / module + n / 2;
          if (u < -quiet || v < -quiet || u >= n + quiet || v >= n + quiet) continue;
          inside += 1;
          const i = Math.floor(u);
          const j = Math.floor(v);
          sum += i >= 0 && j >= 0 && i < n && j < n && modules[j][i] ? dark : light;
        }
      }
      if (inside === 9) frame[y * width + x] = Math.round(sum / 9);
      else if (inside > 0) frame[y * width + x] = Math.round((sum + (9 - inside) * frame[y * width + x]) / 9);
    }
  }
  const h = (n / 2) * module;
  return [[-h, -h], [h, -h], [h, h], [-h, h]].map(([u, v]) => ({ x: cx + cos * u - sin * v, y: cy + sin * u + cos * v }));
}

// A mid-grey frame with a gentle left-to-right gradient, like a wall.
export function backgroundFrame(width, height) {
  const frame = new Uint8Array(width * height);
  for (let y = 0; y < height; ++y)
    for (let x = 0; x < width; ++x) frame[y * width + x] = 150 + Math.round((40 * x) / width);
  return frame;
}
