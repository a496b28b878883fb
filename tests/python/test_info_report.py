"""tarvok-info's HTML report in a real browser: headless Chromium must find
the plots with the module's data in the DOM, fetch nothing, and paint them."""
import json
import math
import os
import re
import shutil
import struct
import subprocess
import zlib
from collections import Counter
from html.parser import HTMLParser
from pathlib import Path

import pytest

from conftest import INFO_TOOL

# One pixel column per plot column, two points at most in each.
MAX_POINTS = 2 * 800
MS1_COLOUR = (0x1F, 0x5F, 0xA8)
MSN_COLOUR = (0xD2, 0x69, 0x1E)
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync"]


@pytest.fixture(scope="module")
def chromium():
    path = shutil.which("chromium")
    if path is None:
        pytest.fail("chromium is not installed (scripts/test installs it)")
    return path


def browse(chromium, page, tmp_path, *arguments):
    """Runs headless Chromium on the page with a fresh profile; its standard output
    and the requests of its network log."""
    profile = tmp_path / "profile"
    net_log = tmp_path / "net-log.json"
    shutil.rmtree(profile, ignore_errors=True)
    result = subprocess.run([chromium, *CHROMIUM_FLAGS, f"--user-data-dir={profile}", f"--log-net-log={net_log}",
                             *arguments, page.as_uri()], capture_output=True, timeout=180)
    assert result.returncode == 0, result.stderr
    return result.stdout.decode(), page_requests(net_log)


def page_requests(net_log):
    """The URLs of every request that a page made; the browser's own (updates,
    accounts) have no origin and are left out."""
    log = json.loads(net_log.read_text())
    start = log["constants"]["logEventTypes"]["URL_REQUEST_START_JOB"]
    return [event["params"]["url"] for event in log["events"]
            if event["type"] == start and "url" in event.get("params", {})
            and event["params"].get("initiator") != "not an origin"]


class Elements(HTMLParser):
    """Every element's tag and attributes, in document order."""

    def __init__(self, text):
        super().__init__()
        self.found = []
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        self.found.append((tag, dict(attrs)))

    def all(self, tag, **wanted):
        return [attrs for name, attrs in self.found
                if name == tag and all(attrs.get(k.replace("_", "-")) == v for k, v in wanted.items())]


def polylines_by_plot(elements):
    plots, current = {}, None
    for tag, attrs in elements.found:
        if tag == "svg":
            current = plots.setdefault(attrs["data-plot"], {})
        elif tag == "polyline":
            current[attrs["data-series"]] = attrs
    return plots


def module_series(tarvok, wiff):
    """Per drawn series (MS1, MS2+): scans with a finite time and the greatest TIC, base peak, peak count."""
    reader = tarvok.RawReader(str(wiff))
    series = {}
    levels = Counter()
    for index in range(reader.scan_count):
        spectrum = reader.read_spectrum(index)
        levels[str(spectrum.ms_level)] += 1
        if not math.isfinite(spectrum.retention_time_sec):
            continue
        tic = 0.0
        for value in spectrum.intensity:
            tic += value
        name = "MS2+" if spectrum.ms_level >= 2 else "MS1"
        values, tic_max, base_max, peaks_max = series.get(name, (0, 0.0, 0.0, 0))
        series[name] = (values + 1, max(tic_max, tic), max([base_max, *spectrum.intensity]),
                        max(peaks_max, len(spectrum.mz)))
    return series, levels


@pytest.fixture(scope="module")
def reports(tmp_path_factory, sample_writer):
    """A short run, a long one that must be downsampled, and a cut copy, with a report each."""
    directory = tmp_path_factory.mktemp("reports")
    samples = [sample_writer.run(directory / name, scans=scans, seed=seed)
               for name, scans, seed in [("short.wiff", 60, 4), ("long.wiff", 6000, 5), ("cut.wiff", 50, 6)]]
    with open(f"{samples[2]}.scan", "r+b") as scan:
        scan.truncate(os.path.getsize(scan.name) // 2)
    out = directory / "html"
    result = subprocess.run([INFO_TOOL, "--html", out, *samples], capture_output=True)
    assert (result.returncode, result.stderr) == (0, b"")
    return {wiff.stem: (wiff, out / f"{wiff.stem}.html") for wiff in samples}


@pytest.mark.parametrize("name", ["short", "long", "cut"])
def test_the_browser_finds_the_plots_with_the_modules_data(chromium, tarvok, reports, tmp_path, name):
    wiff, page = reports[name]
    dom, requests = browse(chromium, page, tmp_path, "--dump-dom")
    assert requests == []
    elements = Elements(dom)
    assert elements.all("h1") and f"<h1>{name}</h1>" in dom
    assert f"<title>{name} - tarvok-info</title>" in dom

    series, levels = module_series(tarvok, wiff)
    plots = polylines_by_plot(elements)
    assert sorted(plots) == ["base-peak", "levels", "peaks", "tic"]
    for plot, column in [("tic", 1), ("base-peak", 2), ("peaks", 3)]:
        assert sorted(plots[plot]) == sorted(series)
        for series_name, line in plots[plot].items():
            assert int(line["data-values"]) == series[series_name][0]
            assert float(line["data-y-max"]) == series[series_name][column]
            pairs = line["points"].split()
            assert len(pairs) == int(line["data-points"]) <= min(MAX_POINTS, 2 * series[series_name][0])
    if name == "long":
        assert max(values for values, *_ in series.values()) > MAX_POINTS
    bars = {bar["data-level"]: int(bar["data-scans"]) for bar in elements.all("rect", **{"class": "bar"})}
    assert bars == dict(levels)


def test_damaged_scans_are_tabled(chromium, reports, tmp_path, tarvok):
    _, page = reports["cut"]
    dom, _ = browse(chromium, page, tmp_path, "--dump-dom")
    [table] = Elements(dom).all("table", id="damaged")
    info = json.loads(subprocess.run([INFO_TOOL, "--json", reports["cut"][0]], capture_output=True).stdout)[0]
    assert int(table["data-damaged"]) == len(info["damaged"]) > 0
    for damage in info["damaged"]:
        assert f"<tr><td>{damage['scan']}</td><td>{damage['reason']}</td></tr>" in dom
    whole = Elements(browse(chromium, reports["short"][1], tmp_path, "--dump-dom")[0]).all("p", id="damaged")
    assert whole == [{"class": "whole", "id": "damaged", "data-damaged": "0"}]


URL = re.compile(r"[a-z][a-z0-9+.-]*://|url\s*\(|@import|\b(?:src|href|xlink:href|action)\s*=", re.IGNORECASE)


def test_the_report_names_nothing_outside_itself(reports):
    for _, page in reports.values():
        text = page.read_text()
        assert ("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                "style-src 'unsafe-inline'\">") in text
        assert URL.findall(text) == []
        assert "<script" not in text and "<link" not in text


def test_the_request_check_sees_a_page_that_fetches(chromium, tmp_path):
    page = tmp_path / "fetches.html"
    page.write_text('<!DOCTYPE html><img src="http://127.0.0.1:9/x.png">')
    _, requests = browse(chromium, page, tmp_path, "--dump-dom")
    assert requests == ["http://127.0.0.1:9/x.png"]


def png_pixels(path):
    """(width, height, RGB tuples) of an 8-bit RGB or RGBA PNG without interlacing."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert (depth, interlace) == (8, 0) and colour in (2, 6)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], bytearray(line[1:])
        for x in range(stride):
            left = row[x - channels] if x >= channels else 0
            up = previous[x]
            corner = previous[x - channels] if x >= channels else 0
            if kind == 1:
                row[x] = (row[x] + left) & 0xFF
            elif kind == 2:
                row[x] = (row[x] + up) & 0xFF
            elif kind == 3:
                row[x] = (row[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                estimate = left + up - corner
                best = min((abs(estimate - left), 0, left), (abs(estimate - up), 1, up),
                           (abs(estimate - corner), 2, corner))[2]
                row[x] = (row[x] + best) & 0xFF
        rows.append(row)
        previous = row
    pixels = [tuple(row[x:x + 3]) for row in rows for x in range(0, stride, channels)]
    return width, height, pixels


def test_a_screenshot_shows_the_plots(chromium, reports, tmp_path):
    shot = tmp_path / "report.png"
    browse(chromium, reports["short"][1], tmp_path, "--window-size=1000,900", f"--screenshot={shot}")
    width, height, pixels = png_pixels(shot)
    assert (width, height) == (1000, 900)
    colours = Counter(pixels)
    assert len(colours) > 50
    # the background is most of it but not all, and both series' colours are drawn
    assert colours.most_common(1)[0][1] < 0.9 * len(pixels)
    assert colours[MS1_COLOUR] > 100 and colours[MSN_COLOUR] > 100
