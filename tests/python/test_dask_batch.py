"""The Dask example on a local cluster of two worker processes: 200 frames
in a folder tree, every answer checked."""
import os
import sys
from pathlib import Path

import numpy as np
import pytest

from test_quarrow import frame_of

EXAMPLES = Path(__file__).resolve().parents[2] / "python" / "examples"

dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")


def test_dask_reads_a_folder(tmp_path, monkeypatch):
    # Workers are new processes: they find the example module the same way.
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(filter(None, [str(EXAMPLES), os.environ.get("PYTHONPATH")])))
    monkeypatch.syspath_prepend(str(EXAMPLES))
    import dask_batch

    symbols = {k: frame_of("dask %d" % k) for k in range(20)}
    want = {}
    for i in range(200):
        sub = tmp_path / ("part%d" % (i % 3))
        sub.mkdir(exist_ok=True)
        path = sub / ("f%03d.pgm" % i)
        frame = symbols[i % 20] if i % 10 else np.full((120, 160), 128, dtype=np.uint8)
        path.write_bytes(b"P5 %d %d 255\n" % (frame.shape[1], frame.shape[0]) + frame.tobytes())
        want[str(path)] = "dask %d" % (i % 20) if i % 10 else ""
    (tmp_path / "broken.png").write_bytes(b"\x89PNG\r\n\x1a\nnot really")

    out = tmp_path / "results.csv"
    assert dask_batch.main([str(tmp_path), "--out", str(out), "--workers", "2", "--batch", "50"]) == 0
    import pandas as pd
    rows = pd.read_csv(out, keep_default_na=False)
    assert len(rows) == 201
    broken = rows[rows.file.str.endswith("broken.png")]
    assert list(broken.outcome) == ["Error"]
    good = rows[~rows.file.str.endswith("broken.png")]
    assert dict(zip(good.file, good.text)) == want
    assert set(good.outcome) == {"Read", "NotLocated"}
