"""tarvok-convert's progress on a real pseudo-terminal of 40 columns: lines
within the width, no more than the height allows, names made harmless."""
import os
import re
import unicodedata

import pytest

from conftest import CONVERT_TOOL
from terminal_run import run_on_pty

ERASE = re.compile(rb"\x1b\[(\d+)F\x1b\[J")
MORE = re.compile(r"  \+(\d+) more")

# Stems that would move the cursor, recolour, ring or break lines, that are
# not UTF-8, or whose characters take two columns.
HOSTILE_STEMS = [
    b"plain-" + b"x" * 60,
    b"esc\x1b[31mred\x1b[2J",
    b"c1\xc2\x9b2Jcsi\xc2\x85nel",
    b"del\x7fbell\x07tab\tcr\r",
    b"bad\xff\xfe\xe2\x82utf8",
    "wide-試料試料試料試料試料試料試料試料試料".encode(),
]


def columns(text):
    return sum(0 if unicodedata.combining(c) else 2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


@pytest.fixture(scope="module")
def hostile_samples(tmp_path_factory, sample_writer):
    folder = os.fsencode(tmp_path_factory.mktemp("terminal"))
    first = os.fsencode(sample_writer.run(os.fsdecode(folder) + "/long.wiff", scans=3000, seed=5))
    samples = []
    for stem in HOSTILE_STEMS:
        wiff = os.path.join(folder, stem + b".wiff")
        os.link(first, wiff)
        os.link(first + b".scan", wiff + b".scan")
        samples.append(wiff)
    return samples


def run_on_terminal(arguments, rows, cols, resize_to=None):
    """What tarvok-convert drew on a terminal of rows x cols; with resize_to,
    the terminal takes that (rows, cols) once drawing has begun, and the
    offset in what was drawn where that happened."""
    if not CONVERT_TOOL.is_file():
        pytest.fail(f"tarvok-convert not built at {CONVERT_TOOL} (set TARVOK_CONVERT_TOOL)")
    shown, status, resized_at = run_on_pty(CONVERT_TOOL, arguments, (rows, cols), resize_to, ERASE.search)
    assert status == 0, shown
    return shown, resized_at


def frames(shown):
    """The text drawn after each erase, the last (the summary) left out, as lines."""
    parts = ERASE.split(shown)[2::2]
    drawn = [part.decode("utf-8").replace("\r\n", "\n") for part in parts[:-1]]
    return [frame.split("\n")[:-1] for frame in drawn if frame]


def check_fits(drawn, rows, cols):
    assert drawn
    for frame in drawn:
        assert len(frame) <= rows - 1, frame
        for line in frame:
            # The last column stays free.
            assert columns(line) <= cols - 1, line
            # Nothing the terminal would act on: no C0, DEL or C1 character.
            assert not [c for c in line if ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F], line


def test_progress_lines_fit_40_columns_and_show_names_harmlessly(tmp_path, hostile_samples):
    shown, _ = run_on_terminal(["-j", "6", "-o", tmp_path, *hostile_samples], rows=24, cols=40)
    # Only the program's own sequences, up N lines and clear below, in valid UTF-8.
    assert all(ord(c) >= 0x20 or c in "\r\n" for c in ERASE.sub(b"", shown).decode("utf-8"))
    drawn = frames(shown)
    check_fits(drawn, 24, 40)
    names = "\n".join(line for frame in drawn for line in frame)
    assert "  plain-" + "x" * 31 + "\n" in names
    assert "  esc?[31mred?[2J: " in names
    assert "  c1?2Jcsi?nel: " in names
    assert "  del?bell?tab?cr?: " in names
    assert "  bad\ufffd\ufffd\ufffdutf8: " in names
    # Sixteen wide characters fill 32 columns; a seventeenth would pass 39.
    assert "  wide-" + "試料" * 8 + "\n" in names


def test_more_samples_than_rows_end_in_a_count(tmp_path, hostile_samples):
    shown, _ = run_on_terminal(["-j", "6", "-o", tmp_path, *hostile_samples], rows=4, cols=40)
    drawn = frames(shown)
    check_fits(drawn, 4, 40)
    # Four or more running on three lines: two of them, then the rest counted.
    crowded = [frame for frame in drawn if MORE.fullmatch(frame[-1])]
    assert crowded, drawn
    for frame in crowded:
        assert len(frame) == 3 and 2 <= int(MORE.fullmatch(frame[-1]).group(1)) <= 4, frame


def test_progress_follows_a_resized_terminal(tmp_path, hostile_samples):
    shown, resized_at = run_on_terminal(["-j", "2", "-o", tmp_path, *hostile_samples[:3]], rows=10, cols=40,
                                        resize_to=(10, 24))
    assert resized_at is not None
    # The frame being drawn as the size changed may still be the old one.
    later = frames(shown[resized_at:])[1:]
    assert later
    for frame in later:
        for line in frame:
            assert columns(line) <= 23, line
