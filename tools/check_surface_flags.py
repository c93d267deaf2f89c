#!/usr/bin/python3
"""Surface flags of the result file against an independent accessible area.

For each structure: run cavitas, read the atoms with their radii (the same
atom set as the surface with hetero atoms, inner waters included, printed by
atom_radii_dump), compute the solvent-accessible area of every atom with
freesasa (Lee-Richards, probe 1.4 Å, fine slices) and check
  1. every atom with surface flag "0" has a positive accessible area; an
     area found only with a hundred times finer slices, or below 0.05 Å², is
     reported as "thin", not failed;
  2. every atom with an accessible area above 0.5 Å² has flag "0" or is
     listed in a HOLE NUMBER line (it lines a cavity).

usage: check_surface_flags.py CAVITAS_BINARY ATOM_RADII_DUMP PDB_FILE...
"""
import os
import subprocess
import sys
import tempfile

import freesasa

SLICES = 200  # slices per atom: about 0.015 Å for a 1.7 Å atom with the probe
THIN = 0.05   # Å², areas below this are within the resolution of the slices


def read_result(path):
    flags, holes = {}, set()
    with open(path, "rb") as f:
        for raw in f:
            line = raw.decode("latin-1").rstrip("\n")
            if line.startswith("HOLE NUMBER "):
                holes.update(int(x) for x in line[12:].split()[1:])
            elif line.startswith("HETATM"):
                flags[int(line[6:11])] = line[-1]
            elif line.startswith("ATOM"):
                flags[int(line[4:11])] = line[-1]
    return flags, holes


def read_atoms(dump, pdb):
    out = subprocess.run([dump, pdb], capture_output=True, text=True, check=True).stdout
    atoms = []
    for line in out.splitlines():
        n, r, x, y, z = line.split()
        atoms.append((int(n), float(r), float(x), float(y), float(z)))
    return atoms


def check(binary, dump, pdb, tmp):
    name = os.path.basename(pdb)
    out = os.path.join(tmp, name + ".out")
    subprocess.run([binary, "i:" + pdb, "o:" + out, "l:" + os.path.join(tmp, name + ".log")])
    if not os.path.exists(out):
        return "%-14s no result file" % name, True
    flags, holes = read_result(out)
    atoms = read_atoms(dump, pdb)
    coords = [c for a in atoms for c in a[2:]]
    radii = [a[1] for a in atoms]
    params = freesasa.Parameters({"algorithm": freesasa.LeeRichards, "probe-radius": 1.4, "n-slices": SLICES})
    result = freesasa.calcCoord(coords, radii, params)
    area = {a[0]: result.atomArea(i) for i, a in enumerate(atoms)}

    exposed_not_positive, thin, buried_but_accessible = [], [], []
    for n, flag in flags.items():
        s = area.get(n)
        if s is None:
            continue
        if flag == "0" and s <= 0:
            exposed_not_positive.append(n)
        elif flag == "0" and s < THIN:
            thin.append(n)
        if s > 0.5 and flag != "0" and n not in holes:
            buried_but_accessible.append((n, round(s, 2)))
    if exposed_not_positive:
        # A patch narrower than a slice: look again with slices a hundred times finer.
        fine = freesasa.calcCoord(coords, radii, freesasa.Parameters(
            {"algorithm": freesasa.LeeRichards, "probe-radius": 1.4, "n-slices": 100 * SLICES}))
        index = {a[0]: i for i, a in enumerate(atoms)}
        thin += [n for n in exposed_not_positive if fine.atomArea(index[n]) > 0]
        exposed_not_positive = [n for n in exposed_not_positive if fine.atomArea(index[n]) <= 0]
    failed = bool(exposed_not_positive or buried_but_accessible)
    text = "%-14s %5d atoms, %5d flag 0: flag 0 without area %d %s; thin %d; area > 0.5 but flag 1 and in no hole %d %s" % (
        name, len(flags), sum(f == "0" for f in flags.values()), len(exposed_not_positive),
        exposed_not_positive[:8], len(thin), len(buried_but_accessible), buried_but_accessible[:8])
    return text, failed


def main():
    if len(sys.argv) < 4:
        print(__doc__)
        return 2
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for pdb in sys.argv[3:]:
            text, bad = check(sys.argv[1], sys.argv[2], pdb, tmp)
            failed += bad
            print(text, flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
