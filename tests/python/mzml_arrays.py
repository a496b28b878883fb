"""The peak arrays of an mzML document as stored, every MS-Numpress array
decoded by the reference library (through tarvok-numpress-decode), so that
tests compare them with the values that went in, bit for bit."""
import base64
import struct
import subprocess
import xml.etree.ElementTree as ElementTree
import zlib
from dataclasses import dataclass

from conftest import NUMPRESS_DECODE_TOOL

NS = {"m": "http://psi.hupo.org/ms/mzml"}
# Compression accession -> (zlib first, numpress coding or None).
COMPRESSIONS = {
    "MS:1000576": (False, None),
    "MS:1000574": (True, None),
    "MS:1002312": (False, "linear"),
    "MS:1002313": (False, "integers"),
    "MS:1002746": (True, "linear"),
    "MS:1002747": (True, "integers"),
}
TYPES = {"MS:1000523": "d", "MS:1000521": "f"}


@dataclass
class Array:
    coding: str | None  # "linear", "integers" or None (as stored)
    zlib: bool
    values: bytes  # little-endian doubles when coding is set, else as stored


@dataclass
class Spectrum:
    id: str
    index: int
    mz: Array
    intensity: Array


def numpress_decode(kind, coded):
    if not NUMPRESS_DECODE_TOOL.is_file():
        raise AssertionError(f"decoder not built at {NUMPRESS_DECODE_TOOL} (set TARVOK_NUMPRESS_DECODE_TOOL)")
    result = subprocess.run([NUMPRESS_DECODE_TOOL, kind], input=coded, capture_output=True)
    assert result.returncode == 0, result.stderr
    return result.stdout


def read_array(element):
    accessions = [p.get("accession") for p in element.findall("m:cvParam", NS)]
    compressions = [a for a in accessions if a in COMPRESSIONS]
    assert len(compressions) == 1, accessions
    compressed, coding = COMPRESSIONS[compressions[0]]
    data = base64.b64decode(element.findtext("m:binary", "", NS))
    if compressed:
        data = zlib.decompress(data)
    if coding:
        data = numpress_decode(coding, data)
    return Array(coding, compressed, data)


def spectra(path):
    root = ElementTree.parse(path).getroot()
    found = []
    for element in root.iterfind(".//m:spectrum", NS):
        arrays = {}
        for array in element.iterfind("m:binaryDataArrayList/m:binaryDataArray", NS):
            kinds = {p.get("name") for p in array.findall("m:cvParam", NS)}
            arrays["mz" if "m/z array" in kinds else "intensity"] = read_array(array)
        found.append(Spectrum(element.get("id"), int(element.get("index")), arrays["mz"], arrays["intensity"]))
    return found


def expected_bytes(array, stored, code):
    """What `array` must hold for the little-endian values `stored` of type
    code ("d" or "f"): the same bytes, or as decoded numpress the same values
    as 64-bit floats."""
    if not array.coding:
        return stored
    count = len(stored) // struct.calcsize(code)
    return struct.pack(f"<{count}d", *struct.unpack(f"<{count}{code}", stored))
