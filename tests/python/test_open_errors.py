import pytest

from layout import INDEX_HEADER_SIZE, INDEX_RECORD_SIZE, INDEX_STREAM_PATH, RETAINED_BLOCK_SIZE_ABOVE
from sample_files import Scan, idx_record, idx_stream, scan_layout


def open_failure(tarvok, path):
    with pytest.raises(RuntimeError) as raised:
        tarvok.RawReader(path)
    error = raised.value
    assert type(error) is RuntimeError
    assert len(error.args) == 1 and error.args[0] == str(error)
    return str(error)


def not_found(scan_path):
    return f"parse error: .wiff.scan file not found: {scan_path}"


@pytest.mark.parametrize("path, scan_path", [
    ("run1.wiff", "run1.wiff.scan"),
    ("RUN1.WIFF", "RUN1.WIFF.scan"),
    ("run1.old.wiff", "run1.old.wiff.scan"),
    ("sub/.wiff", "sub/.wiff.scan"),
    ("", ".scan"),
    ("dir/..", "dir/../.scan"),
    ("sub//run1.wiff", "sub/run1.wiff.scan"),
    ("run\x00one.wiff", "run\x00one.wiff.scan"),
])
def test_missing_scan_file_names_the_derived_path(tarvok, tmp_path, monkeypatch, path, scan_path):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "dir").mkdir()
    assert open_failure(tarvok, path) == not_found(scan_path)


def test_missing_scan_file_reported_before_missing_wiff(tarvok, tmp_path):
    wiff = tmp_path / "run1.wiff"
    assert open_failure(tarvok, str(wiff)) == not_found(f"{wiff}.scan")


def test_missing_scan_file_beside_a_valid_wiff(tarvok, tmp_path, sample_writer):
    wiff = sample_writer.scans(tmp_path / "run1.wiff", [Scan(b"\x05\x83")])
    (tmp_path / "run1.wiff.scan").unlink()
    assert open_failure(tarvok, str(wiff)) == not_found(f"{wiff}.scan")


def test_missing_wiff_beside_its_scan_file(tarvok, tmp_path):
    (tmp_path / "run1.wiff.scan").write_bytes(bytes(100))
    assert open_failure(tarvok, str(tmp_path / "run1.wiff")) == "I/O error: No such file or directory (os error 2)"


@pytest.mark.parametrize("content", [b"", b"plain text, not a container\n", bytes(4096)])
def test_wiff_that_is_no_container(tarvok, tmp_path, content):
    wiff = tmp_path / "run1.wiff"
    wiff.write_bytes(content)
    (tmp_path / "run1.wiff.scan").write_bytes(bytes(100))
    assert open_failure(tarvok, str(wiff)).startswith("I/O error: ")


def test_wiff_that_is_a_directory(tarvok, tmp_path):
    (tmp_path / "run1.wiff").mkdir()
    (tmp_path / "run1.wiff.scan").write_bytes(bytes(100))
    assert open_failure(tarvok, str(tmp_path / "run1.wiff")).startswith("I/O error: ")


@pytest.mark.parametrize("streams", [
    [],
    [("SampleSubtree/Sample1/Other", b"x" * 100)],
    [(INDEX_STREAM_PATH + "/Inner", idx_stream([idx_record(0)]))],
])
def test_container_without_index_stream(tarvok, tmp_path, sample_writer, streams):
    wiff = sample_writer.exact(tmp_path / "run1.wiff", idx=None, scan=bytes(100), streams=streams)
    message = open_failure(tarvok, str(wiff))
    assert message.startswith(f"parse error: Stream '{INDEX_STREAM_PATH}' not found: ")


def test_index_stream_found_without_regard_to_case(tarvok, tmp_path, sample_writer):
    idx, data = scan_layout([Scan(b"\x05\x83")])
    wiff = sample_writer.exact(tmp_path / "run1.wiff", idx=None, scan=data, streams=[("samplesubtree/SAMPLE1/idx", idx)])
    assert tarvok.RawReader(str(wiff)).scan_count == 1


@pytest.mark.parametrize("idx, message", [
    (b"", "Idx stream too short for header"),
    (bytes(INDEX_HEADER_SIZE - 1), "Idx stream too short for header"),
    (bytes(INDEX_HEADER_SIZE), "Idx stream contained no valid scan records"),
    (idx_stream([], trailing=idx_record(0, RETAINED_BLOCK_SIZE_ABOVE + 1)[:INDEX_RECORD_SIZE - 1]),
     "Idx stream contained no valid scan records"),
    (idx_stream([idx_record(0, RETAINED_BLOCK_SIZE_ABOVE)]), "Idx stream contained no valid scan records"),
    (idx_stream([idx_record(0, 0), idx_record(64, 20)]), "Idx stream contained no valid scan records"),
])
def test_unusable_index_stream(tarvok, tmp_path, sample_writer, idx, message):
    wiff = sample_writer.exact(tmp_path / "run1.wiff", idx=idx, scan=bytes(100))
    assert open_failure(tarvok, str(wiff)) == f"parse error: {message}"

