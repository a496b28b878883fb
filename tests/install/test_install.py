"""The C++ package as its users get it: installed into a staging directory,
found by pkg-config, built against from a plain compiler command and from a
Meson project, and left out of the Python package."""
import json
import os
import re
import shutil
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("TARVOK_BUILD_DIR", REPO / "build")).resolve()
PUBLIC_INCLUDE_DIRS = [REPO / "reader/include", REPO / "spectrum-model/include"]
PUBLIC_HEADERS = sorted(str(h.relative_to(d)) for d in PUBLIC_INCLUDE_DIRS for h in d.rglob("*.hpp"))
CXX = os.environ.get("CXX", "c++")


def run(*command, **options):
    done = subprocess.run(command, capture_output=True, text=True, **options)
    assert done.returncode == 0, f"{' '.join(map(str, command))}: exit {done.returncode}\n{done.stdout}{done.stderr}"
    return done.stdout


def introspect(what, build=BUILD):
    return json.loads(run("meson", "introspect", what, str(build)))


@pytest.fixture(scope="session")
def staged(tmp_path_factory):
    """The build tree installed under a staging directory, and the environment
    in which pkg-config and the loader find it there."""
    stage = tmp_path_factory.mktemp("stage")
    run("meson", "install", "-C", str(BUILD), "--no-rebuild", "--quiet", "--destdir", str(stage))
    options = {o["name"]: o["value"] for o in introspect("--buildoptions")}
    prefix = stage / options["prefix"].lstrip("/")
    libdir = prefix / options["libdir"]
    env = dict(os.environ,
               PKG_CONFIG_PATH=str(libdir / "pkgconfig"),
               PKG_CONFIG_SYSROOT_DIR=str(stage),
               LD_LIBRARY_PATH=str(libdir))
    return {"prefix": prefix, "libdir": libdir, "includedir": prefix / options["includedir"], "env": env,
            "bindir": prefix / options["bindir"], "mandir": prefix / options["mandir"]}


def pkg_config(staged, *arguments):
    return run("pkg-config", *arguments, "tarvok", env=staged["env"]).split()


@pytest.fixture(scope="session")
def sample(tmp_path_factory):
    wiff = tmp_path_factory.mktemp("sample") / "run1.wiff"
    run(str(BUILD / "tools/sample_writer/tarvok-sample"), "run", str(wiff), "--scans", "30", "--seed", "11")
    return wiff


@pytest.fixture(scope="session")
def expected_table(sample):
    """The example's output as the Python module reads the same sample."""
    code = ("import sys, tarvok\n"
            "r = tarvok.RawReader(sys.argv[1])\n"
            "print('scan\\tlevel\\trt_sec\\tpeaks')\n"
            "for i in range(r.scan_count):\n"
            "    s = r.read_spectrum(i)\n"
            "    print(f'{i + 1}\\t{s.ms_level}\\t{s.retention_time_sec:.6f}\\t{len(s)}')\n")
    table = run(sys.executable, "-c", code, str(sample), env=dict(os.environ, PYTHONPATH=str(BUILD / "python-module")))
    assert len(table.splitlines()) == 31
    return table


def needed_libraries(binary):
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", run("readelf", "-d", str(binary)))


def test_pkg_config_reports_the_project_version(staged):
    assert pkg_config(staged, "--modversion") == [introspect("--projectinfo")["version"]]


def test_pkg_config_names_only_installed_paths(staged):
    flags = pkg_config(staged, "--cflags", "--libs", "--static")
    assert f"-I{staged['includedir']}" in flags
    assert [f for f in flags if str(REPO) in f and str(staged["prefix"]) not in f] == []
    assert {"-ltarvok", "-lmelvane_core", "-lgsf-1", "-lglib-2.0"} <= set(flags)


def test_installed_headers_are_the_public_ones(staged):
    installed = sorted(str(h.relative_to(staged["includedir"])) for h in staged["includedir"].rglob("*.hpp"))
    assert installed == PUBLIC_HEADERS


def abi():
    """The SONAME's version: major.minor before 1.0, the major after."""
    major, minor = introspect("--projectinfo")["version"].split(".")[:2]
    return f"{major}.{minor}" if major == "0" else major


def test_shared_libraries_carry_a_versioned_soname(staged):
    version = introspect("--projectinfo")["version"]
    for name in ("tarvok", "melvane_core"):
        library = staged["libdir"] / f"lib{name}.so.{version}"
        assert re.search(rf"\(SONAME\)\s+Library soname: \[lib{name}\.so\.{re.escape(abi())}\]", run("readelf", "-d", str(library)))
        assert (staged["libdir"] / f"lib{name}.so").resolve() == library
        assert (staged["libdir"] / f"lib{name}.a").is_file()


def test_shared_library_exports_the_public_interface_only(staged):
    symbols = run("nm", "-D", "--defined-only", "-C", str(staged["libdir"] / "libtarvok.so")).splitlines()
    names = [line.split(" ", 2)[2] for line in symbols]
    assert "tarvok::Reader::open(std::basic_string_view<char, std::char_traits<char> >)" in names
    private = [n for n in names if re.search(r"tarvok::(cfb|kernels?|block_peaks|path_rules::detail)|anonymous", n)
               or "UniqueFd" in n]
    assert private == []


@pytest.mark.parametrize("header", PUBLIC_HEADERS)
def test_public_header_compiles_on_its_own(staged, tmp_path, header):
    source = tmp_path / "first.cpp"
    source.write_text(f'#include "{header}"\n')
    run(CXX, "-std=c++23", "-fsyntax-only", "-Wall", "-Wextra", "-Werror", *pkg_config(staged, "--cflags"),
        str(source))


@pytest.mark.parametrize("linking", ["shared", "static"])
def test_example_builds_with_pkg_config(staged, tmp_path, sample, expected_table, linking):
    program = tmp_path / "scan-table"
    if linking == "shared":
        libs = pkg_config(staged, "--libs")
    else:
        # Our archives by name, and what they need from Libs.private and Requires.private.
        libs = [{"-ltarvok": "-l:libtarvok.a", "-lmelvane_core": "-l:libmelvane_core.a"}.get(f, f)
                for f in pkg_config(staged, "--libs", "--static")]
    run(CXX, "-std=c++23", "-o", str(program), str(REPO / "examples/scan_table.cpp"),
        *pkg_config(staged, "--cflags"), *libs)
    # The example calls nothing of libmelvane_core's that is not inline.
    ours = [n for n in needed_libraries(program) if n.startswith(("libtarvok", "libmelvane_core"))]
    assert ours == ([] if linking == "static" else [f"libtarvok.so.{abi()}"])
    env = staged["env"] if linking == "shared" else dict(os.environ)
    assert run(str(program), str(sample), env=env) == expected_table


@pytest.mark.parametrize("found", ["installed", "subproject"])
def test_example_builds_as_a_meson_project(staged, tmp_path, sample, expected_table, found):
    project = tmp_path / "examples"
    shutil.copytree(REPO / "examples", project)
    (project / "subprojects").mkdir()
    (project / "subprojects/tarvok").symlink_to(REPO)
    # The staging sysroot would be put in front of libgsf's paths too.
    env = staged["env"] if found == "installed" else dict(os.environ)
    mode = "nofallback" if found == "installed" else "forcefallback"
    run("meson", "setup", str(project / "build"), str(project), f"--wrap-mode={mode}", env=env)
    run("ninja", "-C", str(project / "build"), "-j2")
    program = project / "build/scan-table"
    ours = [n for n in needed_libraries(program) if n.startswith(("libtarvok", "libmelvane_core"))]
    assert bool(ours) == (found == "installed")
    assert run(str(program), str(sample), env=staged["env"]) == expected_table


def man_pages_built():
    """The man pages this tree makes: none where -Dman_pages leaves them out."""
    if "TARVOK_MAN_PAGES" in os.environ:
        return sorted(os.environ["TARVOK_MAN_PAGES"].split())
    return sorted(t["name"] for t in introspect("--targets") if t["defined_in"] == str(REPO / "docs/meson.build"))


def test_installed_converter_runs(staged):
    version = introspect("--projectinfo")["version"]
    assert run(str(staged["bindir"] / "tarvok-convert"), "--version", env=staged["env"]) == f"tarvok-convert {version}\n"


def test_man_pages_are_installed_as_built(staged):
    pages = man_pages_built()
    installed = sorted(p.name for p in staged["mandir"].rglob("*") if p.is_file())
    assert installed == pages
    for page in pages:
        name, section = page.rsplit(".", 1)
        text = (staged["mandir"] / f"man{section}" / page).read_text()
        assert re.search(rf'^\.TH "{re.escape(name)}" "{section}" ', text, re.MULTILINE), text[:300]


def test_python_package_installs_the_module_alone(tmp_path):
    setup_options = tomllib.loads((REPO / "pyproject.toml").read_text())["tool"]["meson-python"]["args"]["setup"]
    tree = tmp_path / "tree"
    run("meson", "setup", str(tree), str(REPO), *setup_options)
    installed = [Path(p).name for p in introspect("--installed", tree).values()]
    assert len(installed) == 1 and installed[0].startswith("tarvok.cpython-"), installed


def test_tarvok_info_is_installed_with_its_man_page_and_runs(staged, sample):
    program = str(staged["bindir"] / "tarvok-info")
    version = introspect("--projectinfo")["version"]
    assert run(program, "--version", env=staged["env"]) == f"tarvok-info {version}\n"
    [read] = json.loads(run(program, "--json", str(sample), env=staged["env"]))
    assert (read["sample"], read["scans"], read["damaged"]) == ("run1", 30, [])
    if "tarvok-info.1" in man_pages_built():
        assert (staged["mandir"] / "man1" / "tarvok-info.1").read_text().startswith(".\\\" Generated by scdoc")
