"""Containers written by tarvok-sample, read back with olefile, an independent
CFB reader that here refuses even potential defects."""

import os
import random
import subprocess
from pathlib import Path

import olefile
import pytest

import layout

REPO_ROOT = Path(__file__).resolve().parents[2]
IDX_PATH = layout.INDEX_STREAM_PATH


@pytest.fixture(scope="module")
def tool():
    path = Path(os.environ.get("TARVOK_SAMPLE_TOOL", REPO_ROOT / "build/tools/sample_writer/tarvok-sample"))
    if not path.is_absolute():
        path = REPO_ROOT / path
    assert path.is_file(), f"tarvok-sample not built at {path} (set TARVOK_SAMPLE_TOOL)"
    return path


def run_tool(tool, *args):
    return subprocess.run([str(tool), *map(str, args)], capture_output=True, text=True, check=False)


def open_strict(path):
    return olefile.OleFileIO(str(path), raise_defects=olefile.DEFECT_POTENTIAL)


def stream_paths(ole):
    return {"/".join(entry) for entry in ole.listdir(streams=True, storages=False)}


def storage_paths(ole):
    return {"/".join(entry) for entry in ole.listdir(streams=False, storages=True)}


def index_stream(records, trailing=b""):
    body = b"".join(layout.INDEX_RECORD.pack(*record) for record in records)
    return bytes(range(layout.INDEX_HEADER_SIZE)) + body + trailing


def write_exact(tool, tmp_path, out_name, idx=None, scan=None, streams=()):
    args = ["exact", tmp_path / out_name]
    if idx is None:
        args.append("--no-idx")
    else:
        (tmp_path / "idx.bin").write_bytes(idx)
        args += ["--idx", tmp_path / "idx.bin"]
    if scan is not None:
        (tmp_path / "scan.bin").write_bytes(scan)
        args += ["--scan", tmp_path / "scan.bin"]
    for number, (stream_path, data) in enumerate(streams):
        data_file = tmp_path / f"stream{number}.bin"
        data_file.write_bytes(data)
        args += ["--stream", f"{stream_path}={data_file}"]
    result = run_tool(tool, *args)
    assert result.returncode == 0, result.stderr
    return tmp_path / out_name


def test_exact_sample_holds_exactly_the_given_bytes(tool, tmp_path):
    idx = index_stream(
        [(0, 64, 0.5, 1, bytes(range(16))), (64, 63, 1.25, 2, b"\xff" * 16)],
        trailing=b"\x01\x02\x03",
    )
    header = bytes(layout.BLOCK_HEADER_SIZE)
    scan = header + bytes.fromhex("05830284ffffffff") + header + bytes.fromhex("0afcc8ffffffff")
    extra = [("SampleSubtree/Sample1/Other", b"other bytes"), ("Info", b"\x00\xff" * 10)]
    wiff = write_exact(tool, tmp_path, "exact.wiff", idx=idx, scan=scan, streams=extra)

    with open_strict(wiff) as ole:
        assert ole.openstream(IDX_PATH).read() == idx
        for stream_path, data in extra:
            assert ole.openstream(stream_path).read() == data
        assert stream_paths(ole) == {IDX_PATH, "SampleSubtree/Sample1/Other", "Info"}
        assert storage_paths(ole) == {"SampleSubtree", "SampleSubtree/Sample1"}
        assert (ole.dll_version, ole.sector_size, ole.mini_sector_size) == (3, 512, 64)
    assert (tmp_path / "exact.wiff.scan").read_bytes() == scan


def test_no_idx_and_no_scan_leave_them_out(tool, tmp_path):
    one_record = bytes(layout.INDEX_HEADER_SIZE + layout.INDEX_RECORD_SIZE)
    wiff = write_exact(tool, tmp_path, "bare.wiff", streams=[("SampleSubtree/Sample1/Idy", one_record)])
    with open_strict(wiff) as ole:
        assert stream_paths(ole) == {"SampleSubtree/Sample1/Idy"}
    assert not (tmp_path / "bare.wiff.scan").exists()


# Around the mini-stream cutoff, past one FAT sector's reach (128 sectors),
# past 1 MiB, and past what the header's 109 DIFAT slots can map (~7 MiB).
@pytest.mark.parametrize("size", [0, 1, 4095, 4096, 4097, 65537, (1 << 20) + 3, 8 * (1 << 20) + 11])
def test_stream_of_any_size_reads_back_whole(tool, tmp_path, size):
    data = random.Random(size).randbytes(size)
    small = b"small neighbour"
    wiff = write_exact(tool, tmp_path, "sized.wiff", idx=data, streams=[("Neighbour", small)])
    with open_strict(wiff) as ole:
        assert ole.get_size(IDX_PATH) == size
        assert ole.openstream(IDX_PATH).read() == data
        assert ole.openstream("Neighbour").read() == small


def test_run_sample_is_a_consistent_pair(tool, tmp_path):
    scans = 300
    result = run_tool(tool, "run", tmp_path / "run.wiff", "--scans", scans, "--seed", 9)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith(f"{scans} scans")
    scan = (tmp_path / "run.wiff.scan").read_bytes()

    with open_strict(tmp_path / "run.wiff") as ole:
        assert stream_paths(ole) == {IDX_PATH}
        idx = ole.openstream(IDX_PATH).read()
    assert len(idx) == layout.INDEX_HEADER_SIZE + layout.INDEX_RECORD_SIZE * scans

    expected_offset = 0
    previous_rt = -1.0
    for k in range(scans):
        at = layout.INDEX_HEADER_SIZE + layout.INDEX_RECORD_SIZE * k
        offset, size, rt, code, _ = layout.INDEX_RECORD.unpack_from(idx, at)
        assert offset == expected_offset
        payload_end = offset + size - len(layout.END_MARKER)
        assert scan[payload_end : offset + size] == layout.END_MARKER
        assert layout.END_MARKER not in scan[offset + layout.BLOCK_HEADER_SIZE : payload_end]
        assert code == (1 if k % 11 == 0 else 2)
        assert rt > previous_rt
        previous_rt = rt
        expected_offset += size
    assert expected_offset == len(scan)

    again = run_tool(tool, "run", tmp_path / "again.wiff", "--scans", scans, "--seed", 9)
    assert again.returncode == 0, again.stderr
    with open_strict(tmp_path / "again.wiff") as ole:
        assert ole.openstream(IDX_PATH).read() == idx
    assert (tmp_path / "again.wiff.scan").read_bytes() == scan


@pytest.mark.parametrize(
    "args",
    [
        [],
        ["convert", "x.wiff"],
        ["run"],
        ["run", "x.wiff", "--scans"],
        ["run", "x.wiff", "--scans", "12x"],
        ["run", "x.wiff", "--seed", "-1"],
        ["run", "x.wiff", "--bogus"],
        ["run", "x.wiff", "y.wiff"],
        ["exact", "x.wiff"],
        ["exact", "x.wiff", "--no-idx", "--stream", "NoEquals"],
        ["exact", "x.wiff", "--idx", "missing.bin"],
        ["exact", "x.wiff", "--no-idx", "--stream", "A//B=data.bin"],
        ["exact", "no/such/dir/x.wiff", "--no-idx"],
    ],
)
def test_bad_usage_or_failure_exits_non_zero_with_a_message(tool, tmp_path, args):
    (tmp_path / "data.bin").write_bytes(b"data")
    result = subprocess.run([str(tool), *args], cwd=tmp_path, capture_output=True, text=True, check=False)
    assert result.returncode != 0
    assert result.stderr.startswith("tarvok-sample: ")
    assert result.stdout == ""
    assert not (tmp_path / "x.wiff").exists()
