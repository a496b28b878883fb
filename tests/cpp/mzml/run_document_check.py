#!/usr/bin/python3
"""Writes the synthetic documents with the tool given and checks their index and checksum."""
import subprocess
import sys
import tempfile
from pathlib import Path

tool, checker_dir = str(Path(sys.argv[1]).resolve()), sys.argv[2]
sys.path.insert(0, checker_dir)
import mzml_check  # noqa: E402

with tempfile.TemporaryDirectory() as directory:
    names = subprocess.run([tool, directory], check=True, capture_output=True, text=True, cwd=directory).stdout.split()
    if not names:
        sys.exit("the tool wrote no documents")
    sys.exit(mzml_check.main([str(Path(directory) / name) for name in names]))
