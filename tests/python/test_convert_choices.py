"""tarvok-convert --numpress, --gzip and the spectrum filters: every numpress
array decoded by the reference library against the module's values, the
validators and OpenMS on what each choice writes, and the filters' rules."""
import gzip
import math
import re
import struct
import subprocess
import xml.etree.ElementTree as ElementTree

import pytest

import mzml_check
from conftest import CONVERT_TOOL, numpress_decode
from sample_files import Scan

SCHEMA = "/usr/share/openms/SCHEMAS/mzML_idx_1_10.xsd"
NS = {"m": "http://psi.hupo.org/ms/mzml"}
NAN = struct.unpack("<f", b"\x00\x00\xc0\x7f")[0]


def convert(*arguments):
    if not CONVERT_TOOL.is_file():
        pytest.fail(f"tarvok-convert not built at {CONVERT_TOOL} (set TARVOK_CONVERT_TOOL)")
    return subprocess.run([CONVERT_TOOL, *map(str, arguments)], capture_output=True)


def run_tool(*arguments):
    result = subprocess.run(list(map(str, arguments)), capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout + result.stderr


def intensity_op(value):
    return b"\xff" + struct.pack("<I", value)


# Counts at the edges of the integer coding: 2^31 - 256 fits; 2^31 and 2^32,
# which floats make of 0x7FFFFFC1 and 0xFFFFFFF0, do not.
EXTREMES = [
    Scan(bytes([0x0A]) + intensity_op(0x7FFFFF00) + bytes([0x01, 0x85]), 0.5, 1),
    Scan(bytes([0x0A]) + intensity_op(0x7FFFFFC1) + bytes([0x01, 0x85]), 0.75, 2),
    Scan(bytes([0x05]) + intensity_op(0xFFFFFFF0) + bytes([0x01, 0x85]), 1.0, 2),
    Scan(bytes([0x7F, 0x81]), 1.25, 1),  # one peak
    Scan(b"", 1.5, 2),  # none
    Scan(bytes([0x05, 0x80]), 1.75, 1),  # only a zero count: none either
]
EXTREME_CODINGS = [("linear", "integers"), ("linear", None), ("linear", None), ("linear", "integers"), (None, None),
                   (None, None)]
ODD_TIMES = [Scan(bytes([n, 0x80 + n]), rt, 1 + n % 2) for n, rt in
             enumerate([NAN, math.inf, -math.inf, -0.0, 1e-45, 0.5, 2.0], start=1)]


@pytest.fixture(scope="session")
def samples(tmp_path_factory, sample_writer):
    directory = tmp_path_factory.mktemp("choices")
    return {
        "run": sample_writer.run(directory / "run.wiff", scans=150, seed=7),
        "extremes": sample_writer.scans(directory / "extremes.wiff", EXTREMES),
        "odd-times": sample_writer.scans(directory / "odd-times.wiff", ODD_TIMES),
    }


MODES = {"numpress": ["--numpress"], "numpress-zlib": ["--numpress", "--zlib"], "plain": [], "zlib": ["--zlib"]}


@pytest.fixture(scope="session")
def documents(tmp_path_factory, samples):
    """{(stem, mode): path}, every sample converted in one run per mode."""
    converted = {}
    for mode, options in MODES.items():
        out = tmp_path_factory.mktemp(mode)
        result = convert(*options, "-o", out, *samples.values())
        assert result.returncode == 0 and result.stderr == b"", result.stderr
        for stem in samples:
            converted[(stem, mode)] = out / f"{stem}.mzML"
    return converted


def module_spectra(tarvok, sample):
    reader = tarvok.RawReader(str(sample))
    return [reader.read_spectrum(i) for i in range(reader.scan_count)]


def packed(values, code):
    return struct.pack(f"<{len(values)}{code}", *values)


def codings(spectrum):
    return tuple(mzml_check.COMPRESSIONS[spectrum.compressions[a]][1] for a in ("MS:1000514", "MS:1000515"))


@pytest.mark.parametrize("mode", ["numpress", "numpress-zlib"])
@pytest.mark.parametrize("stem", ["run", "extremes"])
def test_every_numpress_array_decodes_to_the_modules_values(documents, samples, tarvok, stem, mode):
    stored = mzml_check.read_values(documents[(stem, mode)], numpress_decode).spectra
    want = module_spectra(tarvok, samples[stem])
    assert [s.id for s in stored] == [f"scan={n}" for n in range(1, len(want) + 1)]
    for spectrum, expected in zip(stored, want):
        assert (spectrum.mz, spectrum.intensity) == (packed(expected.mz, "d"), packed(expected.intensity, "f")), \
            spectrum.id
    if stem == "extremes":
        assert [codings(s) for s in stored] == EXTREME_CODINGS
    else:
        # Whole positions and counts below 2^31: every array with peaks is coded.
        assert all(codings(s) == ("linear", "integers") for s, e in zip(stored, want) if len(e) > 0)
        assert any(len(e) > 0 for e in want)


VALIDATORS = {
    "xmllint": (lambda path: ["xmllint", "--noout", "--schema", SCHEMA, path], r"validates"),
    "FileInfo-v": (lambda path: ["FileInfo", "-in", path, "-v"],
                   r"Success - the file is valid!(.|\n)*the file is semantically valid!"),
    "FileInfo-i": (lambda path: ["FileInfo", "-in", path, "-i"],
                   r"Found a valid indexed mzML XML File with \d+ spectra and 1 chromatograms"),
}


@pytest.mark.parametrize("validator", VALIDATORS)
@pytest.mark.parametrize("mode", ["numpress", "numpress-zlib"])
@pytest.mark.parametrize("stem", ["run", "extremes"])
def test_validators_accept_numpress(documents, stem, mode, validator):
    command, accepted = VALIDATORS[validator]
    path = documents[(stem, mode)]
    assert re.search(accepted, run_tool(*command(path))), validator
    mzml_check.check_file(path)


def assert_pymzml_reads(path, want, numbers=None):
    pymzml = pytest.importorskip("pymzml")
    numbers = numbers or list(range(1, len(want) + 1))
    read = list(pymzml.run.Reader(str(path)))
    assert [s.ID for s in read] == numbers
    for got, expected in zip(read, want):
        assert got.mz.tobytes() == packed(expected.mz, "d"), got.ID
        assert got.i.tobytes() == packed(expected.intensity, "f"), got.ID


@pytest.mark.parametrize("mode", ["numpress", "numpress-zlib"])
@pytest.mark.parametrize("stem", ["run", "extremes"])
def test_openms_reads_numpress_back_to_the_modules_values(documents, samples, tarvok, stem, mode, tmp_path):
    # FileConverter decodes numpress; what it writes, pymzml reads.
    decoded = tmp_path / "decoded.mzML"
    run_tool("FileConverter", "-in", documents[(stem, mode)], "-out", decoded)
    assert_pymzml_reads(decoded, module_spectra(tarvok, samples[stem]))


@pytest.mark.parametrize("mode", list(MODES))
def test_gzip_holds_the_same_document(samples, documents, tmp_path, mode):
    result = convert("--gzip", *MODES[mode], "-o", tmp_path, samples["run"])
    assert result.returncode == 0, result.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["run.mzML.gz"]
    assert gzip.decompress((tmp_path / "run.mzML.gz").read_bytes()) == documents[("run", mode)].read_bytes()


def test_gzip_to_standard_output(samples, documents):
    result = convert("--gzip", "-o", "-", samples["extremes"])
    assert result.returncode == 0, result.stderr
    assert gzip.decompress(result.stdout) == documents[("extremes", "plain")].read_bytes()


def test_pymzml_and_openms_read_gzip(samples, tarvok, tmp_path):
    assert convert("--gzip", "--zlib", "-o", tmp_path, samples["run"]).returncode == 0
    path = tmp_path / "run.mzML.gz"
    want = module_spectra(tarvok, samples["run"])
    assert_pymzml_reads(path, want)
    info = run_tool("FileInfo", "-in", path)
    assert f"Number of spectra: {len(want)}\n" in info
    assert f"Total number of peaks: {sum(len(s) for s in want)}\n" in info
    # The validators read no gzip: they check the document it holds.
    plain = tmp_path / "run.mzML"
    plain.write_bytes(gzip.decompress(path.read_bytes()))
    for validator, (command, accepted) in VALIDATORS.items():
        assert re.search(accepted, run_tool(*command(plain))), validator
    mzml_check.check_file(plain)


def test_gzip_names_collide_like_plain_ones(samples, tmp_path):
    (tmp_path / "other").mkdir()
    other = tmp_path / "other" / "run.wiff"
    other.symlink_to(samples["run"])
    (tmp_path / "other" / "run.wiff.scan").symlink_to(f"{samples['run']}.scan")
    result = convert("--gzip", "-o", tmp_path, samples["run"], other)
    assert result.returncode == 2
    assert result.stderr.decode() == f"tarvok-convert: {samples['run']} and {other} would both write {tmp_path}/run.mzML.gz\n"


# (options, which spectra stay: predicate of (scan number, MS level, seconds)).
FILTERS = {
    "level-1": (["--ms-level", "1"], lambda n, level, t: level == 1),
    "level-2-up": (["--ms-level", "2-"], lambda n, level, t: level >= 2),
    "levels-list": (["--ms-level", "1,3-4"], lambda n, level, t: level in (1, 3, 4)),
    "levels-up-to-1": (["--ms-level", "-1"], lambda n, level, t: level <= 1),
    "scans": (["--scan-range", "20-60"], lambda n, level, t: 20 <= n <= 60),
    "one-scan": (["--scan-range", "33"], lambda n, level, t: n == 33),
    "scans-from": (["--scan-range", "140-"], lambda n, level, t: n >= 140),
    "scans-to": (["--scan-range=-5"], lambda n, level, t: n <= 5),
    "no-scan": (["--scan-range", "151-"], lambda n, level, t: False),
    "times": (["--rt-range", "{t40}-{t90}"], lambda n, level, t: T[40] <= t <= T[90]),
    "times-and-level": (["--rt-range", "{t40}-", "--ms-level", "2"], lambda n, level, t: t >= T[40] and level == 2),
    "all-three": (["--rt-range=-{t120}", "--ms-level", "1", "--scan-range", "10-100"],
                  lambda n, level, t: t <= T[120] and level == 1 and 10 <= n <= 100),
}
T = {}  # seconds of the run sample's scans, by scan number


def document_facts(path):
    root = ElementTree.parse(path).getroot()
    spectra = root.findall(".//m:spectrum", NS)
    content = {p.get("accession") for p in root.findall("m:mzML/m:fileDescription/m:fileContent/m:cvParam", NS)}
    tic = root.find(".//m:chromatogram", NS)
    return {
        "ids": [s.get("id") for s in spectra],
        "indices": [int(s.get("index")) for s in spectra],
        "count": int(root.find(".//m:spectrumList", NS).get("count")),
        "ms1": "MS:1000579" in content,
        "msn": "MS:1000580" in content,
        "tic_length": int(tic.get("defaultArrayLength")),
        "tic_times": mzml_check.read_values(path).tic_times,
    }


@pytest.mark.parametrize("name", FILTERS)
def test_filters_keep_the_spectra_they_name(samples, tarvok, tmp_path, name):
    want = module_spectra(tarvok, samples["run"])
    T.update({n: s.retention_time_sec for n, s in enumerate(want, start=1)})
    options, keeps = FILTERS[name]
    options = [o.format(**{f"t{n}": repr(t) for n, t in T.items()}) for o in options]
    result = convert(*options, "-o", tmp_path, samples["run"])
    assert result.returncode == 0, result.stderr
    kept = [(n, s) for n, s in enumerate(want, start=1) if keeps(n, s.ms_level, s.retention_time_sec)]
    path = tmp_path / "run.mzML"
    facts = document_facts(path)
    assert facts["ids"] == [f"scan={n}" for n, _ in kept]
    assert facts["indices"] == list(range(len(kept))) and facts["count"] == len(kept)
    assert facts["ms1"] == any(s.ms_level == 1 for _, s in kept)
    assert facts["msn"] == any(s.ms_level >= 2 for _, s in kept)
    assert facts["tic_length"] == len(kept)
    assert facts["tic_times"] == packed([s.retention_time_sec for _, s in kept], "d")
    assert [e.id for e in mzml_check.check_file(path).spectra] == facts["ids"]
    if kept:
        assert_pymzml_reads(path, [s for _, s in kept], [n for n, _ in kept])


def test_filters_cut_the_level_range(samples, tarvok):
    levels = {s.ms_level for s in module_spectra(tarvok, samples["run"])}
    assert levels == {1, 2}  # so that the level filters above each drop something


@pytest.mark.parametrize("validator", VALIDATORS)
def test_validators_accept_filtered_documents(samples, tmp_path, validator):
    for options, stem in ((["--ms-level", "2", "--scan-range", "30-120"], "run"), (["--rt-range", "0-1"], "odd-times")):
        out = tmp_path / stem
        out.mkdir()
        assert convert(*options, "--numpress", "-o", out, samples[stem]).returncode == 0
        command, accepted = VALIDATORS[validator]
        assert re.search(accepted, run_tool(*command(out / f"{stem}.mzML"))), (validator, options)


# Times of odd-times in seconds: NaN, inf, -inf, -0.0, 8e-44, 30, 120.
TIME_RANGES = [
    ("-30", [4, 5, 6]),
    ("0-", [4, 5, 6, 7]),
    ("0-0", [4]),
    ("30-120", [6, 7]),
    ("30.5-", [7]),
    ("121-", []),
]


@pytest.mark.parametrize("text,numbers", TIME_RANGES, ids=[t[0] for t in TIME_RANGES])
def test_a_time_that_is_not_finite_is_outside_every_range(samples, tmp_path, text, numbers):
    result = convert(f"--rt-range={text}", "-o", tmp_path, samples["odd-times"])
    assert result.returncode == 0, result.stderr
    assert document_facts(tmp_path / "odd-times.mzML")["ids"] == [f"scan={n}" for n in numbers]


USAGE = [
    (["--ms-level", "2-1"], "--ms-level: '2-1' ends below its start"),
    (["--ms-level", "1,,2"], "--ms-level: '' has neither a start nor an end"),
    (["--ms-level", "one"], "--ms-level: 'one' is not a whole number from 0 to 4294967295"),
    (["--scan-range", "10-5"], "--scan-range: '10-5' ends below its start"),
    (["--scan-range", "5-4294967296"], "--scan-range: '4294967296' is not a whole number from 0 to 4294967295"),
    (["--scan-range", "+5"], "--scan-range: '+5' is not a whole number from 0 to 4294967295"),
    (["--scan-range", "1-2-3"], "--scan-range: '2-3' is not a whole number from 0 to 4294967295"),
    (["--rt-range", "5.5-5.25"], "--rt-range: '5.5-5.25' ends below its start"),
    (["--rt-range", "1e3-"], "--rt-range: '1e3' is not a number of seconds such as 90 or 90.5"),
    (["--rt-range", "nan-"], "--rt-range: 'nan' is not a number of seconds such as 90 or 90.5"),
    (["--rt-range", "."], "--rt-range: '.' is not a number of seconds such as 90 or 90.5"),
    (["--rt-range=-"], "--rt-range: '-' has neither a start nor an end"),
]


@pytest.mark.parametrize("options,message", USAGE, ids=[" ".join(u[0]) for u in USAGE])
def test_a_bad_filter_is_a_usage_error_before_anything_is_written(samples, tmp_path, options, message):
    result = convert(*options, "-o", tmp_path, samples["run"])
    assert (result.returncode, result.stderr.decode(), result.stdout) == (2, f"tarvok-convert: {message}\n", b"")
    assert list(tmp_path.iterdir()) == []


def test_a_damaged_block_left_out_by_a_filter_is_never_read(sample_writer, tmp_path):
    wiff = sample_writer.scans(tmp_path / "cut.wiff", ODD_TIMES)
    scan = tmp_path / "cut.wiff.scan"
    scan.write_bytes(scan.read_bytes()[:-4])  # the last block loses its terminator
    out = tmp_path / "out"
    out.mkdir()
    refused = convert("-o", out, wiff)
    assert refused.returncode == 1 and b"scan 7: " in refused.stderr, refused.stderr
    kept = convert("--scan-range=-6", "-o", out, wiff)
    assert (kept.returncode, kept.stderr) == (0, b"")
    assert document_facts(out / "cut.mzML")["ids"] == [f"scan={n}" for n in range(1, 7)]
