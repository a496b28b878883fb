"""Times tarvok-convert on the bench sample and on the large one, the same way,
and prints one JSON object.

usage: large_timings.py BUILD_DIR BENCH.wiff LARGE.wiff REPETITIONS
Both conversions stream the document to standard output, which is /dev/null
(-o -), at the default -j: the large sample's document of about 12 GB would
crowd the tmpfs, which shares the machine's memory, and on the disk the
converter's fsync would time the disk rather than the converter. Each repetition
converts the bench sample five times, then the large sample once, so that a
change of the machine's load falls on both; the bench sample's runs are short
enough that five cost little and steady its median.
"""

import json
import sys
from pathlib import Path

from convert_timings import summarised, timed

BENCH_RUNS_PER_REPETITION = 5


def warm(sample):
    """Reads both files of the sample once, so that no timed run reads the disk."""
    for path in (sample, Path(f"{sample}.scan")):
        with open(path, "rb") as data:
            while data.read(1 << 23):
                pass


def summary(runs, sample):
    """Median wall and CPU seconds, the largest peak resident bytes."""
    seconds, rss_bytes, cpu_seconds = summarised(runs)
    return {"s": seconds, "rss_bytes": rss_bytes, "cpu_s": cpu_seconds, "runs": len(runs),
            "scan_bytes": Path(f"{sample}.scan").stat().st_size}


def main():
    build, bench, large, repetitions = Path(sys.argv[1]), Path(sys.argv[2]), Path(sys.argv[3]), int(sys.argv[4])
    convert = str(build / "cli" / "tarvok-convert")
    for sample in (bench, large):
        warm(sample)
    runs = {"bench": [], "large": []}
    for _ in range(repetitions):
        for _ in range(BENCH_RUNS_PER_REPETITION):
            runs["bench"].append(timed([convert, "-q", "-o", "-", str(bench)]))
        runs["large"].append(timed([convert, "-q", "-o", "-", str(large)]))
    print(json.dumps({
        "bench": summary(runs["bench"], bench), "large": summary(runs["large"], large),
        "repetitions": repetitions, "output": "-o - to /dev/null",
    }))


if __name__ == "__main__":
    main()
