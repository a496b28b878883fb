"""Times tarvok-info in text mode and prints one JSON object.

usage: info_timings.py BUILD_DIR SAMPLE.wiff REPETITIONS
"""

import json
import sys
from pathlib import Path

from convert_timings import median_run


def main():
    build, sample, repetitions = Path(sys.argv[1]), sys.argv[2], int(sys.argv[3])
    seconds, rss, cpu_s = median_run([str(build / "cli" / "info" / "tarvok-info"), sample], repetitions)
    print(json.dumps({"info_s": seconds, "info_cpu_s": cpu_s, "info_rss_bytes": rss}))


if __name__ == "__main__":
    main()
