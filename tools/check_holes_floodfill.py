#!/usr/bin/python3
"""Holes of the result file against a flood fill of probe-centre space.

The probe centre may sit wherever it keeps at least R + 1.4 Å from every atom
centre (the same atoms and radii as the surface with hetero atoms, inner
waters included, printed by atom_radii_dump). On a grid of spacing H (0.2 Å by
default) the free points are labelled into connected parts (6-neighbourhood);
the part touching the border of the box is the outside, every other part is a
closed cavity. A cavity is lined by the atoms whose expanded sphere comes
within H of one of its points.

Each cavity must be one hole of the surface with hetero atoms (holes
1..g1+g2 of the result file), lined by the same atoms: the atoms of its HOLE
NUMBER line (atoms with a contact patch in the hole) all line the cavity, and
no other hole's atoms do (at least half of them must, since the grid can miss
an atom touched only in a sliver of the cavity; both counts are given). A
cavity of at most 8 grid points that shares half the atoms of a hole is a
fragment of it (the grid cut a thin cavity apart); holes without any cavity
are too small for the grid. A cavity that no hole matches is looked at again
on grids 2 and 4 times finer in a box around it: if it opens there, a channel
narrower than the grid closed it. All of these are counted separately.

usage: check_holes_floodfill.py [--grid H] CAVITAS_BINARY ATOM_RADII_DUMP PDB_FILE...
"""
import os
import re
import subprocess
import sys
import tempfile

import numpy as np
from scipy import ndimage
from scipy.spatial import cKDTree

PROBE = 1.4


def read_result(path):
    counters, holes = None, {}
    with open(path, "rb") as f:
        for raw in f:
            line = raw.decode("latin-1").rstrip("\n")
            if line.startswith("NRHOLE"):
                counters = [int(x) for x in re.findall(r"(-?\d+) \(", line)]
            elif line.startswith("HOLE NUMBER "):
                fields = [int(x) for x in line[12:].split()]
                holes[fields[0]] = set(fields[1:])
    return counters, holes


def read_atoms(dump, pdb):
    out = subprocess.run([dump, pdb], capture_output=True, text=True, check=True).stdout
    rows = [line.split() for line in out.splitlines()]
    numbers = np.array([int(r[0]) for r in rows])
    radii = np.array([float(r[1]) for r in rows])
    xyz = np.array([[float(v) for v in r[2:5]] for r in rows])
    return numbers, radii, xyz


NEIGHBOURS = np.ones((3, 3, 3), dtype=bool)  # 26-neighbourhood: free space is continuous


def blocked_grid(reach, xyz, lo, shape, h):
    """Grid points (lo + h * index) where a probe centre would overlap an atom."""
    blocked = np.zeros(shape, dtype=bool)
    for c, r in zip(xyz, reach):
        i0 = np.maximum(np.floor((c - r - lo) / h).astype(int), 0)
        i1 = np.minimum(np.ceil((c + r - lo) / h).astype(int) + 1, shape)
        if np.any(i1 <= i0):
            continue
        gx = lo[0] + h * np.arange(i0[0], i1[0]) - c[0]
        gy = lo[1] + h * np.arange(i0[1], i1[1]) - c[1]
        gz = lo[2] + h * np.arange(i0[2], i1[2]) - c[2]
        d2 = gx[:, None, None] ** 2 + gy[None, :, None] ** 2 + gz[None, None, :] ** 2
        blocked[i0[0]:i1[0], i0[1]:i1[1], i0[2]:i1[2]] |= d2 < r * r
    return blocked


def border_labels(labels):
    return set(np.unique(np.concatenate([labels[0].ravel(), labels[-1].ravel(), labels[:, 0].ravel(),
                                         labels[:, -1].ravel(), labels[:, :, 0].ravel(),
                                         labels[:, :, -1].ravel()])))


def opens_on_finer_grid(points, radii, xyz, h):
    """Whether a cavity reaches out of a box 3 Å around it on a grid 2 or 4 times finer:
    then it was closed only by a channel narrower than the grid."""
    reach = radii + PROBE
    seed = points[len(points) // 2]  # a free point; the finer grids pass through it
    for hf in (h / 2, h / 4):
        below = np.ceil((seed - points.min(axis=0) + 3.0) / hf)
        above = np.ceil((points.max(axis=0) + 3.0 - seed) / hf)
        lo = seed - hf * below
        shape = tuple(int(below[d] + above[d]) + 1 for d in range(3))
        near = np.all((xyz > lo - reach.max()) & (xyz < lo + hf * np.array(shape) + reach.max()), axis=1)
        labels, _ = ndimage.label(~blocked_grid(reach[near], xyz[near], lo, shape, hf), structure=NEIGHBOURS)
        k = labels[tuple(below.astype(int))]
        if k and k in border_labels(labels):
            return hf
    return None


def cavities(radii, xyz, h):
    reach = radii + PROBE
    lo = xyz.min(axis=0) - reach.max() - 3 * h
    hi = xyz.max(axis=0) + reach.max() + 3 * h
    shape = tuple(int(np.ceil((hi[d] - lo[d]) / h)) + 1 for d in range(3))
    blocked = blocked_grid(reach, xyz, lo, shape, h)
    labels, count = ndimage.label(~blocked, structure=NEIGHBOURS)
    del blocked
    border = border_labels(labels)
    inner = [k for k in range(1, count + 1) if k not in border]
    result = []
    if not inner:
        return result
    objects = ndimage.find_objects(labels)
    for k in inner:
        sl = objects[k - 1]
        idx = np.argwhere(labels[sl] == k) + np.array([s.start for s in sl])
        result.append(lo + h * idx)
    return result


def lining_atoms(points, numbers, radii, xyz, tree, h):
    reach = radii + PROBE
    found = set()
    for p, cands in zip(points, tree.query_ball_point(points, reach.max() + h)):
        for i in cands:
            if np.linalg.norm(xyz[i] - p) <= reach[i] + h:
                found.add(int(numbers[i]))
    return found


def check(binary, dump, pdb, h, tmp):
    name = os.path.basename(pdb)
    out = os.path.join(tmp, name + ".out")
    subprocess.run([binary, "i:" + pdb, "o:" + out, "l:" + os.path.join(tmp, name + ".log")])
    if not os.path.exists(out):
        return "%-14s no result file" % name, True
    counters, holes = read_result(out)
    with_het = {k: holes[k] for k in range(1, counters[0] + counters[1] + 1)}
    numbers, radii, xyz = read_atoms(dump, pdb)
    tree = cKDTree(xyz)
    found = cavities(radii, xyz, h)
    matched, fragments, narrow, problems = {}, {}, 0, []
    for points in found:
        lining = lining_atoms(points, numbers, radii, xyz, tree, h)
        volume = len(points) * h ** 3
        # The hole sharing the largest part of its atoms with the cavity's lining
        # (the grid may miss an atom touched only in a sliver of the cavity).
        share = {k: len(atoms & lining) / len(atoms) for k, atoms in with_het.items() if atoms}
        best = max(share, key=share.get) if share else None
        if best is not None and share[best] >= 0.5:
            (fragments if len(points) <= 8 else matched).setdefault(best, []).append((volume, share[best]))
            continue
        finer = opens_on_finer_grid(points, radii, xyz, h)
        if finer:
            narrow += 1
            continue
        problems.append("cavity of %.3f Å³ (%d points) lined by atoms %s matches no hole" % (
            volume, len(points), sorted(lining)))
    for k, found_k in matched.items():
        if len(found_k) > 1:
            problems.append("hole %d matches %d cavities" % (k, len(found_k)))
    exact = sum(1 for v in matched.values() if len(v) == 1 and v[0][1] == 1.0)
    close = sum(1 for v in matched.values() if len(v) == 1 and v[0][1] < 1.0)
    split = sum(1 for k in fragments if k not in matched)
    small = len(with_het) - len(set(matched) | set(fragments))
    text = ("%-14s grid %.2f: %d cavities, %d holes with hetero atoms: %d matched (all hole atoms line it), "
            "%d matched (most), %d cut into fragments by the grid, %d too small for the grid; "
            "%d cavities closed only at grid resolution%s") % (
        name, h, len(found), len(with_het), exact, close, split, small, narrow,
        "".join("\n    " + p for p in problems))
    return text, bool(problems)


def main():
    args = sys.argv[1:]
    h = 0.2
    if args[:1] == ["--grid"]:
        h = float(args[1])
        args = args[2:]
    if len(args) < 3:
        print(__doc__)
        return 2
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for pdb in args[2:]:
            text, bad = check(args[0], args[1], pdb, h, tmp)
            failed += bad
            print(text, flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
