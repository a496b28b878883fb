"""Byte-exact sample files: index streams, scan-data blocks and the sample writer."""

import subprocess
from dataclasses import dataclass
from pathlib import Path

import layout

BLOCK_HEADER = bytes(layout.BLOCK_HEADER_SIZE)
TERMINATOR = layout.END_MARKER


def idx_record(block_offset, block_size=100, rt_min=0.0, level_code=1, opaque=bytes(16)):
    """One index record; the bytes nothing reads are zero."""
    return layout.INDEX_RECORD.pack(block_offset, block_size, rt_min, level_code, opaque)


def idx_stream(records, trailing=b""):
    return bytes(layout.INDEX_HEADER_SIZE) + b"".join(records) + trailing


@dataclass
class Scan:
    payload: bytes = b""
    rt_min: float = 1.0
    level_code: int = 1


def scan_layout(scans):
    """Contiguous blocks (header, payload, terminator) and the index stream that points at them."""
    records = []
    data = bytearray()
    for scan in scans:
        block_size = layout.RETAINED_BLOCK_SIZE_ABOVE + 1 + len(scan.payload)
        records.append(idx_record(len(data), block_size, scan.rt_min, scan.level_code))
        data += BLOCK_HEADER + scan.payload + TERMINATOR
    return idx_stream(records), bytes(data)


class SampleWriter:
    """Runs the tarvok-sample command line tool."""

    def __init__(self, tool: Path):
        self.tool = tool

    def run(self, wiff: Path, scans: int, seed: int) -> Path:
        subprocess.run([self.tool, "run", wiff, "--scans", str(scans), "--seed", str(seed)],
                       check=True, capture_output=True)
        return wiff

    def exact(self, wiff: Path, idx=None, scan=None, streams=()) -> Path:
        """A container with the given index stream (none when idx is None), extra
        streams given as (path, bytes) pairs, and the scan-data file when scan is not None."""
        parts = wiff.parent / (wiff.name + ".parts")
        parts.mkdir()
        args = [self.tool, "exact", wiff]
        if idx is None:
            args.append("--no-idx")
        else:
            (parts / "idx").write_bytes(idx)
            args += ["--idx", parts / "idx"]
        if scan is not None:
            (parts / "scan").write_bytes(scan)
            args += ["--scan", parts / "scan"]
        for number, (stream_path, content) in enumerate(streams):
            part = parts / f"stream{number}"
            part.write_bytes(content)
            args += ["--stream", f"{stream_path}={part}"]
        subprocess.run(args, check=True, capture_output=True)
        return wiff

    def scans(self, wiff: Path, scans) -> Path:
        idx, data = scan_layout(scans)
        return self.exact(wiff, idx=idx, scan=data)
