"""Adds up the JUnit-style XML reports of GoogleTest and pytest in a folder.

Further arguments name stages that failed; each is listed, and the tally
fails with them even where every report passed."""
import collections
import pathlib
import sys
import xml.etree.ElementTree as ET


def skip_reason(case):
    """The last line of the skip message: GoogleTest puts the source location first."""
    skipped = case.find("skipped")
    message = skipped.get("message", "") if skipped is not None else ""
    return message.strip().splitlines()[-1] if message.strip() else "no reason given"


def counts(path, reasons):
    root = ET.parse(path).getroot()
    if root.tag not in ("testsuite", "testsuites"):
        return None
    suites = [root] if root.tag == "testsuite" else root.findall("testsuite")
    total = failed = skipped = 0
    for suite in suites:
        for case in suite.iter("testcase"):
            total += 1
            if case.find("failure") is not None or case.find("error") is not None:
                failed += 1
            elif case.find("skipped") is not None or case.get("result") == "skipped":
                skipped += 1
                reasons[skip_reason(case)] += 1
    return total, failed, skipped


def main(folder, failed_stages):
    reasons = collections.Counter()
    reports = [c for c in (counts(path, reasons) for path in sorted(pathlib.Path(folder).rglob("*.xml")))
               if c is not None]
    total = failed = skipped = 0
    for t, f, s in reports:
        total, failed, skipped = total + t, failed + f, skipped + s
    passed = total - failed - skipped
    for reason, count in sorted(reasons.items()):
        print(f"skipped {count}: {reason}")
    for stage in failed_stages:
        print(f"failed stage: {stage}")
    count = len(failed_stages)
    stages = f", {count} failed stage{'' if count == 1 else 's'}" if count else ""
    print(f"{passed} passed, {failed} failed, {skipped} skipped ({len(reports)} reports){stages}")
    return 1 if failed or failed_stages or not reports else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
