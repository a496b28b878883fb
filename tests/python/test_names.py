"""Names of every kind through tarvok-convert and the workflow: reserved ids,
names that are not UTF-8, and the output-name rule both apply."""
import os
import re
import shutil
import subprocess
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pytest

from conftest import CONVERT_TOOL, REPO

SCHEMA = Path("/usr/share/openms/SCHEMAS/mzML_idx_1_10.xsd")
NS = {"m": "http://psi.hupo.org/ms/mzml"}
REPLACEMENT = "\ufffd"


def convert(*arguments, **options):
    if not CONVERT_TOOL.is_file():
        pytest.fail(f"tarvok-convert not built at {CONVERT_TOOL} (set TARVOK_CONVERT_TOOL)")
    return subprocess.run([CONVERT_TOOL, *arguments], capture_output=True, **options)


def tool(name):
    path = shutil.which(name)
    if path is None:
        pytest.fail(f"{name} is not installed (scripts/test installs it)")
    return path


def xmllint(*documents):
    result = subprocess.run([tool("xmllint"), "--noout", "--schema", SCHEMA, *documents], capture_output=True)
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    assert result.stderr.count(b" validates\n") == len(documents), result.stderr


def openms_accepts(document):
    result = subprocess.run([tool("FileInfo"), "-in", document, "-v"], capture_output=True, text=True)
    assert "Success - the file is valid!" in result.stdout, result.stdout
    assert "Success - the file is semantically valid!" in result.stdout, result.stdout


@pytest.fixture(scope="module")
def small_sample(tmp_path_factory, sample_writer):
    return sample_writer.run(tmp_path_factory.mktemp("small") / "base.wiff", scans=6, seed=11)


def place(sample, wiff: bytes):
    """The sample's pair under another name, given as bytes."""
    os.link(sample, wiff)
    os.link(f"{sample}.scan", wiff + b".scan")
    return wiff


def root_of(document):
    return ElementTree.parse(document).getroot()


# Each id the document gives an element of its own; ids of the derived run.
RESERVED = ["tarvok", "SF1", "SF2", "instrument_configuration", "tarvok_conversion", "TIC", "MS", "UO"]


def test_a_sample_named_like_an_id_of_the_document_gives_a_valid_one(tmp_path, small_sample):
    inputs = [place(small_sample, os.fsencode(tmp_path / f"{name}.wiff")) for name in RESERVED]
    (tmp_path / "out").mkdir()
    result = convert("-o", tmp_path / "out", *inputs)
    assert (result.returncode, result.stderr) == (0, b"")
    documents = [tmp_path / "out" / f"{name}.mzML" for name in RESERVED]
    xmllint(*documents)
    for name, document in zip(RESERVED, documents):
        assert root_of(document).find("m:mzML/m:run", NS).get("id") == f"_{name}"
    openms_accepts(documents[0])


NOT_UTF8 = b"\xff\xfe.wiff"


def test_a_name_that_is_not_utf8_converts_and_shows_as_replacement_characters(tmp_path, small_sample):
    folder = os.fsencode(tmp_path / "in")
    os.mkdir(folder)
    wiff = place(small_sample, os.path.join(folder, NOT_UTF8))
    (tmp_path / "out").mkdir()
    result = convert("-o", tmp_path / "out", wiff)
    assert (result.returncode, result.stderr) == (0, b"")
    # The output's name keeps the bytes; the document shows them as text.
    document = os.path.join(os.fsencode(tmp_path / "out"), b"\xff\xfe.mzML")
    assert os.listdir(os.fsencode(tmp_path / "out")) == [b"\xff\xfe.mzML"]
    xmllint(document)
    # FileInfo cannot open a file by such a name.
    shutil.copy(document, tmp_path / "copy.mzML")
    openms_accepts(tmp_path / "copy.mzML")
    root = root_of(document)
    assert root.find("m:mzML/m:run", NS).get("id") == "__"
    files = root.findall("m:mzML/m:fileDescription/m:sourceFileList/m:sourceFile", NS)
    assert [f.get("name") for f in files] == [f"{REPLACEMENT * 2}.wiff", f"{REPLACEMENT * 2}.wiff.scan"]
    # The location keeps every byte, percent-escaped.
    assert {f.get("location") for f in files} == {"file://" + str(tmp_path / "in").replace(" ", "%20")}


def test_messages_show_a_name_that_is_not_utf8_as_replacement_characters(tmp_path, small_sample):
    os.link(small_sample, os.path.join(os.fsencode(tmp_path), NOT_UTF8))
    (tmp_path / "out").mkdir()
    result = convert("-o", "out", NOT_UTF8, cwd=tmp_path)
    shown = f"{REPLACEMENT * 2}.wiff"
    assert result.stderr.decode("utf-8") == (f"tarvok-convert: {shown}: parse error: .wiff.scan file not found: "
                                             f"{shown}.scan\n")
    assert result.returncode == 1
    twice = convert("-o", "out", NOT_UTF8, b"sub/" + NOT_UTF8, cwd=tmp_path)
    assert twice.stderr.decode("utf-8") == (f"tarvok-convert: {shown} and sub/{shown} would both write "
                                            f"out/{REPLACEMENT * 2}.mzML\n")
    assert twice.returncode == 2
