import json
import math
import subprocess

import pytest

from conftest import SUMMARY_TOOL


def same_number(dumped, value):
    # The dump spells non-finite numbers as null.
    return (not math.isfinite(value)) if dumped is None else dumped == value


@pytest.mark.skipif(not SUMMARY_TOOL.is_file(), reason=f"tarvok-summary not built at {SUMMARY_TOOL}")
def test_spectra_match_the_readers_records(tarvok, tmp_path, sample_writer):
    wiff = sample_writer.run(tmp_path / "run7.wiff", scans=400, seed=11)
    dump = subprocess.run([SUMMARY_TOOL, "--dump", wiff], check=True, capture_output=True, text=True).stdout
    records = [json.loads(line) for line in dump.splitlines()]
    reader = tarvok.RawReader(str(wiff))

    assert reader.scan_count == len(records) == 400
    assert {record["ms_level"] for record in records} == {1, 2}
    assert sum(len(record["mz"]) for record in records) > 0
    for position, record in enumerate(records):
        assert record["index"] == position
        assert record["native_id"] == f"file=run7 scan={position + 1}"
        spectrum = reader.read_spectrum(position)
        assert spectrum.mz == record["mz"]
        assert spectrum.intensity == record["intensity"]
        assert spectrum.ms_level == record["ms_level"]
        assert same_number(record["retention_time_sec"], spectrum.retention_time_sec)
        assert len(spectrum) == len(record["mz"])
