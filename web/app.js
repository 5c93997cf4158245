// The scanning page: camera frames go to a worker one at a time (the next
// frame is taken when the last answer is back, so a slow device reads fewer
// frames rather than falling behind); a read draws the symbol's outline over
// the video and shows its text. Still images from the file picker or a drop
// go the same way.
const $ = (id) => document.getElementById(id);
const video = $("video");
const overlay = $("overlay");
const still = $("still");
const status = $("status");

// How long an outline stays after the symbol was last read.
const OUTLINE_MS = 1000;

const worker = new Worker(new URL("./worker.js", import.meta.url), { type: "module" });
const pending = new Map();
let nextId = 1;
worker.onmessage = (event) => {
  const m = event.data;
  if (m.ready) {
    window.quarrowReaderReadyAt = performance.now();
    return;
  }
  const done = pending.get(m.id);
  if (m.id === undefined || !done) {
    if (m.error) showStatus(m.error, "problem");
    return;
  }
  pending.delete(m.id);
  done(m);
};
worker.onerror = (e) => showStatus(`The reader failed to load: ${e.message || "see the console"}`, "problem");

function readInWorker(image) {
  const id = nextId++;
  return new Promise((resolve) => {
    pending.set(id, resolve);
    worker.postMessage({ id, data: image.data, width: image.width, height: image.height }, [image.data.buffer]);
  });
}

function showStatus(text, kind = "") {
  status.textContent = text;
  status.className = kind;
}

function hexOf(bytes) {
  return Array.from(bytes, (b) => b.toString(16).padStart(2, "0")).join(" ");
}

// Text is shown as decoded; the bytes in hex as well when the data is not
// plain printable text (binary data, control codes, a doubtful character set).
function showResult(r) {
  $("text").textContent = r.text;
  const printable = r.textNote === "" && !/[\u0000-\u0008\u000e-\u001f\u007f\ufffd]/.test(r.text);
  $("hex").textContent = printable ? "" : `bytes: ${hexOf(r.bytes)}`;
  const facts = [
    r.type === "Compact" ? "compact" : "full-range",
    `${r.layers} layers`,
    `${r.bytes.length} bytes`,
    `${r.eccPercent}% check words`,
    `${r.correctedWords} corrected`,
  ];
  if (r.gs1) facts.push("GS1");
  if (r.ecis.length) facts.push(`ECI ${r.ecis.map((e) => e.eci).join(", ")}`);
  if (r.structuredAppend) facts.push(`part ${r.structuredAppend.index} of ${r.structuredAppend.count}`);
  if (r.rune !== null) facts.push(`rune ${r.rune}`);
  if (r.lightOnDark) facts.push("light on dark");
  if (r.textNote) facts.push(r.textNote);
  $("facts").textContent = facts.join(" · ");
  $("copy").disabled = false;
  showStatus("Read.", "read");
  if ($("beep").checked) beep();
}

let audio = null;
function beep() {
  try {
    audio = audio || new AudioContext();
    const osc = audio.createOscillator();
    osc.frequency.value = 1800;
    osc.connect(audio.destination);
    osc.start();
    osc.stop(audio.currentTime + 0.08);
  } catch {
    // No sound is no reason to stop scanning.
  }
}

$("copy").onclick = async () => {
  try {
    await navigator.clipboard.writeText($("text").textContent);
    showStatus("Copied.", "read");
  } catch {
    showStatus("The browser did not allow copying; select the text instead.", "problem");
  }
};

// The outline, in the frame's own pixels: the overlay canvas has the frame's
// size and is stretched over the picture like the video itself. Its corners
// are also kept in data-outline, for tests and for anyone inspecting the page.
function drawOutline(canvas, width, height, corners) {
  canvas.width = width;
  canvas.height = height;
  const g = canvas.getContext("2d");
  g.clearRect(0, 0, width, height);
  if (!corners) {
    delete canvas.dataset.outline;
    return;
  }
  g.lineWidth = Math.max(3, width / 200);
  g.strokeStyle = "#22c55e";
  g.fillStyle = "rgba(34, 197, 94, 0.15)";
  g.beginPath();
  corners.forEach((p, k) => (k ? g.lineTo(p.x, p.y) : g.moveTo(p.x, p.y)));
  g.closePath();
  g.fill();
  g.stroke();
  canvas.dataset.outline = JSON.stringify(corners);
}

// ---- The camera ----
const grab = document.createElement("canvas");
let scanning = false;
// Each camera start runs its own loop; an older loop, still waiting for an
// answer, stops when it sees a newer one (or a still image) has taken over.
let loopId = 0;
let lastReadAt = 0;
let frameTimes = [];

async function startCamera() {
  $("camera").hidden = true;
  still.hidden = true;
  video.hidden = false;
  $("view").classList.remove("still-mode");
  if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) {
    showStatus("This browser cannot open a camera here (the page must come over https or from localhost). You can still read an image file below.", "problem");
    return;
  }
  showStatus("Starting the camera…");
  window.quarrowCameraRequestedAt = performance.now();
  let stream;
  try {
    stream = await navigator.mediaDevices.getUserMedia({
      audio: false,
      video: { facingMode: "environment", width: { ideal: 1280 }, height: { ideal: 720 } },
    });
  } catch (e) {
    const why = {
      NotAllowedError: "Camera access was refused. Allow the camera for this page in the browser's settings and press “Use the camera”, or read an image file below.",
      SecurityError: "Camera access was refused. Allow the camera for this page in the browser's settings and press “Use the camera”, or read an image file below.",
      NotFoundError: "No camera was found. Connect one and press “Use the camera”, or read an image file below.",
      OverconstrainedError: "No camera was found that this page can use. You can read an image file below.",
      NotReadableError: "The camera is in use by another program or could not be started. Close it there and press “Use the camera”.",
    }[e.name] || `The camera could not be opened (${e.name || e}). You can read an image file below.`;
    showStatus(why, "problem");
    $("camera").hidden = false;
    return;
  }
  video.srcObject = stream;
  await video.play();
  showStatus("Point the camera at an Aztec Code.");
  scanning = true;
  scanLoop(++loopId);
}

async function scanLoop(id) {
  const current = () => scanning && id === loopId;
  while (current()) {
    const width = video.videoWidth;
    const height = video.videoHeight;
    if (!width || !height || video.readyState < 2) {
      await new Promise((r) => setTimeout(r, 50));
      continue;
    }
    grab.width = width;
    grab.height = height;
    const g = grab.getContext("2d", { willReadFrequently: true });
    g.drawImage(video, 0, 0, width, height);
    const m = await readInWorker(g.getImageData(0, 0, width, height));
    if (!current()) break;
    if (m.error) {
      showStatus(m.error, "problem");
      await new Promise((r) => setTimeout(r, 500));
      continue;
    }
    frameTimes.push(m.ms);
    if (frameTimes.length > 30) frameTimes.shift();
    const mean = frameTimes.reduce((a, b) => a + b, 0) / frameTimes.length;
    $("time").textContent = `${width}×${height}, ${m.ms.toFixed(1)} ms a frame (mean ${mean.toFixed(1)} ms)`;
    const now = performance.now();
    if (m.result.outcome === "Read") {
      lastReadAt = now;
      if (window.quarrowFirstReadAt === undefined) window.quarrowFirstReadAt = now;
      drawOutline(overlay, width, height, m.result.symbolCorners);
      showResult(m.result);
    } else if (now - lastReadAt > OUTLINE_MS) {
      drawOutline(overlay, width, height, null);
    }
    // Let the video and the page breathe between frames.
    await new Promise((r) => requestAnimationFrame(r));
  }
}

$("camera").onclick = startCamera;

// ---- Still images ----
async function readFile(file) {
  if (!file) return;
  if (!file.type.startsWith("image/")) {
    showStatus(`${file.name} is not an image.`, "problem");
    return;
  }
  let bitmap;
  try {
    bitmap = await createImageBitmap(file);
  } catch {
    showStatus(`${file.name} could not be decoded as an image.`, "problem");
    return;
  }
  scanning = false;
  if (video.srcObject) video.srcObject.getTracks().forEach((t) => t.stop());
  video.srcObject = null;
  video.hidden = true;
  still.hidden = false;
  $("view").classList.add("still-mode");
  $("camera").hidden = false;
  still.width = bitmap.width;
  still.height = bitmap.height;
  const g = still.getContext("2d", { willReadFrequently: true });
  g.drawImage(bitmap, 0, 0);
  const m = await readInWorker(g.getImageData(0, 0, bitmap.width, bitmap.height));
  if (m.error) {
    showStatus(m.error, "problem");
    return;
  }
  $("time").textContent = `${bitmap.width}×${bitmap.height}, ${m.ms.toFixed(1)} ms`;
  if (m.result.outcome === "Read") {
    drawOutline(overlay, bitmap.width, bitmap.height, m.result.symbolCorners);
    showResult(m.result);
  } else {
    drawOutline(overlay, bitmap.width, bitmap.height, null);
    $("text").textContent = "";
    $("hex").textContent = "";
    $("facts").textContent = "";
    showStatus(m.result.status !== "ok" ? `${file.name}: ${m.result.status}.` :
      m.result.outcome === "Located" ? `${file.name}: a symbol was found but its data could not be read.` :
      `${file.name}: no Aztec Code was found.`, "problem");
  }
}

$("file").onchange = (e) => readFile(e.target.files[0]);
const drop = $("drop");
drop.ondragover = (e) => {
  e.preventDefault();
  drop.classList.add("over");
};
drop.ondragleave = () => drop.classList.remove("over");
drop.ondrop = (e) => {
  e.preventDefault();
  e.stopPropagation();
  drop.classList.remove("over");
  readFile(e.dataTransfer.files[0]);
};
document.body.ondragover = (e) => e.preventDefault();
document.body.ondrop = (e) => {
  e.preventDefault();
  readFile(e.dataTransfer.files[0]);
};

startCamera();
