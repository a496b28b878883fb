"""tarvok-convert on synthetic samples: the validators, pymzml against the
module's spectra, our index and checksum check, failures, exit statuses,
atomic outputs and progress."""
import gzip
import math
import os
import re
import resource
import shutil
import signal
import struct
import subprocess
import time
from pathlib import Path

import pytest

import mzml_check
import terminal_run
from conftest import CONVERT_TOOL, ASAN_RUNTIME_ENV, REPO, SHORT_READS_LIB
from sample_files import BLOCK_HEADER, TERMINATOR, Scan, idx_record, idx_stream, scan_layout

SCHEMA = Path("/usr/share/openms/SCHEMAS/mzML_idx_1_10.xsd")
HOSTILE_NAME = "1 a&b <c> \"q\" 'x' é"
NAN = struct.unpack("<f", b"\x00\x00\xc0\x7f")[0]


def tool(name):
    path = shutil.which(name)
    if path is None:
        pytest.fail(f"{name} is not installed (scripts/test installs it)")
    return path


def convert(*arguments, **options):
    if not CONVERT_TOOL.is_file():
        pytest.fail(f"tarvok-convert not built at {CONVERT_TOOL} (set TARVOK_CONVERT_TOOL)")
    return subprocess.run([CONVERT_TOOL, *map(str, arguments)], capture_output=True, **options)


def leftovers(directory):
    """Temporary outputs are hidden files beside the outputs."""
    return sorted(p.name for p in Path(directory).iterdir() if p.name.startswith("."))


def unnamed_outputs(pid, directory):
    """The files without a name (O_TMPFILE) that the process is writing in `directory`."""
    found = []
    for fd in Path(f"/proc/{pid}/fd").iterdir():
        try:
            target = os.readlink(fd)
        except OSError:  # closed meanwhile
            continue
        if target.startswith(f"{directory}/#"):
            found.append(target)
    return found


def converter_has_test_hooks():
    return CONVERT_TOOL.is_file() and b"TARVOK_TEST_FAULT" in CONVERT_TOOL.read_bytes()


# How outputs are made: unnamed and linked, or (where the file system has no
# unnamed files) hidden and renamed, forced by a test hook.
OUTPUT_MODES = {"unnamed": {}, "named": {"TARVOK_TEST_FAULT": "no-tmpfile"}}


def output_mode_environment(mode):
    if OUTPUT_MODES[mode] and not converter_has_test_hooks():
        pytest.skip("tarvok-convert built without its test hooks (meson -Dtest_hooks=true)")
    return {**os.environ, **OUTPUT_MODES[mode]}


# Crafted samples: (file stem, scans). Level code 1 is MS1, anything else MS2.
CRAFTED = {
    HOSTILE_NAME: [Scan(bytes([0x0A, 0x85, 0x02, 0x87]), 0.5, 1), Scan(bytes([0x7F, 0xFC, 0xF0]), 0.75, 2)],
    "odd-times": [
        Scan(bytes([0x01, 0x81]), NAN, 1),
        Scan(bytes([0x02, 0x82]), math.inf, 2),
        Scan(bytes([0x03, 0x83]), -math.inf, 2),
        Scan(bytes([0x04, 0x84]), -0.0, 1),
        Scan(bytes([0x05, 0x85]), 1e-45, 1),
    ],
    # Only zero intensities, no payload at all, then one real peak.
    "empty-spectra": [Scan(bytes([0x05, 0x80, 0x80]), 1.0, 1), Scan(b"", 2.0, 2), Scan(bytes([0x7F, 0xFF, 1, 2, 3, 4]), 3.0, 2)],
    "ms2-only": [Scan(bytes([0x10, 0x90]), 1.0, 2)],
}


REVERSED = "block window ends before it starts (index records out of order or repeated)"
PAST_END = "block starts at or past the end of the scan-data file"
UNTERMINATED = "block has no terminator FF FF FF FF"
DAMAGED_BLOCK = "damaged scan block"


def out_of_order(sample_writer, wiff):
    """Records pointing back and past the end: empty windows, and one that the file ends inside."""
    first = BLOCK_HEADER + bytes([0x0A, 0x85, 0x02, 0x87]) + TERMINATOR
    second = BLOCK_HEADER + bytes([0x7F, 0xFD, 0x10, 0x27])
    offsets = [len(first), 0, len(first), 5000]
    records = [idx_record(offset, rt_min=n * 0.25, level_code=1 + n % 2) for n, offset in enumerate(offsets)]
    return sample_writer.exact(wiff, idx=idx_stream(records), scan=first + second)


def unterminated_tail(sample_writer, wiff):
    """A last block that carries peaks but ends with the file, without its terminator."""
    idx, data = scan_layout([Scan(bytes([0x0A, 0x85, 0x02, 0x87]), 0.5, 1),
                             Scan(bytes([0x7F, 0xFC, 0xF0, 0x03, 0x90]), 0.75, 2)])
    return sample_writer.exact(wiff, idx=idx, scan=data[: -len(TERMINATOR)])


# Samples whose blocks are damaged: the (scan number, reason) of each, in scan order.
DAMAGED = {
    "out-of-order": [(1, REVERSED), (3, UNTERMINATED), (4, PAST_END)],
    "unterminated-tail": [(2, UNTERMINATED)],
}


@pytest.fixture(scope="session")
def samples(tmp_path_factory, sample_writer):
    directory = tmp_path_factory.mktemp("samples")
    made = {}
    for seed in (1, 2):
        made[f"run{seed}"] = sample_writer.run(directory / f"run{seed}.wiff", scans=150, seed=seed)
    for stem, scans in CRAFTED.items():
        made[stem] = sample_writer.scans(directory / f"{stem}.wiff", scans)
    made["out-of-order"] = out_of_order(sample_writer, directory / "out-of-order.wiff")
    made["unterminated-tail"] = unterminated_tail(sample_writer, directory / "unterminated-tail.wiff")
    return made


def warnings(wiff, damaged):
    return [f"tarvok-convert: {wiff}: warning: scan {number}: {reason}" for number, reason in damaged]


@pytest.fixture(scope="session")
def documents(tmp_path_factory, samples):
    """Every sample converted in one salvaging run per mode: {(stem, zlib): path}."""
    converted = {}
    for zlib in (False, True):
        out = tmp_path_factory.mktemp("zlib" if zlib else "plain")
        result = convert("--salvage", *(["--zlib"] if zlib else []), "-o", out, *samples.values())
        assert result.returncode == 0, result.stderr
        lines = result.stderr.decode().splitlines()
        # Samples convert side by side: each one's warnings in order, the samples interleaved.
        for stem, wiff in samples.items():
            assert [line for line in lines if line.startswith(f"tarvok-convert: {wiff}: ")] == warnings(
                wiff, DAMAGED.get(stem, [])
            )
        assert len(lines) == sum(map(len, DAMAGED.values()))
        for stem in samples:
            converted[(stem, zlib)] = out / f"{stem}.mzML"
    assert leftovers(out) == []
    return converted


DOCUMENT_IDS = [(stem, zlib) for stem in ["run1", "run2", *CRAFTED, *DAMAGED] for zlib in (False, True)]


def document_id(key):
    return f"{key[0]}{'-zlib' if key[1] else ''}"


@pytest.fixture(params=DOCUMENT_IDS, ids=document_id)
def document(request, documents, samples):
    stem, _ = request.param
    return documents[request.param], samples[stem]


VALIDATORS = {
    "xmllint": (lambda path: ["xmllint", "--noout", "--schema", str(SCHEMA), str(path)],
                lambda out: out.strip().endswith(b"validates")),
    "FileInfo-v": (lambda path: ["FileInfo", "-in", str(path), "-v"],
                   lambda out: b"Success - the file is valid!" in out and b"the file is semantically valid!" in out),
    "FileInfo-i": (lambda path: ["FileInfo", "-in", str(path), "-i"],
                   lambda out: re.search(rb"Found a valid indexed mzML XML File with \d+ spectra and 1 chromatograms", out)),
}


@pytest.mark.parametrize("validator", VALIDATORS)
def test_validators_accept(document, validator):
    path, _ = document
    command, accepted = VALIDATORS[validator]
    arguments = command(path)
    result = subprocess.run([tool(arguments[0]), *arguments[1:]], capture_output=True)
    assert result.returncode == 0, result.stdout + result.stderr
    assert accepted(result.stdout + result.stderr), result.stdout + result.stderr


def test_index_offsets_and_checksum(document, tarvok):
    path, sample = document
    summary = mzml_check.check_file(path)
    count = tarvok.RawReader(str(sample)).scan_count
    assert [e.id for e in summary.spectra] == [f"scan={n}" for n in range(1, count + 1)]
    assert [e.id for e in summary.chromatograms] == ["TIC"]


def same_bits(a, b):
    return struct.pack("<d", a) == struct.pack("<d", b) or (math.isnan(a) and math.isnan(b))


def test_pymzml_reads_back_the_modules_spectra(document, tarvok):
    pymzml = pytest.importorskip("pymzml")
    path, sample = document
    reader = tarvok.RawReader(str(sample))
    want = [reader.read_spectrum(i) for i in range(reader.scan_count)]
    run = pymzml.run.Reader(str(path))
    read = list(run)
    assert len(read) == len(want)
    for number, (got, expected) in enumerate(zip(read, want), start=1):
        assert got.ID == number
        assert got.ms_level == expected.ms_level
        seconds, unit = got.scan_time
        assert unit == "second"
        assert same_bits(seconds, expected.retention_time_sec), (number, seconds)
        assert got.mz.tobytes() == struct.pack(f"<{len(expected.mz)}d", *expected.mz), number
        assert got.i.tobytes() == struct.pack(f"<{len(expected.intensity)}f", *expected.intensity), number
    # pymzml keys its index by the number of "scan=N"; a text id would send
    # it to a heuristic search of the file instead.
    assert set(range(1, len(want) + 1)) <= set(run.info["offset_dict"])
    for number in reversed(range(1, len(want) + 1)):
        got = run[number]
        assert got.ID == number
        assert got.mz.tobytes() == struct.pack(f"<{len(want[number - 1].mz)}d", *want[number - 1].mz)


def assert_same_as_module(path, wiff, tarvok, damaged=()):
    """The document holds the module's spectra, the summary terms and the TIC
    that follow from them, and a mark on exactly the damaged scans."""
    reader = tarvok.RawReader(str(wiff))
    want = [reader.read_spectrum(i) for i in range(reader.scan_count)]
    values = mzml_check.read_values(path)
    assert [s.id for s in values.spectra] == [f"scan={n}" for n in range(1, len(want) + 1)]
    marks = dict(damaged)
    for number, (got, expected) in enumerate(zip(values.spectra, want), start=1):
        assert got.ms_level == expected.ms_level, number
        assert same_bits(got.time, expected.retention_time_sec), (number, got.time)
        assert got.mz == struct.pack(f"<{len(expected.mz)}d", *expected.mz), number
        assert got.intensity == struct.pack(f"<{len(expected.intensity)}f", *expected.intensity), number
        assert got.summary == mzml_check.summary_of(expected.mz, expected.intensity), number
        assert got.user_params == ([(DAMAGED_BLOCK, marks[number])] if number in marks else []), number
    times = struct.unpack(f"<{len(values.tic_times) // 8}d", values.tic_times)
    assert len(times) == len(want)
    assert all(same_bits(t, s.retention_time_sec) for t, s in zip(times, want)), times
    totals = [mzml_check.summary_of(s.mz, s.intensity)["total ion current"] for s in want]
    assert values.tic_currents == struct.pack(f"<{len(totals)}d", *totals)


def test_summaries_tic_and_marks_match_the_module(document, tarvok, samples):
    path, sample = document
    stem = next(stem for stem, wiff in samples.items() if wiff == sample)
    assert_same_as_module(path, sample, tarvok, DAMAGED.get(stem, []))


def test_the_read_back_takes_only_what_xsd_double_spells(documents, tmp_path):
    data = documents[("odd-times", False)].read_bytes()
    assert b'value="NaN" unitCvRef="UO"' in data and b'value="-INF" unitCvRef="UO"' in data
    mzml_check.read_values(documents[("odd-times", False)])
    for good, bad in [(b'"NaN"', b'"nan"'), (b'"-INF"', b'"-inf"'), (b'"INF"', b'"Infinity"')]:
        spoiled = tmp_path / "spoiled.mzML"
        spoiled.write_bytes(data.replace(good, bad, 1))
        with pytest.raises(mzml_check.MzmlProblem, match="is not an xs:double"):
            mzml_check.read_values(spoiled)


def test_source_files_carry_both_sha1s(documents, samples):
    import hashlib
    import xml.etree.ElementTree as ElementTree

    ns = {"m": "http://psi.hupo.org/ms/mzml"}
    root = ElementTree.parse(documents[(HOSTILE_NAME, False)]).getroot()
    files = root.findall("m:mzML/m:fileDescription/m:sourceFileList/m:sourceFile", ns)
    wiff = samples[HOSTILE_NAME]
    assert [f.get("name") for f in files] == [wiff.name, wiff.name + ".scan"]
    for element, path in zip(files, [wiff, Path(str(wiff) + ".scan")]):
        params = {p.get("accession"): p.get("value") for p in element.findall("m:cvParam", ns)}
        assert params["MS:1000569"] == hashlib.sha1(path.read_bytes()).hexdigest()
        assert "MS:1000562" in params and "MS:1000776" in params


def test_standard_output_holds_the_same_document(documents, samples):
    result = convert("-o", "-", samples["run1"])
    assert result.returncode == 0, result.stderr
    assert result.stdout == documents[("run1", False)].read_bytes()


# How a sample goes bad: (name, make(directory, sample_writer) -> wiff, message after "<wiff>: ").
def scan_directory(directory, writer):
    wiff = writer.scans(directory / "d.wiff", [Scan(bytes([1, 0x81]))])
    os.remove(f"{wiff}.scan")
    os.mkdir(f"{wiff}.scan")
    return wiff


def scan_missing(directory, writer):
    wiff = writer.scans(directory / "m.wiff", [Scan(bytes([1, 0x81]))])
    os.remove(f"{wiff}.scan")
    return wiff


def not_a_container(directory, writer):
    wiff = directory / "t.wiff"
    wiff.write_text("plain text")
    Path(f"{wiff}.scan").write_bytes(b"")
    return wiff


FAILURES = [
    ("index-out-of-order", lambda d, w: out_of_order(w, d / "o.wiff"), f"{{wiff}}: scan 1: {REVERSED}"),
    ("last-block-unterminated", lambda d, w: unterminated_tail(w, d / "u.wiff"), f"{{wiff}}: scan 2: {UNTERMINATED}"),
    ("scan-file-is-a-directory", scan_directory, "{wiff}.scan: I/O error: Is a directory (os error 21)"),
    ("scan-file-missing", scan_missing, "{wiff}: parse error: .wiff.scan file not found: {wiff}.scan"),
    ("not-a-container", not_a_container, "{wiff}: I/O error: "),
]


@pytest.mark.parametrize("name,make,message", FAILURES, ids=[f[0] for f in FAILURES])
def test_a_failed_sample_writes_nothing_and_the_others_convert(tmp_path, sample_writer, samples, name, make, message):
    bad = make(tmp_path, sample_writer)
    out = tmp_path / "out"
    out.mkdir()
    result = convert("-j", "2", "-o", out, samples["run1"], bad, samples["ms2-only"])
    assert result.returncode == 1
    line = f"tarvok-convert: {message.format(wiff=bad)}"
    lines = result.stderr.decode().splitlines()
    assert len(lines) == 1 and lines[0].startswith(line), lines
    assert sorted(p.name for p in out.iterdir()) == ["ms2-only.mzML", "run1.mzML"]
    mzml_check.check_file(out / "run1.mzML")


def test_a_failed_sample_leaves_the_previous_output(tmp_path, sample_writer):
    bad = scan_directory(tmp_path, sample_writer)
    previous = tmp_path / "d.mzML"
    previous.write_bytes(b"previous output")
    assert convert("-o", tmp_path, bad).returncode == 1
    assert previous.read_bytes() == b"previous output"
    assert leftovers(tmp_path) == []


def test_a_new_output_replaces_the_old_one_with_the_usual_mode(tmp_path, samples, documents):
    shutil.copy(samples["run1"], tmp_path / "run1.wiff")
    shutil.copy(f"{samples['run1']}.scan", tmp_path / "run1.wiff.scan")
    (tmp_path / "run1.mzML").write_bytes(b"old")
    result = convert("-o", tmp_path, tmp_path / "run1.wiff", preexec_fn=lambda: os.umask(0o027))
    assert result.returncode == 0, result.stderr
    assert mzml_check.check_file(tmp_path / "run1.mzML").spectra
    assert (tmp_path / "run1.mzML").stat().st_mode & 0o777 == 0o640


USAGE_ERRORS = [
    ("no-sample", [], "SAMPLE is required"),
    ("unknown-option", ["--fast", "{run1}"], "--fast"),
    ("jobs-zero", ["-j", "0", "{run1}"], "--jobs"),
    ("jobs-not-a-number", ["-j", "many", "{run1}"], "--jobs"),
    ("stdout-with-two-samples", ["-o", "-", "{run1}", "{run2}"], "-o - writes one sample"),
    ("duplicate-output-names", ["-o", "{out}", "{run1}", "{other_run1}"], "would both write {out}/run1.mzML"),
    ("same-sample-twice", ["-o", "{out}", "{run1}", "{run1}"], "would both write"),
]


@pytest.mark.parametrize("name,arguments,message", USAGE_ERRORS, ids=[u[0] for u in USAGE_ERRORS])
def test_usage_errors_exit_2_and_write_nothing(tmp_path, samples, name, arguments, message):
    other = tmp_path / "other"
    other.mkdir()
    shutil.copy(samples["run1"], other / "run1.wiff")
    shutil.copy(f"{samples['run1']}.scan", other / "run1.wiff.scan")
    out = tmp_path / "out"
    out.mkdir()
    names = {"run1": samples["run1"], "run2": samples["run2"], "other_run1": other / "run1.wiff", "out": out}
    result = convert(*(a.format(**names) for a in arguments), cwd=out)
    assert result.returncode == 2, result.stderr
    assert message.format(**names) in result.stderr.decode()
    assert result.stdout == b""
    assert list(out.iterdir()) == []


def test_a_missing_output_directory_is_made_with_its_parents(tmp_path, samples):
    target = tmp_path / "a" / "b" / "c"
    result = convert("-o", target, samples["run1"], preexec_fn=lambda: os.umask(0o027))
    assert result.returncode == 0, result.stderr
    mzml_check.check_file(target / "run1.mzML")
    for made in (tmp_path / "a", tmp_path / "a" / "b", target):
        assert made.stat().st_mode & 0o777 == 0o750, made


def test_an_output_directory_below_a_file(tmp_path, samples):
    (tmp_path / "file").write_text("x")
    target = tmp_path / "file" / "sub"
    result = convert("-o", target, samples["run1"])
    assert result.returncode == 1
    assert result.stderr.decode() == f"tarvok-convert: {target}: I/O error: Not a directory (os error 20)\n"
    assert (tmp_path / "file").read_text() == "x"


@pytest.fixture
def small_disk(tmp_path):
    mount = tmp_path / "disk"
    mount.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tarvok-test", str(mount)], capture_output=True)
    if mounted.returncode != 0:
        pytest.skip(f"cannot mount a small tmpfs here: {mounted.stderr.decode().strip()}")
    yield mount
    subprocess.run(["umount", str(mount)], check=True)


def varied_scans(count):
    """Scans of varied sizes, every ninth one empty, the largest about 2,500 peaks."""
    scans = []
    for k in range(count):
        points = 0 if k % 9 == 0 else (k * 7919) % 2500
        payload = bytes(v for i in range(points) for v in (1 + i % 120, 0x80 + (i * 13 + k) % 124))
        scans.append(Scan(payload, 0.01 * k, 1 + k % 3))
    return scans


VARIED_SCANS = varied_scans(600)


@pytest.fixture(scope="session")
def varied(tmp_path_factory, sample_writer):
    return sample_writer.scans(tmp_path_factory.mktemp("varied") / "varied.wiff", VARIED_SCANS)


THREAD_MODES = [[], ["--zlib"], ["--numpress"], ["--numpress", "--zlib"], ["--gzip"]]


@pytest.mark.parametrize("options", THREAD_MODES, ids=lambda options: "-".join(o[2:] for o in options) or "plain")
def test_any_number_of_threads_writes_the_same_bytes(tmp_path, varied, options):
    name = "varied.mzML.gz" if "--gzip" in options else "varied.mzML"
    written = {}
    for jobs in (1, 2, 4):
        out = tmp_path / f"j{jobs}"
        out.mkdir()
        result = convert(*options, "-j", jobs, "-o", out, varied)
        assert (result.returncode, result.stderr) == (0, b"")
        written[jobs] = (out / name).read_bytes()
    assert written[2] == written[1] and written[4] == written[1]
    document = tmp_path / "j4" / "varied.mzML"
    if "--gzip" in options:
        document.write_bytes(gzip.decompress(written[4]))
    assert len(mzml_check.check_file(document).spectra) == len(VARIED_SCANS)


@pytest.mark.parametrize("jobs", [1, 4])
def test_a_damaged_block_deep_in_a_sample_fails_it_with_workers_running(tmp_path, sample_writer, jobs):
    wiff = sample_writer.scans(tmp_path / "cut.wiff", VARIED_SCANS)
    sizes = [len(BLOCK_HEADER) + len(scan.payload) + len(TERMINATOR) for scan in VARIED_SCANS]
    damaged = 451  # 1-based scan number; its block loses its terminator and all behind it
    os.truncate(f"{wiff}.scan", sum(sizes[: damaged - 1]) + sizes[damaged - 1] - 1)
    out = tmp_path / "out"
    out.mkdir()
    result = convert("--zlib", "-j", jobs, "-o", out, wiff)
    assert (result.returncode, result.stderr.decode()) == (1, f"tarvok-convert: {wiff}: scan {damaged}: {UNTERMINATED}\n")
    assert list(out.iterdir()) == []


@pytest.mark.parametrize("jobs", [1, 4])
def test_a_full_disk_fails_a_sample_encoded_by_workers(small_disk, varied, jobs):
    result = convert("-j", jobs, "-o", small_disk, varied)
    assert result.returncode == 1
    assert result.stderr.decode() == (
        f"tarvok-convert: {small_disk}/varied.mzML: I/O error: No space left on device (os error 28)\n"
    )
    assert list(small_disk.iterdir()) == []


def test_a_full_disk_fails_the_sample_and_leaves_nothing(small_disk, samples):
    result = convert("-j", "2", "-o", small_disk, samples["run1"], samples["ms2-only"])
    assert result.returncode == 1
    # run1 never fits; with two jobs the small one may be written before
    # run1 fills the disk, or meet a full disk itself.
    full = "I/O error: No space left on device (os error 28)"
    converted = sorted(p.name for p in small_disk.iterdir())
    assert converted in ([], ["ms2-only.mzML"])
    failed = ["run1"] + ([] if converted else ["ms2-only"])
    expected = [f"tarvok-convert: {small_disk}/{stem}.mzML: {full}" for stem in failed]
    assert sorted(result.stderr.decode().splitlines()) == sorted(expected)
    for name in converted:
        mzml_check.check_file(small_disk / name)


def test_a_file_size_limit_fails_the_sample_and_leaves_nothing(tmp_path, samples):
    limit = 1 << 20  # run1's document is about 3 MB, ms2-only's a few kB

    def limited():
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    for mode in OUTPUT_MODES:
        out = tmp_path / mode
        out.mkdir()
        result = convert("-j", "1", "-o", out, samples["run1"], samples["ms2-only"], preexec_fn=limited,
                         env=output_mode_environment(mode))
        assert result.returncode == 1, result.stderr
        assert result.stderr.decode() == f"tarvok-convert: {out}/run1.mzML: I/O error: File too large (os error 27)\n"
        assert sorted(p.name for p in out.iterdir()) == ["ms2-only.mzML"]
        mzml_check.check_file(out / "ms2-only.mzML")


def closed_pipe():
    """The writing end of a pipe whose reader is gone."""
    read_end, write_end = os.pipe()
    os.close(read_end)
    return write_end


def test_a_closed_standard_error_stops_no_sample(tmp_path, sample_writer, samples):
    bad = scan_missing(tmp_path, sample_writer)
    out = tmp_path / "out"
    out.mkdir()
    stderr = closed_pipe()
    try:
        result = subprocess.run([CONVERT_TOOL, "-j", "1", "-o", out, bad, samples["run1"]], stdout=subprocess.DEVNULL,
                                stderr=stderr)
    finally:
        os.close(stderr)
    assert result.returncode == 1
    assert sorted(p.name for p in out.iterdir()) == ["run1.mzML"]
    mzml_check.check_file(out / "run1.mzML")


def test_a_closed_standard_output_fails_the_sample(samples):
    stdout = closed_pipe()
    try:
        result = subprocess.run([CONVERT_TOOL, "-o", "-", samples["run1"]], stdout=stdout, stderr=subprocess.PIPE)
    finally:
        os.close(stdout)
    assert result.returncode == 1
    assert result.stderr.decode() == "tarvok-convert: <stdout>: I/O error: Broken pipe (os error 32)\n"


TRACED = "openat,fsync,fdatasync,linkat,rename,renameat,renameat2"
SYSCALL = re.compile(r"^\d+\s+(\w+)\((.*)\)\s+= (-?\d+)")


def traced_calls(trace):
    """(call, arguments, result) of each completed call that strace saw."""
    found = []
    for line in trace.read_text().splitlines():
        match = SYSCALL.match(line)
        if match:
            found.append((match.group(1), match.group(2), int(match.group(3))))
    return found


def naming_steps(calls, directory):
    """What each output's file and its directory went through, with descriptors and names made symbolic."""
    directory_fd = file_fd = None
    steps = []
    for call, arguments, result in calls:
        if call == "openat" and f'"{directory}"' in arguments and "O_DIRECTORY" in arguments:
            directory_fd = result
        elif call == "openat" and ("O_TMPFILE" in arguments or f'"{directory}/.' in arguments):
            file_fd = result
        elif call in ("fsync", "fdatasync"):
            fd = int(arguments)
            steps.append((call, "file" if fd == file_fd else "directory" if fd == directory_fd else fd))
        elif call == "linkat":
            assert f'"/proc/self/fd/{file_fd}"' in arguments, arguments
            target = re.search(r'"([^"]+)", AT_SYMLINK_FOLLOW', arguments).group(1)
            steps.append(("linkat", "hidden" if "/." in target else Path(target).name, result == 0))
        elif call.startswith("rename"):
            target = re.findall(r'"([^"]+)"', arguments)[-1]
            steps.append(("rename", Path(target).name))
    return steps


@pytest.mark.parametrize("mode", OUTPUT_MODES)
def test_the_output_is_synced_before_it_takes_its_name(tmp_path, samples, mode):
    out = tmp_path / "out"
    out.mkdir()
    (out / "run2.mzML").write_bytes(b"previous output")
    trace = tmp_path / "trace"
    strace = [tool("strace"), "-f", "-o", trace, "-e", f"trace={TRACED}"]
    # LeakSanitizer cannot work under ptrace; an instrumented converter
    # keeps its other checks.
    environment = output_mode_environment(mode)
    environment["ASAN_OPTIONS"] = environment.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    result = subprocess.run([*strace, CONVERT_TOOL, "-j", "1", "-o", out, samples["run1"], samples["run2"]],
                            capture_output=True, env=environment)
    assert result.returncode == 0, result.stderr
    if mode == "unnamed":
        # linkat cannot replace run2's old output: a hidden name, then rename.
        expected = [("fsync", "file"), ("linkat", "run1.mzML", True), ("fsync", "directory"),
                    ("fsync", "file"), ("linkat", "run2.mzML", False), ("linkat", "hidden", True),
                    ("rename", "run2.mzML"), ("fsync", "directory")]
    else:
        expected = [("fsync", "file"), ("rename", "run1.mzML"), ("fsync", "directory"),
                    ("fsync", "file"), ("rename", "run2.mzML"), ("fsync", "directory")]
    assert naming_steps(traced_calls(trace), out) == expected
    assert sorted(p.name for p in out.iterdir()) == ["run1.mzML", "run2.mzML"]
    for name in ("run1.mzML", "run2.mzML"):
        mzml_check.check_file(out / name)


@pytest.fixture(scope="session")
def long_samples(tmp_path_factory, sample_writer):
    """One large sample under four names, for conversions long enough to interrupt."""
    directory = tmp_path_factory.mktemp("long")
    first = sample_writer.run(directory / "long0.wiff", scans=3000, seed=5)
    names = [first]
    for n in range(1, 4):
        wiff = directory / f"long{n}.wiff"
        os.link(first, wiff)
        os.link(f"{first}.scan", f"{wiff}.scan")
        names.append(wiff)
    return names


def start_and_wait_for_an_output(arguments, directory, mode, **options):
    """Starts tarvok-convert and returns once it writes an output in `directory`."""
    process = subprocess.Popen([CONVERT_TOOL, *map(str, arguments)], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               env=output_mode_environment(mode), **options)

    def writing():
        return unnamed_outputs(process.pid, directory) if mode == "unnamed" else leftovers(directory)

    deadline = time.monotonic() + 30
    while not writing() and process.poll() is None and time.monotonic() < deadline:
        time.sleep(0.001)
    assert writing(), "no output was being written"
    return process


# SIGINT as the second job creates its output: a named temporary made just
# after the handler had looked used to survive (4 runs in 150).
@pytest.mark.parametrize("mode", OUTPUT_MODES)
@pytest.mark.parametrize("signal_number", [signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGKILL],
                         ids=lambda s: signal.Signals(s).name)
def test_an_interrupted_run_leaves_no_temporary_file(tmp_path, long_samples, signal_number, mode):
    if signal_number == signal.SIGKILL and mode == "named":
        pytest.skip("nothing can remove a named temporary after SIGKILL")
    process = start_and_wait_for_an_output(["-j", "2", "-o", tmp_path, *long_samples], tmp_path, mode)
    process.send_signal(signal_number)
    _, err = process.communicate(timeout=30)
    assert process.returncode == -signal_number, err
    assert leftovers(tmp_path) == []
    for completed in tmp_path.iterdir():
        mzml_check.check_file(completed)


def test_no_temporary_is_made_after_the_signal(tmp_path, samples):
    # The handler lingers (a test hook) while the other job goes on through
    # many small samples: every output it tries to begin must be refused.
    names = []
    for n in range(200):
        wiff = tmp_path / f"s{n}.wiff"
        os.link(samples["ms2-only"], wiff)
        os.link(f"{samples['ms2-only']}.scan", f"{wiff}.scan")
        names.append(wiff)
    out = tmp_path / "out"
    out.mkdir()
    environment = output_mode_environment("named")
    environment["TARVOK_TEST_FAULT"] += ",slow-death"
    process = subprocess.Popen([CONVERT_TOOL, "-j", "4", "-o", out, *names], stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, env=environment)
    deadline = time.monotonic() + 30

    def completed():
        return [p for p in out.iterdir() if not p.name.startswith(".")]

    while len(completed()) < 5 and process.poll() is None and time.monotonic() < deadline:
        time.sleep(0.001)
    process.send_signal(signal.SIGINT)
    _, err = process.communicate(timeout=30)
    assert process.returncode == -signal.SIGINT, err
    assert leftovers(out) == []
    assert 5 <= len(completed()) < len(names)
    for path in completed():
        mzml_check.check_file(path)


def test_an_inherited_ignored_hangup_is_kept(tmp_path, long_samples):
    # nohup tarvok-convert ... &: the run must outlive the terminal.
    process = start_and_wait_for_an_output(["-j", "2", "-o", tmp_path, *long_samples[:2]], tmp_path, "unnamed",
                                           preexec_fn=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN))
    process.send_signal(signal.SIGHUP)
    _, err = process.communicate(timeout=60)
    assert process.returncode == 0, err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["long0.mzML", "long1.mzML"]
    for completed in tmp_path.iterdir():
        mzml_check.check_file(completed)


# Faults that only a test build can cause: (fault, message after "tarvok-convert: ").
INNER_FAULTS = [
    ("writer-misuse", "{wiff}: scan 0: internal error: the mzML writer refused the document"),
    ("memory", "{wiff}: out of memory"),
]


@pytest.mark.parametrize("fault,message", INNER_FAULTS, ids=[f[0] for f in INNER_FAULTS])
def test_an_inner_fault_fails_its_sample_with_its_own_message(tmp_path, samples, fault, message):
    if not converter_has_test_hooks():
        pytest.skip("tarvok-convert built without its test hooks (meson -Dtest_hooks=true)")
    (tmp_path / "run1.mzML").write_bytes(b"previous output")
    result = convert("-o", tmp_path, samples["run1"], env={**os.environ, "TARVOK_TEST_FAULT": fault})
    assert result.returncode == 1
    assert result.stderr.decode() == f"tarvok-convert: {message.format(wiff=samples['run1'])}\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["run1.mzML"]
    assert (tmp_path / "run1.mzML").read_bytes() == b"previous output"


def run_on_pty(arguments):
    """stderr on a pseudo-terminal: what it showed, and the exit status."""
    shown, status, _ = terminal_run.run_on_pty(CONVERT_TOOL, arguments)
    return shown, status


def test_progress_on_a_terminal(tmp_path, long_samples):
    shown, status = run_on_pty(["-j", "1", "-o", tmp_path, *long_samples[:2]])
    assert status == 0
    text = shown.decode()
    assert re.search(r"long0: \d+/3000 scans, [\d.]+ MB/s", text), text
    assert re.search(r"long1: \d+/3000 scans, [\d.]+ MB/s", text), text
    assert re.search(r"tarvok-convert: 2 converted, 0 failed, [\d.]+ MB of scan data in", text), text


def test_no_progress_when_quiet_or_not_a_terminal(tmp_path, samples):
    shown, status = run_on_pty(["--quiet", "-o", tmp_path, samples["run1"]])
    assert (shown, status) == (b"", 0)
    result = convert("-o", tmp_path, samples["run2"])
    assert (result.stderr, result.returncode) == (b"", 0)


def help_options(text):
    """(flags, description) of each option line of --help."""
    found = []
    for line in text.splitlines():
        match = re.match(r"\s+(-[^\s]+)(?: ([A-Z]+)[^\s]*)?\s{2,}(.+)", line)
        if match:
            found.append((match.group(1).split(","), match.group(2), match.group(3).strip()))
    return found


def man_options(source):
    """(flags, argument, first paragraph) of each entry under OPTIONS in the scdoc source."""
    section = source.split("# OPTIONS", 1)[1].split("\n# ", 1)[0]
    found = []
    for entry in re.finditer(r"^(\*-.+)\n((?:\t.+\n)+)", section, re.MULTILINE):
        flags = re.findall(r"\*(-[^*]+)\*", entry.group(1))
        argument = re.search(r"_([A-Z]+)_", entry.group(1))
        found.append((flags, argument and argument.group(1), " ".join(entry.group(2).split())))
    return found


def test_help_matches_the_man_page():
    result = convert("--help")
    assert result.returncode == 0
    from_help = help_options(result.stdout.decode())
    from_man = man_options((REPO / "docs" / "tarvok-convert.1.scd").read_text())
    assert len(from_help) == 12
    assert from_man == from_help


def test_many_jobs_opening_samples_at_once(tmp_path, sample_writer):
    # The container library's first use is not thread-safe: a race there
    # crashed about one run in forty before openings were serialised.
    wiffs = [sample_writer.run(tmp_path / f"s{n}.wiff", scans=3, seed=n) for n in range(16)]
    out = tmp_path / "out"
    out.mkdir()
    statuses = [convert("-q", "-j", "8", "-o", out, *wiffs).returncode for _ in range(60)]
    assert statuses == [0] * 60
    assert len(list(out.iterdir())) == 16


# Five contiguous blocks; the cut points below are counted from their starts.
CUT_SCANS = [Scan(bytes([0x0A + n, 0x85, 0x02, 0xFC, 0x90 + n]), 0.25 * n, 1 + n % 2) for n in range(5)]
CUT_BLOCK = len(BLOCK_HEADER) + 5 + len(TERMINATOR)
CUT_TERMINATOR = len(BLOCK_HEADER) + 5  # where a block's terminator starts within it

# (name, length of the cut file, damaged scans)
CUTS = [
    ("inside-a-payload", 2 * CUT_BLOCK + 58, [(3, UNTERMINATED), (4, PAST_END), (5, PAST_END)]),
    ("mid-terminator", 2 * CUT_BLOCK + CUT_TERMINATOR + 2, [(3, UNTERMINATED), (4, PAST_END), (5, PAST_END)]),
    ("at-a-block-boundary", 3 * CUT_BLOCK, [(4, PAST_END), (5, PAST_END)]),
    ("inside-a-header", 3 * CUT_BLOCK + 20, [(4, PAST_END), (5, PAST_END)]),
    ("inside-the-last-block", 4 * CUT_BLOCK + 58, [(5, UNTERMINATED)]),
    ("last-terminator-short-by-one", 5 * CUT_BLOCK - 1, [(5, UNTERMINATED)]),
    ("nothing-left", 0, [(n, PAST_END) for n in range(1, 6)]),
]


@pytest.mark.parametrize("salvage", [False, True], ids=["refused", "salvaged"])
@pytest.mark.parametrize("name,length,damaged", CUTS, ids=[c[0] for c in CUTS])
def test_a_truncated_copy(tmp_path, sample_writer, tarvok, name, length, damaged, salvage):
    wiff = sample_writer.scans(tmp_path / "cut.wiff", CUT_SCANS)
    assert os.path.getsize(f"{wiff}.scan") == 5 * CUT_BLOCK
    os.truncate(f"{wiff}.scan", length)
    out = tmp_path / "out"
    out.mkdir()
    result = convert(*(["--salvage"] if salvage else []), "--quiet", "-o", out, wiff)
    lines = result.stderr.decode().splitlines()
    if not salvage:
        number, reason = damaged[0]
        assert (result.returncode, lines) == (1, [f"tarvok-convert: {wiff}: scan {number}: {reason}"])
        assert list(out.iterdir()) == []
        return
    assert (result.returncode, lines) == (0, warnings(wiff, damaged))
    assert_same_as_module(out / "cut.mzML", wiff, tarvok, damaged)
    mzml_check.check_file(out / "cut.mzML")


def test_the_whole_copy_of_the_truncated_sample_is_sound(tmp_path, sample_writer, tarvok):
    wiff = sample_writer.scans(tmp_path / "whole.wiff", CUT_SCANS)
    result = convert("-o", tmp_path, wiff)
    assert (result.returncode, result.stderr) == (0, b"")
    assert_same_as_module(tmp_path / "whole.mzML", wiff, tarvok)


def test_salvage_warnings_on_a_terminal(tmp_path, samples):
    shown, status = run_on_pty(["--salvage", "-o", tmp_path, samples["unterminated-tail"]])
    assert status == 0
    assert f"tarvok-convert: {samples['unterminated-tail']}: warning: scan 2: {UNTERMINATED}" in shown.decode()


def test_short_reads_of_the_scan_file_lose_nothing(tmp_path, samples, documents):
    if not SHORT_READS_LIB.is_file():
        pytest.fail(f"short-read library not built at {SHORT_READS_LIB} (set TARVOK_SHORT_READS_LIB)")
    log = tmp_path / "shortened"
    # An instrumented converter needs its runtime loaded first.
    preload = " ".join([*ASAN_RUNTIME_ENV.get("LD_PRELOAD", "").split(), str(SHORT_READS_LIB)])
    environment = dict(os.environ, LD_PRELOAD=preload, TARVOK_SHORT_READS_LOG=str(log))
    result = convert("-o", "-", samples["run1"], env=environment)
    assert (result.returncode, result.stderr) == (0, b"")
    assert int(log.read_text()) > 150, "the reads were not shortened"
    assert result.stdout == documents[("run1", False)].read_bytes()
