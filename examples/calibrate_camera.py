#!/usr/bin/env python3
"""Calibrates a camera from synthetic photographs of a planar dot target.

kelvaron-make-sample renders the target as a pinhole camera with radial distortion
(k1, k2) sees it from eight poses (tilts up to about 30 degrees, the target filling
much of the picture, dots 3 to 7 pixels across). Each pose is evaluated with
kelvaron.evaluate; every point's dot number gives its place on the target, and
cv2.calibrateCamera estimates fx, fy, cx, cy, k1 and k2 (tangential distortion and
k3 held at 0, as the renderer has none) twice: from the plain centres (x, y) and
from the refined ones (refined_x, refined_y). The figures are printed beside the
true intrinsics.

Points with flags (border, neighbour, unrefined) are left out of the fits, so that
both kinds of centre are fitted on the same dots; --keep-flagged uses them all. The
plain centres are fitted once more without the points that have stray pixels
(noise that decodes to the dot's code elsewhere drags the plain mean away, by many
pixels at high noise; the refined centre leaves those pixels out).

    /usr/bin/python3 examples/calibrate_camera.py            # noise 2, about 30 s
    /usr/bin/python3 examples/calibrate_camera.py --noise 8 --check

With --check the exit status is 1 unless the refined fit's reprojection RMS and its
focal length errors are within the bars (--max-rms, --max-focal-error).

The generator is build/bin/kelvaron-make-sample below the repository (or
$KELVARON_MAKE_SAMPLE, or --make-sample); the module is imported as installed, or
from build/python.
"""

import argparse
import csv
import json
import math
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import cv2
import numpy as np

REPO = Path(__file__).resolve().parent.parent

# The true camera at 1280 x 960; other sizes scale it.
BASE_WIDTH = 1280
TRUE_CAMERA = {"fx": 1150.0, "fy": 1146.0, "cx": 643.7, "cy": 476.2, "k1": -0.16, "k2": 0.04}

# The target: 72 x 54 dots, 6 mm apart, 1.1 mm in radius.
TARGET = {"pitch": 6.0, "dot_radius": 1.1, "columns": 72, "rows": 54}

# Poses: tilt about x and y and roll about z in degrees, then the target's centre
# in the camera's frame in mm.
POSES = [
    (0, 0, 5, 0, 0, 560),
    (25, 0, 0, 0, 20, 500),
    (-25, 0, -5, 0, -20, 500),
    (0, 28, 3, 25, 0, 490),
    (0, -28, -3, -25, 0, 490),
    (20, 20, 10, 30, 20, 520),
    (-20, 22, -8, 20, -25, 480),
    (18, -24, 15, -30, 15, 470),
]


def import_kelvaron():
    """The kelvaron module as installed, or else from the build tree."""
    try:
        import kelvaron
    except ImportError:
        sys.path.insert(0, str(REPO / "build" / "python"))
        import kelvaron
    return kelvaron


def rotation_vector(tilt_x, tilt_y, roll):
    """The rotation vector of Rz(roll) Ry(tilt_y) Rx(tilt_x), angles in degrees."""
    ax, ay, az = (math.radians(a) for a in (tilt_x, tilt_y, roll))
    rx = np.array([[1, 0, 0], [0, math.cos(ax), -math.sin(ax)], [0, math.sin(ax), math.cos(ax)]])
    ry = np.array([[math.cos(ay), 0, math.sin(ay)], [0, 1, 0], [-math.sin(ay), 0, math.cos(ay)]])
    rz = np.array([[math.cos(az), -math.sin(az), 0], [math.sin(az), math.cos(az), 0], [0, 0, 1]])
    vector, _ = cv2.Rodrigues(rz @ ry @ rx)
    return vector.ravel()


def true_camera(width):
    scale = width / BASE_WIDTH
    camera = dict(TRUE_CAMERA)
    for key in ("fx", "fy", "cx", "cy"):
        camera[key] *= scale
    return camera


def make_pose(make_sample, folder, index, args, camera):
    """Renders one pose; returns its list file and the target places by dot number."""
    tilt_x, tilt_y, roll, tx, ty, tz = POSES[index]
    rotation = rotation_vector(tilt_x, tilt_y, roll)
    name = f"pose{index}"
    command = [
        str(make_sample), "--out", str(folder), "--name", name, "--format", "png", "--grey",
        "--width", str(args.width), "--height", str(args.height),
        "--noise", str(args.noise), "--seed", str(args.seed + index),
        "--threads", str(args.threads),
        "--camera", ",".join(repr(camera[k]) for k in ("fx", "fy", "cx", "cy", "k1", "k2")),
        "--pose", ",".join(repr(float(v)) for v in (*rotation, tx, ty, tz)),
        "--target-pitch", repr(TARGET["pitch"]),
        "--target-dot-radius", repr(TARGET["dot_radius"]),
        "--target-columns", str(TARGET["columns"]), "--target-rows", str(TARGET["rows"]),
    ]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    places = {}
    with open(folder / f"{name}_target.csv", newline="") as f:
        for row in csv.DictReader(f):
            places[int(row["dot"])] = (float(row["target_x"]), float(row["target_y"]))
    with open(folder / f"{name}_camera.json") as f:
        written = json.load(f)
    for key in ("fx", "fy", "cx", "cy", "k1", "k2"):
        assert written[key] == camera[key], (key, written[key], camera[key])
    return folder / f"{name}.txt", places


def calibrate(views, size, columns):
    """cv2.calibrateCamera over the views' points, each point's centre taken from
    columns (x, y) of its record; returns the RMS, the camera matrix and k1, k2."""
    objects, images = [], []
    for points, places in views:
        objects.append(np.array([(*places[d], 0.0) for d in points["dot"]], np.float32))
        images.append(np.stack([points[columns[0]], points[columns[1]]], axis=1).astype(np.float32))
    flags = cv2.CALIB_ZERO_TANGENT_DIST | cv2.CALIB_FIX_K3
    criteria = (cv2.TERM_CRITERIA_COUNT + cv2.TERM_CRITERIA_EPS, 200, 1e-12)
    rms, matrix, distortion, _, _ = cv2.calibrateCamera(
        objects, images, size, None, None, flags=flags, criteria=criteria)
    return rms, matrix, distortion.ravel()


def figures(rms, matrix, distortion, truth):
    return {
        "rms": rms,
        "fx": 100 * (matrix[0, 0] - truth["fx"]) / truth["fx"],
        "fy": 100 * (matrix[1, 1] - truth["fy"]) / truth["fy"],
        "cx": matrix[0, 2] - truth["cx"],
        "cy": matrix[1, 2] - truth["cy"],
        "k1": distortion[0] - truth["k1"],
        "k2": distortion[1] - truth["k2"],
    }


def centre_error(views, truth_files, columns):
    """RMS distance of the used centres from the true image centres, in pixels."""
    squares, count = 0.0, 0
    for (points, _), truth_file in zip(views, truth_files):
        true = {}
        with open(truth_file, newline="") as f:
            for row in csv.DictReader(f):
                true[int(row["dot"])] = (float(row["x"]), float(row["y"]))
        for p in points:
            tx, ty = true[int(p["dot"])]
            squares += (p[columns[0]] - tx) ** 2 + (p[columns[1]] - ty) ** 2
            count += 1
    return math.sqrt(squares / max(count, 1))


def run(args):
    kelvaron = import_kelvaron()
    make_sample = Path(args.make_sample or os.environ.get("KELVARON_MAKE_SAMPLE")
                       or REPO / "build" / "bin" / "kelvaron-make-sample")
    if not make_sample.is_file():
        sys.exit(f"calibrate_camera: no generator at {make_sample}; build it or give --make-sample")
    camera = true_camera(args.width)
    started = time.monotonic()
    views, truth_files = [], []
    found = used = unknown = 0
    with tempfile.TemporaryDirectory(prefix="kelvaron-calibrate-") as tmp:
        for index in range(args.poses):
            list_file, places = make_pose(make_sample, Path(tmp), index, args, camera)
            points = kelvaron.evaluate(list_file, threads=args.threads).points
            found += len(points)
            known = np.isin(points["dot"], list(places))
            unknown += int(np.count_nonzero(~known))
            keep = known if args.keep_flagged else known & (points["flags"] == "")
            points = points[keep]
            used += len(points)
            views.append((points, places))
            truth_files.append(Path(tmp) / f"pose{index}_truth.csv")
        size = (args.width, args.height)
        # Stray pixels (noise that decodes to a dot's code away from it) drag a plain
        # centre off; the plain centres are also fitted without such points.
        clean = [(points[points["stray_pixels"] == 0], places) for points, places in views]
        results = {}
        for label, chosen, columns in (("plain", views, ("x", "y")),
                                       ("no stray", clean, ("x", "y")),
                                       ("refined", views, ("refined_x", "refined_y"))):
            rms, matrix, distortion = calibrate(chosen, size, columns)
            results[label] = figures(rms, matrix, distortion, camera)
            results[label]["truth"] = centre_error(chosen, truth_files, columns)
            results[label]["points"] = sum(len(points) for points, _ in chosen)
    seconds = time.monotonic() - started

    print(f"{args.poses} poses of {args.width} x {args.height}, noise {args.noise:g}: "
          f"{found} points, {used} used ({found - used} left out: "
          f"{unknown} of no target dot, the rest flagged)")
    print("true camera: " + ", ".join(f"{k} {v:g}" for k, v in camera.items()))
    print(f"{'centres':9} {'points':>6} {'RMS px':>8} {'vs truth':>9} {'fx err %':>9} "
          f"{'fy err %':>9} {'cx err px':>10} {'cy err px':>10} {'k1 err':>9} {'k2 err':>9}")
    for label, r in results.items():
        print(f"{label:9} {r['points']:6} {r['rms']:8.4f} {r['truth']:9.4f} {r['fx']:9.5f} "
              f"{r['fy']:9.5f} {r['cx']:10.4f} {r['cy']:10.4f} {r['k1']:9.5f} {r['k2']:9.5f}")
    print("(plain: the mean of a point's pixels; no stray: the same without points that "
          "have stray pixels; RMS: reprojection; vs truth: distance from the true centres)")
    print(f"{seconds:.1f} s")

    if not args.check:
        return 0
    max_rms = args.max_rms if args.max_rms is not None else (0.015 if args.noise <= 2 else 0.04)
    refined = results["refined"]
    failures = []
    if not refined["rms"] <= max_rms:
        failures.append(f"refined RMS {refined['rms']:.4f} px above {max_rms:g} px")
    for axis in ("fx", "fy"):
        if not abs(refined[axis]) <= args.max_focal_error:
            failures.append(f"refined {axis} off by {refined[axis]:.5f} %, "
                            f"more than {args.max_focal_error:g} %")
    if failures:
        print("check failed: " + "; ".join(failures))
        return 1
    print(f"check passed: refined RMS at most {max_rms:g} px, fx and fy within "
          f"{args.max_focal_error:g} %")
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--noise", type=float, default=2.0, help="sensor noise sigma, grey levels")
    parser.add_argument("--poses", type=int, default=len(POSES), choices=range(3, len(POSES) + 1),
                        metavar=f"3..{len(POSES)}", help="poses to use")
    parser.add_argument("--width", type=int, default=1280, help="picture width; the camera scales")
    parser.add_argument("--height", type=int, default=960, help="picture height")
    parser.add_argument("--seed", type=int, default=1, help="seed of the first pose's noise")
    parser.add_argument("--threads", type=int, default=0, help="threads; 0: one per core")
    parser.add_argument("--make-sample", help="the kelvaron-make-sample program")
    parser.add_argument("--keep-flagged", action="store_true",
                        help="calibrate with flagged points too")
    parser.add_argument("--check", action="store_true",
                        help="exit with 1 unless the refined fit is within the bars")
    parser.add_argument("--max-rms", type=float,
                        help="refined reprojection RMS bar, px (0.015 for noise up to 2, else 0.04)")
    parser.add_argument("--max-focal-error", type=float, default=0.005,
                        help="bar on the refined fx and fy errors, percent")
    args = parser.parse_args(argv)
    if args.width * 3 != args.height * 4:
        parser.error("--width and --height must keep the 4:3 shape of the poses")
    return run(args)


if __name__ == "__main__":
    sys.exit(main())
