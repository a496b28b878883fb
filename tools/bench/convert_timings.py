"""Times tarvok-convert and reading its output back, and prints one JSON object.

usage: convert_timings.py BUILD_DIR SAMPLE.wiff REPETITIONS OUTPUT_DIR
The tarvok module must be importable (PYTHONPATH). Outputs go to a fresh
directory under OUTPUT_DIR, removed at the end: a tmpfs there measures the
converter rather than the disk, which other users of the machine share. Every
timed conversion starts after sync() and with its output removed, so that no
run pays for the write-back of the one before, nor for freeing its file.
"""

import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path


def clear_output(command):
    """Removes what an earlier run of the command wrote into its -o directory:
    each run then writes new files, as a conversion of a new sample does, and
    freeing the pages of the files it would replace is no part of its time."""
    if "-o" in command:
        directory = Path(command[command.index("-o") + 1])
        if directory.is_dir():
            for entry in directory.iterdir():
                if entry.is_file():
                    entry.unlink()


def timed(command):
    """Wall seconds, peak resident bytes and CPU seconds of one run of the command."""
    clear_output(command)
    os.sync()
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"{command} failed")
    return seconds, usage.ru_maxrss * 1024, usage.ru_utime + usage.ru_stime


def summarised(runs):
    """Median wall seconds, the largest peak resident bytes, median CPU seconds of timed runs."""
    return (statistics.median(r[0] for r in runs), max(r[1] for r in runs), statistics.median(r[2] for r in runs))


def median_run(command, repetitions):
    """summarised() of the command's runs."""
    return summarised([timed(command) for _ in range(repetitions)])


def interleaved_medians(commands, repetitions):
    """median_run of each command, their runs taken in turn, so that a change of
    the machine's load falls on all of them alike. A command may be a list of
    commands, run in rotation, one per repetition."""
    runs = {name: [] for name in commands}
    for repetition in range(repetitions):
        for name, command in commands.items():
            if isinstance(command[0], list):
                command = command[repetition % len(command)]
            runs[name].append(timed(command))
    return {name: summarised(done) for name, done in runs.items()}


def core_variants(convert, sample, out, repetitions):
    """One sample converted on one core (-j 1) against two (-j 2), each pinned
    with taskset, plain, with --zlib and with --numpress --zlib: for each mode,
    {"one": summarised, "two": summarised}. Empty on a machine that gives this
    process fewer than two cores."""
    cores = sorted(os.sched_getaffinity(0))[:2]
    if len(cores) < 2 or shutil.which("taskset") is None:
        return {}
    modes = {"plain": [], "zlib": ["--zlib"], "numpress_zlib": ["--numpress", "--zlib"]}
    # One core is each of the two in turn, so that the one-core figure does
    # not rest on one core alone.
    pinned = {"one": [["taskset", "-c", str(core), convert, "-j", "1"] for core in cores],
              "two": [["taskset", "-c", f"{cores[0]},{cores[1]}", convert, "-j", "2"]]}
    result = {}
    for mode, options in modes.items():
        # The compressed modes are slow: fewer runs, the same median rule.
        reps = repetitions if mode == "plain" else min(repetitions, 6)
        result[mode] = interleaved_medians(
            {cores_used: [[*command, "-q", *options, "-o", str(out), str(sample)] for command in commands]
             for cores_used, commands in pinned.items()},
            reps)
    return result


def linked_samples(sample, directory, count):
    """The sample under `count` names, so that -j has that many samples."""
    directory.mkdir(exist_ok=True)
    names = []
    for n in range(count):
        wiff = directory / f"copy{n}.wiff"
        for source, target in ((sample, wiff), (Path(f"{sample}.scan"), Path(f"{wiff}.scan"))):
            if not target.exists():
                os.link(source, target)
        names.append(str(wiff))
    return names


def filesystem_of(path):
    """The file system type that holds path, from /proc/self/mounts."""
    best, kind = "", "unknown"
    resolved = str(Path(path).resolve())
    with open("/proc/self/mounts") as mounts:
        for line in mounts:
            _, point, fs = line.split()[:3]
            if (resolved == point or resolved.startswith(point.rstrip("/") + "/")) and len(point) >= len(best):
                best, kind = point, fs
    return kind


def pymzml_read(path):
    import pymzml

    start = time.perf_counter()
    peaks = 0
    for spectrum in pymzml.run.Reader(str(path)):
        peaks += len(spectrum.mz) + len(spectrum.i)
    return time.perf_counter() - start, peaks // 2


def tarvok_read(sample):
    import tarvok

    start = time.perf_counter()
    reader = tarvok.RawReader(str(sample))
    peaks = 0
    for index in range(reader.scan_count):
        spectrum = reader.read_spectrum(index)
        peaks += len(spectrum.mz) + len(spectrum.intensity)
    return time.perf_counter() - start, peaks // 2


def main():
    build, sample, repetitions = Path(sys.argv[1]), Path(sys.argv[2]), int(sys.argv[3])
    convert = str(build / "cli" / "tarvok-convert")
    work = Path(tempfile.mkdtemp(prefix="tarvok-convert-bench-", dir=sys.argv[4]))
    out = work / "out"
    out.mkdir()
    try:
        convert_s, rss, convert_cpu_s = median_run([convert, "-q", "-o", str(out), str(sample)], repetitions)
        document = out / (sample.stem + ".mzML")
        mzml_bytes = document.stat().st_size

        os.sync()
        floor = json.loads(subprocess.run(
            [str(build / "tools" / "bench" / "tarvok-convert-floor"), str(sample), str(document),
             str(out / "floor.tmp"), str(repetitions)], check=True, capture_output=True, text=True).stdout)

        # The other choices are slow: fewer runs, the same median rule; sizes from the last run.
        choices = {}
        for name, options, suffix in (("zlib", ["--zlib"], ".mzML"),
                                      ("numpress", ["--numpress"], ".mzML"),
                                      ("numpress_zlib", ["--numpress", "--zlib"], ".mzML"),
                                      ("gzip", ["--gzip"], ".mzML.gz")):
            choice_out = work / name
            choice_out.mkdir()
            seconds, _, _ = median_run([convert, "-q", *options, "-o", str(choice_out), str(sample)],
                                       min(repetitions, 3))
            choices[f"{name}_s"] = seconds
            choices[f"{name}_bytes"] = (choice_out / (sample.stem + suffix)).stat().st_size
            shutil.rmtree(choice_out)

        cores_out = work / "cores"
        cores_out.mkdir()
        cores = core_variants(convert, sample, cores_out, repetitions)
        shutil.rmtree(cores_out)

        copies = linked_samples(sample, sample.parent / "four-samples", 4)
        jobs_out = work / "jobs"
        jobs_out.mkdir()
        # In turn, as the core runs, so that a change of the machine's pace falls on both counts alike.
        four = interleaved_medians({count: [convert, "-q", "-j", str(count), "-o", str(jobs_out), *copies]
                                    for count in (1, 2)}, min(repetitions, 3))
        jobs = {count: run[0] for count, run in four.items()}
        jobs_cpu = {count: run[2] for count, run in four.items()}
        shutil.rmtree(jobs_out)

        pymzml_s, pymzml_peaks = pymzml_read(document)
        tarvok_s, tarvok_peaks = tarvok_read(sample)
        if pymzml_peaks != tarvok_peaks:
            raise SystemExit(f"pymzml read {pymzml_peaks} peaks, the module {tarvok_peaks}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(json.dumps({
        "convert_s": convert_s, "convert_cpu_s": convert_cpu_s, "convert_rss_bytes": rss, "mzml_bytes": mzml_bytes,
        **choices, "jobs_1_s": jobs[1], "jobs_2_s": jobs[2],
        "floor": {name: value for name, value in floor.items() if name.endswith("_s")},
        "jobs_1_cpu_s": jobs_cpu[1], "jobs_2_cpu_s": jobs_cpu[2], "pymzml_read_s": pymzml_s, "tarvok_read_s": tarvok_s, "peaks": tarvok_peaks,
        "cores": {mode: {used: {"s": run[0], "rss_bytes": run[1], "cpu_s": run[2]} for used, run in runs.items()}
                  for mode, runs in cores.items()},
        "repetitions": repetitions, "output_fs": filesystem_of(work),
    }))


if __name__ == "__main__":
    main()
