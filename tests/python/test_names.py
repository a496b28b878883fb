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


SNAKEMAKE = "/usr/bin/snakemake"

# A file below the input folder: what the workflow writes for it (None: no
# sample) and what tarvok-convert -o out writes for it.
OUTPUT_NAMES = [
    (b"run1.wiff", b"run1.mzML", b"run1.mzML"),
    (b"RUN2.WIFF", b"RUN2.mzML", b"RUN2.mzML"),
    (b"Mixed.Wiff", b"Mixed.mzML", b"Mixed.mzML"),
    (b"run1.old.wiff", b"run1.old.mzML", b"run1.old.mzML"),
    (b"x..wiff", b"x..mzML", b"x..mzML"),
    (b"a b.wiff", b"a b.mzML", b"a b.mzML"),
    (b"caf\xc3\xa9.wiff", b"caf\xc3\xa9.mzML", b"caf\xc3\xa9.mzML"),
    (b"sub/s1.wiff", b"sub/s1.mzML", b"s1.mzML"),
    (b".hidden.wiff", None, b".hidden.mzML"),
    (b"._run1.wiff", None, b"._run1.mzML"),
    (b"run3.wiff.bak", None, b"run3.wiff.mzML"),
]


def test_the_workflow_and_the_converter_name_outputs_alike(tmp_path, small_sample):
    root = os.fsencode(tmp_path)
    for name, _, _ in OUTPUT_NAMES:
        os.makedirs(os.path.dirname(os.path.join(root, b"in", name)), exist_ok=True)
        place(small_sample, os.path.join(root, b"in", name))

    for name, _, converted in OUTPUT_NAMES:
        out = os.path.join(root, b"alone", name.replace(b"/", b"_"))
        os.makedirs(out)
        result = convert("-o", out, os.path.join(root, b"in", name))
        assert (result.returncode, result.stderr) == (0, b""), name
        assert os.listdir(out) == [converted], name
    # Snakemake cannot carry a name that is not UTF-8: only the converter sees it.
    alone = os.path.join(root, b"alone", b"not-utf8")
    os.makedirs(alone)
    assert convert("-o", alone, place(small_sample, os.path.join(root, NOT_UTF8))).returncode == 0
    assert os.listdir(alone) == [b"\xff\xfe.mzML"]

    if not os.access(SNAKEMAKE, os.X_OK):
        pytest.fail(f"{SNAKEMAKE} is not installed (scripts/test installs it)")
    environment = dict(os.environ, PATH=os.pathsep.join([str(CONVERT_TOOL.parent), os.environ["PATH"]]))
    result = subprocess.run([SNAKEMAKE, "-s", REPO / "workflow" / "Snakefile", "--directory", tmp_path, "--cores", "2",
                             "--config", "input_dir=in", "output_dir=out"],
                            env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    assert result.returncode == 0, result.stdout.decode(errors="replace")
    written = sorted(os.path.relpath(os.path.join(folder, name), os.path.join(root, b"out"))
                     for folder, _, names in os.walk(os.path.join(root, b"out")) for name in names
                     if not name.endswith(b".log"))
    assert written == sorted(by_workflow for _, by_workflow, _ in OUTPUT_NAMES if by_workflow)
    # Each output the workflow made is the converter's for that sample.
    for name, by_workflow, converted in OUTPUT_NAMES:
        if by_workflow:
            assert os.path.basename(by_workflow) == converted


@pytest.mark.parametrize("names, message", [
    ([b"run1.wiff", b"run1.WIFF"], "in/run1.WIFF and in/run1.wiff would both write run1.mzML; rename one"),
    ([b"run1.wiff", b"sub/\xff\xfe.wiff"], "a path that is not UTF-8 cannot pass through Snakemake; rename it or run "
                                          "tarvok-convert on it directly: in/sub/\ufffd\ufffd.wiff"),
], ids=["same-output", "not-utf8"])
def test_the_workflow_refuses_what_it_cannot_convert_before_any_job(tmp_path, small_sample, names, message):
    for name in names:
        wiff = os.path.join(os.fsencode(tmp_path / "in"), name)
        os.makedirs(os.path.dirname(wiff), exist_ok=True)
        place(small_sample, wiff)
    result = subprocess.run([SNAKEMAKE, "-s", REPO / "workflow" / "Snakefile", "--directory", tmp_path, "--dry-run",
                             "--config", "input_dir=in", "output_dir=out"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    assert result.returncode != 0
    assert message in result.stdout.decode("utf-8"), result.stdout
