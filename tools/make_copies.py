#!/usr/bin/python3
"""Builds a large structure from translated copies of one entry, for scaling
benchmarks: copies on a grid of cells `--spacing` apart, each chain renamed.

  tools/make_copies.py INPUT.pdb COPIES OUT.(pdb|cif)[.gz] [--spacing 160]

mmCIF output names the chains of copy k with a letter per copy and a number
per chain (A1, A2, ..., B1, ...), so that names are longer than one character.
PDB output gives each chain of each copy the next identifier of A-Z, a-z, 0-9,
starting again after 62, and writes serials beyond 99 999 in hybrid-36 (as
the archive's own tools do). Needs Debian's python3-gemmi (/usr/bin/python3).
"""
import argparse
import string
import sys

import gemmi

IDS = string.ascii_uppercase + string.ascii_lowercase + string.digits


def copy_name(copy, chain):
    letters = ""
    n = copy
    while True:
        letters = string.ascii_uppercase[n % 26] + letters
        n = n // 26 - 1
        if n < 0:
            break
    return f"{letters}{chain + 1}"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("input")
    ap.add_argument("copies", type=int)
    ap.add_argument("output")
    ap.add_argument("--spacing", type=float, default=160.0)
    args = ap.parse_args()

    src = gemmi.read_structure(args.input)
    model = src[0]
    out = src.clone()
    while len(out) > 0:
        del out[0]
    new_model = gemmi.Model("1")
    side = max(1, round(args.copies ** (1 / 3)))
    cif = ".cif" in args.output
    serial_chain = 0
    for k in range(args.copies):
        shift = gemmi.Position(args.spacing * (k % side), args.spacing * ((k // side) % side),
                               args.spacing * (k // (side * side)))
        for c, chain in enumerate(model):
            copy = chain.clone()
            for res in copy:
                for atom in res:
                    atom.pos = atom.pos + shift
            copy.name = copy_name(k, c) if cif else IDS[serial_chain % len(IDS)]
            serial_chain += 1
            new_model.add_chain(copy)
    out.add_model(new_model)
    out.setup_entities()
    plain = args.output[:-3] if args.output.endswith(".gz") else args.output
    if cif:
        out.make_mmcif_document().write_file(plain)
    else:
        out.write_pdb(plain)
    if plain != args.output:
        import gzip
        import shutil
        with open(plain, "rb") as f, gzip.open(args.output, "wb") as g:
            shutil.copyfileobj(f, g)
        import os
        os.remove(plain)
    atoms = sum(1 for _ in new_model.all())
    print(f"{args.output}: {args.copies} copies, {len(new_model)} chains, {atoms} atoms", file=sys.stderr)


if __name__ == "__main__":
    main()
