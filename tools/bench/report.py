"""Turns the stage timings of one scripts/bench run into rates and ratios.

usage: report.py BUILD_DIR NATIVE_JSON PYTHON_JSON CONVERT_JSON INFO_JSON [MICRO_JSON] [--json]
       report.py --large LARGE_JSON [--json]
Every MB/s figure is 10^6 bytes of the sample's scan-data file per second of
the stage, so the figures compare directly; every ratio is between times of
this one run.
"""

import json
import os
import platform
import shlex
import subprocess
import sys

MB = 1e6
# The scale goals: a 2 GiB sample converts at the bench sample's pace per MB,
# within this factor, in at most this much resident memory.
LARGE_PER_MB_GOAL = 1.25
LARGE_RSS_MB_GOAL = 64


def cpu_model():
    with open("/proc/cpuinfo") as lines:
        for line in lines:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return platform.processor()


# The compiler and the flags that built the decoder.
def compiler_and_flags(build):
    with open(os.path.join(build, "compile_commands.json")) as text:
        commands = json.load(text)
    command = shlex.split(next(entry["command"] for entry in commands
                               if entry["file"].endswith("raw/avx512_kernels.cpp")))
    version = subprocess.run([command[0], "--version"], check=True, capture_output=True, text=True)
    kept = [flag for flag in command[1:]
            if flag.startswith(("-O", "-std", "-f", "-m", "-D", "-W", "-g")) and not flag.startswith("-MD")]
    return version.stdout.splitlines()[0], " ".join(kept)


def micro_results(path):
    with open(path) as text:
        runs = json.load(text)["benchmarks"]
    return {run["name"]: round(run["bytes_per_second"] / MB, 1) for run in runs}


def cores_figures(cores):
    """One core against two, pinned, from convert_timings' "cores" runs."""
    if not cores:
        return {}
    return {
        "convert_cores_speedup": cores["plain"]["one"]["s"] / cores["plain"]["two"]["s"],
        "convert_zlib_cores_speedup": cores["zlib"]["one"]["s"] / cores["zlib"]["two"]["s"],
        "convert_numpress_zlib_cores_speedup": cores["numpress_zlib"]["one"]["s"] / cores["numpress_zlib"]["two"]["s"],
        "zlib_vs_plain": cores["zlib"]["two"]["s"] / cores["plain"]["two"]["s"],
        "convert_rss_mb": cores["plain"]["two"]["rss_bytes"] / MB,
    }


def convert_figures(size, convert):
    floor = convert["floor"]
    used = len(os.sched_getaffinity(0))
    # What no conversion avoids, each alone: the document's SHA-1 in order, writing it, and
    # reading, decoding and base64 shared by the cores. The slowest of them bounds it.
    stages = {"document_sha1": floor["document_sha1_s"], "write": floor["write_s"],
              "read_decode_base64_per_core": floor["strict_base64_s"] / used}
    floor_s = max(stages.values())
    floor_cpu_s = floor["document_sha1_cpu_s"] + floor["write_cpu_s"] + floor["strict_base64_cpu_s"]
    return {
        "convert_mb_s": size / MB / convert["convert_s"],
        "convert_vs_floor": convert["convert_s"] / floor_s,
        "convert_zlib_mb_s": size / MB / convert["zlib_s"],
        "convert_numpress_mb_s": size / MB / convert["numpress_s"],
        "convert_gzip_mb_s": size / MB / convert["gzip_s"],
        "numpress_size_ratio": convert["mzml_bytes"] / convert["numpress_bytes"],
        "numpress_zlib_vs_zlib": convert["zlib_bytes"] / convert["numpress_zlib_bytes"],
        "convert_jobs_speedup": convert["jobs_1_s"] / convert["jobs_2_s"],
        "convert_rss_mb": convert["convert_rss_bytes"] / MB,
        **cores_figures(convert["cores"]),
        "pymzml_read_s": convert["pymzml_read_s"],
        "tarvok_read_s": convert["tarvok_read_s"],
        # The same ratios in CPU time, which other users of a shared machine
        # do not stretch.
        "convert_vs_floor_cpu": convert["convert_cpu_s"] / floor_cpu_s,
        "convert_jobs_cpu_ratio": convert["jobs_2_cpu_s"] / convert["jobs_1_cpu_s"],
        "convert": {
            "seconds": {
                "convert": convert["convert_s"], "convert_cpu": convert["convert_cpu_s"], "zlib": convert["zlib_s"],
                "numpress": convert["numpress_s"], "numpress_zlib": convert["numpress_zlib_s"], "gzip": convert["gzip_s"],
                "jobs_1_four_samples": convert["jobs_1_s"], "jobs_2_four_samples": convert["jobs_2_s"],
                "jobs_1_cpu": convert["jobs_1_cpu_s"], "jobs_2_cpu": convert["jobs_2_cpu_s"],
                "floor": floor_s, "floor_cpu": floor_cpu_s,
                "base64": floor["strict_base64_s"] - floor["strict_s"],
                **{name[:-2]: value for name, value in floor.items()},
            },
            "floor_stage": max(stages, key=stages.get), "floor_cores": used, "cores": convert["cores"],
            "mzml_bytes": convert["mzml_bytes"], "zlib_bytes": convert["zlib_bytes"],
            "numpress_bytes": convert["numpress_bytes"], "numpress_zlib_bytes": convert["numpress_zlib_bytes"],
            "gzip_bytes": convert["gzip_bytes"],
            "output_fs": convert["output_fs"],
        },
    }


def info_figures(size, info):
    return {
        "info_mb_s": size / MB / info["info_s"],
        "info_rss_mb": info["info_rss_bytes"] / MB,
        "info": {"seconds": {"info": info["info_s"], "info_cpu": info["info_cpu_s"]}},
    }


def figures(build, native, python, convert, info, micro):
    size = native["scan_bytes"]
    floor_s = native["block_io_s"] + native["decode_s"]
    compiler, flags = compiler_and_flags(build)
    result = {
        "read_mb_s": size / MB / native["read_s"],
        "simple_decode_mb_s": size / MB / native["simple_decode_s"],
        "decode_mb_s": size / MB / native["decode_s"],
        "decode_speedup": native["simple_decode_s"] / native["decode_s"],
        "block_io_mb_s": size / MB / native["block_io_s"],
        "iterate_mb_s": size / MB / native["iterate_s"],
        "open_mb_s": size / MB / python["open_s"],
        "open_vs_floor": python["open_s"] / floor_s,
        "mz_vs_floor": python["mz_s"] / python["tolist_s"],
        "rss_ratio": python["rss_ratio"],
        "peaks_per_s": native["peaks"] / python["open_s"],
        "fresh_open_mb_s": size / MB / python["fresh_open_s"],
        "fresh_open_vs_floor": python["fresh_open_s"] / floor_s,
        "fresh_open_vs_memory_floor": python["fresh_open_s"] / (floor_s + native["retained_write_s"]),
        "block_peaks_decode_mb_s": size / MB / native["peak_decode_s"],
        "page_faults": {"fresh_open": python["fresh_open_faults"], "iterate": native["iterate_faults"]},
        "seconds": {
            "read": native["read_s"], "simple_decode": native["simple_decode_s"], "decode": native["decode_s"],
            "block_io": native["block_io_s"], "iterate": native["iterate_s"], "open": python["open_s"],
            "fresh_open": python["fresh_open_s"], "mz_intensity": python["mz_s"], "tolist": python["tolist_s"],
            "retained_write": native["retained_write_s"],
        },
        "rss_bytes": {"before": python["rss_before"], "peak": python["rss_peak"], "after": python["rss_after"],
                      "peak_source": python["rss_peak_source"]},
        "sample": {
            "scans": native["scans"], "scan_bytes": size, "payload_bytes": native["payload_bytes"],
            "points": native["points"], "peaks": native["peaks"],
        },
        "machine": {
            "cores": os.cpu_count(), "cpu": cpu_model(), "kernel": platform.release(), "compiler": compiler,
            "flags": flags, "decoder": native["kernels"], "python": python["python"],
        },
        "repetitions": native["repetitions"],
    }
    result.update(convert_figures(size, convert))
    result.update(info_figures(size, info))
    if python["peaks"] != native["peaks"] or convert["peaks"] != native["peaks"]:
        raise SystemExit(f"the module gave {python['peaks']} peaks, the reader {native['peaks']}")
    if micro:
        result["micro_mb_s"] = micro
    return result


def print_table(result):
    rows = [
        ("read_mb_s", "whole scan file from the page cache"),
        ("simple_decode_mb_s", "byte-at-a-time switch decoder"),
        ("decode_mb_s", "decode_payload, every block's payload"),
        ("decode_speedup", "decode / simple decode"),
        ("block_io_mb_s", "open, seek, read, close of every window"),
        ("iterate_mb_s", "iter_spectra + collect_spectra"),
        ("open_mb_s", "RawReader(path), repeated in one process"),
        ("open_vs_floor", "open time / (block I/O + decode)"),
        ("fresh_open_mb_s", "RawReader(path), first in a new process"),
        ("fresh_open_vs_floor", "fresh open time / (block I/O + decode)"),
        ("fresh_open_vs_memory_floor", "... / (block I/O + decode + writing the kept lists to new memory)"),
        ("mz_vs_floor", ".mz + .intensity / array.tolist()"),
        ("rss_ratio", "peak RSS growth / RSS kept, fresh process"),
        ("peaks_per_s", "peaks per second of open"),
        ("convert_mb_s", "tarvok-convert to uncompressed mzML"),
        ("convert_vs_floor", "convert time / its slowest unavoidable stage: document SHA-1, writing it, "
                             "or read + decode + base64 per core"),
        ("convert_zlib_mb_s", "tarvok-convert --zlib"),
        ("convert_numpress_mb_s", "tarvok-convert --numpress"),
        ("convert_gzip_mb_s", "tarvok-convert --gzip"),
        ("numpress_size_ratio", "uncompressed mzML bytes / --numpress bytes"),
        ("numpress_zlib_vs_zlib", "--zlib bytes / --numpress --zlib bytes"),
        ("convert_jobs_speedup", "four samples, -j 1 time / -j 2 time"),
        ("convert_rss_mb", "peak RSS of one conversion with -j 2, MB"),
        ("convert_cores_speedup", "one sample, one core (-j 1) / two cores (-j 2), taskset"),
        ("convert_zlib_cores_speedup", "the same with --zlib"),
        ("convert_numpress_zlib_cores_speedup", "the same with --numpress --zlib"),
        ("zlib_vs_plain", "--zlib time / plain time, two cores"),
        ("convert_vs_floor_cpu", "convert CPU seconds / those of its unavoidable stages together"),
        ("convert_jobs_cpu_ratio", "CPU seconds of -j 2 / -j 1, four samples"),
        ("pymzml_read_s", "pymzml reading every spectrum's arrays back"),
        ("tarvok_read_s", "RawReader opening and reading every spectrum"),
        ("info_mb_s", "tarvok-info, text"),
        ("info_rss_mb", "peak RSS of tarvok-info, MB"),
    ]
    for key, meaning in rows:
        if key not in result:
            continue
        value = result[key]
        shown = f"{value:,.0f}" if value >= 1000 else f"{value:.2f}"
        print(f"{key:26} {shown:>14}  {meaning}")
    faults = result["page_faults"]
    print(f"{'page faults':26} {faults['fresh_open']:>14,}  fresh open; {faults['iterate']:,} per iterate")
    print(f"{'retained_write_s':26} {result['seconds']['retained_write']:>14.3f}  "
          f"writing {result['sample']['peaks'] * 12:,} bytes of lists to new memory")
    parts = result["convert"]["seconds"]
    print("convert seconds: " + ", ".join(f"{name} {value:.3f}" for name, value in parts.items()) +
          f"; outputs on {result['convert']['output_fs']}")
    sample = result["sample"]
    print(f"sample: {sample['scans']} scans, {sample['scan_bytes']:,} scan bytes, {sample['peaks']:,} peaks")
    machine = result["machine"]
    print(f"machine: {machine['cores']} cores, {machine['cpu']}, {machine['compiler']}, decoder {machine['decoder']}")
    print(f"flags: {machine['flags']}")
    for name, rate in result.get("micro_mb_s", {}).items():
        print(f"  {name:40} {rate:>10,.1f} MB/s")


def large_figures(timings):
    """Per-MB pace of the large sample against the bench sample's, from large_timings.py."""
    result = {}
    for name in ("bench", "large"):
        run = timings[name]
        megabytes = run["scan_bytes"] / MB
        result[f"{name}_s"] = run["s"]
        result[f"{name}_mb_s"] = megabytes / run["s"]
        result[f"{name}_s_per_mb"] = run["s"] / megabytes
        result[f"{name}_convert_rss_mb"] = run["rss_bytes"] / MB
    result["large_per_mb_vs_bench"] = result["large_s_per_mb"] / result["bench_s_per_mb"]
    # The same in CPU seconds, which other users of a shared machine stretch least.
    result["large_per_mb_vs_bench_cpu"] = ((timings["large"]["cpu_s"] / timings["large"]["scan_bytes"]) /
                                           (timings["bench"]["cpu_s"] / timings["bench"]["scan_bytes"]))
    result["goals"] = {"large_per_mb_vs_bench": LARGE_PER_MB_GOAL, "large_convert_rss_mb": LARGE_RSS_MB_GOAL}
    result["cpu_seconds"] = {name: timings[name]["cpu_s"] for name in ("bench", "large")}
    result["samples"] = {name: {"scan_bytes": timings[name]["scan_bytes"], "runs": timings[name]["runs"]}
                         for name in ("bench", "large")}
    result["output"] = timings["output"]
    result["repetitions"] = timings["repetitions"]
    result["machine"] = {"cores": os.cpu_count(), "cpu": cpu_model()}
    return result


def print_large_table(result):
    rows = [
        ("large_s", "seconds, large sample", ""),
        ("large_mb_s", "scan MB/s, large sample", ""),
        ("large_s_per_mb", "seconds per scan MB, large sample", ""),
        ("bench_s", "seconds, bench sample", ""),
        ("bench_mb_s", "scan MB/s, bench sample", ""),
        ("bench_s_per_mb", "seconds per scan MB, bench sample", ""),
        ("large_per_mb_vs_bench", "large seconds per MB / bench seconds per MB", "goal"),
        ("large_per_mb_vs_bench_cpu", "the same in CPU seconds", ""),
        ("large_convert_rss_mb", "peak RSS of the large conversion, MB", "goal"),
        ("bench_convert_rss_mb", "peak RSS of the bench conversion, MB", ""),
    ]
    for key, meaning, goal in rows:
        value = result[key]
        shown = f"{value:.5f}" if value < 0.1 else f"{value:.2f}"
        if goal:
            limit = result["goals"][key]
            meaning += f" (goal <= {limit}: {'met' if value <= limit else 'missed'})"
        print(f"{key:26} {shown:>10}  {meaning}")
    samples = result["samples"]
    print(f"samples: large {samples['large']['scan_bytes']:,} scan bytes, {samples['large']['runs']} runs; "
          f"bench {samples['bench']['scan_bytes']:,} scan bytes, {samples['bench']['runs']} runs; "
          f"CPU seconds large {result['cpu_seconds']['large']:.2f}, bench {result['cpu_seconds']['bench']:.3f}")
    print(f"outputs: {result['output']}; machine: {result['machine']['cores']} cores, {result['machine']['cpu']}")


def main():
    if "--large" in sys.argv:
        result = large_figures(json.loads(next(a for a in sys.argv[1:] if a not in ("--large", "--json"))))
        if "--json" in sys.argv:
            print(json.dumps(result, indent=2))
        else:
            print_large_table(result)
        return
    arguments = [argument for argument in sys.argv[1:] if argument != "--json"]
    build, native_text, python_text = arguments[:3]
    convert_text, info_text = arguments[3:5]
    micro = micro_results(arguments[5]) if len(arguments) > 5 else None
    result = figures(build, json.loads(native_text), json.loads(python_text), json.loads(convert_text),
                     json.loads(info_text), micro)
    if "--json" in sys.argv:
        print(json.dumps(result, indent=2))
    else:
        print_table(result)


if __name__ == "__main__":
    main()
