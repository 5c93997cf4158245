// The WebAssembly module in Node: every sample frame gives its exact bytes;
// colour ImageData, several symbols, character sets through ECI
// designators and rejected frames go through the same calls a page makes.
import assert from "node:assert/strict";
import { readFileSync, readdirSync } from "node:fs";
import { createQuarrow } from "../dist/quarrow.mjs";
import { aztecModules, backgroundFrame, drawSymbol } from "./frames.mjs";

const samples = new URL("../../samples/", import.meta.url);
const q = await createQuarrow();
let failures = 0;

function check(name, fn) {
  try {
    fn();
    console.log(`ok    ${name}`);
  } catch (e) {
    failures += 1;
    console.log(`FAIL  ${name}\n      ${e.message.split("\n").join("\n      ")}`);
  }
}

function readPgm(path) {
  const file = readFileSync(path);
  const head = /^P5\s+(\d+)\s+(\d+)\s+255\s/.exec(file.toString("latin1", 0, 64));
  assert.ok(head, `${path}: not an 8-bit binary PGM`);
  return { width: +head[1], height: +head[2], pixels: new Uint8Array(file.subarray(head[0].length)) };
}

const names = readdirSync(samples).filter((f) => f.endsWith(".pgm")).map((f) => f.slice(0, -4));
assert.ok(names.length >= 6, "the sample frames are missing");
for (const name of names) {
  check(`sample ${name}`, () => {
    const { width, height, pixels } = readPgm(new URL(`${name}.pgm`, samples));
    const expected = new Uint8Array(readFileSync(new URL(`${name}.txt`, samples)));
    const r = q.read(pixels, width, height);
    assert.equal(r.status, "ok");
    assert.equal(r.outcome, "Read", r.message);
    assert.deepEqual(r.bytes, expected);
    if (name === "utf8-eci26") assert.equal(r.text, new TextDecoder().decode(expected));
    assert.equal(r.symbologyIdentifier.slice(0, 2), "]z");
    // The outline surrounds the symbol's centre.
    const xs = r.symbolCorners.map((p) => p.x);
    const ys = r.symbolCorners.map((p) => p.y);
    assert.ok(Math.min(...xs) < r.centre.x && r.centre.x < Math.max(...xs));
    assert.ok(Math.min(...ys) < r.centre.y && r.centre.y < Math.max(...ys));
  });
}

// A frame with two symbols, off centre, turned.
const width = 960;
const height = 540;
const frame = backgroundFrame(width, height);
const left = drawSymbol(frame, width, height, aztecModules("LEFT SYMBOL 1"), { cx: 250, cy: 260, module: 5, degrees: 20 });
drawSymbol(frame, width, height, aztecModules("right symbol, the second"), { cx: 700, cy: 300, module: 4, degrees: -35 });

check("readAll finds both symbols, nearest the centre first", () => {
  const all = q.readAll(frame, width, height);
  assert.deepEqual(all.map((r) => r.text), ["right symbol, the second", "LEFT SYMBOL 1"]);
  // The outer corners lie within a module of where the symbol was drawn.
  const found = all[1].symbolCorners;
  for (const c of left) assert.ok(found.some((p) => Math.hypot(p.x - c.x, p.y - c.y) < 5), JSON.stringify(found));
});

check("colour ImageData is read like its grey", () => {
  const data = new Uint8ClampedArray(width * height * 4);
  for (let i = 0; i < width * height; ++i) {
    // A blue tint: the grey the module makes is close to the original.
    data[4 * i] = frame[i] * 0.9;
    data[4 * i + 1] = frame[i];
    data[4 * i + 2] = Math.min(255, frame[i] * 1.2);
    data[4 * i + 3] = 255;
  }
  const image = { data, width, height };
  assert.equal(q.read(image).text, "right symbol, the second");
  assert.equal(q.readAll(image).length, 2);
});

check("a lower effort still reads clean symbols", () => {
  assert.equal(q.readAll(frame, width, height, { effort: 0.25 }).length, 2);
});

check("the centre search alone finds neither off-centre symbol", () => {
  assert.equal(q.read(frame, width, height, { search: "centre" }).outcome, "NotLocated");
});

check("padded rows are read through the stride", () => {
  const stride = width + 13;
  const padded = new Uint8Array(stride * height).fill(0);
  for (let y = 0; y < height; ++y) padded.set(frame.subarray(y * width, (y + 1) * width), y * stride);
  assert.equal(q.readAll(padded, width, height, { stride }).length, 2);
});

check("rejected frames say why and hold nothing", () => {
  const cases = [
    [new Uint8Array(99), 10, 10, {}, "frame buffer is shorter than width, height and stride need"],
    [new Uint8Array(0), 1, 1, {}, "frame buffer is shorter than width, height and stride need"],
    [new Uint8Array(100), 0, 10, {}, "width and height must be at least 1 and stride at least width"],
    [new Uint8Array(100), 10, 10, { stride: 5 }, "width and height must be at least 1 and stride at least width"],
    [{ data: new Uint8ClampedArray(399), width: 10, height: 10 }, undefined, undefined, {},
      "frame buffer is shorter than width, height and stride need"],
    [new Uint8Array(100), 10, 10, { effort: 0 }, "effort must be above 0 and at most 4"],
    [new Uint8Array(100), 10, 10, { effort: 4.5 }, "effort must be above 0 and at most 4"],
    [new Uint8Array(100), 10, 10, { effort: "much" }, "effort must be above 0 and at most 4"],
  ];
  for (const [pixels, w, h, options, status] of cases) {
    const r = q.read(pixels, w, h, options);
    assert.equal(r.status, status);
    assert.equal(r.outcome, "NotLocated");
    assert.equal(r.bytes.length, 0);
    assert.deepEqual(q.readAll(pixels, w, h, options).map((x) => x.status), [status]);
  }
  assert.throws(() => q.read("pixels", 1, 1), TypeError);
  assert.throws(() => q.read(new Uint8Array(4), 2, 2, { search: "middle" }), RangeError);
});

// Character sets: the C library's iconv in the WebAssembly build.
const charsets = [
  [3, "Grüße, naïve café"],
  [7, "Привет, мир"],
  [9, "Καλημέρα"],
  [20, "東京タワー"],
  [21, "Zażółć gęślą jaźń"],
  [22, "Добрый день"],
  [26, "Grüße 東京 ✓"],
  [28, "中文測試"],
  [29, "中文测试"],
  [30, "한국어 시험"],
  [31, "中文测试"],
  [32, "中文测试"],
  [33, "UTF-16LE ÄÖÜ"],
  [4, "Zażółć gęślą"],
  [8, "مرحبا"],
  [10, "שלום"],
  [13, "สวัสดี"],
  [17, "Prix 100 €"],
  [23, "Prix 100 € – «ok»"],
  [24, "مرحبا بالعالم"],
  [25, "UTF-16BE ÄÖÜ 東京"],
  [27, "plain ASCII"],
  [34, "UTF-32BE 東京"],
  [35, "UTF-32LE 東京"],
];
for (const [eci, text] of charsets) {
  check(`ECI ${eci} text`, () => {
    const f = backgroundFrame(400, 400);
    drawSymbol(f, 400, 400, aztecModules(text, { eci }), { cx: 200, cy: 200, module: 5 });
    const r = q.read(f, 400, 400);
    assert.equal(r.outcome, "Read");
    assert.deepEqual(r.ecis.map((m) => m.eci), [eci]);
    assert.equal(r.text, text, r.textNote);
    assert.equal(r.textNote, "");
  });
}

// Read times of a 720p frame, for the record (not asserted): the median of
// 15 reads with the sample's symbol and of a blank frame, which the
// whole-frame search combs to the end.
{
  const { width: w, height: h, pixels } = readPgm(new URL("boarding-pass.pgm", samples));
  const median = (p) => {
    const times = [];
    for (let i = 0; i < 16; ++i) {
      const t0 = performance.now();
      q.read(p, w, h);
      if (i) times.push(performance.now() - t0);
    }
    return times.sort((a, b) => a - b)[7].toFixed(1);
  };
  const blank = new Uint8Array(w * h).fill(128);
  console.log(`${w}x${h} in Node, median: ${median(pixels)} ms with the sample's symbol, ${median(blank)} ms blank`);
}

if (failures) {
  console.log(`${failures} failed`);
  process.exit(1);
}
console.log("module tests passed");
