"""The files generated from the catalog are up to date with it."""
import re
import subprocess
import sys
from pathlib import Path

import pytest

import loamara
from loamara import _docs

ROOT = Path(__file__).resolve().parents[1]


@pytest.mark.parametrize("rel", list(_docs.generated_files()),
                         ids=lambda p: p.name)
def test_generated_file_is_up_to_date(rel):
    text = _docs.generated_files()[rel]
    assert (ROOT / rel).read_text(encoding="utf-8") == text, (
        f"{rel} is stale: run `python -m loamara._docs`")


def test_check_mode_reports_a_stale_file(tmp_path):
    for rel, text in _docs.generated_files().items():
        (tmp_path / rel).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / rel).write_text(text, encoding="utf-8")
    cmd = [sys.executable, "-m", "loamara._docs", "--root", str(tmp_path),
           "--check"]
    assert subprocess.run(cmd, capture_output=True).returncode == 0
    ref = tmp_path / _docs.REFERENCE
    ref.write_text(ref.read_text() + "edited by hand\n")
    res = subprocess.run(cmd, capture_output=True, text=True)
    assert res.returncode == 1 and "docs/reference.md" in res.stderr


def test_reference_has_one_entry_per_ufunc_and_working_links():
    text = _docs.render_reference()
    headings = re.findall(r"^### ((?:calc_ptf_|rosetta)\w+)$", text, re.M)
    assert headings == [p.name for p in loamara.catalog()]
    links = re.findall(r"\]\(#((?:calc_ptf_|rosetta)\w+)\)", text)
    assert sorted(links) == sorted(headings)
    entry = text.split("### calc_ptf_jabro1992\n")[1].split("###")[0]
    assert "_loamara.calc_ptf_jabro1992(silt, clay, bd) -> ksat" in entry
    assert ("| `bd` | g/cm^3 | bulk_density | (0, 2.65) | dry bulk density |"
            in entry)
    ros = text.split("### rosetta3\n")[1].split("###")[0]
    assert ("rosetta3(sand, silt, clay, [bd], [theta_33], [theta_1500]) -> ("
            in ros and "evaluated by the rosetta-soil package" in ros)
    assert ("| `ksat` | m/s | ksat | [0, inf) | saturated hydraulic "
            "conductivity |" in entry)
    # Renamed operands show their former names; references their DOI.
    assert "| `clay` (formerly `x1`) | percent | clay |" in text
    assert "[doi:10.3389/fenvs.2023.1090688]" in text


def test_describe_shows_kind_range_reference_and_curve():
    from loamara._cli import describe_text

    text = describe_text(loamara.lookup("beniaich2023_slr1"))
    assert "kind w_33; unit g/g; range [0, inf); formerly theta_fc" in text
    assert "doi:10.3389/fenvs.2023.1090688" in text
    assert "Citation verified" in text
    text = describe_text(loamara.lookup("clapp1978"))
    assert "Curve model: campbell" in text
    assert "psi_e: by texture_class: 12.1, 9, 21.8" in text
    assert "Citation not verified" in text
    assert "Doubt: The column p2 is not the air-entry" in text
    assert "Calibration data: desorption data of 1446 soils" in text
    text = describe_text(loamara.lookup("lal1979_group_ii_water_0bar_from_clay"))
    assert "Fitted to: soil group II only" in text
    assert "Calibration ranges: not established" in text
