"""The module against the command line: the same points, the same files, and the
behaviour a Python caller expects of arguments, errors, threads and Ctrl-C."""

import csv
import decimal
import os
import pathlib
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

from conftest import BUILD, make_sample, run_cli

TABLE_FIELDS = ["code", "dot", "x", "y", "pixels", "refined_x", "refined_y", "blob_pixels",
                "stray_pixels", "contrast", "radius", "flags"]


def cli_files(folder, source, *options):
    """The command line's evaluate of source: (points, bitmap, table) bytes."""
    folder = pathlib.Path(folder)
    run_cli("evaluate", "-q", source, folder / "cli.txt", "--table", folder / "cli.csv",
            *options)
    return tuple((folder / name).read_bytes() for name in ("cli.txt", "cli.bmp", "cli.csv"))


def written_files(result, folder):
    folder = pathlib.Path(folder)
    result.write(folder / "py.txt", table=folder / "py.csv")
    return tuple((folder / name).read_bytes() for name in ("py.txt", "py.bmp", "py.csv"))


def table_rows(points):
    """The point table's text of each point, as the command line rounds it."""
    def cell(name, value):
        if name in ("x", "y", "refined_x", "refined_y", "radius"):  # an exact half away from 0
            return str(decimal.Decimal(float(value)).quantize(decimal.Decimal("0.0001"),
                                                              decimal.ROUND_HALF_UP))
        return str(value)
    return [",".join(cell(n, p[n]) for n in TABLE_FIELDS) for p in points]


def test_paths_and_arrays_give_the_command_lines_files(kelvaron, stack, tmp_path):
    expected = cli_files(tmp_path, stack)
    by_path = kelvaron.evaluate(stack)
    assert (by_path.width, by_path.height) == (320, 240)
    assert written_files(by_path, tmp_path) == expected
    planes = kelvaron.load(pathlib.Path(stack))
    assert planes.shape == (17, 240, 320) and planes.dtype == np.uint8
    by_array = kelvaron.evaluate(planes)
    assert np.array_equal(by_array.points, by_path.points)
    assert written_files(by_array, tmp_path) == expected
    # The table's values are the array's, rounded.
    lines = expected[2].decode().splitlines()
    assert lines[0] == ",".join(TABLE_FIELDS)
    assert lines[1:] == table_rows(by_array.points)


@pytest.mark.parametrize("layout", ["fortran", "reversed", "sliced", "planes last"])
def test_any_memory_layout_gives_the_same_points(kelvaron, stack, layout):
    planes = kelvaron.load(stack)
    expected = kelvaron.evaluate(planes).points
    if layout == "fortran":
        view = np.asfortranarray(planes)
    elif layout == "reversed":
        view = np.flip(np.flip(planes).copy())
    elif layout == "sliced":
        wide = np.zeros((17, 240, 640), np.uint8)
        wide[:, :, ::2] = planes
        view = wide[:, :, ::2]
    else:
        view = np.moveaxis(np.ascontiguousarray(np.moveaxis(planes, 0, 2)), 2, 0)
    assert not view.flags.c_contiguous
    assert np.array_equal(kelvaron.evaluate(view).points, expected)


def test_a_picture_set_evaluates_as_its_list(kelvaron, stack, tmp_path):
    run_cli("save-set", stack, tmp_path / "set.bbf")
    expected = cli_files(tmp_path, tmp_path / "set.bbf")
    result = kelvaron.evaluate(str(tmp_path / "set.bbf"))
    assert written_files(result, tmp_path) == expected
    assert np.array_equal(kelvaron.load(tmp_path / "set.bbf"), kelvaron.load(stack))


def test_sixteen_bit_samples_are_weighed_at_full_depth(kelvaron, deep_stack, tmp_path):
    cv2 = pytest.importorskip("cv2")
    expected = cli_files(tmp_path, deep_stack, "--bits", "12")
    names = deep_stack.read_text().splitlines()[2:]
    samples = np.stack([cv2.imread(str(deep_stack.parent / n), cv2.IMREAD_UNCHANGED)
                        for n in names])
    assert samples.dtype == np.uint16 and samples.max() <= 4095
    result = kelvaron.evaluate(samples, bits=12)
    assert written_files(result, tmp_path) == expected
    assert result.settings["bits"] == 12
    # Read as 16 bits the same samples are four times dimmer: fewer dots pass mindif.
    assert len(kelvaron.evaluate(samples).points) < len(result.points)


def test_auto_settings_and_suggest_agree_with_the_command_line(kelvaron, stack, tmp_path):
    expected = cli_files(tmp_path, stack, "--mindif", "auto", "--tolerance", "auto")
    result = kelvaron.evaluate(stack, mindif="auto", tolerance="auto")
    assert written_files(result, tmp_path) == expected
    printed = run_cli("suggest", stack).stdout.split()
    chosen = {printed[0]: int(printed[1]), printed[2]: int(printed[3])}
    for source in (stack, kelvaron.load(stack)):
        suggestion = kelvaron.suggest(source)
        assert {k: suggestion[k] for k in chosen} == chosen
    assert {k: result.settings[k] for k in chosen} == chosen
    assert result.suggestion["mindif"] == chosen["mindif"]
    assert kelvaron.evaluate(stack).suggestion is None


def test_codes_make_the_points(kelvaron, stack):
    result = kelvaron.evaluate(stack, codes=True, refine=False)
    codes = result.codes
    assert codes.shape == (240, 320) and codes.dtype == np.int32
    assert list(result.points.dtype.names) == TABLE_FIELDS[:5]
    for point in result.points[:50]:
        rows, columns = np.nonzero(codes == point["code"])
        assert len(rows) == point["pixels"]
        assert point["x"] == pytest.approx(columns.mean(), abs=1e-9)
        assert point["y"] == pytest.approx(rows.mean(), abs=1e-9)
    assert kelvaron.evaluate(stack).codes is None


def test_results_own_their_memory(kelvaron, stack, tmp_path):
    planes = kelvaron.load(stack)
    expected = cli_files(tmp_path, stack)
    result = kelvaron.evaluate(planes, codes=True)
    codes, points = result.codes, result.points
    planes[:] = 0  # the caller's array changes after the evaluation
    del result
    assert written_files(kelvaron.evaluate(stack), tmp_path) == expected
    assert codes.max() > 0 and len(points) > 0
    again = kelvaron.evaluate(kelvaron.load(stack))
    assert np.array_equal(again.points, points)


@pytest.mark.parametrize("keywords, message", [
    ({"channel": "purple"}, "channel must be"),
    ({"tolerance": 256}, "tolerance must be"),
    ({"tolerance": -1}, "tolerance must be"),
    ({"tolerance": "high"}, "tolerance must be"),
    ({"tolerance": 1.5}, "tolerance must be"),
    ({"tolerance": True}, "tolerance must be"),
    ({"mindif": None}, "mindif must be"),
    ({"threads": -1}, "threads must be"),
    ({"threads": 5000}, "threads must be"),
    ({"bits": 0}, "bits must be"),
    ({"bits": 17}, "bits must be"),
])
def test_bad_arguments_are_refused(kelvaron, stack, keywords, message):
    with pytest.raises(ValueError, match=message):
        kelvaron.evaluate(stack, **keywords)


@pytest.mark.parametrize("array, message", [
    (np.zeros((16, 8, 8), np.uint8), r"shape \(17, height, width\), not \(16, 8, 8\)"),
    (np.zeros((17, 8), np.uint8), "not one of 2 dimensions"),
    (np.zeros((17, 0, 8), np.uint8), "cannot be evaluated"),
    (np.zeros((17, 8, 8), np.float32), "must be uint8, or uint16 with bits, not float32"),
    (np.zeros((17, 8, 8), np.int16), "not int16"),
    (np.zeros((17, 8, 8), ">u2"), "machine's byte order"),
])
def test_arrays_of_the_wrong_shape_or_type_are_refused(kelvaron, array, message):
    with pytest.raises(ValueError, match=message):
        kelvaron.evaluate(array)
    with pytest.raises(ValueError, match=message):
        kelvaron.suggest(array)


def test_other_bad_sources_are_refused(kelvaron, tmp_path):
    with pytest.raises(ValueError, match="bits is for uint16"):
        kelvaron.evaluate(np.zeros((17, 4, 4), np.uint8), bits=12)
    for source in (42, None, b"list.txt", ""):
        with pytest.raises(ValueError, match="source"):
            kelvaron.evaluate(source)
    with pytest.raises(ValueError, match="arrays"):
        kelvaron.batch([np.zeros((17, 4, 4), np.uint8)], tmp_path)
    with pytest.raises(ValueError, match="poses_at_once"):
        kelvaron.batch([], tmp_path, poses_at_once=9)


def test_each_failure_raises_its_exception(kelvaron, stack, tmp_path):
    with pytest.raises(FileNotFoundError, match="missing.txt"):
        kelvaron.evaluate(tmp_path / "missing.txt")
    with pytest.raises(FileNotFoundError, match="missing.txt"):
        kelvaron.load(tmp_path / "missing.txt")
    folder = tmp_path / "copy"
    folder.mkdir()
    for name in stack.parent.iterdir():
        if name.suffix in (".jpg", ".txt"):
            (folder / name.name).write_bytes(name.read_bytes())
    (folder / "sample_05.jpg").unlink()
    with pytest.raises(FileNotFoundError, match="sample_05.jpg"):
        kelvaron.evaluate(folder / "sample.txt")
    (folder / "sample_05.jpg").write_bytes((stack.parent / "sample_05.jpg").read_bytes()[:300])
    with pytest.raises(kelvaron.Error, match="sample_05.jpg"):
        kelvaron.evaluate(folder / "sample.txt")
    short = folder / "short.txt"
    short.write_text("\n".join(stack.read_text().splitlines()[:7]) + "\n")
    with pytest.raises(kelvaron.Error, match="5 photographs; a stack needs 17"):
        kelvaron.evaluate(short)
    assert issubclass(kelvaron.Error, Exception)

    result = kelvaron.evaluate(stack, refine=False)
    with pytest.raises(kelvaron.Error, match="nowhere"):
        result.write(tmp_path / "nowhere" / "points.txt")
    with pytest.raises(ValueError, match="not refined"):
        result.write(tmp_path / "points.txt", table=tmp_path / "table.csv")
    with pytest.raises(ValueError, match="sample.txt"):
        kelvaron.evaluate(stack).write(stack)  # the output would replace the list
    with pytest.raises(ValueError, match=".bmp"):
        result.write(tmp_path / "points.bmp")
    assert not list(tmp_path.glob("points*"))


def test_a_stack_that_cannot_fit_raises_memory_error(stack):
    # A process limited to less memory than the planes take.
    script = f"""
import resource, sys
sys.path.insert(0, {str(BUILD / 'python')!r})
import numpy as np, kelvaron
planes = np.zeros((17, 8000, 8000), np.uint8)
resource.setrlimit(resource.RLIMIT_AS, (1400 << 20, resource.RLIM_INFINITY))
try:
    kelvaron.evaluate(planes)
except MemoryError as e:
    print("MemoryError:", e)
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=120)
    assert "MemoryError: There is not enough memory" in done.stdout, done.stderr


@pytest.fixture(scope="module")
def noise_planes():
    """17 x 3000 x 4000 planes of noise: every pixel a point's, 16384 points whose
    refinement takes about a second."""
    planes = np.random.default_rng(1).integers(0, 256, (17, 3000, 4000), dtype=np.uint8)
    planes[0] //= 4
    return planes


def test_other_threads_run_while_an_evaluation_works(kelvaron, noise_planes):
    counts = []
    running = threading.Event()

    def count():
        running.set()
        n = 0
        while running.is_set():
            n += 1
            if n % 1000 == 0:
                counts.append((time.monotonic(), n))

    counter = threading.Thread(target=count)
    counter.start()
    running.wait()
    start = time.monotonic()
    kelvaron.evaluate(noise_planes)
    end = time.monotonic()
    running.clear()
    counter.join()
    during = [n for t, n in counts if start < t < end]
    assert len(during) > 10, "the counting thread stood still while the evaluation worked"


def test_ctrl_c_stops_a_long_evaluation_at_once(kelvaron, stack, noise_planes):
    start = time.monotonic()
    kelvaron.evaluate(noise_planes, threads=1)
    whole = time.monotonic() - start
    assert whole > 0.6, "too short to be stopped early"
    delays = []
    fired = []

    def interrupt(signum, frame):
        fired.append(time.monotonic())
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        # Early, in the middle and late: in the folding, the points, the refinement.
        for share in (0.05, 0.3, 0.6):
            fired.clear()
            start = time.monotonic()
            signal.setitimer(signal.ITIMER_REAL, whole * share)
            with pytest.raises(KeyboardInterrupt):
                kelvaron.evaluate(noise_planes, threads=1)
            stopped = time.monotonic()
            assert fired
            delays.append(stopped - fired[0])
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    print("stopped after", delays)
    assert max(delays) < 0.5, delays
    # The module works on afterwards.
    assert len(kelvaron.evaluate(stack).points) > 0


def pose_of(stack, folder):
    """The stack as a pose of its own, for a batch: its list file copied into folder
    (a batch takes each file once), its photographs linked."""
    folder.mkdir()
    for name in stack.parent.glob("*.jpg"):
        (folder / name.name).symlink_to(name)
    (folder / stack.name).write_bytes(stack.read_bytes())
    return folder / stack.name


def test_ctrl_c_stops_a_batch_and_leaves_no_file_behind(kelvaron, stack, tmp_path):
    big = make_sample(tmp_path / "big", "--width", "3000", "--height", "2400", "--spacing",
                      "30", "--max-dots", "2000")
    poses = [pose_of(big, tmp_path / f"pose{i}") for i in range(4)]
    out = tmp_path / "out"

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.3)
        with pytest.raises(KeyboardInterrupt):
            kelvaron.batch(poses, out, poses_at_once=1, threads=1)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    left = sorted(p.name for p in out.iterdir()) if out.exists() else []
    assert not [n for n in left if not n.startswith("pose")], left  # no combined, no temporary
    rows = kelvaron.batch(poses, out, table=True)
    assert [r["status"] for r in rows].count("failed") == 0


def test_batch_returns_its_summary(kelvaron, stack, tmp_path):
    other = tmp_path / "other"
    other.mkdir()
    (other / "broken.txt").write_text("one\ntwo\nnothing.jpg\n")
    out = tmp_path / "out"
    rows = kelvaron.batch([stack, other / "broken.txt"], out, table=True)
    assert [r["status"] for r in rows] == ["ok", "failed"]
    assert rows[0]["points"] == len(kelvaron.evaluate(stack).points)
    assert "17" in rows[1]["message"]
    with open(out / "summary.csv", newline="") as summary:
        lines = list(csv.DictReader(summary))
    assert [(r["pose"], r["status"], int(r["points"])) for r in lines] == \
        [(r["pose"], r["status"], r["points"]) for r in rows]
    assert (out / "sample.csv").read_bytes() == cli_files(tmp_path, stack)[2]
    assert [r["status"] for r in kelvaron.batch([stack], out, table=True)] == ["kept"]


def test_help_and_stub_describe_every_function(kelvaron):
    stub = (BUILD / "python" / "kelvaron.pyi").read_text()
    for name in ("load", "evaluate", "suggest", "batch"):
        assert f"def {name}(" in stub
        assert "source" in getattr(kelvaron, name).__doc__ or name == "batch"
    assert "FileNotFoundError" in kelvaron.evaluate.__doc__
    assert "points" in kelvaron.Result.points.__doc__


def test_install_puts_the_module_where_python_finds_it(tmp_path):
    import sysconfig
    subprocess.run(["cmake", "--install", str(BUILD)], check=True, capture_output=True,
                   env={**os.environ, "DESTDIR": str(tmp_path)})
    site = tmp_path / pathlib.Path(sysconfig.get_path("platlib")).relative_to("/")
    assert (site / "kelvaron.pyi").is_file()
    done = subprocess.run([sys.executable, "-c", "import kelvaron; print(kelvaron.__file__)"],
                          capture_output=True, text=True, cwd=tmp_path,
                          env={**os.environ, "PYTHONPATH": str(site)})
    assert done.stdout.startswith(str(site)), done.stderr


def test_batch_progress_is_told_on_the_calling_thread(kelvaron, stack, tmp_path):
    told = []
    caller = threading.get_ident()

    def progress(done, total, pose):
        told.append((done, total, pose, threading.get_ident()))

    copies = [pose_of(stack, tmp_path / f"p{i}") for i in range(3)]
    kelvaron.batch(copies, tmp_path / "out", progress=progress)
    assert told and told[-1][:2] == (3, 3)
    assert all(t[3] == caller for t in told)
    assert [t[0] for t in told] == sorted(t[0] for t in told)

    def fails(done, total, pose):
        raise RuntimeError("enough")

    with pytest.raises(RuntimeError, match="enough"):
        kelvaron.batch(copies, tmp_path / "again", progress=fails)
    with pytest.raises(ValueError, match="progress must be callable"):
        kelvaron.batch(copies, tmp_path / "out", progress=3)
