"""Figures: retention curves of several functions, the texture triangle,
and `loamara plot` / `loamara demo --plots` on the command line."""
import importlib.util
import os
import subprocess
import sys

import numpy as np
import pytest

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")

import loamara  # noqa: E402
from loamara import plot  # noqa: E402
from loamara._demo import sample_soils  # noqa: E402
from loamara.texture import USDA_CLASSES  # noqa: E402
from matplotlib.path import Path as MplPath  # noqa: E402

PNG = b"\x89PNG\r\n\x1a\n"
LOAM = dict(sand=40.0, silt=40.0, clay=20.0, om=2.0, bd=1.4, topsoil=1.0)
# The functions with a curve model whose every retention parameter is
# established and whose inputs a soil description gives.
DRAWABLE = {"calc_ptf_saxton2006", "calc_ptf_cosby1984_univariate",
            "calc_ptf_vereecken1989", "calc_ptf_clapp1978",
            "calc_ptf_carsel1988",
            "calc_ptf_cosby1984", "calc_ptf_rawls1982_class",
            "calc_ptf_schaap2001_class", "calc_ptf_toth2015",
            "calc_ptf_weynants2009", "calc_ptf_wosten1999"}
# Rosetta, where rosetta-soil is installed; else it is reported as skipped.
ROSETTA = {"rosetta3", "rosetta2", "rosetta1"}
HAVE_ROSETTA = loamara.lookup("rosetta3").needs is None
if HAVE_ROSETTA:
    DRAWABLE |= ROSETTA
# Of these, the ones without a saturated conductivity (Weynants' K0 is the
# conductivity at a matching point, not Ks).
NO_KS = {"calc_ptf_vereecken1989", "calc_ptf_toth2015",
         "calc_ptf_weynants2009"}


def by_gid(ax, prefix):
    return {a.get_gid().split(":", 1)[1]: a for a in ax.get_children()
            if (a.get_gid() or "").startswith(prefix)}


@pytest.fixture(scope="module")
def loam_fig():
    return plot.retention(**LOAM)


def test_one_falling_curve_per_drawable_function(loam_fig):
    ax_theta, ax_k = loam_fig.axes
    theta = by_gid(ax_theta, "loamara-theta:")
    assert set(theta) == DRAWABLE
    assert len([a for a in ax_theta.get_lines()
                if (a.get_gid() or "").startswith("loamara-theta:")]) == len(
                    DRAWABLE)
    labels = [t.get_text() for t in ax_theta.get_legend().get_texts()]
    for pub in ("Saxton and Rawls (2006)", "Cosby et al. (1984)",
                "Vereecken et al. (1989)", "Woesten et al. (1999)",
                "Toth et al. (2015)", "Weynants et al. (2009)",
                "Carsel and Parrish (1988)", "Schaap et al. (2001)"):
        assert any(label.startswith(pub) for label in labels), pub
    for line in theta.values():
        h, y = line.get_data()
        assert h[0] == pytest.approx(0.1) and h[-1] == pytest.approx(1e5)
        assert np.all(np.isfinite(y)) and np.all(np.diff(y) <= 0)
        assert y[0] - y[-1] > 0.2
    # Conductivity where the model gives it: not for Vereecken (no Ks).
    k = by_gid(ax_k, "loamara-k:")
    assert set(k) == DRAWABLE - NO_KS
    for line in k.values():
        y = line.get_ydata()
        assert np.all(np.diff(y) <= 0) and y[0] / y[-1] > 1e6
    assert "kPa" in ax_theta.get_xlabel()
    assert "cm\u00b3/cm\u00b3" in ax_theta.get_ylabel()
    assert "cm/d" in ax_k.get_ylabel() and ax_k.get_yscale() == "log"


def test_saxton_markers_lie_on_its_curve(loam_fig):
    points = by_gid(loam_fig.axes[0], "loamara-point:")
    assert set(points) == {"calc_ptf_saxton2006:theta_33",
                           "calc_ptf_saxton2006:theta_1500"}
    r = loamara.estimate("saxton2006", sand=0.4, clay=0.2, om=2.0)
    line = by_gid(loam_fig.axes[0], "loamara-theta:")["calc_ptf_saxton2006"]
    h, y = line.get_data()
    for name, kpa in (("theta_33", 33.0), ("theta_1500", 1500.0)):
        x, v = (float(a[0]) for a in points[f"calc_ptf_saxton2006:{name}"]
                .get_data())
        assert x == kpa and v == float(r[name])
        assert v == pytest.approx(float(loamara.curve(r, [x])[0]),
                                  abs=1e-12)
        assert v == pytest.approx(np.interp(np.log(x), np.log(h), y),
                                  abs=2e-3)


def test_functions_that_cannot_be_drawn_are_reported(loam_fig):
    skipped = {s.name: s for s in plot.skipped(loam_fig)}
    assert set(skipped) == {"calc_ptf_hodnett2002", "calc_ptf_li2007",
                            "calc_ptf_vereecken1989_detailed",
                            "calc_ptf_rawls1985", "calc_ptf_wosten1999_class"
                            } | (set() if HAVE_ROSETTA else ROSETTA)
    assert "m = 1 - 1/n" in skipped["calc_ptf_hodnett2002"].reason
    assert "alpha" in skipped["calc_ptf_li2007"].reason
    assert "x0" in skipped["calc_ptf_vereecken1989_detailed"].reason
    note = "\n".join(t.get_text() for t in loam_fig.texts)
    assert "Not drawn" in note
    for s in skipped.values():
        assert s.publication in note and s.short in note


def test_results_and_point_estimates():
    sax = loamara.estimate("saxton2006", sand=0.4, clay=0.2, om=2.0)
    fig = plot.retention(
        [sax, "rawls1982_theta_1500", "gunarathna2019_vwc10_set1",
         "rawls1982_theta_33", "jabro1992", "beniaich2023_slr1"],
        **LOAM, h_unit="cm", k=False)
    assert len(fig.axes) == 1
    ax = fig.axes[0]
    assert "cm" in ax.get_xlabel()
    points = by_gid(ax, "loamara-point:")
    r1500 = loamara.estimate("rawls1982_theta_1500", clay=20.0, om=2.0)
    x, y = points["calc_ptf_rawls1982_theta_1500:theta_1500"].get_data()
    assert x[0] == pytest.approx(1500 * 10.197, rel=1e-3)
    assert y[0] == float(r1500.theta_1500)
    x, _ = points["calc_ptf_gunarathna2019_vwc10_set1:theta_10"].get_data()
    assert x[0] == pytest.approx(10 * 10.197, rel=1e-3)
    reasons = {s.name: s.reason for s in plot.skipped(fig)}
    assert set(reasons) == {"calc_ptf_rawls1982_theta_33",
                            "calc_ptf_jabro1992",
                            "calc_ptf_beniaich2023_slr1"}
    assert "theta_1500" in reasons["calc_ptf_rawls1982_theta_33"]
    assert "by mass" in reasons["calc_ptf_beniaich2023_slr1"]


def test_misuse_is_refused():
    with pytest.raises(loamara.UnknownPTFError, match="saxton2006"):
        plot.retention(["saxton2060"], **LOAM)
    with pytest.raises(ValueError, match="without a soil"):
        plot.retention(["saxton2006"])
    many = loamara.estimate("saxton2006", sand=[0.4, 0.3], clay=0.2, om=2)
    with pytest.raises(ValueError, match="one soil"):
        plot.retention([many])


def test_class_areas_tile_the_triangle_as_calc_texture_usda_classifies():
    polygons = plot.usda_class_polygons()
    assert list(polygons) == list(USDA_CLASSES)
    # A grid whose points are all at least 0.1 % from every class limit.
    sand, clay = np.meshgrid(np.arange(100) + 0.3, np.arange(100) + 0.1)
    sand, clay = sand.ravel(), clay.ravel()
    keep = sand + clay < 100
    sand, clay = sand[keep], clay[keep]
    silt = 100 - sand - clay
    codes = loamara.calc_texture_usda(sand, silt, clay)
    inside = np.zeros(sand.size, dtype=int)
    area = 0.0
    for k, (name, ring) in enumerate(polygons.items()):
        assert ring.shape[1] == 3 and (ring[0] == ring[-1]).all()
        assert np.allclose(ring.sum(axis=1), 100.0)
        s, c = ring[:, 0], ring[:, 2]
        area += 0.5 * abs(np.sum(s[:-1] * c[1:] - s[1:] * c[:-1]))
        hit = MplPath(np.column_stack([s, c])).contains_points(
            np.column_stack([sand, clay]))
        inside += hit
        assert (codes[hit] == k + 1).all(), name
    assert area == pytest.approx(5000.0)
    assert (inside == 1).all()


def test_triangle_draws_and_classifies_the_samples():
    s = sample_soils()
    sand = np.append(s.sand, np.nan)
    fig = plot.texture_triangle(sand, np.append(s.silt, 50),
                                np.append(s.clay, 50))
    ax = fig.axes[0]
    assert list(fig.loamara_classes) == s.texture + [""]
    samples = by_gid(ax, "loamara-samples:")
    assert sorted(samples) == sorted(USDA_CLASSES)
    assert sum(len(c.get_offsets()) for c in samples.values()) == 12
    # Each point where its class area is, in the same coordinates.
    outlines = by_gid(ax, "loamara-class:")
    assert len(outlines) == 12
    for name, pts in samples.items():
        x, y = outlines[name].get_data()
        assert MplPath(np.column_stack([x, y])).contains_points(
            pts.get_offsets()).all(), name
    names = {t.get_text() for t in ax.texts}
    assert set(USDA_CLASSES) <= names
    assert "1 not classified" in ax.get_legend().get_title().get_text()


def test_a_failed_save_leaves_nothing(tmp_path, monkeypatch):
    from loamara._plotcli import save_figures

    fig = plot.texture_triangle([40], [40], [20])
    (tmp_path / "b.png").write_bytes(b"old")

    def broken(*args, **kwargs):
        raise OSError("disk full")

    other = plot.texture_triangle([10], [60], [30])
    monkeypatch.setattr(other, "savefig", broken)
    with pytest.raises(OSError, match="disk full"):
        save_figures([(fig, tmp_path / "a.png"), (other, tmp_path / "b.png")])
    assert os.listdir(tmp_path) == ["b.png"]
    assert (tmp_path / "b.png").read_bytes() == b"old"


def test_missing_matplotlib_is_named(monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    with pytest.raises(ImportError, match=r"pip install 'loamara\[plot\]'"):
        plot.texture_triangle([40], [40], [20])


# ---------------------------------------------------------------------------
# Command line


def cli(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "loamara", *map(str, args)],
                          capture_output=True, text=True, cwd=cwd,
                          timeout=120)


def test_plot_curves_writes_a_png(tmp_path):
    res = cli("plot", "curves", "--sand", 40, "--silt", 40, "--clay", 20,
              "--oc", 1.2, "--bd", 1.4, "--topsoil", 1,
              "-o", tmp_path / "c.png")
    assert res.returncode == 0, res.stderr
    assert (tmp_path / "c.png").read_bytes()[:8] == PNG
    assert os.listdir(tmp_path) == ["c.png"]
    assert "skipped calc_ptf_hodnett2002" in res.stderr
    assert f"{len(DRAWABLE)} functions drawn" in res.stderr


def test_plot_triangle_writes_a_png(tmp_path):
    src = tmp_path / "soils.csv"
    src.write_text("id,S,silt,clay\na,40,40,20\nb,10,60,30\n")
    res = cli("plot", "triangle", src, "--sand", "S", "-o",
              tmp_path / "t.png")
    assert res.returncode == 0, res.stderr
    assert (tmp_path / "t.png").read_bytes()[:8] == PNG
    assert "2 samples drawn" in res.stderr


@pytest.mark.parametrize("args, words", [
    (["triangle", "{bad}"], ["bad.csv, line 3 (data row 2), column 'silt'",
                             "'4o'"]),
    (["curves", "--sand", "40", "--clay", "20", "--ptf", "jabro1992"],
     ["none of the functions can be drawn", "calc_ptf_jabro1992"]),
])
def test_plot_failures_leave_no_file(tmp_path, args, words):
    bad = tmp_path / "bad.csv"
    bad.write_text("sand,silt,clay\n40,40,20\n20,4o,40\n")
    res = cli("plot", *[a.format(bad=bad) for a in args], "-o",
              tmp_path / "out.png")
    assert res.returncode == 1
    assert res.stderr.splitlines()[-1].startswith("loamara: error: ")
    for w in words:
        assert w in res.stderr
    assert "Traceback" not in res.stderr
    assert os.listdir(tmp_path) == ["bad.csv"]


def test_demo_plots_writes_exactly_the_four_images(tmp_path):
    out = tmp_path / "images"
    res = cli("demo", "--plots", out)
    assert res.returncode == 0, res.stderr
    assert "Sample soils" in res.stdout
    fit = ["fit.png"] if importlib.util.find_spec("scipy") else []
    names = sorted(["curves.png", "ensemble.png", "evaluation.png",
                    "triangle.png"] + fit)
    assert sorted(os.listdir(out)) == names
    for name in names:
        assert (out / name).read_bytes()[:8] == PNG
    assert os.listdir(tmp_path) == ["images"]
