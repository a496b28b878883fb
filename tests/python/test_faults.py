"""Internal failures and exhausted memory, injected through the module's test hook."""

import ctypes
import gc
import os
import subprocess
import sys
import textwrap

import pytest

from conftest import ASAN_RUNTIME_ENV, MODULE_DIR

FAULT = "TARVOK_TEST_FAULT"


@pytest.fixture(autouse=True)
def hooks_built(has_test_hooks):
    if not has_test_hooks:
        pytest.skip("module built without its test hook (meson -Dtest_hooks=true)")


@pytest.fixture
def reader(tarvok, generated_run):
    return tarvok.RawReader(str(generated_run))


def panic_of(tarvok, action):
    with pytest.raises(BaseException) as raised:
        action()
    error = raised.value
    assert not isinstance(error, Exception)
    return error


# Entry points with the site name of their hook.
ENTRY_POINTS = {
    "new": ("new", lambda tarvok, reader, path: tarvok.RawReader(path)),
    "read_spectrum": ("read_spectrum", lambda tarvok, reader, path: reader.read_spectrum(0)),
    "scan_count": ("getter", lambda tarvok, reader, path: reader.scan_count),
    "reader repr": ("repr", lambda tarvok, reader, path: repr(reader)),
    "mz": ("getter", lambda tarvok, reader, path: reader.read_spectrum(0).mz),
    "intensity": ("getter", lambda tarvok, reader, path: reader.read_spectrum(0).intensity),
    "ms_level": ("getter", lambda tarvok, reader, path: reader.read_spectrum(0).ms_level),
    "retention_time_sec": ("getter", lambda tarvok, reader, path: reader.read_spectrum(0).retention_time_sec),
    "len": ("len", lambda tarvok, reader, path: len(reader.read_spectrum(0))),
    "truth value": ("len", lambda tarvok, reader, path: bool(reader.read_spectrum(0))),
    "spectrum repr": ("repr", lambda tarvok, reader, path: repr(reader.read_spectrum(0))),
}


@pytest.mark.parametrize("entry", ENTRY_POINTS)
def test_internal_failure_raises_panic_exception(tarvok, reader, generated_run, monkeypatch, entry):
    site, action = ENTRY_POINTS[entry]
    monkeypatch.setenv(FAULT, f"{site}:panic")
    error = panic_of(tarvok, lambda: action(tarvok, reader, str(generated_run)))
    panic = type(error)
    assert panic.__bases__ == (BaseException,)
    assert panic.__module__ == "tarvok" and panic.__qualname__ == "PanicException"
    assert "BaseException" in panic.__doc__
    assert str(error) == f"fault injected at {site}"
    monkeypatch.delenv(FAULT)
    action(tarvok, reader, str(generated_run))


def test_panic_exception_type_is_created_once(tarvok, reader, monkeypatch):
    monkeypatch.setenv(FAULT, "repr:panic")
    first = panic_of(tarvok, lambda: repr(reader))
    monkeypatch.setenv(FAULT, "getter:panic")
    second = panic_of(tarvok, lambda: reader.scan_count)
    assert type(first) is type(second)
    assert not hasattr(tarvok, "PanicException")


def test_failure_without_text_gets_a_message(tarvok, reader, monkeypatch):
    monkeypatch.setenv(FAULT, "read_spectrum:wordless")
    error = panic_of(tarvok, lambda: reader.read_spectrum(0))
    assert type(error).__qualname__ == "PanicException"
    assert error.args == ("internal failure in the tarvok module",)


@pytest.mark.parametrize("make", [
    lambda reader: reader.read_spectrum(0),
    lambda reader: reader,
], ids=["Spectrum", "RawReader"])
def test_failure_in_deallocation_is_unraisable(tarvok, generated_run, monkeypatch, make):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    doomed = make(tarvok.RawReader(str(generated_run)))
    cls = type(doomed)
    with monkeypatch.context() as patch:
        patch.setenv(FAULT, "dealloc:panic")
        del doomed
    assert len(reported) == 1
    assert reported[0].exc_type.__qualname__ == "PanicException"
    assert str(reported[0].exc_value) == "fault injected at dealloc"
    assert reported[0].object is cls


def malloc_in_use():
    """Bytes the C heap has handed out, counting blocks it mapped on its own."""
    class MallInfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in
                    ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                     "keepcost")]

    libc = ctypes.CDLL(None)
    if not hasattr(libc, "mallinfo2"):
        pytest.skip("the C library has no mallinfo2")
    libc.mallinfo2.restype = MallInfo2
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def raises_memory_error(action):
    try:
        action()
    except MemoryError:
        return True
    return False


def assert_memory_error_leaks_nothing(action, rounds=200):
    assert all(raises_memory_error(action) for _ in range(10))
    gc.collect()
    blocks, heap = sys.getallocatedblocks(), malloc_in_use()
    assert all(raises_memory_error(action) for _ in range(rounds))
    gc.collect()
    assert sys.getallocatedblocks() - blocks < rounds / 10
    assert malloc_in_use() - heap < 256 * 1024


def test_no_memory_while_constructing(tarvok, generated_run, monkeypatch):
    monkeypatch.setenv(FAULT, "new:memory")
    assert_memory_error_leaks_nothing(lambda: tarvok.RawReader(str(generated_run)))
    monkeypatch.delenv(FAULT)
    assert tarvok.RawReader(str(generated_run)).scan_count == 120


def test_no_memory_while_copying_a_spectrum(reader, monkeypatch):
    peaks = len(reader.read_spectrum(0))
    assert peaks > 1000
    monkeypatch.setenv(FAULT, "read_spectrum:memory")
    assert_memory_error_leaks_nothing(lambda: reader.read_spectrum(0))
    monkeypatch.delenv(FAULT)
    assert len(reader.read_spectrum(0)) == peaks


def run_python(code, fault):
    env = dict(os.environ, **ASAN_RUNTIME_ENV, **{FAULT: fault})
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, text=True,
                          cwd=MODULE_DIR)


@pytest.mark.parametrize("fault, raised", [
    ("exec:memory", "MemoryError"),
    ("exec:panic", "tarvok.PanicException"),
])
def test_failed_import_leaves_nothing_half_built(fault, raised):
    result = run_python(f"""
        import os, sys
        sys.path.insert(0, {str(MODULE_DIR)!r})
        try:
            import tarvok
        except BaseException as error:
            print(type(error).__module__ + "." + type(error).__qualname__)
        assert "tarvok" not in sys.modules
        del os.environ["{FAULT}"]
        import tarvok
        print(tarvok.__all__)
    """, fault)
    assert result.returncode == 0, result.stderr
    shown = raised if "." in raised else f"builtins.{raised}"
    assert result.stdout.splitlines() == [shown, "['RawReader', 'Spectrum']"]
