"""The `loamara` command line, end to end in a subprocess."""
import csv
import os
import pty
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import loamara

import _loamara
import loamara
from ptfcheck import assert_same_bits


def cli(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "loamara", *map(str, args)],
                          capture_output=True, text=True, cwd=cwd,
                          timeout=120)


def write_csv(path, header, rows):
    with open(path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(header)
        w.writerows(rows)
    return path


def read_csv(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    return rows[0], rows[1:]


def soils(n):
    rng = np.random.default_rng(3)
    sand = rng.uniform(0.1, 0.8, n).round(4)
    clay = rng.uniform(0.05, 0.2, n).round(4)
    om = rng.uniform(0.5, 5, n).round(3)
    return sand, clay, om


def test_list_all_and_filtered():
    res = cli("list")
    assert res.returncode == 0
    lines = res.stdout.splitlines()
    assert len(lines) == len(loamara.catalog())  # both modules
    assert lines[0].startswith("calc_ptf_ahuja1984 ")
    res = cli("list", "--output", "osmotic")
    assert [ln.split()[0] for ln in res.stdout.splitlines()] == [
        "calc_ptf_saxton2006_salinity"]
    res = cli("list", "--publication", "rawls, brakensiek")
    assert len(res.stdout.splitlines()) == 3
    res = cli("list", "--output", "no such quantity")
    assert res.returncode == 1 and res.stdout == ""


def test_describe():
    res = cli("describe", "calc_ptf_saxton2006")
    assert res.returncode == 0
    out = res.stdout
    assert out.startswith("calc_ptf_saxton2006\n  Saxton and Rawls (2006).")
    assert 'loamara.estimate("saxton2006", sand=..., clay=..., om=...)' in out
    assert "sand  [mass fraction (0-1)]" in out
    assert "ksat        [mm/h]" in out
    res = cli("describe", "saxton2060")
    assert res.returncode == 1
    assert "did you mean: calc_ptf_saxton2006" in res.stderr


def test_run_appends_the_outputs_exactly(tmp_path):
    sand, clay, om = soils(25)
    src = write_csv(tmp_path / "in.csv", ["id", "sand", "clay", "om"],
                    [[f"s{i}", s, c, o]
                     for i, (s, c, o) in enumerate(zip(sand, clay, om))])
    res = cli("run", "saxton2006", src, "-o", tmp_path / "out.csv")
    assert res.returncode == 0, res.stderr
    header, rows = read_csv(tmp_path / "out.csv")
    names = [f"{q.name} [{q.unit}]"
             for q in loamara.lookup("saxton2006").outputs]
    assert names[1] == "theta_33 [cm^3/cm^3]" and names[8] == "ksat [mm/h]"
    assert header == ["id", "sand", "clay", "om"] + names
    assert [r[0] for r in rows] == [f"s{i}" for i in range(25)]
    want = _loamara.calc_ptf_saxton2006(sand, clay, om)
    for k, w in enumerate(want):
        assert_same_bits(np.array([float(r[4 + k]) for r in rows]), w)


def test_which_refuses_a_unit_of_the_wrong_kind():
    res = cli("which", "--have", "sand,clay,om", "--units", "sand=furlong")
    assert res.returncode == 1 and res.stdout == ""
    assert "--units sand=furlong" in res.stderr and "percent" in res.stderr
    help_text = " ".join(cli("run", "--help").stdout.split())
    assert "percent: a laboratory table" in help_text


def test_a_column_unit_that_does_not_convert_is_the_callers_error(tmp_path):
    src = write_csv(tmp_path / "in.csv", ["sand", "silt", "clay", "om"],
                    [[40, 40, 20, 2]])
    for args in (("run", "saxton2006"), ("ensemble", "theta_33")):
        res = cli(*args, src, "-o", tmp_path / "o.csv",
                  "--units", "sand=furlong")
        assert res.returncode == 1 and "furlong" in res.stderr
        assert "fault of loamara" not in res.stderr
        assert not (tmp_path / "o.csv").exists()


def test_column_names_match_in_any_letter_case(tmp_path):
    src = write_csv(tmp_path / "in.csv", ["Sand", "CLAY", "om"],
                    [[0.4, 0.2, 2]])
    res = cli("run", "saxton2006", src, "-o", tmp_path / "o.csv")
    assert res.returncode == 0, res.stderr


def test_chunks_and_map_give_the_single_pass_result(tmp_path):
    sand, clay, om = soils(103)
    rows = [[s, c, o] for s, c, o in zip(sand, clay, om)]
    rows[50][2] = ""  # a missing value
    src = write_csv(tmp_path / "in.csv", ["S", "clay", "om"], rows)
    one = tmp_path / "one.csv"
    many = tmp_path / "many.csv"
    assert cli("run", "saxton2006", src, "-o", one, "--map", "S=sand"
               ).returncode == 0
    res = cli("run", "calc_ptf_saxton2006", src, "-o", many, "--map",
              "S=sand", "--chunk-size", 10, "--prefix", "sr_")
    assert res.returncode == 0, res.stderr
    h1, r1 = read_csv(one)
    h2, r2 = read_csv(many)
    assert h2 == h1[:3] + ["sr_" + h for h in h1[3:]]
    assert r1 == r2 and len(r2) == 103
    assert r2[50][3:] == ["nan"] * 10


def test_class_index_column(tmp_path):
    src = write_csv(tmp_path / "in.csv", ["texture_class"],
                    [[0], [10], ["10.0"], [11]])
    assert cli("run", "clapp1978", src, "-o", tmp_path / "o.csv"
               ).returncode == 0
    _, rows = read_csv(tmp_path / "o.csv")
    assert [r[1] for r in rows] == ["4.05", "11.4", "11.4", "nan"]


BAD_RUNS = [
    # (header, rows, extra arguments, words the message must contain)
    (["sand", "om"], [[0.4, 2]], [],
     ["missing column", "'clay'", "clay [mass fraction (0-1)]", "--map"]),
    (["sand", "clay", "om"], [[0.4, 0.2, 2], [0.3, "abc", 1]], [],
     ["line 3 (data row 2)", "column 'clay'", "'abc'"]),
    (["sand", "clay", "om"], [[0.4, 0.2, 2], [0.3, 0.1]], [],
     ["line 3 (data row 2)", "2 fields", "header has 3"]),
    (["sand", "clay", "om", "ksat"], [[0.4, 0.2, 2, 1]], [],
     ["already has a column named 'ksat'", "--prefix"]),
    (["S", "clay", "om"], [[0.4, 0.2, 2]], ["--map", "S=snad"],
     ["no input 'snad'", "sand, clay, om"]),
    (["sand_pct", "clay", "om"], [[0.4, 0.2, 2]], [],
     ["did you mean 'sand_pct'? --map sand_pct=sand"]),
]


@pytest.mark.parametrize("header, rows, extra, words", BAD_RUNS)
def test_bad_input_fails_without_output(tmp_path, header, rows, extra,
                                        words):
    src = write_csv(tmp_path / "in.csv", header, rows)
    out = tmp_path / "out.csv"
    res = cli("run", "saxton2006", src, "-o", out, *extra)
    assert res.returncode != 0
    for w in words:
        assert w in res.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.csv"]


def test_failure_late_in_a_large_file_keeps_the_old_output(tmp_path):
    sand, clay, om = soils(200)
    rows = [[s, c, o] for s, c, o in zip(sand, clay, om)]
    rows[180][0] = "0.4.5"
    src = write_csv(tmp_path / "in.csv", ["sand", "clay", "om"], rows)
    out = tmp_path / "out.csv"
    out.write_text("previous result\n")
    res = cli("run", "saxton2006", src, "-o", out, "--chunk-size", 16)
    assert res.returncode == 1
    assert "line 182 (data row 181), column 'sand'" in res.stderr
    assert out.read_text() == "previous result\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.csv",
                                                          "out.csv"]


def test_missing_input_file(tmp_path):
    res = cli("run", "jabro1992", tmp_path / "nope.csv", "-o",
              tmp_path / "o.csv")
    assert res.returncode == 1 and "nope.csv" in res.stderr
    assert list(tmp_path.iterdir()) == []


def test_demo_prints_the_twelve_classes():
    res = cli("demo")
    assert res.returncode == 0, res.stderr
    out = res.stdout
    for name in ["sand", "loamy sand", "sandy loam", "loam", "silt loam",
                 "silt", "sandy clay loam", "clay loam", "silty clay loam",
                 "sandy clay", "silty clay", "clay"]:
        assert f"\n{name} " in out
    for unit in ["cm3/cm3", "mm/h", "g/cm3", "1/cm"]:
        assert unit in out
    # Every value is a number except Clapp's, which has no row for silt.
    assert "nan" not in out and "inf" not in out
    na = [line for line in out.splitlines() if "n/a" in line]
    assert len(na) == 2 and all(line.startswith("silt  ") for line in na)
    assert max(len(line) for line in out.splitlines()) <= 100
    # The checks' findings as a command's warnings, not Python's.
    assert "loamara: warning: calc_ptf_saxton2006: output psi_e" in \
        res.stderr and "RangeWarning" not in res.stderr


def saxton_rows(n):
    sand, clay, om = soils(n)
    return [[f"{a:.10f}", f"{b:.10f}", f"{c:.10f}"]
            for a, b, c in zip(sand, clay, om)]


def feed_fifo(path, lines, hold=None):
    """Writes `lines` into the FIFO at `path` from a thread; with `hold`
    (an Event), keeps the FIFO open until it is set."""
    def write():
        with open(path, "w") as f:
            f.writelines(line + "\n" for line in lines)
            f.flush()
            if hold is not None:
                hold.wait(60)
    t = threading.Thread(target=write, daemon=True)
    t.start()
    return t


def finish_writer(fifo, writer, hold=None):
    """Ends the writer thread of `feed_fifo`, also when no reader ever
    opened the FIFO (opening it for reading releases the writer)."""
    if hold is not None:
        hold.set()
    if writer.is_alive():
        fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        try:
            writer.join(10)
        finally:
            os.close(fd)
    writer.join(10)


def test_input_on_a_fifo_with_a_progress_bar_loses_no_row(tmp_path):
    rows = saxton_rows(1000)
    fifo = tmp_path / "soils.fifo"
    os.mkfifo(fifo)
    writer = feed_fifo(fifo, ["sand,clay,om"] + [",".join(r) for r in rows])
    master, slave = pty.openpty()  # a terminal on stderr: progress shown
    try:
        res = subprocess.run(
            [sys.executable, "-m", "loamara", "run", "saxton2006", str(fifo),
             "-o", str(tmp_path / "out.csv")],
            stdout=subprocess.PIPE, stderr=slave, timeout=60)
    finally:
        os.close(slave)
        os.close(master)
        finish_writer(fifo, writer)
    assert res.returncode == 0
    header, got = read_csv(tmp_path / "out.csv")
    assert [r[:3] for r in got] == rows


@pytest.mark.parametrize("content, where", [
    (b"sand,clay,om\n0.4,0.2,2\n0.3,0.\xff1,2\n", "line 3"),
    (b"sand,clay,om\n0.4,0.2,2\n0.4,0.2,2\n0.4," + b"x" * 200_000 + b",2\n",
     "line 4"),
], ids=["not-utf8", "huge-field"])
def test_unreadable_text_names_the_line(tmp_path, content, where):
    (tmp_path / "in.csv").write_bytes(content)
    res = cli("run", "saxton2006", tmp_path / "in.csv", "-o",
              tmp_path / "out.csv")
    assert res.returncode == 1
    # (A free-threaded interpreter may print its own warning first.)
    assert "loamara: error:" in res.stderr and where in res.stderr
    assert "Traceback" not in res.stderr
    assert os.listdir(tmp_path) == ["in.csv"]


@pytest.mark.parametrize("sig, status, word", [
    (signal.SIGINT, 130, "interrupted"), (signal.SIGTERM, 143, "terminated")])
def test_a_stopped_run_leaves_no_file_and_no_traceback(tmp_path, sig,
                                                        status, word):
    fifo = tmp_path / "soils.fifo"
    os.mkfifo(fifo)
    hold = threading.Event()
    writer = feed_fifo(fifo, ["sand,clay,om", "0.4,0.2,2"], hold)
    # SIGINT as an interactive shell leaves it (a test runner started in
    # the background may have it ignored, and children inherit that).
    proc = subprocess.Popen(
        [sys.executable, "-m", "loamara", "run", "saxton2006", str(fifo),
         "-o", str(tmp_path / "out.csv")],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    try:
        for _ in range(600):  # until the run has its output file open
            if any(n.endswith(".part") for n in os.listdir(tmp_path)):
                break
            time.sleep(0.05)
        proc.send_signal(sig)
        _, err = proc.communicate(timeout=60)
    finally:
        finish_writer(fifo, writer, hold)
    assert proc.returncode == status
    assert err.strip().splitlines()[-1] == f"loamara: {word}"
    assert "Traceback" not in err
    assert sorted(os.listdir(tmp_path)) == ["soils.fifo"]


def test_output_paths_are_checked_before_reading(tmp_path):
    # A FIFO nobody writes to blocks a reader: the run must stop first.
    fifo = tmp_path / "soils.fifo"
    os.mkfifo(fifo)
    res = subprocess.run(
        [sys.executable, "-m", "loamara", "run", "saxton2006", str(fifo),
         "-o", str(tmp_path)], capture_output=True, text=True, timeout=30)
    assert res.returncode == 1 and "is a directory" in res.stderr
    src = write_csv(tmp_path / "in.csv", ["sand", "clay", "om"],
                    saxton_rows(3))
    before = src.read_bytes()
    for target in (src, tmp_path / "." / "in.csv"):
        res = cli("run", "saxton2006", src, "-o", target)
        assert res.returncode == 1 and "is the input file" in res.stderr
    assert src.read_bytes() == before


@pytest.mark.parametrize("engine", ["pyarrow", "csv module"])
def test_both_csv_readers_give_the_same_chunks_and_errors(tmp_path, engine,
                                                          monkeypatch):
    pytest.importorskip("pandas")
    from loamara import io as _tables
    from loamara.io import csv as csv_format
    if engine == "pyarrow":
        pytest.importorskip("pyarrow")
    else:
        monkeypatch.setattr(csv_format, "_pyarrow", lambda: None)
    src = tmp_path / "in.csv"
    src.write_text('id,sand\n"a,1", 0.25\n\nb,\nc,1e-3\n')
    chunks = list(_tables.read_chunks(src, ["id", "sand"], 2))
    assert [c.nrows for c in chunks] == [2, 1]
    assert chunks[0].text("id") == ["a,1", "b"]
    got = np.concatenate([c.numbers("sand", "input sand") for c in chunks])
    assert_same_bits(got, [0.25, np.nan, 1e-3])
    src.write_text("id,sand\na,1\nb\n")
    with pytest.raises(_tables.TableError,
                       match="line 3 .data row 2.: 1 fields"):
        list(_tables.read_chunks(src, ["id", "sand"], 10))


def test_readme_parquet_example_checks_the_outputs(tmp_path):
    pd = pytest.importorskip("pandas")
    pytest.importorskip("pyarrow")
    src, out = tmp_path / "soils.parquet", tmp_path / "out.parquet"
    pd.DataFrame({"SAND_PCT": [40.0, 85.0], "clay": [0.2, 0.05],
                  "om": [2.0, 1.0]}).to_parquet(src)
    args = ("run", "saxton2006", src, "-o", out, "--map", "SAND_PCT=sand")
    res = cli(*args)
    assert res.returncode == 0, res.stderr
    assert "output theta_33 has values from" in res.stderr
    assert "outside what they can be: 1 value of theta_1500, 2 values of "\
        "theta_33" in res.stderr
    before = out.read_bytes()
    res = cli(*args, "--check", "raise")
    assert res.returncode == 1 and "Traceback" not in res.stderr
    assert out.read_bytes() == before
    assert sorted(p.name for p in tmp_path.iterdir()) == ["out.parquet",
                                                          "soils.parquet"]


def test_parquet_columns_of_every_numeric_encoding(tmp_path):
    pa = pytest.importorskip("pyarrow")
    pq = pytest.importorskip("pyarrow.parquet")
    import decimal
    src, out = tmp_path / "in.parquet", tmp_path / "out.parquet"
    pq.write_table(pa.table({
        "sand": pa.array([decimal.Decimal("0.40"), decimal.Decimal("0.35")],
                         pa.decimal128(5, 2)),
        "clay": pa.array(["0.2", "0.1"]).dictionary_encode(),
        "om": pa.array([2, 3], pa.int64())}), src)
    res = cli("run", "saxton2006", src, "-o", out)
    assert res.returncode == 0, res.stderr
    got = pq.read_table(out)
    want = _loamara.calc_ptf_saxton2006([0.40, 0.35], [0.2, 0.1], [2, 3])
    assert_same_bits(got.column("ksat [mm/h]").to_numpy(), want[8])
    # Integers without an exact double: read, with a warning.
    pq.write_table(pa.table({"silt": pa.array([2**53 + 1, 40], pa.int64()),
                             "clay": [20, 20], "bd": [1.4, 1.4]}), src)
    res = cli("run", "jabro1992", src, "-o", out, "--check", "off")
    assert res.returncode == 0, res.stderr
    assert "1 whole number beyond 2**53" in res.stderr
    assert "9007199254740993 as 9007199254740992.0" in res.stderr
    # Other types are named.
    pq.write_table(pa.table({"silt": pa.array([[1]]), "clay": [20],
                             "bd": [1.4]}), src)
    res = cli("run", "jabro1992", src, "-o", out)
    assert res.returncode == 1 and "its type is list<" in \
        res.stderr


def test_zero_row_parquet_writes_a_valid_empty_table(tmp_path):
    pa = pytest.importorskip("pyarrow")
    pq = pytest.importorskip("pyarrow.parquet")
    src, out = tmp_path / "in.parquet", tmp_path / "out.parquet"
    pq.write_table(pa.table({"id": pa.array([], pa.int32()),
                             "sand": pa.array([], pa.float64()),
                             "clay": pa.array([], pa.float64()),
                             "om": pa.array([], pa.float64())}), src)
    res = cli("run", "saxton2006", src, "-o", out)
    assert res.returncode == 0, res.stderr
    got = pq.read_table(out)
    assert got.num_rows == 0 and got.schema.field("id").type == pa.int32()
    assert got.schema.field("ksat [mm/h]").metadata == {b"units": b"mm/h"}
    write_csv(tmp_path / "in.csv", ["sand", "clay", "om"], [])
    assert cli("run", "saxton2006", tmp_path / "in.csv", "-o", out
               ).returncode == 0
    assert pq.read_table(out).schema.names[:3] == ["sand", "clay", "om"]


def test_the_format_registry_is_imported_without_its_libraries():
    # Help texts and messages come from the registry: importing it (and
    # loamara) must not import the libraries of any format.
    code = ("import sys, loamara, loamara.io, loamara._cli\n"
            "print(sorted(m for m in ('pandas', 'pyarrow', 'xarray', 'dask', "
            "'rasterio', 'rioxarray', 'zarr', 'netCDF4') if m in sys.modules)"
            " or 'none')")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True,
                         text=True, timeout=120)
    assert out.stdout.strip() == "none", out.stderr


def test_a_table_format_is_one_module_and_one_registry_line(
        tmp_path, monkeypatch, capsys):
    import json
    import types

    from loamara._cli import main
    from loamara.io import FORMATS, Format, TableWriter
    from loamara.io import csv as csv_format

    class JsonLines(TableWriter):
        def write(self, chunk, outputs):
            for k in range(chunk.nrows):
                self.f.write((json.dumps({c: float(o[k]) for c, o in zip(
                    self.columns, outputs)}) + "\n").encode())

    module = types.ModuleType("loamara.io.jsonl")
    module.READER = csv_format.READER
    module.Writer = JsonLines
    monkeypatch.setitem(sys.modules, "loamara.io.jsonl", module)
    monkeypatch.setitem(FORMATS, "jsonl", Format(
        "jsonl", "JSON lines", "table", (".jsonl",), "tables",
        "jsonl:READER", "jsonl:Writer"))
    src = write_csv(tmp_path / "in.csv", ["sand", "clay", "om"],
                    [[0.4, 0.2, 2.5], [0.6, 0.1, 1.0]])
    out = tmp_path / "out.jsonl"
    assert main(["run", "saxton2006", str(src), "-o", str(out),
                 "--outputs", "theta_33"]) == 0
    rows = [json.loads(line) for line in out.read_text().splitlines()]
    want = loamara.estimate("saxton2006", sand=[0.4, 0.6], clay=[0.2, 0.1],
                            om=[2.5, 1.0])["theta_33"]
    assert [k.split()[0] for k in rows[0]] == ["theta_33"]
    assert_same_bits(np.array([r[next(iter(r))] for r in rows]), want)
    with pytest.raises(SystemExit):
        main(["run", "--help"])
    assert ".jsonl" in capsys.readouterr().out
