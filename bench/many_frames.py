"""Frames per second over many 720p frames: quarrow-read with --jobs 1 and 2,
quarrow.read_many with 1 and 2 threads, and the Dask example on a local
cluster of 2 workers against the plain thread pool.

    PYTHONPATH=build/release/python python3 bench/many_frames.py build/release

Frames: half hold a symbol (compact and full-range, 4-6 px/module, mild
blur and noise), half hold none (noise and clutter-like rectangles).
"""
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import quarrow

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "python"))
sys.path.insert(0, str(HERE.parent / "python" / "examples"))
from test_quarrow import aztec_modules  # noqa: E402

W, H = 1280, 720


def symbol_frame(rng, text):
    grid = aztec_modules(text)
    module = int(rng.integers(4, 7))
    sym = np.where(np.kron(grid, np.ones((module, module), dtype=bool)), 40, 210)
    frame = np.full((H, W), 200, dtype=np.float64)
    top = int(rng.integers(0, H - sym.shape[0]))
    left = int(rng.integers(0, W - sym.shape[1]))
    if rng.random() < 0.7:  # mostly near the centre, where the user aims
        top, left = (H - sym.shape[0]) // 2, (W - sym.shape[1]) // 2
    frame[top:top + sym.shape[0], left:left + sym.shape[1]] = sym
    frame += rng.normal(0, 4, frame.shape)
    return np.clip(frame, 0, 255).astype(np.uint8)


def empty_frame(rng):
    frame = rng.normal(128, 20, (H, W))
    for _ in range(20):
        y, x = rng.integers(0, H - 80), rng.integers(0, W - 160)
        frame[y:y + rng.integers(10, 80), x:x + rng.integers(20, 160)] = rng.integers(0, 255)
    return np.clip(frame, 0, 255).astype(np.uint8)


def timed(fn):
    start = time.perf_counter()
    out = fn()
    return time.perf_counter() - start, out


def main():
    build = Path(sys.argv[1] if len(sys.argv) > 1 else "build/release")
    count = int(os.environ.get("FRAMES", "200"))
    rng = np.random.default_rng(1)
    texts = ["Quarrow %d %s" % (i, "x" * int(rng.integers(5, 200))) for i in range(count // 2)]
    frames = [symbol_frame(rng, t) for t in texts] + [empty_frame(rng) for _ in range(count - len(texts))]
    print("%d frames of %dx%d, %d with a symbol" % (len(frames), W, H, len(texts)))
    with tempfile.TemporaryDirectory() as tmp:
        for i, f in enumerate(frames):
            Path(tmp, "f%04d.pgm" % i).write_bytes(b"P5 %d %d 255\n" % (W, H) + f.tobytes())
        tool = build / "tools" / "quarrow-read"
        outs = {}
        for jobs in (1, 2):
            t, out = timed(lambda: subprocess.run([str(tool), "--quiet", "-r", "--jobs", str(jobs), tmp],
                                                  capture_output=True, check=False).stdout)
            outs[jobs] = out
            print("quarrow-read --jobs %d: %7.1f frames/s" % (jobs, len(frames) / t))
        print("same output for 1 and 2 jobs:", outs[1] == outs[2])
        pool = {}
        for threads in (1, 2):
            t, res = timed(lambda: quarrow.read_many(frames, threads))
            pool[threads] = t
            print("read_many threads=%d:    %7.1f frames/s (%d read)" % (threads, len(frames) / t,
                                                                          sum(r.outcome == "Read" for r in res)))
        try:
            import dask_batch
            from dask.distributed import Client, LocalCluster
        except ImportError as e:
            print("Dask not measured:", e)
            return 0
        os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [str(HERE.parent / "python" / "examples"),
                                                                 os.environ.get("PYTHONPATH")]))
        with Client(LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None)) as client:
            dask_batch.read_folder(tmp, 50).compute()  # warm the workers
            t, df = timed(lambda: dask_batch.read_folder(tmp, 50).compute())
        # The pool's time includes no file decoding; read the files once to add it.
        t_decode, _ = timed(lambda: [f for p in sorted(Path(tmp).iterdir()) for f in quarrow.frames(p)])
        plain = pool[2] + t_decode / 2
        print("dask 2 workers, batch 50: %7.1f frames/s; overhead per frame %.2f ms = %.0f %% of the reading time"
              % (len(df) / t, (t - plain) / len(frames) * 1000, (t - plain) / plain * 100))
    return 0


if __name__ == "__main__":
    sys.exit(main())
