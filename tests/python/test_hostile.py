"""Hostile samples through the module: special files, damaged containers and
windows of gigabytes in a child interpreter whose stderr and time are watched,
and thousands of constructions that must leave nothing behind."""

import collections
import ctypes
import gc
import os
import resource
import struct
import subprocess
import sys
import textwrap

import pytest

from conftest import ASAN_RUNTIME_ENV, MODULE_DIR, UNDER_ASAN
from layout import INDEX_STREAM_PATH, RETAINED_BLOCK_SIZE_ABOVE
from sample_files import BLOCK_HEADER, Scan, idx_record, idx_stream

TWO_BLOCKS = (BLOCK_HEADER + bytes.fromhex("05830284ffffffff")
              + BLOCK_HEADER + bytes.fromhex("0afcc8ffffffff"))


def run_child(code, limit_address_space=None, timeout=60):
    """Runs code in a fresh interpreter that has the module on its path; the
    address space is limited where AddressSanitizer (which reserves terabytes
    of shadow memory) is not loaded."""
    def limit():
        if limit_address_space is not None and not UNDER_ASAN:
            resource.setrlimit(resource.RLIMIT_AS, (limit_address_space, resource.RLIM_INFINITY))

    prologue = f"import sys\nsys.path.insert(0, {str(MODULE_DIR)!r})\nimport tarvok\n"
    return subprocess.run([sys.executable, "-c", prologue + textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout, preexec_fn=limit, check=False, env=dict(os.environ, **ASAN_RUNTIME_ENV))


def outcome_of(wiff, limit_address_space=None):
    """What RawReader makes of the sample in a child: its spectra and peaks, or its error."""
    result = run_child(f"""
        try:
            reader = tarvok.RawReader({str(wiff)!r})
        except RuntimeError as error:
            print("error", error)
        else:
            spectra = [reader.read_spectrum(i) for i in range(reader.scan_count)]
            print("spectra", len(spectra), sum(len(s) for s in spectra))
    """, limit_address_space)
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""
    return result.stdout.strip()


def make_special(path, kind, keep):
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "fifo with idle writer":
        os.mkfifo(path)
        keep.append(os.open(path, os.O_RDWR))  # read-write opens a FIFO without waiting
    elif kind == "directory":
        path.mkdir()
    else:
        path.symlink_to(kind)


SPECIAL_KINDS = ["fifo", "fifo with idle writer", "directory", "/dev/null", "/dev/zero"]


@pytest.fixture
def held_descriptors():
    keep = []
    yield keep
    for fd in keep:
        os.close(fd)


@pytest.mark.parametrize("kind", SPECIAL_KINDS)
def test_special_scan_file_gives_spectra_without_peaks(sample_writer, tmp_path, held_descriptors, kind):
    records = [idx_record(0), idx_record(100), idx_record(0xFFFFFF00)]
    wiff = sample_writer.exact(tmp_path / "s.wiff", idx=idx_stream(records))
    make_special(tmp_path / "s.wiff.scan", kind, held_descriptors)
    assert outcome_of(wiff) == "spectra 3 0"


@pytest.mark.parametrize("kind", SPECIAL_KINDS)
def test_special_wiff_file_is_an_io_error(tmp_path, held_descriptors, kind):
    wiff = tmp_path / "s.wiff"
    make_special(wiff, kind, held_descriptors)
    (tmp_path / "s.wiff.scan").write_bytes(TWO_BLOCKS)
    assert outcome_of(wiff).startswith("error I/O error: ")


def idx_entry_offset(container, name):
    """Offset of a directory entry in a container whose directory is its first
    directory sector (true of the small containers the writer makes)."""
    sector_size = 1 << struct.unpack_from("<H", container, 0x1E)[0]
    directory = 512 + struct.unpack_from("<I", container, 0x30)[0] * sector_size
    encoded = name.encode("utf-16-le")
    for at in range(directory, directory + sector_size, 128):
        length = struct.unpack_from("<H", container, at + 0x40)[0]
        if container[at:at + length - 2] == encoded:
            return at
    raise AssertionError(f"no directory entry {name!r}")


def fat_entry_offset(container, sector):
    sector_size = 1 << struct.unpack_from("<H", container, 0x1E)[0]
    fat_sector = struct.unpack_from("<I", container, 0x4C + 4 * (sector * 4 // sector_size))[0]
    return 512 + fat_sector * sector_size + sector * 4 % sector_size


def cut_inside_the_stream(container):
    start = struct.unpack_from("<I", container, idx_entry_offset(container, "Idx") + 0x74)[0]
    return container[:512 + (start + 2) * 512 + 10]


def stream_chain_loops(container):
    start = struct.unpack_from("<I", container, idx_entry_offset(container, "Idx") + 0x74)[0]
    patched = bytearray(container)
    struct.pack_into("<I", patched, fat_entry_offset(container, start), start)
    return bytes(patched)


def stream_size_4_gib(container):
    patched = bytearray(container)
    struct.pack_into("<Q", patched, idx_entry_offset(container, "Idx") + 0x78, 0xFFFFFFFF)
    return bytes(patched)


def sector_shift_7(container):
    return container[:0x1E] + struct.pack("<H", 7) + container[0x20:]


@pytest.mark.parametrize("damage", [cut_inside_the_stream, stream_chain_loops, stream_size_4_gib, sector_shift_7])
def test_damaged_container_is_a_silent_error(sample_writer, tmp_path, damage):
    # 80 records: more than the mini stream holds, so the index has sectors of its own.
    records = [idx_record(0 if i % 2 == 0 else 64) for i in range(80)]
    made = sample_writer.exact(tmp_path / "made.wiff", idx=idx_stream(records))
    wiff = tmp_path / "damaged.wiff"
    wiff.write_bytes(damage(made.read_bytes()))
    (tmp_path / "damaged.wiff.scan").write_bytes(TWO_BLOCKS)
    outcome = outcome_of(wiff, limit_address_space=1 << 30)
    assert outcome.startswith(("error I/O error: ", "error parse error: ")), outcome


def test_many_records_on_gigabyte_windows_stay_small(sample_writer, tmp_path):
    # Every other window runs from 0 to almost 4 GiB over a 127-byte file.
    records = [idx_record(0 if i % 2 == 0 else 0xFFFFFF00) for i in range(2000)]
    wiff = sample_writer.exact(tmp_path / "s.wiff", idx=idx_stream(records), scan=TWO_BLOCKS)
    assert outcome_of(wiff, limit_address_space=1 << 30) == "spectra 2000 2000"


def c_heap_in_use():
    """Bytes glibc's allocator has handed out and not had back, or None where
    Python's objects come from it too (PYTHONMALLOC=malloc, as in the
    instrumented runs): the count then moves with the interpreter's caches."""
    if sys.getallocatedblocks() == 0:
        return None

    class MallInfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
            "keepcost")]

    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = MallInfo2
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def open_descriptors():
    return sorted(os.listdir("/proc/self/fd"))


def construction_kinds(sample_writer, base, generated_run):
    """(name, path or argument, expected exception type or None, message start)."""
    def exact(name, **parts):
        return sample_writer.exact(base / name, **parts)

    small = sample_writer.scans(base / "small.wiff", [Scan(b"\x05\x83\x02\x84"), Scan(b"\x0a\xfc\xc8", 2.0, 2)])
    records = idx_stream([idx_record(0), idx_record(64)])
    no_scan = exact("no-scan.wiff", idx=records)
    text = base / "text.wiff"
    text.write_bytes(b"plain text\n" * 100)
    (base / "text.wiff.scan").write_bytes(TWO_BLOCKS)
    (base / "missing.wiff.scan").write_bytes(TWO_BLOCKS)
    damaged = base / "damaged.wiff"
    damaged.write_bytes(cut_inside_the_stream(exact("whole.wiff", idx=idx_stream([idx_record(0)] * 80)).read_bytes()))
    (base / "damaged.wiff.scan").write_bytes(TWO_BLOCKS)
    scan_dir = exact("scan-dir.wiff", idx=records)
    (base / "scan-dir.wiff.scan").mkdir()
    return [
        ("generated run", str(generated_run), None, ""),
        ("small sample", str(small), None, ""),
        ("scan file is a directory", str(scan_dir), None, ""),
        ("no scan file", str(no_scan), RuntimeError, "parse error: .wiff.scan file not found: "),
        ("no wiff file", str(base / "missing.wiff"), RuntimeError, "I/O error: No such file or directory"),
        ("not a container", str(text), RuntimeError, "I/O error: "),
        ("no index stream", str(exact("no-idx.wiff", streams=[("Other", b"x")], scan=TWO_BLOCKS)), RuntimeError,
         f"parse error: Stream '{INDEX_STREAM_PATH}' not found: "),
        ("damaged container", str(damaged), RuntimeError, "I/O error: "),
        ("index too short", str(exact("short.wiff", idx=bytes(31), scan=TWO_BLOCKS)), RuntimeError,
         "parse error: Idx stream too short for header"),
        ("no record retained", str(exact("none.wiff", idx=idx_stream([idx_record(0, RETAINED_BLOCK_SIZE_ABOVE)]), scan=TWO_BLOCKS)),
         RuntimeError, "parse error: Idx stream contained no valid scan records"),
        ("NUL in the path", str(small) + "\0", RuntimeError, "parse error: .wiff.scan file not found: "),
        ("path not a str", str(small).encode(), TypeError, ""),
        ("path not encodable", str(base / "\udcff.wiff"), UnicodeEncodeError, ""),
    ]


def construct(tarvok, argument, expected):
    """The last spectrum, or the exception, which must be of the expected type."""
    if expected is None:
        reader = tarvok.RawReader(argument)
        return reader.read_spectrum(reader.scan_count - 1)
    try:
        tarvok.RawReader(argument)
    except expected as error:
        return error
    raise AssertionError(f"RawReader({argument!r}) did not raise {expected.__name__}")


def test_ten_thousand_constructions_leave_nothing_behind(tarvok, sample_writer, tmp_path, generated_run):
    kinds = construction_kinds(sample_writer, tmp_path, generated_run)
    for name, argument, expected, message in kinds:
        result = construct(tarvok, argument, expected)
        if expected is RuntimeError:
            assert str(result).startswith(message), name
    rounds = -(-10000 // len(kinds))
    warm_up = rounds // 10
    for _ in range(warm_up):
        for _, argument, expected, _ in kinds:
            construct(tarvok, argument, expected)

    # Counts that nothing but a leak moves: each instance holds a reference
    # to its class, and the collector lists every exception and container
    # (but tuples and dicts, which it stops tracking when it likes). What
    # else Python allocates moves with its caches, so the module's leaks of
    # other objects are left to the leak checks of LeakSanitizer and
    # memcheck at exit, which see unreachable blocks exactly.
    # The counts are tuples, which are not counted themselves.
    def counts():
        gc.collect()
        tracked = collections.Counter(type(o).__qualname__ for o in gc.get_objects() if type(o) not in (tuple, dict))
        return (tuple(open_descriptors()), sys.getrefcount(tarvok.RawReader), sys.getrefcount(tarvok.Spectrum),
                tuple(sorted(tracked.items())))

    counts()  # the first count makes what counting keeps
    before, heap = counts(), c_heap_in_use()
    for _ in range(rounds - warm_up):
        for _, argument, expected, _ in kinds:
            construct(tarvok, argument, expected)
    after = counts()
    assert after[:3] == before[:3]
    assert set(after[3]) ^ set(before[3]) == set()
    # The C heap's own noise (glibc's bins, the interpreter's larger blocks)
    # is bounded, some kilobytes; 64 bytes leaked by each construction of
    # any one kind grows it by twice the bound below.
    if heap is not None:
        assert c_heap_in_use() - heap < (rounds - warm_up) * 32
