"""The type stubs through mypy: the README's Python examples and an example
of our own must type-check, and misuse must not."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import _loamara
import loamara

pytest.importorskip("mypy")

ROOT = Path(__file__).resolve().parents[1]

EXAMPLE = '''
import numpy as np
import _loamara
import loamara

sand = np.array([0.40, 0.25])
r = loamara.estimate("saxton2006", sand=sand, clay=0.2, om=2.5)
theta_33 = r.theta_33
ksat = r["ksat"]
jabro = loamara.lookup(_loamara.calc_ptf_jabro1992)
names: tuple[str, ...] = jabro.input_names
u: np.ufunc = loamara.calc_ptf_zhao2016_m2_6
v: np.ufunc = _loamara.calc_ptf_clapp1978
units = [q.unit for p in loamara.catalog() for q in p.inputs]
'''

MISUSE = '''
import _loamara
import loamara

_loamara.calc_ptf_saxton2060
loamara.calc_ptf_gunarathna2019_vwc1500_set2
n: str = loamara.lookup("jabro1992").nin
'''


def readme_blocks():
    readme = ROOT / "README.md"
    if not readme.exists():
        return []
    return re.findall(r"^```python\n(.*?)^```", readme.read_text(),
                      re.M | re.S)


def mypy(tmp_path, sources):
    """Runs mypy --strict on the given sources, with the stub installed
    beside the extension (or the checkout's) and the loamara package."""
    stubs = tmp_path / "stubs"
    stubs.mkdir()
    beside = Path(_loamara.__file__).with_name("_loamara.pyi")
    shutil.copy(beside if beside.exists() else ROOT / "python" /
                "_loamara.pyi", stubs / "_loamara.pyi")
    path = [str(stubs)]
    pkg_parent = Path(loamara.__file__).resolve().parents[1]
    if pkg_parent.name not in ("site-packages", "dist-packages"):
        path.append(str(pkg_parent))  # a checkout on PYTHONPATH
    files = []
    for i, text in enumerate(sources):
        f = tmp_path / f"example_{i}.py"
        f.write_text(text)
        files.append(str(f))
    env = dict(os.environ, MYPYPATH=os.pathsep.join(path))
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir",
         str(tmp_path / "cache"), "--no-error-summary", *files],
        capture_output=True, text=True, env=env, cwd=tmp_path, timeout=600)


def test_readme_and_example_type_check(tmp_path):
    res = mypy(tmp_path, [EXAMPLE, *readme_blocks()])
    assert res.returncode == 0, res.stdout + res.stderr


def test_misuse_is_reported(tmp_path):
    res = mypy(tmp_path, [MISUSE])
    errors = [ln for ln in res.stdout.splitlines() if ": error:" in ln]
    assert len(errors) == 3, res.stdout
    assert 'no attribute "calc_ptf_saxton2060"' in errors[0]
    assert 'no attribute "calc_ptf_gunarathna2019_vwc1500_set2"' in (
        errors[1])
