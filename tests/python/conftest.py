import os
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]


def configured_path(variable, default):
    """The path an environment variable names, relative ones taken from the repository root."""
    return REPO / os.environ.get(variable, default)


MODULE_DIR = configured_path("TARVOK_MODULE_DIR", "build/python-module").resolve()
SAMPLE_TOOL = configured_path("TARVOK_SAMPLE_TOOL", "build/tools/sample_writer/tarvok-sample")
SUMMARY_TOOL = configured_path("TARVOK_SUMMARY_TOOL", "build/tools/summary/tarvok-summary")
CONVERT_TOOL = configured_path("TARVOK_CONVERT_TOOL", "build/cli/tarvok-convert")
SHORT_READS_LIB = configured_path("TARVOK_SHORT_READS_LIB", "build/tests/short_reads/libshort-reads.so")
INFO_TOOL = configured_path("TARVOK_INFO_TOOL", "build/cli/info/tarvok-info")
MZML_DOCUMENTS_TOOL = configured_path("TARVOK_MZML_DOCUMENTS_TOOL", "build/tools/mzml_documents/tarvok-mzml-documents")
NUMPRESS_DECODE_TOOL = configured_path("TARVOK_NUMPRESS_DECODE_TOOL", "build/tools/mzml_documents/tarvok-numpress-decode")

sys.path.insert(0, str(MODULE_DIR))

# These run our programs, external validators and the test scripts, not the
# module. memcheck follows no child process, so under it they would check
# nothing and take far longer; the ASan tree's programs are instrumented
# themselves, and there they run.
PROGRAM_TESTS = ["test_mzml_documents.py", "test_convert.py", "test_convert_choices.py", "test_names.py",
                 "test_terminal.py", "test_workflow.py", "test_tally.py", "test_bench_report.py", "test_info.py",
                 "test_info_report.py"]
INSTRUMENTED = os.environ.get("TARVOK_INSTRUMENTED", "")
collect_ignore = PROGRAM_TESTS if INSTRUMENTED == "memcheck" else []

# Under ASan the runtime is preloaded into this interpreter (it is not
# instrumented); children get it back only where they need it: interpreters
# that load the module, and a program given a preloaded library of its own.
# The other programs are instrumented themselves or not ours, and the leak
# check at their exit would report the interpreters' and validators' leaks.
ASAN_RUNTIME_ENV = {name: os.environ.pop(name) for name in ("LD_PRELOAD", "PYTHONMALLOC")
                    if INSTRUMENTED == "asan" and name in os.environ}
UNDER_ASAN = "libasan" in ASAN_RUNTIME_ENV.get("LD_PRELOAD", "")
if UNDER_ASAN:
    # The numpy that pymzml loads leaks 5.9 kB at this interpreter's exit,
    # which LeakSanitizer reports: the read-backs through pymzml are skipped.
    sys.modules["pymzml"] = None

from sample_files import SampleWriter  # noqa: E402


def numpress_decode(coding, coded):
    """An MS-Numpress array ("linear" or "integers") decoded by the reference
    library: little-endian 64-bit floats."""
    import subprocess

    if not NUMPRESS_DECODE_TOOL.is_file():
        pytest.fail(f"decoder not built at {NUMPRESS_DECODE_TOOL} (set TARVOK_NUMPRESS_DECODE_TOOL)")
    result = subprocess.run([NUMPRESS_DECODE_TOOL, coding], input=coded, capture_output=True)
    assert result.returncode == 0, result.stderr
    return result.stdout


@pytest.fixture(scope="session")
def tarvok():
    import tarvok as module

    assert Path(module.__file__).parent == MODULE_DIR, f"imported {module.__file__}, not the module in {MODULE_DIR}"
    return module


@pytest.fixture(scope="session")
def sample_writer():
    if not SAMPLE_TOOL.is_file():
        pytest.fail(f"sample writer not built at {SAMPLE_TOOL} (set TARVOK_SAMPLE_TOOL)")
    return SampleWriter(SAMPLE_TOOL)


@pytest.fixture(scope="session")
def generated_run(tmp_path_factory, sample_writer):
    """A generated run of 120 scans (MS1 and MS2), written once per session."""
    return sample_writer.run(tmp_path_factory.mktemp("run") / "run1.wiff", scans=120, seed=7)


@pytest.fixture(scope="session")
def has_test_hooks(tarvok):
    """Whether the module was built with its fault-injection hook (meson -Dtest_hooks=true)."""
    return b"TARVOK_TEST_FAULT" in Path(tarvok.__file__).read_bytes()
