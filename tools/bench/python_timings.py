"""Times the Python side of opening a sample and prints one JSON object.

usage: python_timings.py SAMPLE.wiff REPETITIONS
The tarvok module must be importable (PYTHONPATH).
"""

import array
import json
import statistics
import subprocess
import sys
import time

# Run in a fresh interpreter: the memory a first RawReader(path) touches, and
# how long it takes when none of that memory has been used before.
FRESH_OPEN = r"""
import json, resource, sys, time
import tarvok

def status(field):
    with open("/proc/self/status") as lines:
        for line in lines:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(field + " missing")

before = status("VmRSS")
try:
    # Writing 5 resets the peak (VmHWM) to the current resident size.
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")
    peak_source = "VmHWM"
except OSError:
    peak_source = "ru_maxrss"
faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
start = time.perf_counter()
reader = tarvok.RawReader(sys.argv[1])
seconds = time.perf_counter() - start
faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults
if peak_source == "VmHWM":
    peak = status("VmHWM")
else:
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
after = status("VmRSS")
print(json.dumps({"seconds": seconds, "faults": faults, "rss_before": before, "rss_peak": peak,
                  "rss_after": after, "peak_source": peak_source, "scans": reader.scan_count}))
"""


def median_seconds(repetitions, work):
    work()
    times = []
    for _ in range(repetitions):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def fresh_opens(path, repetitions):
    runs = []
    for _ in range(repetitions):
        done = subprocess.run([sys.executable, "-c", FRESH_OPEN, path], check=True, capture_output=True, text=True)
        runs.append(json.loads(done.stdout))
    return runs


def main():
    path = sys.argv[1]
    repetitions = int(sys.argv[2])
    import tarvok

    # Every open after the first in one process, memory released in between.
    def open_once():
        tarvok.RawReader(path)

    open_s = median_seconds(repetitions, open_once)

    reader = tarvok.RawReader(path)
    spectra = [reader.read_spectrum(i) for i in range(reader.scan_count)]
    peaks = sum(len(spectrum.mz) for spectrum in spectra)

    def read_lists():
        for spectrum in spectra:
            spectrum.mz
            spectrum.intensity

    mz_s = median_seconds(repetitions, read_lists)
    arrays = [(array.array("d", spectrum.mz), array.array("d", spectrum.intensity)) for spectrum in spectra]

    def to_lists():
        for mz, intensity in arrays:
            mz.tolist()
            intensity.tolist()

    tolist_s = median_seconds(repetitions, to_lists)
    del arrays, spectra, reader

    fresh = fresh_opens(path, max(3, repetitions // 2))
    fresh.sort(key=lambda run: run["seconds"])
    middle = fresh[len(fresh) // 2]
    ratios = sorted((run["rss_peak"] - run["rss_before"]) / (run["rss_after"] - run["rss_before"]) for run in fresh)
    print(json.dumps({
        "open_s": open_s,
        "fresh_open_s": middle["seconds"],
        "fresh_open_faults": middle["faults"],
        "mz_s": mz_s,
        "tolist_s": tolist_s,
        "peaks": peaks,
        "rss_ratio": ratios[len(ratios) // 2],
        "rss_before": middle["rss_before"],
        "rss_peak": middle["rss_peak"],
        "rss_after": middle["rss_after"],
        "rss_peak_source": middle["peak_source"],
        "python": sys.version.split()[0],
    }))


if __name__ == "__main__":
    main()
