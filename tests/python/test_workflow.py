"""The Snakemake workflow: one conversion job per sample, locally and through the SLURM profile."""

import gzip
import os
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

from conftest import CONVERT_TOOL, INFO_TOOL, REPO

SNAKEMAKE = "/usr/bin/snakemake"
SNAKEFILE = REPO / "workflow" / "Snakefile"
SLURM_PROFILE = REPO / "profiles" / "slurm"
FAKE_SLURM = Path(__file__).parent / "fake_slurm"

# The rule's declared needs, as a scheduler should be asked for them.
CONVERT_MEM_MB = 256
CONVERT_RUNTIME_MIN = 10
CONVERT_THREADS = 2


@pytest.fixture(scope="module")
def converter():
    if not CONVERT_TOOL.is_file():
        pytest.fail(f"tarvok-convert not built at {CONVERT_TOOL} (set TARVOK_CONVERT_TOOL)")
    return CONVERT_TOOL


def snakemake_call(workdir, *args, config=(), path=(), env=()):
    """The command and environment that run the workflow in workdir with tarvok-convert
    (and whatever else is in path) on PATH."""
    search_path = [str(CONVERT_TOOL.parent), str(INFO_TOOL.parent), *map(str, path), os.environ["PATH"]]
    environment = dict(os.environ, PATH=os.pathsep.join(search_path), **dict(env))
    environment.setdefault("USER", "tester")
    command = [SNAKEMAKE, "-s", str(SNAKEFILE), "--directory", str(workdir), "--cores", "2", *args]
    if config:
        command += ["--config", *config]
    return command, environment


def snakemake(workdir, *args, **settings):
    """Runs the workflow; Snakemake's messages, which it splits between stdout and stderr, all in stdout."""
    command, environment = snakemake_call(workdir, *args, **settings)
    return subprocess.run(command, env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=300)


def write_samples(sample_writer, folder, names):
    for seed, name in enumerate(names, start=1):
        wiff = folder / f"{name}.wiff"
        wiff.parent.mkdir(parents=True, exist_ok=True)
        # a scan file over 100 kB: Snakemake compares the content of smaller
        # inputs and does not rerun a job for a mere touch of one
        sample_writer.run(wiff, scans=40, seed=seed)


def assert_valid_mzml(path):
    # FileInfo exits 0 whatever it finds; its verdict is in the text.
    result = subprocess.run(["FileInfo", "-in", path, "-v"], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout
    assert "Success - the file is valid!" in result.stdout, result.stdout
    assert "Success - the file is semantically valid!" in result.stdout, result.stdout


def files_under(folder):
    return sorted(str(path.relative_to(folder)) for path in folder.rglob("*") if not path.is_dir())


def mtimes(folder):
    return {name: (folder / name).stat().st_mtime_ns for name in files_under(folder) if name.endswith(".mzML")}


GOOD = ["a", "sub/b", "c d"]


def break_scan_directory(wiff):
    wiff.write_bytes((wiff.parent / "a.wiff").read_bytes())
    (wiff.parent / (wiff.name + ".scan")).mkdir()


def break_container(wiff):
    wiff.write_bytes(b"not a container" * 64)
    (wiff.parent / (wiff.name + ".scan")).write_bytes(bytes(100))


def break_scan_missing(wiff):
    wiff.write_bytes((wiff.parent / "a.wiff").read_bytes())


# Whether the reader already fails to open the sample (its message is then the oracle).
# (breakage, whether opening fails, the file the message names)
BREAKAGES = [(break_scan_directory, False, "in/broken.wiff.scan"), (break_container, True, "in/broken.wiff"),
             (break_scan_missing, True, "in/broken.wiff")]


@pytest.mark.parametrize("breakage, open_fails, named", BREAKAGES)
def test_keep_going_converts_every_sample_but_the_broken_one(converter, sample_writer, tarvok, tmp_path, monkeypatch,
                                                             breakage, open_fails, named):
    write_samples(sample_writer, tmp_path / "in", GOOD)
    broken = tmp_path / "in" / "broken.wiff"
    breakage(broken)

    result = snakemake(tmp_path, "--keep-going", config=["input_dir=in", "output_dir=out"])

    assert result.returncode != 0
    assert "Error in rule convert" in result.stdout and "in/broken.wiff" in result.stdout
    out = tmp_path / "out"
    # nothing half-written, under any name
    assert files_under(out) == sorted([f"{name}.mzML" for name in GOOD]
                                      + [f"logs/{name}.log" for name in GOOD + ["broken"]])
    for name in GOOD:
        assert_valid_mzml(out / f"{name}.mzML")
        assert (out / "logs" / f"{name}.log").read_text() == ""

    log = (out / "logs" / "broken.log").read_text()
    assert log.startswith(f"tarvok-convert: {named}: ") and log.endswith("\n") and log.count("\n") == 1, log
    if open_fails:
        monkeypatch.chdir(tmp_path)
        with pytest.raises(RuntimeError) as error:
            tarvok.RawReader("in/broken.wiff")
        assert log == f"tarvok-convert: in/broken.wiff: {error.value.args[0]}\n"


def test_reruns_only_what_changed(converter, sample_writer, tmp_path):
    write_samples(sample_writer, tmp_path / "in", GOOD)
    config = ["input_dir=in", "output_dir=out"]
    out = tmp_path / "out"

    first = snakemake(tmp_path, config=config)
    assert first.returncode == 0, first.stdout
    converted = mtimes(out)
    assert sorted(converted) == sorted(f"{name}.mzML" for name in GOOD)

    again = snakemake(tmp_path, config=config)
    assert again.returncode == 0, again.stdout
    assert "Nothing to be done" in again.stdout
    assert mtimes(out) == converted

    # the scan file is as much an input as the .wiff
    os.utime(tmp_path / "in" / "sub" / "b.wiff.scan")
    assert_reconverted_only(snakemake(tmp_path, config=config), out, converted, "sub/b.mzML")
    converted = mtimes(out)

    sample_writer.run(tmp_path / "in" / "a.wiff", scans=40, seed=99)
    assert_reconverted_only(snakemake(tmp_path, config=config), out, converted, "a.mzML")


def assert_reconverted_only(result, out, before, name):
    assert result.returncode == 0, result.stdout
    now = mtimes(out)
    assert [changed for changed in now if now[changed] != before[changed]] == [name]
    assert_valid_mzml(out / name)


def test_reports_beside_the_mzml_when_asked(converter, sample_writer, tmp_path):
    write_samples(sample_writer, tmp_path / "in", GOOD)
    result = snakemake(tmp_path, config=["input_dir=in", "output_dir=out", "report=true"])
    assert result.returncode == 0, result.stdout
    out = tmp_path / "out"
    assert files_under(out) == sorted([f"{name}.mzML" for name in GOOD] + [f"logs/{name}.log" for name in GOOD]
                                      + [f"reports/{name}.html" for name in GOOD]
                                      + [f"reports/logs/{name}.log" for name in GOOD])
    for name in GOOD:
        report = (out / "reports" / f"{name}.html").read_text()
        assert f"<h1>{Path(name).name}</h1>" in report and 'data-plot="tic"' in report
        assert (out / "reports" / "logs" / f"{name}.log").read_text() == ""
    # asking for them later makes only them
    (tmp_path / "out" / "reports" / "a.html").unlink()
    again = snakemake(tmp_path, config=["input_dir=in", "output_dir=out", "report=true"])
    assert again.returncode == 0, again.stdout
    assert again.stdout.count("rule report:") == 1 and "rule convert:" not in again.stdout


def test_runs_from_a_checkout_root_with_its_config(converter, sample_writer, tmp_path):
    checkout = tmp_path / "checkout"
    for folder in ["workflow", "config"]:
        shutil.copytree(REPO / folder, checkout / folder)
    write_samples(sample_writer, checkout / "samples", ["run1"])
    search_path = os.pathsep.join([str(CONVERT_TOOL.parent), os.environ["PATH"]])

    # the shipped defaults: samples/ to mzml/
    converted = checkout / "mzml" / "run1.mzML"
    # a changed setting converts again
    for config, compression in [(["--config", "zlib=true"], "MS:1000574"), ([], "MS:1000576")]:
        result = subprocess.run([SNAKEMAKE, "-s", "workflow/Snakefile", "--cores", "1", *config], cwd=checkout,
                                env=dict(os.environ, PATH=search_path), stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, timeout=300)
        assert result.returncode == 0, result.stdout
        assert_valid_mzml(converted)
        assert compression in converted.read_text()


def spectrum_ids(text):
    return re.findall(r'<spectrum index="\d+" id="(scan=\d+)"', text)


def test_each_choice_converts_again_and_names_its_output(converter, sample_writer, tmp_path):
    write_samples(sample_writer, tmp_path / "in", ["a"])
    document = tmp_path / "out" / "a.mzML"
    base = ["input_dir=in", "output_dir=out"]
    first = snakemake(tmp_path, config=base)
    assert first.returncode == 0, first.stdout
    every_id = spectrum_ids(document.read_text())
    # (settings, what the document then holds)
    for settings, check in [
        (["numpress=true"], lambda text: 'accession="MS:1002312"' in text and 'accession="MS:1002313"' in text),
        (["numpress=true", "filters=--scan-range 5-9 --ms-level=1-"],
         lambda text: spectrum_ids(text) == [f"scan={n}" for n in range(5, 10)]),
        (["filters=--scan-range 3"], lambda text: spectrum_ids(text) == ["scan=3"] and "MS:1002312" not in text),
        ([], lambda text: spectrum_ids(text) == every_id),
    ]:
        before = document.stat().st_mtime_ns
        result = snakemake(tmp_path, config=base + settings)
        assert result.returncode == 0, result.stdout
        assert document.stat().st_mtime_ns != before, settings
        assert check(document.read_text()), settings
        assert_valid_mzml(document)

    result = snakemake(tmp_path, config=base + ["gzip=true", "numpress=true", "zlib=true"])
    assert result.returncode == 0, result.stdout
    packed = tmp_path / "out" / "a.mzML.gz"
    plain = tmp_path / "plain.mzML"
    plain.write_bytes(gzip.decompress(packed.read_bytes()))
    assert 'accession="MS:1002746"' in plain.read_text()
    assert_valid_mzml(plain)
    again = snakemake(tmp_path, config=base + ["gzip=true", "numpress=true", "zlib=true"])
    assert "Nothing to be done" in again.stdout


@pytest.mark.parametrize("config, message", [
    (["input_dir=nowhere", "output_dir=out"], "input_dir 'nowhere' is not a folder"),
    (["input_dir=in", "output_dir=out", "numpress=1"], "config key 'numpress' must be true or false"),
    (["input_dir=in", "output_dir=out", "gzip=no"], "config key 'gzip' must be true or false"),
    (["input_dir=in", "output_dir=out", "filters=-o /tmp"],
     "config key 'filters' takes only --ms-level, --scan-range, --rt-range, each with its value; not '-o'"),
    (["input_dir=in", "output_dir=out", "filters=--ms-level"],
     "config key 'filters' takes only --ms-level, --scan-range, --rt-range, each with its value; not '--ms-level'"),
    (["input_dir=in", "output_dir=out", "filters=--rt-range '1"], "config key 'filters': No closing quotation"),
    (["input_dir=in", "output_dir=out", "zlib=yes please"], "config key 'zlib' must be true or false"),
    (["input_dir=in", "output_dir=out", "report=1"], "config key 'report' must be true or false"),
    (["input_dir=in", "output_dir=o{x}"], "cannot pass through Snakemake"),
    (["input_dir=in", "output_dir="], "config key 'output_dir' must be a folder"),
    (["input_dir=in", "output_dir=out", "threads=0"], "config key 'threads' must be a whole number of at least 1"),
    (["input_dir=in", "output_dir=out", "threads=two"], "config key 'threads' must be a whole number of at least 1"),
])
def test_bad_configuration_stops_before_any_job(tmp_path, config, message):
    (tmp_path / "in").mkdir()
    result = snakemake(tmp_path, "--dry-run", config=config)
    assert result.returncode != 0
    assert message in result.stdout


def test_slurm_profile_dry_run_plans_one_job_per_sample(sample_writer, tmp_path):
    write_samples(sample_writer, tmp_path / "in", GOOD)
    result = snakemake(tmp_path, "--profile", str(SLURM_PROFILE), "--dry-run",
                       config=["input_dir=in", "output_dir=out"])
    assert result.returncode == 0, result.stdout
    assert result.stdout.count("rule convert:") == len(GOOD)
    assert result.stdout.count(f"mem_mb={CONVERT_MEM_MB},") == len(GOOD)
    assert result.stdout.count(f"runtime={CONVERT_RUNTIME_MIN}\n") == len(GOOD)


# The CPUs asked of SLURM are the threads the converter is given: the shipped default, or the
# setting (Snakemake lowers it to --cores, 2 here).
@pytest.mark.parametrize("threads", [None, 1])
def test_slurm_profile_submits_each_sample_with_its_resources(converter, sample_writer, tmp_path, threads):
    write_samples(sample_writer, tmp_path / "in", ["a", "b"])
    state = tmp_path / "slurm"
    state.mkdir()
    setting = [] if threads is None else [f"threads={threads}"]
    result = snakemake(tmp_path, "--profile", str(SLURM_PROFILE), "--max-status-checks-per-second", "1",
                       "--printshellcmds", config=["input_dir=in", "output_dir=out", *setting], path=[FAKE_SLURM],
                       env={"FAKE_SLURM_STATE": str(state)})
    threads = threads or CONVERT_THREADS

    assert result.returncode == 0, result.stdout
    submissions = [path.read_text().splitlines() for path in sorted(state.glob("*.args"))]
    assert len(submissions) == 2
    for arguments in submissions:
        requested = dict(zip(arguments, arguments[1:]))
        assert requested["--mem"] == str(CONVERT_MEM_MB)
        assert requested["-t"] == str(CONVERT_RUNTIME_MIN)
        assert requested["-p"] == "batch"
        assert f"--cpus-per-task={threads}" in arguments
    job_logs = [path.read_text() for path in (tmp_path / ".snakemake" / "slurm_logs" / "rule_convert").glob("*.log")]
    assert len(job_logs) == 2
    for log in job_logs:
        assert f"tarvok-convert -j {threads} --quiet -o out in/" in log, log
    for name in ["a", "b"]:
        assert_valid_mzml(tmp_path / "out" / f"{name}.mzML")


def converter_in_group(group):
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text()
        except OSError:
            continue
        name = fields[fields.index("(") + 1:fields.rindex(")")]
        process_group = int(fields[fields.rindex(")") + 2:].split()[2])
        if name == "tarvok-convert" and process_group == group:
            return int(stat.parent.name)
    raise AssertionError(f"no tarvok-convert in process group {group}")


def writing_output(group, directory):
    """Whether the group's converter holds an output without a name (O_TMPFILE) open in `directory`."""
    try:
        descriptors = list(Path(f"/proc/{converter_in_group(group)}/fd").iterdir())
    except (AssertionError, OSError):  # not started yet, or gone
        return False
    for fd in descriptors:
        try:
            if os.readlink(fd).startswith(f"{directory}/#"):
                return True
        except OSError:
            continue
    return False


def interrupt_group(run):
    os.killpg(run.pid, signal.SIGINT)  # Ctrl-C in a terminal


def terminate_group(run):
    os.killpg(run.pid, signal.SIGTERM)  # what SLURM sends a job it cancels or that ran out of time


def kill_converter(run):
    os.kill(converter_in_group(run.pid), signal.SIGKILL)  # out of memory


@pytest.mark.parametrize("stop", [interrupt_group, terminate_group, kill_converter])
def test_a_job_stopped_midway_leaves_no_partial_output(converter, sample_writer, tmp_path, stop):
    # long enough under zlib to be caught writing
    (tmp_path / "in").mkdir()
    sample_writer.run(tmp_path / "in" / "a.wiff", scans=3000, seed=3)
    config = ["input_dir=in", "output_dir=out"]
    out = tmp_path / "out"
    command, environment = snakemake_call(tmp_path, config=config + ["zlib=true"])
    run = subprocess.Popen(command, env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           text=True, start_new_session=True)
    try:
        deadline = time.monotonic() + 120
        while not writing_output(run.pid, out):
            assert run.poll() is None and time.monotonic() < deadline, "never saw the conversion running"
            time.sleep(0.005)
        stop(run)
        output, _ = run.communicate(timeout=120)
    finally:
        if run.poll() is None:
            os.killpg(run.pid, signal.SIGKILL)
            run.wait()

    assert run.returncode != 0, output
    # Not even SIGKILL leaves anything: the output had no name yet.
    assert files_under(out) == ["logs/a.log"]

    again = snakemake(tmp_path, config=config)
    assert again.returncode == 0, again.stdout
    assert files_under(out) == ["a.mzML", "logs/a.log"]
    assert_valid_mzml(out / "a.mzML")
