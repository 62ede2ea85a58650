#!/usr/bin/env python3
"""Peer of bench_readers' column_text_1000: pandas.read_csv of the same file.

Usage: python3 bench/read_csv_peer.py FILE [REPETITIONS]
FILE is the file bench_readers writes when run with VELMORA_COLUMN_TEXT_FILE=FILE
(1000 x 1000 points, "x y u v p", blank separated, one header line). Prints the
median wall time of read_csv over the repetitions (default 7), after one warm-up
read, as bench_readers reads with a warm page cache.
"""
import statistics
import sys
import time

import pandas


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    path = sys.argv[1]
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    pandas.read_csv(path, sep=" ")
    times = []
    for _ in range(repetitions):
        start = time.perf_counter()
        frame = pandas.read_csv(path, sep=" ")
        times.append(time.perf_counter() - start)
    print(f"pandas.read_csv {path}: {len(frame)} rows x {len(frame.columns)} columns, "
          f"median {statistics.median(times) * 1000:.1f} ms over {repetitions} runs")


if __name__ == "__main__":
    main()
