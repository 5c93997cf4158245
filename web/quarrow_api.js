// The public face of the module, appended after emcc's factory
// (createQuarrowModule) in dist/quarrow.mjs:
//
//   import { createQuarrow } from "./dist/quarrow.mjs";
//   const q = await createQuarrow();
//   const r = q.read(imageData);               // or q.read(grey, width, height)
//   if (r.outcome === "Read") console.log(r.text, r.symbolCorners);
//
// A read takes grey pixels (Uint8Array or Uint8ClampedArray, one byte per
// pixel, rows `options.stride` bytes apart, default the width) or an
// ImageData-like { data, width, height } in RGBA, which the module turns into
// grey. It returns a plain object with the C++ result's fields; `bytes` is a
// Uint8Array. Options: { search: "frame" | "centre", lightOnDark: true,
// effort: 1 } (effort: the work the whole-frame search may spend on a frame,
// as a share of its own allowance, above 0 and at most 4; a live stream
// can take 0.25 to bound hard frames' time; out of range, the result's
// status says so).
//
// In Node the wasm file beside this one is read from disk; in a browser or
// worker it is fetched from beside this file, wherever the page lives.

function quarrowIsNode() {
  return typeof process === "object" && process !== null && !!(process.versions && process.versions.node);
}

function quarrowHexBytes(hex) {
  const out = new Uint8Array(hex.length / 2);
  for (let i = 0; i < out.length; ++i) out[i] = parseInt(hex.substr(2 * i, 2), 16);
  return out;
}

function quarrowResult(raw) {
  const { bytesHex, ...rest } = raw;
  return { ...rest, bytes: quarrowHexBytes(bytesHex) };
}

export async function createQuarrow(moduleOptions = {}) {
  const settings = { ...moduleOptions };
  if (!settings.locateFile) settings.locateFile = (path) => new URL(path, import.meta.url).href;
  if (!settings.wasmBinary && quarrowIsNode()) {
    const { readFile } = await import("node:fs/promises");
    settings.wasmBinary = await readFile(new URL("quarrow.wasm", import.meta.url));
  }
  const m = await createQuarrowModule(settings);
  const decoder = new TextDecoder("utf-8");
  let buffer = 0;
  let capacity = 0;

  function call(source, width, height, options, all) {
    let pixels;
    let channels = 1;
    if (source && !ArrayBuffer.isView(source) && source.data && typeof source.width === "number") {
      // ImageData (or anything shaped like it): RGBA rows without padding.
      pixels = source.data;
      width = width ?? source.width;
      height = height ?? source.height;
      channels = 4;
    } else if (ArrayBuffer.isView(source)) {
      pixels = new Uint8Array(source.buffer, source.byteOffset, source.byteLength);
    } else {
      throw new TypeError("quarrow: expected a Uint8Array of grey pixels or an ImageData");
    }
    if (!Number.isInteger(width) || !Number.isInteger(height))
      throw new TypeError("quarrow: width and height must be integers");
    const opts = options || {};
    const search = opts.search === undefined || opts.search === "frame" ? 0 : opts.search === "centre" ? 1 : -1;
    if (search < 0) throw new RangeError('quarrow: search must be "frame" or "centre"');
    const stride = channels === 4 ? width * 4 : opts.stride ?? 0;

    // One input buffer, grown as frames grow and reused between reads.
    if (!buffer || pixels.length > capacity) {
      if (buffer) m._free(buffer);
      buffer = m._malloc(Math.max(1, pixels.length));  // an empty frame is short, not null
      if (!buffer) {
        capacity = 0;
        throw new RangeError("quarrow: out of memory for a frame of " + pixels.length + " bytes");
      }
      capacity = Math.max(1, pixels.length);
    }
    m.HEAPU8.set(pixels, buffer);  // HEAPU8 is looked up after _malloc, which may grow the memory
    const ptr = m._quarrow_web_read(buffer, pixels.length, width, height, stride, channels, search,
                                    opts.lightOnDark === false ? 0 : 1, Number(opts.effort ?? 1), all ? 1 : 0);
    const size = m._quarrow_web_result_size();
    const raw = JSON.parse(decoder.decode(m.HEAPU8.subarray(ptr, ptr + size)));
    return all ? raw.map(quarrowResult) : quarrowResult(raw);
  }

  return {
    // The result of the best symbol: status, outcome, bytes, text, message,
    // corners and symbol facts.
    read: (source, width, height, options) => call(source, width, height, options, false),
    // Every symbol whose data decoded, nearest to the frame's centre first.
    readAll: (source, width, height, options) => call(source, width, height, options, true),
  };
}
