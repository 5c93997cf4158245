"""Reads every image and video of a folder on a Dask cluster and writes one
CSV row per frame.

    python3 dask_batch.py FOLDER --out results.csv               # a local cluster
    python3 dask_batch.py FOLDER --scheduler tcp://host:8786     # a real one

Files are split into partitions of --batch files; each worker reads its
partition's frames with quarrow.read_many (native threads, GIL released) and
hands back plain rows, which Dask gathers into a DataFrame. The same code
runs on a laptop's LocalCluster and on a cluster whose workers have the
quarrow package installed.
"""
import argparse
import os
import sys

import dask.bag as db
import pandas as pd
from dask.distributed import Client, LocalCluster

import quarrow

MEDIA = (".pgm", ".ppm", ".pnm", ".png", ".jpg", ".jpeg", ".y4m")
COLUMNS = {"file": str, "frame": int, "outcome": str, "text": str, "bytes_hex": str,
           "type": str, "layers": int, "corrected_words": int}


def media_files(folder):
    """Every image and video under `folder`, in name order."""
    found = []
    for root, _, names in os.walk(folder):
        found += [os.path.join(root, n) for n in names if n.lower().endswith(MEDIA)]
    return sorted(found)


def read_partition(paths, threads=1):
    """Rows for every frame of `paths`; a file that cannot be read gives one
    row with outcome 'Error' and the reason as its text."""
    frames, where, rows = [], [], []
    for path in paths:
        try:
            for number, frame in enumerate(quarrow.frames(path)):
                frames.append(frame)
                where.append((path, number))
        except (OSError, ValueError) as e:
            rows.append(dict(file=path, frame=0, outcome="Error", text=str(e), bytes_hex="",
                             type="None", layers=0, corrected_words=0))
    for (path, number), r in zip(where, quarrow.read_many(frames, threads)):
        rows.append(dict(file=path, frame=number, outcome=r.outcome, text=r.text, bytes_hex=r.bytes.hex(),
                         type=r.type, layers=r.layers, corrected_words=r.correctedWords))
    return rows


def read_folder(folder, batch=50, threads=1):
    """A Dask DataFrame with one row per frame (lazy: compute or write it)."""
    files = media_files(folder)
    bag = db.from_sequence(files, partition_size=batch).map_partitions(read_partition, threads)
    meta = pd.DataFrame({name: pd.Series(dtype=kind if kind is not str else object) for name, kind in COLUMNS.items()})
    return bag.to_dataframe(meta=meta)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("folder")
    ap.add_argument("--out", default="results.csv", help="CSV file to write")
    ap.add_argument("--scheduler", help="address of a running scheduler (default: a local cluster)")
    ap.add_argument("--workers", type=int, default=2, help="workers of the local cluster")
    ap.add_argument("--batch", type=int, default=50, help="files per partition")
    args = ap.parse_args(argv)
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        client = Client(LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=None))
    with client:
        frame = read_folder(args.folder, args.batch).compute()
    frame.sort_values(["file", "frame"]).to_csv(args.out, index=False)
    read = int((frame.outcome == "Read").sum())
    print("%d frames, %d read -> %s" % (len(frame), read, args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
