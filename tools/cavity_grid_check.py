#!/usr/bin/python3
"""Checks the cavity volumes of a cavitas JSON file against a fine grid.

Grid method. A cavity's molecular volume is the union of the probe balls
(radius P) whose centres lie in its probe-centre region F: the points at least
E_i = R_i + P from every atom centre that the cavity encloses. F is sampled
independently of the program's surface: every free point where the probe
touches three lining atoms (F's corners, exact), points every 0.02 A along
the free arcs of the circles where it touches two (F's edges), points about
0.07 A apart on the free parts of the lining atoms' expanded spheres (F's
faces) and the free points of a 0.1 A grid (F's inside). The free samples are
linked when closer than 0.16 A and their midpoint is free as well; the cavity's part is the one holding the free
sample nearest to the cavity's reported centre. The volume is then the number
of nodes of a 0.1 A grid within P of a sample of that part, times 0.001 A^3.
Cavities of the surface without hetero atoms (groups 3 and 4) are checked
against the protein atoms only.

Usage: tools/cavity_grid_check.py [--binary CAVITAS] [--min-volume 10] [--tolerance 0.02] FILE...
FILE is a JSON file of cavitas, or with --binary a structure (.pdb) that is
analysed first (an absent one is skipped). Prints one line per cavity and
"N passed, M failed" over the cavities above the minimum volume; exits 1 when
one is off by more than the tolerance.
"""
import argparse
import json
import math
import os
import subprocess
import sys
import tempfile

import numpy as np
from scipy.sparse import coo_matrix
from scipy.sparse.csgraph import connected_components
from scipy.spatial import cKDTree

GRID = 0.1
FACE_SPACING = 0.07
ARC_SPACING = 0.02
LINK = 0.16


def fibonacci_sphere(n):
    i = np.arange(n) + 0.5
    z = 1 - 2 * i / n
    r = np.sqrt(1 - z * z)
    phi = math.pi * (1 + 5 ** 0.5) * i
    return np.stack([r * np.cos(phi), r * np.sin(phi), z], axis=1)


def free(points, tree, centres, expanded, tol=1e-7):
    """Mask of the points outside every expanded sphere (within tol). A point
    inside a sphere lies within 3.5 A of its centre, where no structure has
    more than a few atoms: the 32 nearest centres decide."""
    if len(points) == 0:
        return np.zeros(0, dtype=bool)
    k = min(32, len(centres))
    dist, idx = tree.query(points, k=k)
    dist, idx = dist.reshape(len(points), k), idx.reshape(len(points), k)
    return (dist - expanded[idx]).min(axis=1) >= -tol


def triple_points(c, e, trio):
    i, j, k = trio
    a, b, d = c[i], c[j], c[k]
    # Plane equations from subtracting the sphere equations.
    n1, n2 = 2 * (b - a), 2 * (d - a)
    r1 = (e[i] ** 2 - e[j] ** 2) + b.dot(b) - a.dot(a)
    r2 = (e[i] ** 2 - e[k] ** 2) + d.dot(d) - a.dot(a)
    u = np.cross(n1, n2)
    uu = u.dot(u)
    if uu < 1e-12:
        return []
    p0 = (np.cross(r1 * n2 - r2 * n1, u)) / uu  # a point on both planes
    # p0 + t u on sphere i.
    w = p0 - a
    A, B, C = uu, 2 * w.dot(u), w.dot(w) - e[i] ** 2
    disc = B * B - 4 * A * C
    if disc < 0:
        return []
    s = math.sqrt(disc)
    return [p0 + (-B - s) / (2 * A) * u, p0 + (-B + s) / (2 * A) * u]


def circle_points(c, e, i, j):
    a, b = c[i], c[j]
    d = np.linalg.norm(b - a)
    if d < 1e-9 or d >= e[i] + e[j] or d <= abs(e[i] - e[j]):
        return np.zeros((0, 3))
    u = (b - a) / d
    x = (d * d + e[i] ** 2 - e[j] ** 2) / (2 * d)
    r = math.sqrt(max(e[i] ** 2 - x * x, 0))
    m = a + x * u
    t = np.array([1.0, 0, 0]) if abs(u[0]) < 0.9 else np.array([0, 1.0, 0])
    e1 = np.cross(u, t)
    e1 /= np.linalg.norm(e1)
    e2 = np.cross(u, e1)
    n = max(16, int(2 * math.pi * r / ARC_SPACING))
    phi = np.linspace(0, 2 * math.pi, n, endpoint=False)
    return m + r * (np.outer(np.cos(phi), e1) + np.outer(np.sin(phi), e2))


def cavity_volume(cav, centres, expanded, tree, probe):
    number_to_index = cav["_index"]
    lining = [number_to_index[n] for n in cav["lining_atom_numbers"] if n in number_to_index]
    centre = np.array(cav["centre"])
    reach = max(np.linalg.norm(centres[lining] - centre, axis=1)) + 0.5
    samples = []
    # Corners and edges of F among the lining atoms.
    lin = np.array(lining)
    for a_pos, i in enumerate(lin):
        for j in lin[a_pos + 1:]:
            if np.linalg.norm(centres[i] - centres[j]) >= expanded[i] + expanded[j]:
                continue
            samples.append(circle_points(centres, expanded, i, j))
            for k in lin:
                if k <= j:
                    continue
                if (np.linalg.norm(centres[i] - centres[k]) < expanded[i] + expanded[k]
                        and np.linalg.norm(centres[j] - centres[k]) < expanded[j] + expanded[k]):
                    pts = triple_points(centres, expanded, (i, j, k))
                    if pts:
                        samples.append(np.array(pts))
    # Faces: points on the expanded spheres of the lining atoms near the cavity.
    for i in lin:
        n = int(4 * math.pi * expanded[i] ** 2 / FACE_SPACING ** 2)
        pts = centres[i] + expanded[i] * fibonacci_sphere(n)
        samples.append(pts[np.linalg.norm(pts - centre, axis=1) < reach])
    # Inside: a grid over the region the lining atoms enclose.
    lo, hi = centre - reach, centre + reach
    axes = [np.arange(lo[k], hi[k] + GRID, GRID) for k in range(3)]
    g = np.stack(np.meshgrid(*axes, indexing="ij"), axis=-1).reshape(-1, 3)
    samples.append(g[np.linalg.norm(g - centre, axis=1) < reach])
    pts = np.concatenate([s for s in samples if len(s)], axis=0)
    pts = pts[np.linalg.norm(pts - centre, axis=1) < reach]
    pts = pts[free(pts, tree, centres, expanded)]
    if len(pts) == 0:
        return None
    # The part of F nearest the reported centre.
    ptree = cKDTree(pts)
    pairs = ptree.query_pairs(LINK, output_type="ndarray")
    # Two samples are linked only through free space: a wall between two
    # parts of F (two expanded spheres overlapping) covers the midpoint.
    if len(pairs):
        # (A chord of a face dips 0.0011 A into its sphere at most.)
        pairs = pairs[free((pts[pairs[:, 0]] + pts[pairs[:, 1]]) / 2, tree, centres, expanded, tol=0.002)]
    graph = coo_matrix((np.ones(len(pairs)), (pairs[:, 0], pairs[:, 1])), shape=(len(pts), len(pts)))
    _, labels = connected_components(graph, directed=False)
    _, nearest = ptree.query(centre)
    part = pts[labels == labels[nearest]]
    # Union of the probe balls on a 0.1 A grid.
    lo, hi = part.min(axis=0) - probe - GRID, part.max(axis=0) + probe + GRID
    axes = [np.arange(lo[k], hi[k], GRID) for k in range(3)]
    g = np.stack(np.meshgrid(*axes, indexing="ij"), axis=-1).reshape(-1, 3)
    dist, _ = cKDTree(part).query(g, distance_upper_bound=probe)
    return np.count_nonzero(np.isfinite(dist)) * GRID ** 3, len(part)


def check_file(path, args):
    """(checked, failed, worst) over the cavities of one JSON file."""
    doc = json.load(open(path))
    probe = doc["parameters"]["probe_radius"]
    residues = doc["residues"]
    atoms = doc["atoms"]
    if not atoms:
        return 0, 0, 0.0
    xyz = np.array([a["xyz"] for a in atoms])
    expanded = np.array([a["radius"] for a in atoms]) + probe
    hetero = np.array([residues[a["residue"]]["hetero"] for a in atoms])
    numbers = [a["number"] for a in atoms]
    sets = {}
    for with_het in (True, False):
        idx = np.arange(len(atoms)) if with_het else np.flatnonzero(~hetero)
        sets[with_het] = (xyz[idx], expanded[idx], cKDTree(xyz[idx]), {numbers[k]: p for p, k in enumerate(idx)})
    worst, failed, checked = 0.0, 0, 0
    for cav in doc["cavities"]:
        with_het = cav["group"] in ("partly_filled", "empty")
        centres, exp_r, tree, index = sets[with_het]
        cav["_index"] = index
        result = cavity_volume(cav, centres, exp_r, tree, probe)
        big = cav["volume"] > args.min_volume
        checked += big
        if result is None:
            print(f"cavity {cav['number']:4d} {cav['group']:27s} volume {cav['volume']:9.3f}  grid: no free point")
            failed += big
            continue
        grid, samples = result
        rel = (grid - cav["volume"]) / cav["volume"]
        mark = ""
        if big:
            worst = max(worst, abs(rel))
            if abs(rel) > args.tolerance:
                failed += 1
                mark = "  <-- off"
        print(f"cavity {cav['number']:4d} {cav['group']:27s} volume {cav['volume']:9.3f}  grid {grid:9.3f}  "
              f"{100 * rel:+6.2f} %  ({samples} samples of F){mark}")
    return checked, failed, worst


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("files", nargs="+")
    ap.add_argument("--binary")
    ap.add_argument("--min-volume", type=float, default=10.0)
    ap.add_argument("--tolerance", type=float, default=0.02)
    args = ap.parse_args()
    checked = failed = 0
    worst = 0.0
    with tempfile.TemporaryDirectory() as work:
        for path in args.files:
            if path.endswith(".pdb"):
                if not os.path.exists(path):
                    print(f"note: {path} is absent; skipped")
                    continue
                js = os.path.join(work, "r.json")
                subprocess.run([os.path.abspath(args.binary), "i:" + os.path.abspath(path), "o:r.res", "l:r.log",
                                "j:r.json"], cwd=work, check=True, stdout=subprocess.DEVNULL)
                print(f"{os.path.basename(path)}:")
                path = js
            c, f, w = check_file(path, args)
            checked, failed, worst = checked + c, failed + f, max(worst, w)
    print(f"{checked} cavities above {args.min_volume} A^3 checked, largest difference {100 * worst:.2f} %")
    print(f"{checked - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
