"""The Python module reading from several threads with the GIL released,
each answer compared with the same frame's answer read alone. Run by the
ThreadSanitizer build, which preloads the sanitizer's runtime."""
import subprocess
import sys
import threading

import numpy as np

import quarrow


def symbol_frame(data, module=3):
    """A zint symbol drawn dark on light in the middle of a small frame."""
    out = subprocess.run(["zint", "-b", "92", "--dump", "-d", data], check=True, capture_output=True,
                         text=True).stdout
    rows = [line.replace(" ", "") for line in out.splitlines() if line.strip()]
    n = len(rows)
    grid = np.array([[b == "1" for b in "".join("{:04b}".format(int(c, 16)) for c in row)[:n]] for row in rows])
    symbol = np.where(np.kron(grid, np.ones((module, module), dtype=bool)), 30, 220).astype(np.uint8)
    frame = np.full((symbol.shape[0] + 40, symbol.shape[1] + 60), 220, dtype=np.uint8)
    frame[20:20 + symbol.shape[0], 30:30 + symbol.shape[1]] = symbol
    return frame


def frames():
    rng = np.random.default_rng(4)
    return [symbol_frame("python thread one"), symbol_frame("and another, a little longer: 0123456789"),
            rng.integers(0, 256, size=(120, 160), dtype=np.uint8)]


def answer(image):
    r = quarrow.read(image)
    return (r.outcome, r.bytes, r.message)


def main():
    images = frames()
    alone = [answer(f) for f in images]
    if [a[1] for a in alone[:2]] != [b"python thread one", b"and another, a little longer: 0123456789"]:
        print("the symbols were not read alone:", alone)
        return 1
    got = {}

    def work(k):
        got[k] = [answer(images[(k + i) % len(images)]) for i in range(3 * len(images))]

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    bad = [(k, i) for k, seq in got.items() for i, a in enumerate(seq) if a != alone[(k + i) % len(images)]]
    if bad:
        print("answers differ from the single-thread ones at", bad)
        return 1
    print("ok:", sum(len(s) for s in got.values()), "reads on", len(got), "threads")
    return 0


if __name__ == "__main__":
    sys.exit(main())
