import pathlib

import pytest

NEW = "RawReader.__new__()"
READ = "RawReader.read_spectrum()"


def notes(error):
    return getattr(error, "__notes__", [])


def processing(parameter):
    """The notes a failed conversion carries, on interpreters whose exceptions take notes."""
    return [f"while processing '{parameter}'"] if hasattr(BaseException, "add_note") else []


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, f"{NEW} missing 1 required positional argument: 'path'"),
    (("a.wiff", "b"), {}, f"{NEW} takes 1 positional arguments but 2 were given"),
    (("a.wiff", "b", "c"), {}, f"{NEW} takes 1 positional arguments but 3 were given"),
    ((), {"file": "a.wiff"}, f"{NEW} got an unexpected keyword argument 'file'"),
    (("a.wiff",), {"path": "b.wiff"}, f"{NEW} got multiple values for argument 'path'"),
    (("a.wiff",), {"file": "b.wiff"}, f"{NEW} got an unexpected keyword argument 'file'"),
    # Keywords are checked before the missing parameter.
    ((), {"file": "a.wiff", "path": "b.wiff"}, f"{NEW} got an unexpected keyword argument 'file'"),
])
def test_constructor_argument_errors(tarvok, args, kwargs, message):
    with pytest.raises(TypeError) as raised:
        tarvok.RawReader(*args, **kwargs)
    assert str(raised.value) == message
    assert notes(raised.value) == []


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, f"{READ} missing 1 required positional argument: 'scan_index'"),
    ((1, 2), {}, f"{READ} takes 1 positional arguments but 2 were given"),
    ((), {"index": 1}, f"{READ} got an unexpected keyword argument 'index'"),
    ((1,), {"scan_index": 1}, f"{READ} got multiple values for argument 'scan_index'"),
])
def test_read_spectrum_argument_errors(generated_run, tarvok, args, kwargs, message):
    reader = tarvok.RawReader(str(generated_run))
    with pytest.raises(TypeError) as raised:
        reader.read_spectrum(*args, **kwargs)
    assert str(raised.value) == message


def test_path_by_keyword_works_like_positional(generated_run, tarvok):
    by_keyword = tarvok.RawReader(path=str(generated_run))
    positional = tarvok.RawReader(str(generated_run))
    assert repr(by_keyword) == repr(positional)


class PathText(str):
    pass


def test_path_may_be_a_str_subclass(generated_run, tarvok):
    assert tarvok.RawReader(PathText(generated_run)).scan_count == 120


class Unrelated:
    pass


@pytest.mark.parametrize("path, message", [
    (pathlib.Path("run1.wiff"), "'PosixPath' object is not an instance of 'str'"),
    (None, "'None' is not an instance of 'str'"),
    (b"run1.wiff", "'bytes' object is not an instance of 'str'"),
    (bytearray(b"run1.wiff"), "'bytearray' object is not an instance of 'str'"),
    (7, "'int' object is not an instance of 'str'"),
    (Unrelated(), "'Unrelated' object is not an instance of 'str'"),
])
def test_path_must_be_text(tarvok, path, message):
    with pytest.raises(TypeError) as raised:
        tarvok.RawReader(path)
    assert str(raised.value) == message
    assert notes(raised.value) == processing("path")


def test_path_with_lone_surrogate_cannot_be_encoded(tarvok):
    with pytest.raises(UnicodeEncodeError) as raised:
        tarvok.RawReader(b"run\xff.wiff".decode("utf-8", "surrogateescape"))
    assert notes(raised.value) == processing("path")


@pytest.mark.parametrize("scan_index, error", [
    (-1, OverflowError),
    (2**64, OverflowError),
    (-(2**70), OverflowError),
    (1.0, TypeError),
    ("1", TypeError),
    (None, TypeError),
])
def test_scan_index_conversion_failures_carry_a_note(generated_run, tarvok, scan_index, error):
    reader = tarvok.RawReader(str(generated_run))
    before = reader.read_spectrum(0)
    with pytest.raises(error) as raised:
        reader.read_spectrum(scan_index)
    assert type(raised.value) is error
    assert notes(raised.value) == processing("scan_index")
    after = reader.read_spectrum(0)
    assert (after.mz, after.intensity, after.retention_time_sec, after.ms_level) == \
        (before.mz, before.intensity, before.retention_time_sec, before.ms_level)
