"""tarvok-info on synthetic samples: its JSON against what the module reads,
damaged blocks, names that are not plain text, the text block, exit statuses."""
import json
import math
import os
import re
import struct
import subprocess
from collections import Counter
from pathlib import Path

import olefile
import pytest

import layout
from conftest import INFO_TOOL, REPO
from sample_files import BLOCK_HEADER, TERMINATOR, Scan, idx_record, idx_stream
from test_convert import help_options, man_options

NAN = struct.unpack("<f", b"\x00\x00\xc0\x7f")[0]

OUT_OF_ORDER = "block window ends before it starts (index records out of order or repeated)"
PAST_THE_END = "block starts at or past the end of the scan-data file"
NO_TERMINATOR = "block has no terminator FF FF FF FF"


def info(*arguments):
    if not INFO_TOOL.is_file():
        pytest.fail(f"tarvok-info not built at {INFO_TOOL} (set TARVOK_INFO_TOOL)")
    return subprocess.run([INFO_TOOL, *map(os.fsencode, arguments)], capture_output=True)


def info_json(*paths):
    result = info("--json", *paths)
    assert result.returncode == 0, result.stderr
    assert result.stderr == b""
    return json.loads(result.stdout)


def module_view(tarvok, wiff):
    """What the JSON must say of the sample, from the module's spectra scan by scan."""
    reader = tarvok.RawReader(os.fsdecode(wiff))
    levels = Counter()
    peaks = empty = 0
    times, mz = [], []
    tic_max = base_peak = None
    for index in range(reader.scan_count):
        spectrum = reader.read_spectrum(index)
        levels[str(spectrum.ms_level)] += 1
        peaks += len(spectrum.mz)
        empty += not spectrum.mz
        if math.isfinite(spectrum.retention_time_sec):
            times.append(spectrum.retention_time_sec)
        mz += spectrum.mz
        tic = 0.0
        for value in spectrum.intensity:
            tic += value
        if spectrum.mz:
            if tic_max is None or tic > tic_max["tic"]:
                tic_max = {"scan": index + 1, "tic": tic}
            top = max(range(len(spectrum.mz)), key=lambda i: (spectrum.intensity[i], -i))
            if base_peak is None or spectrum.intensity[top] > base_peak["intensity"]:
                base_peak = {"scan": index + 1, "mz": spectrum.mz[top], "intensity": spectrum.intensity[top]}
    return {
        "scans": reader.scan_count, "ms_levels": dict(levels), "peaks": peaks, "empty_scans": empty,
        "retention_time_sec": [min(times), max(times)] if times else None,
        "mz_range": [min(mz), max(mz)] if mz else None, "tic_max": tic_max, "base_peak": base_peak,
    }


def file_facts(wiff):
    wiff = Path(os.fsdecode(wiff))
    scan = Path(f"{wiff}.scan")
    return {"path": str(wiff), "sample": wiff.stem, "scan_path": str(scan), "wiff_bytes": wiff.stat().st_size,
            "scan_bytes": scan.stat().st_size}


def block_offsets(wiff):
    with olefile.OleFileIO(str(wiff)) as container:
        stream = container.openstream(layout.INDEX_STREAM_PATH).read()
    body = stream[layout.INDEX_HEADER_SIZE:]
    return [layout.INDEX_RECORD.unpack_from(body, at)[0]
            for at in range(0, len(body) - layout.INDEX_RECORD_SIZE + 1, layout.INDEX_RECORD_SIZE)]


def truncation_damage(offsets, scan_length):
    """The damage of contiguous blocks, each ending with its terminator, once their file is cut to scan_length."""
    damaged = []
    for number, offset in enumerate(offsets, start=1):
        last = number == len(offsets)
        if offset + layout.BLOCK_HEADER_SIZE >= scan_length:
            damaged.append({"scan": number, "reason": PAST_THE_END})
        elif last or offsets[number] > scan_length:
            damaged.append({"scan": number, "reason": NO_TERMINATOR})
    return damaged


def cut(wiff, length):
    with open(f"{wiff}.scan", "r+b") as scan:
        scan.truncate(length)
    return wiff


@pytest.fixture(scope="module")
def runs(tmp_path_factory, sample_writer):
    directory = tmp_path_factory.mktemp("runs")
    return [sample_writer.run(directory / f"run{seed}.wiff", scans=scans, seed=seed)
            for seed, scans in [(1, 1), (2, 37), (3, 150)]]


def test_json_of_random_runs_is_what_the_module_reads(runs, tarvok):
    read = info_json(*runs)
    assert [sample["path"] for sample in read] == [str(run) for run in runs]
    for wiff, sample in zip(runs, read):
        assert sample == {**file_facts(wiff), **module_view(tarvok, wiff), "damaged": []}


# (stem, scans, damaged scans): level code 1 is MS1, anything else MS2.
CRAFTED = [
    ("odd-times", [Scan(bytes([0x01, 0x81]), NAN, 1), Scan(bytes([0x02, 0x82]), math.inf, 2),
                   Scan(bytes([0x03, 0x83]), -math.inf, 2), Scan(bytes([0x04, 0x84]), -0.0, 1),
                   Scan(bytes([0x05, 0x85]), 1e-45, 1)]),
    ("no-peaks", [Scan(bytes([0x05, 0x80, 0x80]), 1.0, 1), Scan(b"", 2.0, 2)]),
    ("only-nan-times", [Scan(bytes([0x10, 0x90]), NAN, 2)]),
    ("equal-peaks", [Scan(bytes([0x0A, 0x85, 0x02, 0x85]), 0.5, 1), Scan(bytes([0x0A, 0x85]), 0.75, 3)]),
]


@pytest.mark.parametrize("stem, scans", CRAFTED, ids=[c[0] for c in CRAFTED])
def test_json_of_crafted_samples_is_what_the_module_reads(tmp_path, sample_writer, tarvok, stem, scans):
    wiff = sample_writer.scans(tmp_path / f"{stem}.wiff", scans)
    [sample] = info_json(wiff)
    assert sample == {**file_facts(wiff), **module_view(tarvok, wiff), "damaged": []}


def test_json_has_no_nan_or_infinity(tmp_path, sample_writer):
    wiff = sample_writer.scans(tmp_path / "only-nan-times.wiff", CRAFTED[2][1])
    text = info("--json", wiff).stdout.decode()
    json.loads(text, parse_constant=lambda name: pytest.fail(f"{name} in {text}"))
    assert json.loads(text)[0]["retention_time_sec"] is None


def out_of_order(sample_writer, wiff):
    """Records pointing back, repeated and past the end, and a last block without its terminator."""
    first = BLOCK_HEADER + bytes([0x0A, 0x85, 0x02, 0x87]) + TERMINATOR
    second = BLOCK_HEADER + bytes([0x7F, 0xFD, 0x10, 0x27])
    offsets = [len(first), 0, 0, len(first), 5000]
    records = [idx_record(offset, rt_min=n * 0.25, level_code=1 + n % 2) for n, offset in enumerate(offsets)]
    return sample_writer.exact(wiff, idx=idx_stream(records), scan=first + second)


def test_damaged_blocks_are_listed_and_salvaged_as_the_module_reads_them(tmp_path, sample_writer, tarvok):
    wiff = out_of_order(sample_writer, tmp_path / "out-of-order.wiff")
    [sample] = info_json(wiff)
    assert sample["damaged"] == [
        {"scan": 1, "reason": OUT_OF_ORDER}, {"scan": 2, "reason": OUT_OF_ORDER},
        {"scan": 4, "reason": NO_TERMINATOR}, {"scan": 5, "reason": PAST_THE_END}]
    del sample["damaged"]
    assert sample == {**file_facts(wiff), **module_view(tarvok, wiff)}


CUTS = {
    "in-a-header": lambda offsets, full: offsets[3] + 10,
    "on-a-boundary": lambda offsets, full: offsets[3],
    "in-a-payload": lambda offsets, full: offsets[5] + layout.BLOCK_HEADER_SIZE + 3,
    "in-the-last-terminator": lambda offsets, full: full - 2,
    "to-nothing": lambda offsets, full: 0,
}


@pytest.mark.parametrize("where", CUTS)
def test_a_cut_copy_is_read_as_the_module_reads_it_with_the_lost_blocks_listed(tmp_path, sample_writer, tarvok,
                                                                               where):
    wiff = sample_writer.run(tmp_path / "cut.wiff", scans=12, seed=5)
    offsets = block_offsets(wiff)
    full = Path(f"{wiff}.scan").stat().st_size
    assert offsets == sorted(offsets)
    length = CUTS[where](offsets, full)
    cut(wiff, length)
    expected = truncation_damage(offsets, length)
    assert expected
    [sample] = info_json(wiff)
    assert sample == {**file_facts(wiff), **module_view(tarvok, wiff), "damaged": expected}


HOSTILE_NAME = b'q"\\ \x01\x1f\x7f\xc2\x9b \xf0\x9f\x98\x80 \xe2\x80\xa8'
NOT_UTF_8 = b"a\xff\xe2\x82 b\xed\xa0\x80 \xc0\xaf\xf4\x90\x80\x80"


@pytest.mark.parametrize("name", [HOSTILE_NAME, NOT_UTF_8], ids=["controls", "not-utf-8"])
def test_a_name_that_is_not_plain_text_is_valid_json_and_harmless_text(tmp_path, sample_writer, name):
    wiff = os.path.join(os.fsencode(tmp_path), name + b".wiff")
    sample_writer.run(Path(os.fsdecode(wiff)), scans=3, seed=1)
    result = info("--json", wiff)
    assert result.returncode == 0, result.stderr
    text = result.stdout.decode("utf-8")  # strictly valid UTF-8
    assert not [c for c in text if ord(c) < 0x20 and c not in "\n"]
    [sample] = json.loads(text)
    shown = wiff.decode("utf-8", "replace")
    assert sample["path"] == shown
    assert sample["sample"] == name.decode("utf-8", "replace")
    assert sample["scan_path"] == shown + ".scan"
    # the text shows no control character at all
    plain = info(wiff).stdout.decode("utf-8")
    assert not [c for c in plain if (ord(c) < 0x20 and c != "\n") or 0x7F <= ord(c) <= 0x9F]


def test_a_path_that_is_not_utf_8_is_named_as_lossy_utf_8(tmp_path):
    wiff = os.path.join(os.fsencode(tmp_path), NOT_UTF_8 + b".wiff")
    result = info("--json", wiff)
    assert (result.returncode, result.stdout) == (1, b"[]\n")
    shown = wiff.decode("utf-8", "replace")
    assert result.stderr.decode("utf-8") == (f"tarvok-info: {shown}: parse error: .wiff.scan file not found: "
                                             f"{shown}.scan\n")


def test_text_block(tmp_path, sample_writer):
    wiff = out_of_order(sample_writer, tmp_path / "crafted.wiff")
    result = info(wiff)
    assert (result.returncode, result.stderr) == (0, b"")
    wiff_bytes = wiff.stat().st_size
    assert result.stdout.decode() == (
        "crafted\n"
        f"  path            {wiff} ({wiff_bytes} bytes)\n"
        f"  scan data       {wiff}.scan (124 bytes)\n"
        "  scans           5\n"
        "  MS levels       MS1 3, MS2 2\n"
        "  retention time  0.00 to 60.00 s\n"
        "  peaks           3 (3 scans without peaks)\n"
        "  m/z range       10 to 127\n"
        "  TIC max         10000 (scan 4)\n"
        "  base peak       m/z 127, intensity 10000 (scan 4)\n"
        "  damaged scans   4\n"
        f"    scan 1: {OUT_OF_ORDER}\n"
        f"    scan 2: {OUT_OF_ORDER}\n"
        f"    scan 4: {NO_TERMINATOR}\n"
        f"    scan 5: {PAST_THE_END}\n")


def test_many_damaged_scans_are_counted_after_the_first_twenty(tmp_path, sample_writer):
    wiff = cut(sample_writer.run(tmp_path / "short.wiff", scans=30, seed=2), 0)
    lines = info(wiff).stdout.decode().splitlines()
    assert lines[-22:] == ["  damaged scans   30", *[f"    scan {n}: {PAST_THE_END}" for n in range(1, 21)],
                           "    and 10 more (--json lists every one)"]


def test_a_sample_that_cannot_be_opened_is_named_and_the_others_still_read(tmp_path, runs, tarvok):
    missing = tmp_path / "gone.wiff"
    missing.write_bytes((runs[0]).read_bytes())
    with pytest.raises(RuntimeError) as error:
        tarvok.RawReader(str(missing))
    for mode in ([], ["--json"]):
        result = info(*mode, runs[0], missing, runs[1])
        assert result.returncode == 1
        assert result.stderr.decode() == f"tarvok-info: {missing}: {error.value.args[0]}\n"
        if mode:
            assert [s["path"] for s in json.loads(result.stdout)] == [str(runs[0]), str(runs[1])]
        else:
            assert result.stdout.decode().count("\n  scans ") == 2
    only = info("--json", missing)
    assert (only.returncode, only.stdout) == (1, b"[]\n")


@pytest.mark.parametrize("arguments, message", [
    ([], b"SAMPLE is required"),
    (["--frobnicate", "x.wiff"], b"--frobnicate"),
    (["--html"], b"--html"),
    (["--html", "", "x.wiff"], b"tarvok-info: --html needs a path\n"),
    (["--html", "{dir}", "a/s.wiff", "b/s.wiff"], b"tarvok-info: a/s.wiff and b/s.wiff would both write {dir}/s.html\n"),
])
def test_usage_errors_exit_2_and_write_nothing(tmp_path, arguments, message):
    directory = str(tmp_path / "reports")
    result = info(*[a.replace("{dir}", directory) for a in arguments])
    assert result.returncode == 2
    assert message.replace(b"{dir}", directory.encode()) in result.stderr
    assert result.stdout == b""
    assert not os.path.exists(directory)


def test_version():
    version = info("--version")
    assert (version.returncode, version.stdout) == (0, b"tarvok-info 0.1.0\n")


def test_help_matches_the_man_page():
    result = info("--help")
    assert result.returncode == 0
    from_help = help_options(result.stdout.decode())
    assert len(from_help) == 4
    assert man_options((REPO / "docs" / "tarvok-info.1.scd").read_text()) == from_help


def test_every_json_key_is_documented(runs):
    section = (REPO / "docs" / "tarvok-info.1.scd").read_text().split("# JSON", 1)[1].split("\n# ", 1)[0]
    documented = [key for line in section.splitlines() if line.startswith("*")
                  for key in re.findall(r"\*(\w+)\*", line)]
    assert documented == list(info_json(runs[0])[0])


@pytest.mark.parametrize("mode", [[], ["--json"]])
def test_a_full_standard_output_fails_the_run(runs, mode):
    with open("/dev/full", "wb") as full:
        result = subprocess.run([INFO_TOOL, *mode, runs[0]], stdout=full, stderr=subprocess.PIPE)
    assert result.returncode == 1
    assert result.stderr == b"tarvok-info: <stdout>: I/O error: No space left on device (os error 28)\n"
