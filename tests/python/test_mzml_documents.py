"""Documents the mzML writer makes from synthetic spectra, against the
validators, an independent reader and our own index and checksum check."""
import json
import math
import os
import shutil
import struct
import subprocess
import urllib.parse
from pathlib import Path

import pytest

import mzml_check
from conftest import MZML_DOCUMENTS_TOOL, numpress_decode

SCHEMA = Path("/usr/share/openms/SCHEMAS/mzML_idx_1_10.xsd")
DOCUMENTS = [
    "edge-cases.mzML",
    "edge-cases-zlib.mzML",
    "hostile-names.mzML",
    "hostile-names-zlib.mzML",
    "numpress-edges.mzML",
    "numpress-edges-zlib.mzML",
    "edge-cases-numpress.mzML",
    "no-spectra.mzML",
]
NUMPRESS_DOCUMENTS = [name for name in DOCUMENTS if "numpress" in name]


def tool(name):
    path = shutil.which(name)
    if path is None:
        pytest.fail(f"{name} is not installed (scripts/test installs it)")
    return path


@pytest.fixture(scope="session")
def documents(tmp_path_factory):
    if not MZML_DOCUMENTS_TOOL.is_file():
        pytest.fail(f"document tool not built at {MZML_DOCUMENTS_TOOL} (set TARVOK_MZML_DOCUMENTS_TOOL)")
    directory = tmp_path_factory.mktemp("mzml")
    # Relative source paths resolve against the tool's working directory.
    written = subprocess.run([MZML_DOCUMENTS_TOOL, directory], check=True, capture_output=True, text=True, cwd=directory)
    assert written.stdout.split() == DOCUMENTS
    return directory


def expectation(documents, name):
    return json.loads((documents / f"{name}.expect.json").read_text())


@pytest.mark.parametrize("name", DOCUMENTS)
def test_index_offsets_and_checksum(documents, name):
    summary = mzml_check.check_file(documents / name)
    expected = expectation(documents, name)
    assert [e.id for e in summary.spectra] == [s["id"] for s in expected["spectra"]]
    assert [e.id for e in summary.chromatograms] == ["TIC"]


@pytest.mark.parametrize("name", DOCUMENTS)
def test_schema(documents, name):
    result = subprocess.run(
        [tool("xmllint"), "--noout", "--schema", SCHEMA, documents / name], capture_output=True, text=True
    )
    assert result.returncode == 0, result.stderr
    assert result.stderr.strip().endswith("validates")


@pytest.mark.parametrize("name", DOCUMENTS)
def test_openms_validation(documents, name):
    result = subprocess.run([tool("FileInfo"), "-in", documents / name, "-v"], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Success - the file is valid!" in result.stdout
    assert "Success - the file is semantically valid!" in result.stdout


@pytest.mark.parametrize("name", DOCUMENTS)
def test_openms_index(documents, name):
    spectra = len(expectation(documents, name)["spectra"])
    result = subprocess.run([tool("FileInfo"), "-in", documents / name, "-i"], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    assert f"Found a valid indexed mzML XML File with {spectra} spectra and 1 chromatograms." in result.stdout


def same_bits(a, b):
    return struct.pack("<d", a) == struct.pack("<d", b) or (math.isnan(a) and math.isnan(b))


# Debian's pymzml 2.5.2 cannot decode MS-Numpress.
@pytest.mark.parametrize("name", [name for name in DOCUMENTS if name not in NUMPRESS_DOCUMENTS])
def test_pymzml_reads_back_every_value(documents, name):
    pymzml = pytest.importorskip("pymzml")
    expected = expectation(documents, name)["spectra"]
    # pymzml loops for ever on an offset past the last element: fail first.
    mzml_check.check_file(documents / name)
    run = pymzml.run.Reader(str(documents / name))
    read = list(run)
    assert len(read) == len(expected)
    for spectrum, want in zip(read, expected):
        assert f"scan={spectrum.ID}" == want["id"]
        assert spectrum.ms_level == want["ms_level"]
        time, unit = spectrum.scan_time
        assert unit == "second"
        assert same_bits(time, struct.unpack("<d", bytes.fromhex(want["time"]))[0]), (want["id"], time)
        assert spectrum.mz.tobytes().hex() == want["mz"], want["id"]
        assert spectrum.i.tobytes().hex() == want["intensity"], want["id"]
    # Random access by scan number seeks to the indexed offset (by an id text
    # pymzml searches the file instead), and takes only what starts <spectrum.
    for want in reversed(expected):
        spectrum = run[int(want["id"].removeprefix("scan="))]
        assert spectrum is not None, want["id"]
        assert f"scan={spectrum.ID}" == want["id"]
        assert spectrum.mz.tobytes().hex() == want["mz"]
        assert spectrum.i.tobytes().hex() == want["intensity"]


@pytest.mark.parametrize("name", DOCUMENTS)
def test_summaries_and_tic_follow_from_the_spectra(documents, name):
    expected = expectation(documents, name)["spectra"]
    # MS-Numpress arrays decoded by the reference library, compared bit for bit.
    values = mzml_check.read_values(documents / name, numpress_decode)
    assert [s.id for s in values.spectra] == [want["id"] for want in expected]
    for got, want in zip(values.spectra, expected):
        assert same_bits(got.time, struct.unpack("<d", bytes.fromhex(want["time"]))[0]), want["id"]
        assert (got.mz.hex(), got.intensity.hex()) == (want["mz"], want["intensity"]), want["id"]
        assert mzml_check.same_summary(got.summary, mzml_check.summary_of(*got.peaks())), (want["id"], got.summary)
    assert values.tic_times.hex() == "".join(want["time"] for want in expected)
    totals = [mzml_check.summary_of(*s.peaks())["total ion current"] for s in values.spectra]
    currents = struct.unpack(f"<{len(totals)}d", values.tic_currents)
    assert all(same_bits(a, b) for a, b in zip(currents, totals)) and len(currents) == len(totals)


def test_names_survive_escaping(documents):
    import xml.etree.ElementTree as ElementTree

    name = "hostile-names.mzML"
    expected = expectation(documents, name)
    ns = {"m": "http://psi.hupo.org/ms/mzml"}
    root = ElementTree.parse(documents / name).getroot()
    files = root.findall("m:mzML/m:fileDescription/m:sourceFileList/m:sourceFile", ns)
    assert len(files) == len(expected["source_files_hex"])
    for element, path_hex in zip(files, expected["source_files_hex"]):
        path = bytes.fromhex(path_hex)
        directory, _, file_name = (Path(os.fsdecode(documents)).as_posix().encode() + b"/" + path).rpartition(b"/")
        # The location keeps every byte; the name replaces what XML cannot carry.
        location = element.get("location")
        assert location.startswith("file:///")
        assert urllib.parse.unquote_to_bytes(location[len("file://") :]) == directory
        readable = "".join(c if c in "\t\n\r" or ord(c) >= 0x20 else "\ufffd" for c in file_name.decode("utf-8", "replace"))
        assert element.get("name") == readable
    run_id = root.find("m:mzML/m:run", ns).get("id")
    assert run_id[0] == "_" and all(c.isascii() and (c.isalnum() or c in "-._") for c in run_id)


@pytest.mark.parametrize(
    "damage",
    [
        pytest.param(lambda d: d.replace(b'idRef="scan=2">', b'idRef="scan=2">1', 1), id="offset"),
        pytest.param(lambda d: d.replace(b'idRef="scan=3"', b'idRef="scan=9"', 1), id="id"),
        pytest.param(lambda d: d.replace(b"<indexListOffset>", b"<indexListOffset>1", 1), id="index-list-offset"),
        pytest.param(lambda d: d.replace(b'name="MS1 spectrum"', b'name="MS1 Spectrum"', 1), id="checksummed-byte"),
        pytest.param(lambda d: d.replace(b"\n  <indexList", b"\n <indexList", 1), id="shifted-index"),
    ],
)
def test_check_finds_damage(documents, damage):
    data = (documents / "hostile-names.mzML").read_bytes()
    damaged = damage(data)
    assert damaged != data
    with pytest.raises(mzml_check.MzmlProblem):
        mzml_check.check_bytes(damaged)


# Per spectrum of numpress-edges: how its m/z and intensity arrays are coded.
NUMPRESS_EDGE_CODINGS = {
    "scan=1": ("linear", "integers"),  # whole positions and counts, as samples give them
    "scan=2": ("linear", "integers"),  # one peak: m/z 2^32 - 1, count 2^31 - 128
    "scan=3": ("linear", None),  # a count of 2^31 is past the integer coding
    "scan=4": ("linear", None),  # counts that floats round to 2^32 and just below
    "scan=5": (None, None),  # no peaks: no stream to code
    "scan=6": (None, "integers"),  # a jump of 2^32 - 2 after a step of 1 is past linear prediction
    "scan=7": ("linear", None),  # eighths take fixed point 8; half a count is no count
    "scan=8": (None, None),  # 0.1 has no exact fixed point; a negative count
    "scan=9": (None, None),  # a negative m/z; -0.0 would read back as 0.0
    "scan=10": (None, None),  # the same for m/z; NaN
    "scan=11": (None, None),  # NaN; infinity
    "scan=12": ("linear", "integers"),  # one ordinary peak
    "scan=13": (None, "integers"),  # whole m/z from 2^32: the first two would lose their top bits
}


@pytest.mark.parametrize("name", ["numpress-edges.mzML", "numpress-edges-zlib.mzML"])
def test_numpress_codes_exactly_what_reads_back_exactly(documents, name):
    spectra = mzml_check.read_values(documents / name, numpress_decode).spectra
    zlib = expectation(documents, name)["zlib"]
    codings = {s.id: tuple(mzml_check.COMPRESSIONS[s.compressions[a]][1] for a in ("MS:1000514", "MS:1000515"))
               for s in spectra}
    assert codings == NUMPRESS_EDGE_CODINGS
    # With zlib, numpress arrays carry the combined terms: one compression term each.
    for spectrum in spectra:
        for compression in spectrum.compressions.values():
            assert mzml_check.COMPRESSIONS[compression][0] == (zlib and spectrum.id != "scan=5")


@pytest.mark.parametrize("name", NUMPRESS_DOCUMENTS)
def test_openms_decodes_numpress_to_every_value(documents, name, tmp_path):
    pymzml = pytest.importorskip("pymzml")
    plain = tmp_path / "plain.mzML"
    result = subprocess.run([tool("FileConverter"), "-in", documents / name, "-out", plain], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    expected = expectation(documents, name)["spectra"]
    read = list(pymzml.run.Reader(str(plain)))
    assert len(read) == len(expected)
    for spectrum, want in zip(read, expected):
        assert f"scan={spectrum.ID}" == want["id"]
        for got, key, code in ((spectrum.mz, "mz", "d"), (spectrum.i, "intensity", "f")):
            values = struct.unpack(f"<{len(want[key]) // 2 // struct.calcsize(code)}{code}", bytes.fromhex(want[key]))
            assert len(got) == len(values), (want["id"], key)
            assert all(same_bits(float(a), b) for a, b in zip(got, values)), (want["id"], key)
