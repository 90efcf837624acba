"""``loamara demo``: a selection of pedotransfer functions from several
families, evaluated on the twelve USDA texture classes of
``sample_soils.csv`` and printed as tables.

The sample soils are representative points of the texture classes (near the
middle of each class of the USDA texture triangle) with typical organic
matter contents and bulk densities.
"""
from __future__ import annotations

import csv
import io
import math
from collections.abc import Sequence
from dataclasses import dataclass
from importlib import resources
from pathlib import Path
from typing import TYPE_CHECKING, Any

import numpy as np

from ._catalog import lookup
from ._estimate import estimate

if TYPE_CHECKING:
    from matplotlib.figure import Figure

# Row of the Clapp and Hornberger (1978) table for each USDA class; silt has
# no row there.
CLAPP_CLASS = {
    "sand": 0, "loamy sand": 1, "sandy loam": 2, "silt loam": 3, "loam": 4,
    "sandy clay loam": 5, "silty clay loam": 6, "clay loam": 7,
    "sandy clay": 8, "silty clay": 9, "clay": 10,
}

# Organic carbon from organic matter (the conventional factor 1.724).
OM_PER_OC = 1.724


@dataclass
class SampleSoils:
    """The sample data set: texture class names and their properties
    (sand, silt, clay and organic matter in % by mass, bulk density in
    g/cm3)."""

    texture: list[str]
    sand: np.ndarray
    silt: np.ndarray
    clay: np.ndarray
    om: np.ndarray
    bd: np.ndarray


def sample_soils() -> SampleSoils:
    """Reads ``sample_soils.csv`` from the package."""
    text = resources.files("loamara").joinpath("sample_soils.csv").read_text(
        encoding="utf-8")
    rows = list(csv.DictReader(io.StringIO(text)))

    def col(name: str) -> np.ndarray:
        return np.array([float(r[name]) for r in rows], dtype=np.float64)

    return SampleSoils([r["texture"] for r in rows], col("sand"),
                       col("silt"), col("clay"), col("om"), col("bd"))


@dataclass
class Column:
    source: str
    quantity: str
    unit: str
    values: np.ndarray


def _fmt(v: float) -> str:
    if math.isnan(v):
        return "n/a"
    return f"{v:.4g}"


def format_table(title: str, names: Sequence[str],
                 columns: Sequence[Column], width: int = 10) -> str:
    """A plain-text table: three header lines (source, quantity, unit),
    then one line per soil."""
    first = max(len("texture"), *(len(n) for n in names))
    labels = ("", "", "texture")
    lines = [title, "-" * len(title)]
    for k in range(3):
        label = labels[k].ljust(first)
        cells = [(c.source, c.quantity, c.unit)[k].rjust(width)
                 for c in columns]
        line = (label + " " + " ".join(cells)).rstrip()
        if line:
            lines.append(line)
    for i, name in enumerate(names):
        cells = [_fmt(float(c.values[i])).rjust(width) for c in columns]
        lines.append(name.ljust(first) + " " + " ".join(cells))
    return "\n".join(lines)


def demo_text() -> str:
    """The demo's whole output."""
    s = sample_soils()
    oc = s.om / OM_PER_OC
    with np.errstate(all="ignore"):
        sx = estimate("saxton2006", sand=s.sand / 100, clay=s.clay / 100,
                      om=s.om)
        r1500 = estimate("rawls1982_theta_1500", clay=s.clay, om=s.om)
        r33 = estimate("rawls1982_theta_33", sand=s.sand, om=s.om,
                       theta_1500=r1500.theta_1500)
        lal = estimate("lal1979_group_i_water_15bar_from_clay", clay=s.clay)
        cosby = estimate("cosby1984_univariate", sand=s.sand, silt=s.silt,
                         clay=s.clay)
        known = [i for i, t in enumerate(s.texture) if t in CLAPP_CLASS]
        clapp_idx = [CLAPP_CLASS[s.texture[i]] for i in known]
        clapp = estimate("clapp1978", texture_class=clapp_idx)
        vg = estimate("vereecken1989", sand=s.sand, clay=s.clay, oc=oc,
                      bd=s.bd)
        jabro = estimate("jabro1992", silt=s.silt, clay=s.clay, bd=s.bd)
        fj = estimate("ferrerjulia2004_general_sand", sand=s.sand)

    def spread(values: np.ndarray) -> np.ndarray:
        full = np.full(len(s.texture), np.nan)
        full[known] = values
        return full

    soils = format_table("Sample soils (USDA texture classes)", s.texture, [
        Column("", "sand", "%", s.sand),
        Column("", "silt", "%", s.silt),
        Column("", "clay", "%", s.clay),
        Column("", "org.matter", "%", s.om),
        Column("", "bulk dens.", "g/cm3", s.bd),
    ])
    water = format_table("Water content", s.texture, [
        Column("Saxton", "1500 kPa", "cm3/cm3", sx.theta_1500),
        Column("Saxton", "33 kPa", "cm3/cm3", sx.theta_33),
        Column("Saxton", "saturation", "cm3/cm3", sx.theta_s),
        Column("Rawls", "1500 kPa", "cm3/cm3", r1500.theta_1500),
        Column("Rawls", "33 kPa", "cm3/cm3", r33.theta_33),
        Column("Lal I", "15 bar", "fraction", lal.water_15bar),
    ])
    conductivity = format_table(
        "Saturated hydraulic conductivity", s.texture, [
            Column("Saxton", "Ks", "mm/h", sx.ksat),
            Column("Jabro", "Ks", "mm/h", jabro.ksat * 3.6e6),
            Column("Cosby", "Ks", "mm/h",
                   np.power(10.0, cosby.log10_ksat) * 25.4),
            Column("Clapp", "Ks", "mm/h", spread(clapp.ksat * 600.0)),
            Column("FerrerJul", "Ks", "mm/h", fj.ksat),
        ])
    shape = format_table("Retention-curve parameters", s.texture, [
        Column("Saxton", "B", "-", sx.b),
        Column("Cosby", "b", "-", cosby.b),
        Column("Clapp", "b", "-", spread(clapp.b)),
        Column("Vereecken", "theta_s", "cm3/cm3", vg.theta_s),
        Column("Vereecken", "alpha", "1/cm", vg.alpha),
        Column("Vereecken", "n", "-", vg.n),
    ])

    sources = [
        ("Saxton", "saxton2006", "sand and clay as fractions (% / 100)"),
        ("Rawls", "rawls1982_theta_1500", "1500 kPa"),
        ("Rawls", "rawls1982_theta_33", "33 kPa, from Rawls 1500 kPa"),
        ("Lal I", "lal1979_group_i_water_15bar_from_clay",
         "soil group I equation, applied to every class"),
        ("Jabro", "jabro1992", "m/s shown in mm/h"),
        ("Cosby", "cosby1984_univariate", "10**log10_ksat in/h shown in "
         "mm/h"),
        ("Clapp", "clapp1978", "by texture class (no row for silt); "
         "cm/min shown in mm/h"),
        ("FerrerJul", "ferrerjulia2004_general_sand", ""),
        ("Vereecken", "vereecken1989", f"organic carbon = organic matter / "
         f"{OM_PER_OC}"),
    ]
    notes = ["Sources (`loamara describe NAME` gives inputs, outputs and "
             "units):"]
    for label, short, how in sources:
        p = lookup(short)
        notes.append(f"  {label:<10} {p.name}, {p.publication}")
        if how:
            notes.append(f"  {'':<10} {how}")
    intro = ("loamara demo: pedotransfer functions of several publications "
             "on twelve\nrepresentative soils, one per USDA texture class.")
    return "\n\n".join([intro, soils, water, conductivity, shape,
                        "\n".join(notes)]) + "\n"


# The sample soil whose curves ``loamara demo --plots`` draws.
PLOT_SOIL = "loam"


def demo_figures() -> list[tuple[Figure, str]]:
    """The figures of ``loamara demo --plots``, with their file names: the
    retention and conductivity curves of the loam by every function with a
    curve model (with the water contents of Rawls et al. 1982 at 33 and
    1500 kPa as markers), and the twelve sample soils in the texture
    triangle."""
    from . import plot

    s = sample_soils()
    i = s.texture.index(PLOT_SOIL)
    soil = {"sand": float(s.sand[i]), "silt": float(s.silt[i]),
            "clay": float(s.clay[i]), "om": float(s.om[i]),
            "bd": float(s.bd[i])}
    r1500 = estimate("rawls1982_theta_1500", data=soil, preset="percent")
    r33 = estimate("rawls1982_theta_33", data=dict(
        soil, theta_1500=r1500.theta_1500), preset="percent")
    names = [p.name for p in plot.curve_ptfs()]
    curves = plot.retention([*names, r1500, r33], sand=soil["sand"],
                            silt=soil["silt"], clay=soil["clay"],
                            om=soil["om"], bd=soil["bd"])
    triangle = plot.texture_triangle(s.sand, s.silt, s.clay)
    figures = [(curves, "curves.png"), (triangle, "triangle.png"),
               *_ensemble_figures(s)]
    try:
        figures.append((fit_figure(), "fit.png"))
    except ImportError:
        pass  # no SciPy: no fit figure
    return figures


# The sample soils of the ensemble figure.
ENSEMBLE_SOILS = ("sand", "sandy loam", "loam", "silt loam", "clay loam",
                  "clay")


def _ensemble_figures(s: SampleSoils) -> list[tuple[Figure, str]]:
    """The ksat ensemble of six sample soils, and an evaluation of the
    theta_33 functions against made-up measurements (Saxton and Rawls'
    own estimate with a fixed error pattern of +-0.02), which shows what
    the figure looks like; no measured table is shipped."""
    from . import plot
    from ._ensemble import ensemble
    from ._evaluate import evaluate

    data = {"sand": s.sand, "silt": s.silt, "clay": s.clay, "om": s.om,
            "bd": s.bd}
    keep = [s.texture.index(t) for t in ENSEMBLE_SOILS]
    six = {k: v[keep] for k, v in data.items()}
    e = ensemble("ksat", six, preset="percent", check="off")
    fig_e = plot.ensemble(e, labels=list(ENSEMBLE_SOILS))
    sax = estimate("saxton2006", data=data, preset="percent", check="off")
    wobble = 0.02 * np.sin(np.arange(len(s.sand)) * 2.1)
    ev = evaluate({"theta_33": np.asarray(sax.theta_33) + wobble}, data,
                  preset="percent", check="off")
    return [(fig_e, "ensemble.png"), (plot.evaluation(ev), "evaluation.png")]


# A made-up laboratory sample with two pore systems (an aggregated soil):
# Durner (1994) parameters (theta_r, theta_s, w_1, alpha_1 1/cm, n_1,
# alpha_2 1/cm, n_2), 14 suctions in cm and measurement noise.
FIT_SAMPLE = (0.05, 0.48, 0.3, 0.3, 3.0, 0.006, 1.5)
FIT_SUCTIONS = (1.0, 2.0, 4.0, 7.0, 10.0, 20.0, 40.0, 70.0, 100.0, 200.0,
                500.0, 1000.0, 3000.0, 15000.0)
FIT_NOISE = 0.004


def fit_figure() -> Figure:
    """The made-up sample's points with the curves of van Genuchten
    (m = 1 - 1/n) and Durner (1994) fitted to them, and their 95 %
    confidence bands (needs SciPy)."""
    from . import _curves, plot
    from ._fit import fit

    h = np.array(FIT_SUCTIONS)
    rng = np.random.default_rng(18)
    theta = _curves.calc_swrc_durner(h, *FIT_SAMPLE) + rng.normal(
        0.0, FIT_NOISE, h.size)
    fits = [fit(h, theta, model) for model in ("vg", "durner")]
    return plot.fitted(fits, title="Fitted to a laboratory sample "
                       "(made up, two pore systems)")


def write_plots(directory: Path) -> None:
    """Writes the figures of :func:`demo_figures` (fit.png only with
    SciPy) into ``directory`` (created if missing, its parent must
    exist), all or none."""
    from ._plotcli import plot_module, save_figures
    from ._errors import RunError

    plot_module()  # matplotlib first: RunError before anything is made
    if directory.exists() and not directory.is_dir():
        raise RunError(f"--plots {directory}: not a directory")
    if not directory.parent.resolve().is_dir():
        raise RunError(f"--plots {directory}: directory "
                       f"{directory.parent.resolve()} does not exist")
    created = not directory.exists()
    with np.errstate(all="ignore"):
        figures = demo_figures()
    if created:
        directory.mkdir()
    try:
        save_figures([(fig, directory / name)
                      for fig, name in figures])
    except BaseException:
        if created:
            directory.rmdir()
        raise


# SoilGrids 2.0 layers of the demo: name, unit, range of the stored
# integers.  Sand, silt and clay are made to add up to 1000 g/kg.
_LAYERS = {"soc": ("dg/kg", 40, 450), "bdod": ("cg/cm³", 110, 165)}


def write_layers(directory: Any, size: tuple[int, int] = (120, 160)) -> list[Any]:
    """Writes SoilGrids-like GeoTIFF layers (0-5 cm, mean) of a made-up
    region into ``directory``: sand, silt and clay in g/kg, organic carbon
    in dg/kg and bulk density in cg/cm³, int16 with nodata -32768 (a lake
    in one corner), EPSG:4326 at 250 m-like spacing, each band with its
    ``units``.  Returns the paths.  Needs rioxarray."""
    from pathlib import Path

    try:
        import rioxarray  # noqa: F401
        import xarray as xr
    except ImportError:
        raise ImportError("demo layers need rioxarray: pip install "
                          "'loamara[raster]'") from None
    out = Path(directory)
    out.mkdir(parents=True, exist_ok=True)
    ny, nx = size
    y = 48.0 - (np.arange(ny) + 0.5) * 0.0025
    x = 11.0 + (np.arange(nx) + 0.5) * 0.0025
    yy, xx = np.meshgrid(np.linspace(0, 1, ny), np.linspace(0, 1, nx),
                         indexing="ij")
    # Smooth fields: sandy in the west, clayey in the south-east.
    sand = 700 - 450 * xx + 60 * np.sin(7 * yy)
    clay = 80 + 320 * xx * yy + 30 * np.cos(5 * xx)
    fields = {"sand": sand, "clay": clay, "silt": 1000 - sand - clay}
    units = {"sand": "g/kg", "silt": "g/kg", "clay": "g/kg"}
    for name, (unit, lo, hi) in _LAYERS.items():
        fields[name] = lo + (hi - lo) * (0.5 + 0.5 * np.sin(3 * xx + 2 * yy))
        units[name] = unit
    lake = (yy > 0.8) & (xx < 0.15)
    paths = []
    for name, values in fields.items():
        data = np.where(lake, -32768, np.round(values)).astype(np.int16)
        da = xr.DataArray(data, dims=("y", "x"), coords={"y": y, "x": x},
                          attrs={"units": units[name]})
        da = da.rio.write_crs("EPSG:4326").rio.write_nodata(-32768)
        path = out / f"{name}_0-5cm_mean.tif"
        da.rio.to_raster(path, tags={"units": units[name]})
        paths.append(path)
    return paths
