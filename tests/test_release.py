"""One version: the package's, the installed distribution's, the command
line's and the citation's."""
import importlib.metadata
import os
import re
import subprocess
import sys

import pytest

import loamara

ROOT = os.path.join(os.path.dirname(__file__), os.pardir)


def test_one_version_everywhere():
    version = loamara.__version__
    assert re.fullmatch(r"\d+\.\d+\.\d+(?:(?:a|b|rc)\d+)?(?:\.dev\d+)?", version)
    assert importlib.metadata.version("loamara") == version
    out = subprocess.run([sys.executable, "-m", "loamara", "--version"],
                         capture_output=True, text=True, timeout=60)
    assert (out.returncode, out.stdout, out.stderr) == (
        0, f"loamara {version}\n", "")


def test_citation_cites_this_version():
    path = os.path.join(ROOT, "CITATION.cff")
    if not os.path.exists(path):
        pytest.skip("tests run outside the source tree")
    with open(path, encoding="utf-8") as f:
        lines = re.findall(r'^version: "?([^"\n]+)"?$', f.read(), re.M)
    assert lines == [loamara.__version__]
