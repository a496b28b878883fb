"""scripts/bench --large: the report's ratio and goals, and the options it refuses."""
import json
import subprocess
import sys

import pytest

from conftest import REPO

REPORT = REPO / "tools" / "bench" / "report.py"
BENCH = REPO / "scripts" / "bench"


def timings(large_s, large_rss_bytes):
    """A bench sample of 100 MB converted in 1 s, a large one of 2,000 MB."""
    return {
        "bench": {"s": 1.0, "cpu_s": 1.5, "rss_bytes": 30_000_000, "runs": 5, "scan_bytes": 100_000_000},
        "large": {"s": large_s, "cpu_s": large_s * 1.5, "rss_bytes": large_rss_bytes, "runs": 1,
                  "scan_bytes": 2_000_000_000},
        "repetitions": 1, "output": "-o - to /dev/null",
    }


def report(*arguments):
    return subprocess.run([sys.executable, REPORT, "--large", *arguments], check=True, capture_output=True,
                          text=True).stdout


@pytest.mark.parametrize(
    "large_s, rss_bytes, ratio, rss_mb, verdicts",
    [
        (24.0, 60_000_000, 1.2, 60.0, {"large_per_mb_vs_bench": "met", "large_convert_rss_mb": "met"}),
        (26.0, 60_000_000, 1.3, 60.0, {"large_per_mb_vs_bench": "missed", "large_convert_rss_mb": "met"}),
        (25.0, 64_000_000, 1.25, 64.0, {"large_per_mb_vs_bench": "met", "large_convert_rss_mb": "met"}),
        (16.0, 70_000_000, 0.8, 70.0, {"large_per_mb_vs_bench": "met", "large_convert_rss_mb": "missed"}),
    ],
)
def test_the_large_sample_is_judged_per_mb_against_the_bench_sample(large_s, rss_bytes, ratio, rss_mb, verdicts):
    text = json.dumps(timings(large_s, rss_bytes))
    figures = json.loads(report(text, "--json"))
    assert figures["large_per_mb_vs_bench"] == pytest.approx(ratio)
    assert figures["large_per_mb_vs_bench_cpu"] == pytest.approx(ratio)
    assert figures["large_convert_rss_mb"] == pytest.approx(rss_mb)
    assert figures["large_mb_s"] == pytest.approx(2000 / large_s)
    rows = {line.split()[0]: line for line in report(text).splitlines()}
    for key, verdict in verdicts.items():
        assert rows[key].endswith(f": {verdict})")


@pytest.mark.parametrize("arguments, message", [
    (["--large", "--micro"], "scripts/bench: --large measures the conversion only; leave out --micro\n"),
    (["--huge"], "usage: scripts/bench [--json] [--micro] [--reps=N] | [--large] [--json] [--reps=N]\n"),
])
def test_bench_refuses_options_it_cannot_honour(arguments, message):
    result = subprocess.run([BENCH, *arguments], capture_output=True, text=True, timeout=30)
    assert (result.returncode, result.stderr, result.stdout) == (2, message, "")
