#!/usr/bin/python3
"""Checks what the validators leave out of an indexed mzML document.

Every index offset must be the byte offset of the start tag of the element
with that id, every spectrum and chromatogram must be indexed, in document
order, indexListOffset must point at <indexList, and fileChecksum must be the
SHA-1 of every byte up to and including <fileChecksum>.

Relies on what makes this checkable without a full XML parse: in a
well-formed document without comments or CDATA, '<' followed by a name
occurs only at element starts. Run it as a program on files, or call
check_file() from tests.

read_values() reads back what each spectrum states (its summary terms, scan
start time, user params and arrays) and the TIC chromatogram, every number as
xs:double spells it and nothing else.
"""
import base64
import hashlib
import math
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree
import zlib
from dataclasses import dataclass, field
from xml.sax.saxutils import unescape

_ENTITIES = {"&quot;": '"', "&apos;": "'"}
_START_TAG = {
    "spectrum": re.compile(rb"<spectrum\s[^>]*>"),
    "chromatogram": re.compile(rb"<chromatogram\s[^>]*>"),
}
_ATTRIBUTE = re.compile(rb"""\s([A-Za-z_:][-\w.:]*)\s*=\s*("[^"]*"|'[^']*')""")
_LIST_COUNT = {
    "spectrum": re.compile(rb"<spectrumList\s[^>]*\bcount=\"(\d+)\""),
    "chromatogram": re.compile(rb"<chromatogramList\s[^>]*\bcount=\"(\d+)\""),
}
_INDEX_LIST_OFFSET = re.compile(rb"<indexListOffset>\s*(\d+)\s*</indexListOffset>")
_CHECKSUM_OPEN = b"<fileChecksum>"
_CHECKSUM = re.compile(rb"<fileChecksum>\s*([0-9A-Fa-f]*)\s*</fileChecksum>\s*</indexedmzML>\s*$")


class MzmlProblem(AssertionError):
    """The document breaks the index or checksum rules; args[0] lists every breach."""


@dataclass
class Entry:
    id: str
    offset: int
    index: int | None = None  # the element's index attribute


@dataclass
class Summary:
    """Spectra and chromatograms in document order, as the index and the elements agree."""

    spectra: list[Entry] = field(default_factory=list)
    chromatograms: list[Entry] = field(default_factory=list)
    checksum: str = ""


def _attributes(tag):
    return {
        name.decode(): unescape(value[1:-1].decode("utf-8", "replace"), _ENTITIES)
        for name, value in _ATTRIBUTE.findall(tag)
    }


def _elements(data, kind):
    found = []
    for match in _START_TAG[kind].finditer(data):
        attributes = _attributes(match.group(0))
        index = attributes.get("index")
        found.append(Entry(attributes.get("id", ""), match.start(), int(index) if index is not None else None))
    return found


def _index(data, start, problems):
    end = data.find(b"</indexList>", start)
    if end < 0:
        problems.append("no </indexList> after indexListOffset")
        return {}
    try:
        root = ElementTree.fromstring(data[start : end + len(b"</indexList>")])
    except ElementTree.ParseError as error:
        problems.append(f"indexList does not parse: {error}")
        return {}
    indices = {}
    for index in root:
        name = index.get("name")
        if name in indices:
            problems.append(f"index {name!r} appears twice")
        indices[name] = [Entry(offset.get("idRef", ""), int(offset.text)) for offset in index]
    if root.get("count") != str(len(indices)):
        problems.append(f"indexList count {root.get('count')} but {len(indices)} indices")
    return indices


def _compare(kind, elements, indexed, data, problems):
    if [e.id for e in elements] != [e.id for e in indexed]:
        problems.append(
            f"{kind} ids in the index {[e.id for e in indexed][:5]}... differ from the document's "
            f"{[e.id for e in elements][:5]}... ({len(indexed)} indexed, {len(elements)} present)"
        )
    by_offset = {e.offset: e for e in elements}
    for entry in indexed:
        element = by_offset.get(entry.offset)
        if element is None:
            problems.append(f"{kind} {entry.id!r}: offset {entry.offset} is no <{kind} start: {data[entry.offset:entry.offset + 24]!r}")
        elif element.id != entry.id:
            problems.append(f"{kind} {entry.id!r}: offset {entry.offset} starts {element.id!r}")
    if len({e.id for e in elements}) != len(elements):
        problems.append(f"{kind} ids are not unique")
    indices = [e.index for e in elements]
    if indices != list(range(len(elements))):
        problems.append(f"{kind} index attributes are not 0, 1, 2, ...: {indices[:8]}")
    count = _LIST_COUNT[kind].search(data)
    if elements and (count is None or int(count.group(1)) != len(elements)):
        problems.append(f"{kind}List count {count and count.group(1)} but {len(elements)} elements")


def check_bytes(data):
    """Summary of a document given as bytes; raises MzmlProblem."""
    problems = []
    summary = Summary()
    opening = data.rfind(_CHECKSUM_OPEN)
    closing = _CHECKSUM.search(data)
    if opening < 0 or closing is None or closing.start() != opening:
        problems.append("no <fileChecksum> with 40 hexadecimal digits at the end of the document")
    else:
        summary.checksum = closing.group(1).decode()
        expected = hashlib.sha1(data[: opening + len(_CHECKSUM_OPEN)]).hexdigest()
        if summary.checksum != expected:
            problems.append(f"fileChecksum {summary.checksum} but the bytes hash to {expected}")

    offset_match = _INDEX_LIST_OFFSET.search(data)
    list_starts = [m.start() for m in re.finditer(rb"<indexList\s", data)]
    indices = {}
    if offset_match is None:
        problems.append("no indexListOffset")
    elif list_starts != [int(offset_match.group(1))]:
        problems.append(f"indexListOffset {offset_match.group(1).decode()} but <indexList starts at {list_starts}")
    else:
        indices = _index(data, list_starts[0], problems)

    for kind, entries in (("spectrum", summary.spectra), ("chromatogram", summary.chromatograms)):
        elements = _elements(data, kind)
        if kind not in indices and elements:
            problems.append(f"{len(elements)} {kind} elements but no {kind} index")
        _compare(kind, elements, indices.get(kind, []), data, problems)
        entries.extend(elements)
    if problems:
        raise MzmlProblem("\n".join(problems))
    return summary


def check_file(path):
    """Summary of the document at path; raises MzmlProblem."""
    with open(path, "rb") as f:
        return check_bytes(f.read())


_XSD_DOUBLE = re.compile(r"[+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([Ee][+-]?[0-9]+)?|-?INF|NaN")
_NS = {"m": "http://psi.hupo.org/ms/mzml"}
_ARRAY_TYPES = {"MS:1000523": "d", "MS:1000521": "f"}
# Compression term -> (zlib-compressed, MS-Numpress coding applied first or None).
COMPRESSIONS = {
    "MS:1000576": (False, None),
    "MS:1000574": (True, None),
    "MS:1002312": (False, "linear"),
    "MS:1002313": (False, "integers"),
    "MS:1002746": (True, "linear"),
    "MS:1002747": (True, "integers"),
}
# The numeric terms a spectrum states about its peaks, by accession.
SUMMARY_TERMS = {
    "MS:1000285": "total ion current",
    "MS:1000504": "base peak m/z",
    "MS:1000505": "base peak intensity",
    "MS:1000528": "lowest observed m/z",
    "MS:1000527": "highest observed m/z",
}


def xsd_double(text):
    """The number an xs:double literal spells; MzmlProblem for any other text, "nan" and "inf" included."""
    if not _XSD_DOUBLE.fullmatch(text):
        raise MzmlProblem(f"{text!r} is not an xs:double")
    return float(text)


@dataclass
class SpectrumValues:
    id: str
    ms_level: int
    time: float  # scan start time in seconds
    summary: dict  # SUMMARY_TERMS name -> value, for the terms present
    user_params: list  # (name, value), in document order
    mz: bytes  # the arrays' bytes, little-endian, decoded and inflated
    intensity: bytes
    compressions: dict  # array accession -> its compression term

    def peaks(self):
        """The m/z and intensity values as numbers."""
        return _numbers(self.mz, "d"), _numbers(self.intensity, "f")


@dataclass
class Values:
    spectra: list
    tic_times: bytes
    tic_currents: bytes


def _numbers(data, number_type):
    return struct.unpack(f"<{len(data) // struct.calcsize(number_type)}{number_type}", data)


def summary_of(mz, intensity):
    """The summary terms a spectrum with these peaks must state: the intensities
    summed in order; the base peak, the first of the highest intensities (NaN
    is never highest; with nothing above -INF the first that is a number); the
    range of the m/z values that are numbers."""
    total = 0.0
    for value in intensity:
        total += value
    summary = {"total ion current": total}
    base, highest = None, -math.inf
    for i, value in enumerate(intensity):
        if value > highest:
            base, highest = i, value
    if base is None:
        base = next((i for i, value in enumerate(intensity) if not math.isnan(value)), None)
    if base is not None:
        summary["base peak m/z"] = mz[base]
        summary["base peak intensity"] = intensity[base]
    numbers = [value for value in mz if not math.isnan(value)]
    if numbers:
        summary["lowest observed m/z"] = min(numbers)
        summary["highest observed m/z"] = max(numbers)
    return summary


def same_summary(a, b):
    """Equal summaries, bit for bit, any NaN equal to any other."""
    def bits(value):
        return "NaN" if math.isnan(value) else struct.pack("<d", value)

    return {k: bits(v) for k, v in a.items()} == {k: bits(v) for k, v in b.items()}


def _as_declared(doubles, number_type):
    """MS-Numpress gives 64-bit floats: the array's declared type must hold each exactly."""
    values = _numbers(doubles, "d")
    try:
        data = struct.pack(f"<{len(values)}{number_type}", *values)
    except OverflowError:
        data = b""
    if struct.pack(f"<{len(values)}d", *_numbers(data, number_type)) != doubles:
        raise MzmlProblem(f"MS-Numpress values that {number_type} values do not hold")
    return data


def _arrays(element, numpress_decode=None):
    """({array accession: bytes}, {array accession: compression term}) of a spectrum or
    chromatogram; NaN payloads stay as written. MS-Numpress arrays go through
    numpress_decode(coding, data) -> little-endian 64-bit floats."""
    arrays, compressions = {}, {}
    for array in element.findall("m:binaryDataArrayList/m:binaryDataArray", _NS):
        terms = {p.get("accession") for p in array.findall("m:cvParam", _NS)}
        (kind,) = [a for a in terms if a in ("MS:1000514", "MS:1000515", "MS:1000595")]
        (number_type,) = [_ARRAY_TYPES[a] for a in terms if a in _ARRAY_TYPES]
        compression = [a for a in terms if a in COMPRESSIONS]
        if len(compression) != 1:
            raise MzmlProblem(f"an array with the compression terms {compression}, not one")
        inflate, coding = COMPRESSIONS[compression[0]]
        data = base64.b64decode(array.find("m:binary", _NS).text or "")
        if inflate:
            data = zlib.decompress(data) if data else b""
        if coding:
            if numpress_decode is None:
                raise MzmlProblem("an MS-Numpress array and no decoder")
            data = _as_declared(numpress_decode(coding, data), number_type)
        if len(data) % struct.calcsize(number_type):
            raise MzmlProblem(f"an array of {len(data)} bytes holds no whole {number_type} values")
        arrays[kind] = data
        compressions[kind] = compression[0]
    return arrays, compressions


def _spectrum_values(element, numpress_decode):
    params = {p.get("accession"): p for p in element.findall("m:cvParam", _NS)}
    summary = {SUMMARY_TERMS[a]: xsd_double(p.get("value")) for a, p in params.items() if a in SUMMARY_TERMS}
    (time,) = [
        p.get("value")
        for p in element.findall("m:scanList/m:scan/m:cvParam", _NS)
        if p.get("accession") == "MS:1000016"
    ]
    arrays, compressions = _arrays(element, numpress_decode)
    return SpectrumValues(
        id=element.get("id"),
        ms_level=int(params["MS:1000511"].get("value")),
        time=xsd_double(time),
        summary=summary,
        user_params=[(p.get("name"), p.get("value")) for p in element.findall("m:userParam", _NS)],
        mz=arrays["MS:1000514"],
        intensity=arrays["MS:1000515"],
        compressions=compressions,
    )


def read_values(path, numpress_decode=None):
    """Every spectrum's values and the TIC's arrays; MzmlProblem for a number xs:double cannot spell.
    MS-Numpress arrays need numpress_decode (see _arrays)."""
    run = ElementTree.parse(path).getroot().find("m:mzML/m:run", _NS)
    spectra = [_spectrum_values(e, numpress_decode) for e in run.findall("m:spectrumList/m:spectrum", _NS)]
    (tic,) = run.findall("m:chromatogramList/m:chromatogram", _NS)
    arrays, _ = _arrays(tic)
    return Values(spectra, arrays["MS:1000595"], arrays["MS:1000515"])


def main(paths):
    status = 0
    for path in paths:
        try:
            summary = check_file(path)
            print(f"{path}: {len(summary.spectra)} spectra, {len(summary.chromatograms)} chromatograms, index and checksum right")
        except MzmlProblem as problem:
            print(f"{path}:\n{problem}", file=sys.stderr)
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
