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
"""
import hashlib
import re
import sys
import xml.etree.ElementTree as ElementTree
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
