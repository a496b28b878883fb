"""Opens a sample with tarvok, summarises it and draws it."""
import sys
import time

import matplotlib.pyplot as plt

import tarvok


def main(path, picture):
    started = time.perf_counter()
    reader = tarvok.RawReader(path)
    opened = time.perf_counter() - started
    print(repr(reader))
    print(f"opened and decoded in {opened:.2f} s")

    spectra = [reader.read_spectrum(i) for i in range(reader.scan_count)]
    ms1 = sum(1 for s in spectra if s.ms_level == 1)
    print(f"scans: {reader.scan_count} (MS1 {ms1}, MS2 {reader.scan_count - ms1})")
    print(f"peaks: {sum(len(s) for s in spectra)}")
    for i, s in enumerate(spectra[:4]):
        mz = s.mz
        print(f"  read_spectrum({i}) -> {s!r}, m/z {mz[0]:.0f}..{mz[-1]:.0f}" if mz else f"  {s!r}")

    survey = [s for s in spectra if s.ms_level == 1]
    figure, (tic, one) = plt.subplots(2, 1, figsize=(10, 7))
    tic.plot([s.retention_time_sec / 60 for s in survey], [sum(s.intensity) for s in survey], linewidth=0.8)
    tic.set_title(f"Total-ion chromatogram (MS1) of {path}")
    tic.set_xlabel("retention time (min)")
    tic.set_ylabel("total intensity")
    busiest = max(survey, key=len)
    one.vlines(busiest.mz, 0, busiest.intensity, linewidth=0.5)
    one.set_title(f"{busiest!r}")
    one.set_xlabel("m/z (raw position)")
    one.set_ylabel("intensity")
    figure.tight_layout()
    figure.savefig(picture, dpi=110)
    print(f"picture: {picture}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
