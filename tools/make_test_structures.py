#!/usr/bin/python3
"""Test structures made from a real PDB file, as users meet them.

  hydrogens IN OUT       adds hydrogen records in every common naming (element
                         column or not, four-character names from column 13,
                         force-field names, alternate locations, deuterium,
                         hydrogens on hetero groups); the heavy-atom lines stay
                         byte for byte, so stripping them again gives IN back
  strip IN OUT           removes every hydrogen record (element H or D, or the
                         names `hydrogens` writes)
  lattice IN OUT         adds a block of hetero atoms on a regular lattice
                         beside the protein: --kind cubic|hex, --spacing Å,
                         --count per edge, --resname (DUM for membrane markers)
  duplicate IN OUT       appends a copy of every ATOM record as chain Z,
                         shifted by --shift Å along x (0 gives coincident atoms)
  charmm IN OUT          rewrites IN as a simulation program writes it: blank
                         chain with segment identifiers, HSD/HSE, HN and HT1..HT3,
                         OT1/OT2, ILE CD, TIP3 waters as ATOM records

Plain Python, no other package. Coordinates of added atoms are derived from
the file's own atoms, so every output is reproducible.
"""
import argparse
import math
import sys


def is_atom(line):
    return line.startswith("ATOM  ") or line.startswith("HETATM")


def coords(line):
    return float(line[30:38]), float(line[38:46]), float(line[46:54])


def atom_line(record, serial, name, alt, resname, chain, resnum, x, y, z, occ=1.0, b=0.0, segment="", element=""):
    # name: the 4 columns 13-16 as they are to be written
    # resname fills columns 18-21 (four characters as simulation programs write them)
    return "%-6s%5d %-4s%1s%-4s%1s%4s    %8.3f%8.3f%8.3f%6.2f%6.2f      %-4s%2s\n" % (
        record, serial % 100000, name, alt, resname, chain, resnum, x, y, z, occ, b, segment, element)


def hydrogen_element(line):
    return line[76:78].strip().upper() in ("H", "D") if len(line) >= 78 else False


# The names `hydrogens` writes, by how they are spelt.
ADDED_NAMES = ["HG21", "HD13", "1HB ", " HB2", " H  ", "HE21", " HN ", " HT1", "HT2 ", " H1 ", " D  ", "2HD1"]


def add_hydrogens(lines):
    out = []
    count = 0
    for line in lines:
        out.append(line)
        if not is_atom(line):
            continue
        line = line.rstrip("\n")
        x, y, z = coords(line)
        record = line[0:6]
        resname, chain, resnum, alt = line[17:20], line[21], line[22:26], line[16]
        name = ADDED_NAMES[count % len(ADDED_NAMES)]
        # The convention varies from line to line: element column or not.
        element = "H" if count % 3 != 1 else ""
        if name == " D  ":
            element = "D" if count % 2 else ""
        if record == "HETATM" and element == "":
            name = " H1 " if count % 2 else "1H  "  # old rule: a digit or blank before H
        h = atom_line(record, 0, name, alt, resname, chain, resnum, x + 0.6, y + 0.5, z - 0.4, element=element)
        out.append(h)
        if count % 7 == 0 and record == "ATOM  ":
            # A hydrogen with two alternate locations.
            out.append(atom_line(record, 0, " HA ", "A", resname, chain, resnum, x - 0.7, y, z + 0.3, 0.5,
                                 element="H"))
            out.append(atom_line(record, 0, " HA ", "B", resname, chain, resnum, x - 0.6, y + 0.2, z + 0.3, 0.5,
                                 element="H"))
        count += 1
    return out


def strip_hydrogens(lines):
    names = set(ADDED_NAMES) | {" HA ", " H1 ", "1H  "}
    return [l for l in lines if not (is_atom(l) and (hydrogen_element(l.rstrip("\n")) or l[12:16] in names))]


def protein_box(lines):
    xs = [coords(l) for l in lines if l.startswith("ATOM  ")]
    lo = [min(c[k] for c in xs) for k in range(3)]
    hi = [max(c[k] for c in xs) for k in range(3)]
    return lo, hi


def lattice(lines, kind, spacing, count, resname, gap):
    lo, hi = protein_box(lines)
    # The block starts `gap` Å beyond the protein's largest x, centred in y and z.
    ox = hi[0] + gap
    oy = (lo[1] + hi[1]) / 2 - spacing * (count - 1) / 2
    oz = (lo[2] + hi[2]) / 2 - spacing * (count - 1) / 2
    points = []
    for i in range(count):
        for j in range(count):
            for k in range(count):
                if kind == "cubic":
                    points.append((ox + i * spacing, oy + j * spacing, oz + k * spacing))
                else:  # hexagonal close packing: triangular layers in ABAB order
                    dx = spacing * (0.5 * (j % 2) + (0.5 if k % 2 else 0.0))
                    dy = spacing * math.sqrt(3) / 2 * j + (spacing * math.sqrt(3) / 6 if k % 2 else 0.0)
                    dz = spacing * math.sqrt(2.0 / 3.0) * k
                    points.append((ox + i * spacing + dx, oy + dy, oz + dz))
    name = " O  " if resname == "DUM" else " C  "
    extra = [atom_line("HETATM", 9000 + n, name, " ", resname, "X", str(1 + n // 50), x, y, z, element=name.strip())
             for n, (x, y, z) in enumerate(points)]
    return insert_before_end(lines, extra)


def insert_before_end(lines, extra):
    end = len(lines)
    for n, l in enumerate(lines):
        if l.startswith("END"):
            end = n
            break
    return lines[:end] + extra + lines[end:]


def duplicate(lines, shift):
    atoms = [l for l in lines if l.startswith("ATOM  ")]
    extra = []
    for l in atoms:
        x, y, z = coords(l)
        extra.append(l[:21] + "Z" + l[22:30] + "%8.3f%8.3f%8.3f" % (x + shift, y, z) + l[54:])
    return insert_before_end(lines, ["TER\n"] + extra + ["TER\n"])


def charmm(lines):
    out = []
    water = 0
    residues = []
    for l in lines:
        if l.startswith("ATOM  "):
            residues.append((l[21], l[22:27]))
    last = {}
    for chain, res in residues:
        last[chain] = res
    for l in lines:
        if not is_atom(l):
            if not l.startswith("TER"):
                out.append(l)
            continue
        l = l.rstrip("\n")
        x, y, z = coords(l)
        chain, resname, name, resnum = l[21], l[17:20], l[12:16], l[22:26]
        if l.startswith("HETATM"):
            if resname == "HOH":
                water += 1
                out.append(atom_line("ATOM", 0, " OH2", " ", "TIP3", " ", str(water), x, y, z, segment="SOLV"))
                out.append(atom_line("ATOM", 0, " H1 ", " ", "TIP3", " ", str(water), x + 0.9, y, z, segment="SOLV"))
            else:
                out.append(l + "\n")
            continue
        segment = "PRO" + (chain if chain != " " else "A")
        if resname == "HIS":
            resname = "HSD" if int(resnum) % 2 else "HSE"
        if resname == "ILE" and name == " CD1":
            name = " CD "
        if (chain, l[22:27]) == (chain, last.get(chain)):
            if name == " O  ":
                name = " OT1"
            elif name == " OXT":
                name = " OT2"
        out.append(atom_line("ATOM", 0, name, l[16], resname, " ", resnum, x, y, z, float(l[54:60] or 1),
                             float(l[60:66] or 0), segment=segment))
        if name == " N  ":
            out.append(atom_line("ATOM", 0, " HN ", l[16], resname, " ", resnum, x + 0.7, y + 0.7, z,
                                 segment=segment))
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("what", choices=["hydrogens", "strip", "lattice", "duplicate", "charmm"])
    ap.add_argument("input")
    ap.add_argument("output")
    ap.add_argument("--kind", choices=["cubic", "hex"], default="cubic")
    ap.add_argument("--spacing", type=float, default=2.0)
    ap.add_argument("--count", type=int, default=5)
    ap.add_argument("--resname", default="LAT")
    ap.add_argument("--gap", type=float, default=3.0)
    ap.add_argument("--shift", type=float, default=0.5)
    a = ap.parse_args()
    with open(a.input) as f:
        lines = f.readlines()
    if a.what == "hydrogens":
        lines = add_hydrogens(lines)
    elif a.what == "strip":
        lines = strip_hydrogens(lines)
    elif a.what == "lattice":
        lines = lattice(lines, a.kind, a.spacing, a.count, a.resname, a.gap)
    elif a.what == "duplicate":
        lines = duplicate(lines, a.shift)
    else:
        lines = charmm(lines)
    with open(a.output, "w") as f:
        f.writelines(lines)


if __name__ == "__main__":
    sys.exit(main())
