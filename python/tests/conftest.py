"""The command line's JSON for the same inputs, from the built program named by
STOPBOUND_EXE; the comparisons are skipped without it."""
import json
import os
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def cli():
    exe = os.environ.get("STOPBOUND_EXE", "")
    if not exe or not Path(exe).is_file():
        pytest.skip("STOPBOUND_EXE does not name the built stopbound program")

    class Cli:
        """Runs the program; has_options: whether design takes --family and the like."""

        def __call__(self, *args: str) -> dict:
            done = subprocess.run([exe, *args], check=True, capture_output=True, text=True)
            return json.loads(done.stdout)

        has_options = "--family" in subprocess.run([exe, "design", "--help"], capture_output=True,
                                                   text=True).stdout

    return Cli()
