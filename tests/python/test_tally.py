"""The test tally: its last line and its exit status."""
import subprocess
import sys

import pytest

from conftest import REPO

TALLY = REPO / "scripts" / "lib" / "tally.py"
REPORT = """<testsuites><testsuite name="suite">
<testcase name="passes"/>
<testcase name="skips"><skipped message="tests/a.cpp:1&#10;no such processor"/></testcase>
{extra}
</testsuite></testsuites>
"""


@pytest.mark.parametrize(
    "extra, stages, last_line, status",
    [
        ("", [], "1 passed, 0 failed, 1 skipped (1 reports)", 0),
        ('<testcase name="fails"><failure message="no"/></testcase>', [],
         "1 passed, 1 failed, 1 skipped (1 reports)", 1),
        ("", ["fuzz pass"], "1 passed, 0 failed, 1 skipped (1 reports), 1 failed stage", 1),
        ("", ["memcheck", "fuzz pass"], "1 passed, 0 failed, 1 skipped (1 reports), 2 failed stages", 1),
    ],
)
def test_stages_that_failed_outside_the_reports_fail_the_tally(tmp_path, extra, stages, last_line, status):
    (tmp_path / "report.xml").write_text(REPORT.format(extra=extra))
    result = subprocess.run([sys.executable, TALLY, tmp_path, *stages], capture_output=True, text=True)
    lines = result.stdout.splitlines()
    assert lines[0] == "skipped 1: no such processor"
    assert lines[1:-1] == [f"failed stage: {stage}" for stage in stages]
    assert lines[-1] == last_line
    assert result.returncode == status


def test_a_folder_without_reports_fails(tmp_path):
    result = subprocess.run([sys.executable, TALLY, tmp_path], capture_output=True, text=True)
    assert result.stdout == "0 passed, 0 failed, 0 skipped (0 reports)\n"
    assert result.returncode == 1
