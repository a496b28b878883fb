import importlib
import shutil
import subprocess
import sys
import weakref

import pytest


def test_module_lists_its_two_classes(tarvok):
    assert tarvok.__all__ == ["RawReader", "Spectrum"]
    assert tarvok.__doc__ == ""
    assert [type(getattr(tarvok, name)) for name in tarvok.__all__] == [type, type]
    assert sorted(name for name in vars(tarvok) if not name.startswith("__")) == ["RawReader", "Spectrum"]


def test_panic_exception_is_not_a_module_attribute(tarvok):
    assert not hasattr(tarvok, "PanicException")


@pytest.mark.parametrize("name", ["RawReader", "Spectrum"])
def test_classes_are_named_as_builtins(tarvok, name):
    cls = getattr(tarvok, name)
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == name
    assert cls.__name__ == name
    assert repr(cls) == f"<class 'builtins.{name}'>"


def test_class_docs_and_signatures(tarvok):
    assert tarvok.RawReader.__doc__ == ""
    assert tarvok.RawReader.__text_signature__ == "(path)"
    assert tarvok.RawReader.read_spectrum.__text_signature__ == "($self, scan_index)"
    assert tarvok.Spectrum.__doc__ is None


def test_reimport_binds_the_same_classes(tarvok, monkeypatch):
    monkeypatch.delitem(sys.modules, "tarvok")
    again = importlib.import_module("tarvok")
    assert again is not tarvok
    assert again.RawReader is tarvok.RawReader
    assert again.Spectrum is tarvok.Spectrum
    assert again.__all__ == ["RawReader", "Spectrum"]


@pytest.mark.parametrize("name", ["RawReader", "Spectrum"])
def test_classes_cannot_be_subclassed(tarvok, name):
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Derived", (getattr(tarvok, name),), {})


@pytest.mark.parametrize("args, kwargs", [((), {}), ((1, 2), {}), ((), {"mz": []})])
def test_spectrum_cannot_be_constructed(tarvok, args, kwargs):
    with pytest.raises(TypeError) as raised:
        tarvok.Spectrum(*args, **kwargs)
    assert str(raised.value) == "cannot create 'builtins.Spectrum' instances"
    with pytest.raises(TypeError, match="^cannot create 'builtins.Spectrum' instances$"):
        tarvok.Spectrum.__new__(tarvok.Spectrum)


class Unprintable:
    def __str__(self):
        raise ValueError("no text")


def test_refusal_names_unreadable_parts_unknown(tarvok, monkeypatch):
    monkeypatch.setattr(tarvok.Spectrum, "__module__", Unprintable())
    with pytest.raises(TypeError) as raised:
        tarvok.Spectrum()
    assert str(raised.value) == "cannot create '<unknown>.Spectrum' instances"


def test_reader_has_no_instance_dict_nor_weak_references(generated_run, tarvok):
    reader = tarvok.RawReader(str(generated_run))
    spectrum = reader.read_spectrum(0)
    for obj in (reader, spectrum):
        assert not hasattr(obj, "__dict__")
        with pytest.raises(AttributeError):
            obj.extra = 1
        with pytest.raises(TypeError):
            weakref.ref(obj)


def test_reader_defines_no_container_protocols(generated_run, tarvok):
    reader = tarvok.RawReader(str(generated_run))
    with pytest.raises(TypeError):
        len(reader)
    with pytest.raises(TypeError):
        iter(reader)
    with pytest.raises(TypeError):
        reader[0]
    assert reader != tarvok.RawReader(str(generated_run))


# Comparison and hashing are object's own, by identity: the classes define neither.
@pytest.mark.parametrize("name", ["RawReader", "Spectrum"])
@pytest.mark.parametrize("slot", ["__hash__", "__eq__", "__ne__", "__lt__", "__le__", "__gt__", "__ge__"])
def test_comparison_and_hashing_are_inherited_from_object(tarvok, name, slot):
    assert getattr(getattr(tarvok, name), slot) is getattr(object, slot)


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm (binutils) is not installed")
def test_shared_object_exports_only_its_init_function(tarvok):
    listing = subprocess.run(["nm", "-D", "--defined-only", tarvok.__file__],
                             check=True, capture_output=True, text=True).stdout
    assert [line.split()[-1] for line in listing.splitlines()] == ["PyInit_tarvok"]
