"""The on-disk layout of a sample, each fact named once for the Python tests;
the reader's tarvok/raw/layout.hpp names the same facts (test_layout.py holds
the two together) and docs/format.md describes them."""

import struct

INDEX_STREAM_PATH = "SampleSubtree/Sample1/Idx"

INDEX_HEADER_SIZE = 32
INDEX_RECORD_SIZE = 54
# Block offset, block size, 4 bytes unread, retention time in minutes, MS-level
# code, 1 byte unread, 16 opaque bytes, 20 bytes unread.
INDEX_RECORD = struct.Struct("<II4xfBx16s20x")
RECORD_BLOCK_OFFSET_AT = 0
RECORD_BLOCK_SIZE_AT = 4
RECORD_RETENTION_TIME_AT = 12
RECORD_MS_LEVEL_CODE_AT = 16
RECORD_OPAQUE_AT = 18
RECORD_OPAQUE_SIZE = 16

BLOCK_HEADER_SIZE = 56
RETAINED_BLOCK_SIZE_ABOVE = BLOCK_HEADER_SIZE
END_MARKER = b"\xff" * 4

assert INDEX_RECORD.size == INDEX_RECORD_SIZE
