#!/usr/bin/python3
"""Cross-check of the per-atom volumes against an independent fine grid.

For every structure the test-only executable `volume_dump` prints each atom's
centre, radius, Volume and ContactVolume. This script samples space on a
regular grid of spacing H (randomly shifted), gives each grid point to the atom
whose sphere surface is nearest (signed distance |p - c| - r), and counts:

  union of van der Waals spheres   = points with nearest distance < 0
  union of expanded spheres        = points with nearest distance < probe
  per atom: inside part (d < 0) and shell part (0 <= d < probe) of its cell.

The grid count of a smooth body with a random shift is unbiased; its error is
estimated from two independent shifts and printed.

Usage: tools/volume_check.py BUILD_DIR/tests/cavity/volume_dump [corpus dir] [H]
"""
import os
import subprocess
import sys

import numpy as np

PROBE = 1.4


def run_dump(dump, pdb, exactness):
    out = subprocess.run([dump, pdb, str(exactness)], check=True, capture_output=True, text=True).stdout
    lines = [l for l in out.splitlines() if l and not l.startswith("#")]
    head = [l for l in out.splitlines() if l.startswith("#")][0]
    if not lines:
        return head, np.zeros((0, 7))
    return head, np.array([[float(x) for x in l.split()] for l in lines])


def grid_assignment(xyz, rad, h, rng):
    """Nearest-surface assignment on a grid of spacing h; returns per-atom counts and unions."""
    n = len(xyz)
    lo = xyz.min(axis=0) - rad.max() - PROBE - 2 * h + rng.uniform(0, h, 3)
    hi = xyz.max(axis=0) + rad.max() + PROBE + 2 * h
    shape = np.ceil((hi - lo) / h).astype(int)
    inside = np.zeros(n)
    shell = np.zeros(n)
    union_in = 0
    union_out = 0
    slab = 24  # grid planes along x per pass, to bound memory
    reach = rad + PROBE
    order = np.argsort(xyz[:, 0])
    xs_sorted = xyz[order, 0]
    gy = lo[1] + h * np.arange(shape[1])
    gz = lo[2] + h * np.arange(shape[2])
    for x0 in range(0, shape[0], slab):
        nx = min(slab, shape[0] - x0)
        gx = lo[0] + h * (x0 + np.arange(nx))
        best = np.full((nx, shape[1], shape[2]), np.inf)
        owner = np.full((nx, shape[1], shape[2]), -1, dtype=np.int64)
        a0 = np.searchsorted(xs_sorted, gx[0] - reach.max())
        a1 = np.searchsorted(xs_sorted, gx[-1] + reach.max())
        for a in order[a0:a1]:
            c, r = xyz[a], rad[a]
            R = r + PROBE
            ix = np.nonzero(np.abs(gx - c[0]) < R)[0]
            iy = np.nonzero(np.abs(gy - c[1]) < R)[0]
            iz = np.nonzero(np.abs(gz - c[2]) < R)[0]
            if len(ix) == 0 or len(iy) == 0 or len(iz) == 0:
                continue
            sx, sy, sz = slice(ix[0], ix[-1] + 1), slice(iy[0], iy[-1] + 1), slice(iz[0], iz[-1] + 1)
            d = np.sqrt((gx[sx, None, None] - c[0]) ** 2 + (gy[None, sy, None] - c[1]) ** 2
                        + (gz[None, None, sz] - c[2]) ** 2) - r
            b = best[sx, sy, sz]
            closer = d < b
            b[closer] = d[closer]
            owner[sx, sy, sz][closer] = a
        m_in = best < 0
        m_sh = (best >= 0) & (best < PROBE)
        union_in += int(m_in.sum())
        union_out += int((best < PROBE).sum())
        inside += np.bincount(owner[m_in], minlength=n)
        shell += np.bincount(owner[m_sh], minlength=n)
    v = h ** 3
    return inside * v, shell * v, union_in * v, union_out * v


def main():
    dump = sys.argv[1]
    corpus = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "..", "..", "shared", "corpus")
    h = float(sys.argv[3]) if len(sys.argv) > 3 else 0.2
    rng = np.random.default_rng(12345)
    names = sorted(f for f in os.listdir(corpus) if f.endswith(".pdb"))
    only = os.environ.get("ONLY")
    if only:
        names = [n for n in names if n in only.split(",")]
    print(f"grid spacing {h} A, two random shifts; errors in % of the grid value")
    print(f"{'file':14} {'atoms':>6} {'ex':>5} {'sumV':>10} {'unionVdW':>10} {'err%':>7} {'sumV+C':>10} "
          f"{'unionExp':>10} {'err%':>7} {'grid±%':>7} {'corrV':>7} {'corrC':>7} {'medV%':>6} {'medC%':>6} {'cpu s':>6}")
    for name in names:
        path = os.path.join(corpus, name)
        base_head, base = run_dump(dump, path, 0.2)
        if len(base) == 0:
            print(f"{name:14} no atoms")
            continue
        xyz, rad = base[:, 1:4], base[:, 4]
        g1 = grid_assignment(xyz, rad, h, rng)
        g2 = grid_assignment(xyz, rad, h, rng)
        ins = (g1[0] + g2[0]) / 2
        shl = (g1[1] + g2[1]) / 2
        u_in = (g1[2] + g2[2]) / 2
        u_out = (g1[3] + g2[3]) / 2
        grid_err = 100 * max(abs(g1[2] - g2[2]) / u_in, abs(g1[3] - g2[3]) / u_out)
        for ex in (0.2, 0.05):
            head, res = (base_head, base) if ex == 0.2 else run_dump(dump, path, ex)
            vol, con = res[:, 5], res[:, 6]
            sv, sc = vol.sum(), (vol + con).sum()
            cv = np.corrcoef(vol, ins)[0, 1]
            cc = np.corrcoef(con, shl)[0, 1]
            medv = 100 * np.median(np.abs(vol - ins)[ins > 0] / ins[ins > 0])
            medc = 100 * np.median(np.abs(con - shl)[shl > 0] / shl[shl > 0])
            cpu = head.split("cpu")[-1].strip() if "cpu" in head else "-"
            print(f"{name:14} {len(res):6d} {ex:5.2f} {sv:10.1f} {u_in:10.1f} {100 * (sv - u_in) / u_in:7.3f} "
                  f"{sc:10.1f} {u_out:10.1f} {100 * (sc - u_out) / u_out:7.3f} {grid_err:7.3f} {cv:7.4f} {cc:7.4f} "
                  f"{medv:6.2f} {medc:6.2f} {cpu:>6}", flush=True)


if __name__ == "__main__":
    main()
