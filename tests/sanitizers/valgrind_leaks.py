"""Reads memcheck's XML reports and fails on a definite or indirect leak, or a
memory error, whose stack passes through our code: the extension module's
shared object or a source file of the repository. The interpreter's own
leaks at exit are counted and shown, but are not ours to fix.

    valgrind_leaks.py MODULE_SO REPO_DIR REPORT.xml...
"""
import os
import sys
import xml.etree.ElementTree as ET

LEAK_KINDS = {"Leak_DefinitelyLost", "Leak_IndirectlyLost"}
IGNORED_KINDS = {"Leak_PossiblyLost", "Leak_StillReachable"}


def frames(error):
    for frame in error.iter("frame"):
        yield {child.tag: (child.text or "") for child in frame}


def is_ours(frame, module, repo):
    if frame.get("obj") and os.path.realpath(frame["obj"]) == module:
        return True
    return os.path.normpath(frame.get("dir", "")).startswith(repo + os.sep)


def describe(error):
    what = error.find("xwhat/text")
    what = what.text if what is not None else error.findtext("what", "")
    stack = [f"    {f.get('fn', '?')} ({f.get('file', os.path.basename(f.get('obj', '?')))}:{f.get('line', '')})"
             for f in frames(error)]
    return "\n".join([f"  {error.findtext('kind')}: {what}"] + stack[:20])


def main(module, repo, reports):
    module, repo = os.path.realpath(module), os.path.realpath(repo)
    ours, theirs, runs = [], {"leaks": 0, "errors": 0}, 0
    for report in reports:
        try:
            root = ET.parse(report).getroot()
        except ET.ParseError as error:
            print(f"{report}: unreadable memcheck report ({error})")
            return 1
        runs += 1
        for error in root.iter("error"):
            kind = error.findtext("kind", "")
            if kind in IGNORED_KINDS:
                continue
            if any(is_ours(f, module, repo) for f in frames(error)):
                ours.append(describe(error))
            else:
                theirs["leaks" if kind in LEAK_KINDS else "errors"] += 1
    print(f"memcheck: {runs} processes, {len(ours)} definite/indirect leaks or errors through our code; "
          f"outside it {theirs['leaks']} leaks and {theirs['errors']} errors (interpreter, libraries)")
    for text in ours:
        print(text)
    return 1 if ours or runs == 0 else 0


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3:]))
