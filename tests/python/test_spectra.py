import gc
import math
import struct
import sys
import threading

import pytest

from sample_files import BLOCK_HEADER, TERMINATOR, Scan, idx_record, idx_stream

# Payload, MS-level code and retention time in minutes, with the spectrum they make.
CONTENT = [
    (Scan(bytes.fromhex("05 83 02 84"), 1.5, 1), [5.0, 7.0], [3.0, 4.0], 1, 90.0),
    (Scan(bytes.fromhex("0A FC C8 0A 80 0A FD 34 12"), 0.25, 0), [10.0, 30.0], [200.0, 4660.0], 2, 15.0),
    (Scan(b"", 2.0, 255), [], [], 2, 120.0),
    (Scan(bytes.fromhex("FF 01 00 00 01"), 3.0, 1), [0.0], [16777216.0], 1, 180.0),
    (Scan(bytes.fromhex("7F 7F 80 83"), 4.0, 2), [254.0], [3.0], 2, 240.0),
]


@pytest.fixture
def content_reader(tarvok, tmp_path, sample_writer):
    wiff = sample_writer.scans(tmp_path / "run1.wiff", [scan for scan, *_ in CONTENT])
    return tarvok.RawReader(str(wiff))


@pytest.mark.parametrize("index, expected", list(enumerate(CONTENT)))
def test_spectrum_content(content_reader, index, expected):
    _, mz, intensity, ms_level, retention_time_sec = expected
    spectrum = content_reader.read_spectrum(index)
    assert spectrum.mz == mz
    assert spectrum.intensity == intensity
    assert spectrum.ms_level == ms_level
    assert spectrum.retention_time_sec == retention_time_sec
    assert len(spectrum) == len(mz) == len(spectrum.intensity)
    assert bool(spectrum) is bool(mz)
    assert repr(spectrum) == str(spectrum) == f"Spectrum({len(mz)} peaks, RT {retention_time_sec:.2f}s)"


def test_attribute_types(content_reader):
    spectrum = content_reader.read_spectrum(0)
    assert type(spectrum.mz) is list and all(type(v) is float for v in spectrum.mz)
    assert type(spectrum.intensity) is list and all(type(v) is float for v in spectrum.intensity)
    assert type(spectrum.ms_level) is int
    assert type(spectrum.retention_time_sec) is float
    assert type(content_reader.scan_count) is int


def test_reader_repr_and_count(content_reader):
    assert content_reader.scan_count == len(CONTENT)
    assert repr(content_reader) == str(content_reader) == "RawReader('run1', 5 scans)"


@pytest.mark.parametrize("file_name, shown", [
    ("it's.wiff", "RawReader('it's', 1 scans)"),
    ("échantillon 7.WIFF", "RawReader('échantillon 7', 1 scans)"),
    ("run1.old.wiff", "RawReader('run1.old', 1 scans)"),
    (".wiff", "RawReader('.wiff', 1 scans)"),
])
def test_reader_repr_shows_sample_name_unescaped(tarvok, tmp_path, sample_writer, file_name, shown):
    wiff = sample_writer.scans(tmp_path / file_name, [Scan(b"\x05\x83")])
    assert repr(tarvok.RawReader(str(wiff))) == shown


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Count(int):
    pass


@pytest.mark.parametrize("scan_index, position", [
    (0, 0), (4, 4), (True, 1), (False, 0), (Index(3), 3), (Count(2), 2),
])
def test_scan_index_forms(content_reader, scan_index, position):
    assert content_reader.read_spectrum(scan_index).mz == CONTENT[position][1]
    assert content_reader.read_spectrum(scan_index=scan_index).mz == CONTENT[position][1]


@pytest.mark.parametrize("scan_index", [5, 6, 2**32, 2**64 - 1, Index(5)])
def test_scan_index_out_of_range(content_reader, scan_index):
    with pytest.raises(RuntimeError) as raised:
        content_reader.read_spectrum(scan_index)
    assert type(raised.value) is RuntimeError
    assert raised.value.args == (f"scan {int(scan_index)} out of range",)
    assert content_reader.read_spectrum(4).mz == [254.0]


def f32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


# Retention times in minutes, stored as 32-bit floats, and how the seconds show.
RETENTION_TIMES = [
    (12.57, "754.20"),                   # 754.1999816894531 s
    (1 / 32, "1.88"),                    # exactly 1.875 s: tie, to even
    (3 / 32, "5.62"),                    # exactly 5.625 s: tie, to even
    (5 / 32, "9.38"),                    # exactly 9.375 s
    (7 / 32, "13.12"),                   # exactly 13.125 s
    (f32(2.675 / 60), "2.67"),           # 2.6749999076128006 s, just below the tie
    (f32(0.085 / 60), "0.08"),           # 0.0849999999627471 s
    (f32(61.235 / 60), "61.24"),         # 61.23500347137451 s, just above the tie
    (0.2, "12.00"),
    (0.0, "0.00"),
    (-0.0, "-0.00"),
    (-1e-30, "-0.00"),
    (-0.5, "-30.00"),
    (float("inf"), "inf"),
    (float("-inf"), "-inf"),
    (float("nan"), "NaN"),
    (-float("nan"), "NaN"),
    (3.4028234663852886e38, f"{3.4028234663852886e38 * 60:.2f}"),
]


@pytest.fixture(scope="module")
def timed_reader(tarvok, tmp_path_factory, sample_writer):
    scans = [Scan(b"", rt_min) for rt_min, _ in RETENTION_TIMES]
    wiff = sample_writer.scans(tmp_path_factory.mktemp("times") / "times.wiff", scans)
    return tarvok.RawReader(str(wiff))


@pytest.mark.parametrize("index, rt_min, shown", [(i, *case) for i, case in enumerate(RETENTION_TIMES)])
def test_repr_retention_time(timed_reader, index, rt_min, shown):
    spectrum = timed_reader.read_spectrum(index)
    seconds = f32(rt_min) * 60.0
    if math.isnan(seconds):
        assert math.isnan(spectrum.retention_time_sec)
    else:
        assert spectrum.retention_time_sec == seconds
        assert math.copysign(1.0, spectrum.retention_time_sec) == math.copysign(1.0, seconds)
    assert repr(spectrum) == f"Spectrum(0 peaks, RT {shown}s)"


def test_repr_agrees_with_exact_formatting(tarvok, tmp_path, sample_writer):
    # 32-bit patterns spread over every exponent; Python's own formatting rounds exactly.
    patterns = [(0x9E3779B9 * k) & 0x7F7FFFFF for k in range(1, 400)]
    minutes = [struct.unpack("<f", struct.pack("<I", bits))[0] for bits in patterns]
    minutes += [-m for m in minutes[:50]]
    wiff = sample_writer.scans(tmp_path / "spread.wiff", [Scan(b"", m) for m in minutes])
    reader = tarvok.RawReader(str(wiff))
    for index, m in enumerate(minutes):
        assert repr(reader.read_spectrum(index)) == f"Spectrum(0 peaks, RT {m * 60.0:.2f}s)"


@pytest.mark.parametrize("name", ["mz", "intensity", "ms_level", "retention_time_sec"])
def test_spectrum_attributes_are_read_only(content_reader, name):
    spectrum = content_reader.read_spectrum(0)
    with pytest.raises(AttributeError):
        setattr(spectrum, name, [])
    with pytest.raises(AttributeError):
        delattr(spectrum, name)


def test_scan_count_is_read_only(content_reader):
    with pytest.raises(AttributeError):
        content_reader.scan_count = 5
    with pytest.raises(AttributeError):
        del content_reader.scan_count
    assert content_reader.scan_count == 5


def test_every_read_gives_fresh_objects(content_reader):
    first = content_reader.read_spectrum(1)
    second = content_reader.read_spectrum(1)
    assert first is not second
    assert (first.mz, first.intensity, first.ms_level, first.retention_time_sec) == \
           (second.mz, second.intensity, second.ms_level, second.retention_time_sec)
    assert first.mz is not first.mz
    assert first.intensity is not first.intensity
    first.mz.append(1.0)
    taken = first.intensity
    taken.clear()
    assert len(first) == 2
    assert first.mz == [10.0, 30.0]
    assert first.intensity == [200.0, 4660.0]


def test_spectra_outlive_their_files_and_reader(tarvok, tmp_path, sample_writer):
    wiff = sample_writer.scans(tmp_path / "run1.wiff", [scan for scan, *_ in CONTENT])
    reader = tarvok.RawReader(str(wiff))
    kept = reader.read_spectrum(0)
    wiff.unlink()
    (tmp_path / "run1.wiff.scan").unlink()
    later = reader.read_spectrum(1)
    assert later.mz == [10.0, 30.0]
    del reader
    gc.collect()
    assert (kept.mz, kept.intensity, kept.retention_time_sec) == ([5.0, 7.0], [3.0, 4.0], 90.0)
    assert repr(later) == "Spectrum(2 peaks, RT 15.00s)"


def test_unreadable_blocks_give_empty_spectra(tarvok, tmp_path, sample_writer):
    block = BLOCK_HEADER + bytes.fromhex("05 83") + TERMINATOR
    # The first record's block ends where the second begins: before it.
    idx = idx_stream([idx_record(64, 100, 0.2), idx_record(0, 100, 0.5)])
    wiff = sample_writer.exact(tmp_path / "run1.wiff", idx=idx, scan=block + bytes(64 - len(block)) + block)
    reader = tarvok.RawReader(str(wiff))
    empty = reader.read_spectrum(0)
    assert (len(empty), bool(empty), empty.mz, empty.intensity) == (0, False, [], [])
    assert repr(empty) == "Spectrum(0 peaks, RT 12.00s)"
    assert reader.read_spectrum(1).mz == [5.0]


def test_scan_data_path_that_is_a_directory(tarvok, tmp_path, sample_writer):
    wiff = sample_writer.exact(tmp_path / "run1.wiff", idx=idx_stream([idx_record(0), idx_record(100)]))
    (tmp_path / "run1.wiff.scan").mkdir()
    reader = tarvok.RawReader(str(wiff))
    assert reader.scan_count == 2
    assert [len(reader.read_spectrum(i)) for i in range(2)] == [0, 0]


def summary_of(s):
    return (s.mz, s.intensity, s.ms_level, s.retention_time_sec, repr(s))


def summary(reader):
    return [summary_of(reader.read_spectrum(index)) for index in range(reader.scan_count)]


# Every call holds the interpreter lock throughout, so threads meet only
# between calls. What this checks is that the module keeps nothing from one
# call to the next that another thread's calls could disturb: with threads
# switched as often as the interpreter allows, each sees what a lone run sees.
def test_calls_interleaved_across_threads_see_no_shared_state(tarvok, generated_run):
    expected = summary(tarvok.RawReader(str(generated_run)))
    threads_count = 6
    start = threading.Barrier(threads_count)
    results = [None] * threads_count
    order = []

    def work(slot):
        start.wait()
        results[slot] = []
        for _ in range(2):
            reader = tarvok.RawReader(str(generated_run))
            spectra = []
            for index in range(reader.scan_count):
                spectra.append(summary_of(reader.read_spectrum(index)))
                order.append(slot)
            results[slot].append(spectra)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=work, args=(slot,)) for slot in range(threads_count)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    switches = sum(1 for a, b in zip(order, order[1:]) if a != b)
    assert switches >= threads_count, "the threads ran one after another"
    assert all(result == [expected, expected] for result in results)
