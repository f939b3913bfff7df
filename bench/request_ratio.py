#!/usr/bin/env python3
"""The whole thumbnail request against bare zstd on the same frame, from provider_bench.

Runs BM_Provider, BM_SourceOnly and BM_BareZstd in one process with their repetitions randomly
interleaved, so that a burst of load on a shared machine falls on all of them alike, and prints
for each preview size and cx the median times and the ratio of the medians (request / bare
zstd), which the scaling should keep near 1.

    bench/request_ratio.py [BUILD_DIR] [REPETITIONS]      # defaults: build, 9
"""
import csv
import io
import re
import statistics
import subprocess
import sys


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    result = subprocess.run(
        [f"{build}/bench/provider_bench", "--benchmark_filter=BM_(Provider|SourceOnly|BareZstd)/",
         f"--benchmark_repetitions={repetitions}", "--benchmark_enable_random_interleaving=true",
         "--benchmark_min_time=0.2", "--benchmark_format=csv"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, check=True)
    times = {}
    for row in csv.reader(io.StringIO(result.stdout)):
        if len(row) < 4 or row[0] == "name" or not row[3] or re.search(r"_(mean|median|stddev|cv)$", row[0]):
            continue
        times.setdefault(row[0], []).append(float(row[3]))
    median = {name: statistics.median(values) for name, values in times.items()}

    def find(kind, preview, cx=None):
        for name, value in median.items():
            if name.startswith(f"BM_{kind}/preview:{preview}/") and (cx is None or f"/cx:{cx}/" in name):
                return value
        return None

    print(f"{'preview / cx':>14} {'request':>9} {'source':>9} {'bare zstd':>10} {'request / bare':>15}")
    for preview in (1024, 4096):
        bare, source = find("BareZstd", preview), find("SourceOnly", preview)
        for cx in (256, 1024):
            request = find("Provider", preview, cx)
            if request is None or bare is None:
                continue
            print(f"{preview:>7}² / {cx:<4} {request:9.2f} {source:9.2f} {bare:10.2f} {request / bare:15.3f}")


if __name__ == "__main__":
    main()
