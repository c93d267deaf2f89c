#!/usr/bin/python3
"""Contact-patch areas of the surface against freesasa's Lee-Richards SASA.

For every atom the summed contact-patch Area divided by R^2 is the free solid
angle of its expanded sphere (measured with 1280 sphere samples); freesasa's
SASA divided by (R + 1.4)^2 is the same solid angle, computed independently.
The atoms, centres and radii come from the dump, so both use the same radii.

    tools/freesasa_compare.py build/<dir>/tests/surface/surface_dump file.pdb [het|nohet]

Per atom the difference must stay within the sample resolution (a few samples
of solid angle 4pi/1280 each); the totals within 1 %.
"""
import math
import subprocess
import sys

import freesasa

PROBE = 1.4
SAMPLE = 4 * math.pi / 1280  # solid angle of one sphere sample


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    dump, pdb = sys.argv[1], sys.argv[2]
    mode = sys.argv[3] if len(sys.argv) > 3 else "het"
    out = subprocess.run([dump, pdb, mode], check=True, capture_output=True, text=True).stdout
    atoms = []
    for line in out.splitlines():
        if line.startswith("#"):
            continue
        n, x, y, z, r, free = line.split()
        atoms.append((int(n), float(x), float(y), float(z), float(r), float(free)))
    coords, radii = [], []
    for _, x, y, z, r, _ in atoms:
        coords += [x, y, z]
        radii.append(r)
    params = freesasa.Parameters({"algorithm": freesasa.LeeRichards, "probe-radius": PROBE,
                                  "n-slices": 100})
    result = freesasa.calcCoord(coords, radii, params)
    worst, over, ours_total, ref_total = 0.0, 0, 0.0, 0.0
    for k, (n, _, _, _, r, free) in enumerate(atoms):
        ref = result.atomArea(k) / (r + PROBE) ** 2
        diff = abs(free - ref)
        ours_total += free * (r + PROBE) ** 2
        ref_total += result.atomArea(k)
        if diff > worst:
            worst = diff
        if diff > 4 * SAMPLE:
            over += 1
            if over <= 10:
                print(f"atom {n}: ours {free:.4f} freesasa {ref:.4f} (solid angle)")
    rel = abs(ours_total - ref_total) / ref_total if ref_total else 0.0
    print(f"{len(atoms)} atoms; largest per-atom difference {worst:.4f} sr "
          f"({worst / SAMPLE:.1f} samples); {over} atoms beyond 4 samples")
    print(f"total SASA: ours {ours_total:.1f}  freesasa {ref_total:.1f}  relative {100 * rel:.2f} %")
    return 0 if rel < 0.01 else 1


if __name__ == "__main__":
    sys.exit(main())
