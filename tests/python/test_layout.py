"""The layout facts the Python tests use are the ones the reader is built with."""

import re

import pytest

import layout
from conftest import REPO

HEADER = REPO / "reader/include/tarvok/raw/layout.hpp"


def header_constants():
    text = HEADER.read_text()
    found = dict(re.findall(r'inline constexpr std::string_view (\w+) = "([^"]*)";', text))
    for name, value in re.findall(r"inline constexpr std::\w+ (\w+) = (\w+);", text):
        found[name] = found[value] if value in found else int(value, 0)
    return found


@pytest.mark.parametrize("name", [
    "INDEX_STREAM_PATH", "INDEX_HEADER_SIZE", "INDEX_RECORD_SIZE", "RECORD_BLOCK_OFFSET_AT", "RECORD_BLOCK_SIZE_AT",
    "RECORD_RETENTION_TIME_AT", "RECORD_MS_LEVEL_CODE_AT", "RECORD_OPAQUE_AT", "RECORD_OPAQUE_SIZE",
    "BLOCK_HEADER_SIZE", "RETAINED_BLOCK_SIZE_ABOVE",
])
def test_python_layout_matches_the_reader(name):
    assert getattr(layout, name) == header_constants()[name.lower()]


def test_end_marker_matches_the_reader():
    constants = header_constants()
    assert layout.END_MARKER == bytes([constants["end_marker_byte"]]) * constants["end_marker_size"]


def test_record_struct_puts_each_field_at_its_offset():
    record = layout.INDEX_RECORD.pack(0x04030201, 0x08070605, 1.5, 0x2A, bytes(range(100, 116)))
    assert record[layout.RECORD_BLOCK_OFFSET_AT:][:4] == bytes([1, 2, 3, 4])
    assert record[layout.RECORD_BLOCK_SIZE_AT:][:4] == bytes([5, 6, 7, 8])
    assert record[layout.RECORD_RETENTION_TIME_AT:][:4] == b"\x00\x00\xc0\x3f"  # 1.5 as a little-endian float
    assert record[layout.RECORD_MS_LEVEL_CODE_AT] == 0x2A
    assert record[layout.RECORD_OPAQUE_AT:][:layout.RECORD_OPAQUE_SIZE] == bytes(range(100, 116))
