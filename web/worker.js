// Reads frames off the page's main thread so that the video stays smooth.
// Messages in: { id, data, width, height } with RGBA pixels (the buffer is
// transferred). Messages out: { id, result, ms } or { id, error }.
import { createQuarrow } from "./dist/quarrow.mjs";

const ready = createQuarrow();
ready.then(
  () => postMessage({ ready: true }),
  (e) => postMessage({ error: `The reader could not start: ${e.message}` }),
);

onmessage = async (event) => {
  const { id, data, width, height } = event.data;
  try {
    const q = await ready;
    const start = performance.now();
    const result = q.read({ data, width, height });
    postMessage({ id, result, ms: performance.now() - start }, [result.bytes.buffer]);
  } catch (e) {
    postMessage({ id, error: String(e && e.message ? e.message : e) });
  }
};
