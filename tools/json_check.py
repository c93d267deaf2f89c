#!/usr/bin/python3
"""Runs cavitas with j: on structures and checks every JSON file it writes.

For each structure: the JSON validates against docs/cavitas-output.schema.json;
its cavities, their order and groups and their lining atoms agree with the
HOLE NUMBER lines and the NRHOLE card of the result file (lining atoms through
the serial mapping as well); every atom's volume, contact volume and surface
flag equal its line in the result file; every serial names the input record
of that atom (same atom name and coordinates). A run that fails must leave no
JSON file.

Usage: tools/json_check.py CAVITAS SCHEMA [--skip=NAME.pdb] STRUCTURE.pdb|DIRECTORY...
Prints "N passed, M failed" and exits 1 when a structure fails.
"""
import glob
import json
import os
import subprocess
import sys
import tempfile

import jsonschema

GROUPS = ["partly_filled", "empty", "partly_filled_hets_removed", "filled_hets_removed"]


def hybrid36(field):
    """The value of a five-column serial: decimal, or hybrid-36 (A0000 = 100000)."""
    field = field.strip()
    if field.lstrip("-").isdigit():
        return int(field)
    if len(field) != 5 or not field.isalnum():
        return None
    digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    if field.isupper() or field[0].isupper():
        base = -10 * 36 ** 4 + 100000
    else:
        base = 16 * 36 ** 4 + 100000
    try:
        return int(field.upper(), 36) + base if all(c.upper() in digits for c in field) and (
            field == field.upper() or field == field.lower()) else None
    except ValueError:
        return None


def input_records(path):
    """Serial -> (atom name, x, y, z) of the ATOM/HETATM records of the first model."""
    records = {}
    with open(path, "rb") as f:
        for raw in f:
            raw = raw.rstrip(b"\r\n")
            if raw.startswith(b"ENDMDL"):
                break
            if not (raw.startswith(b"ATOM  ") or raw.startswith(b"HETATM")):
                continue
            serial = hybrid36(raw[6:11].decode("ascii", "replace"))
            if serial is not None:
                try:
                    xyz = tuple(round(float(raw[30 + 8 * k:38 + 8 * k]), 3) for k in range(3))
                except ValueError:
                    continue
                records.setdefault(serial, []).append((raw[12:16].decode("utf-8", "replace").strip(), xyz))
    return records


def result_lines(path):
    holes, atoms, counts = [], {}, None
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("HOLE NUMBER "):
                fields = line.split()
                holes.append((int(fields[2]), [int(x) for x in fields[3:]]))
            elif line.startswith("NRHOLE"):
                counts = [int(line[k:k + 6]) for k in (8, 36, 61, 107) if line[k:k + 6].strip()]
            elif line.startswith("ATOM") or line.startswith("HETATM"):
                number = int(line[4:11]) if line.startswith("ATOM") else int(line[6:11])
                fields = line.split()
                atoms[number] = (float(fields[-3]), float(fields[-2]), fields[-1])
    return holes, atoms, counts


def check(binary, validator, pdb):
    problems = []
    with tempfile.TemporaryDirectory() as work:
        res, js = os.path.join(work, "r.res"), os.path.join(work, "r.json")
        run = subprocess.run([binary, "i:" + pdb, "o:" + res, "l:" + os.path.join(work, "r.log"), "j:" + js],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if run.returncode != 0:
            if os.path.exists(js):
                problems.append(f"exit {run.returncode} but a JSON file was left")
            return problems, f"exit {run.returncode}, no JSON"
        doc = json.load(open(js, encoding="ascii"))
        errors = sorted(validator.iter_errors(doc), key=lambda e: list(e.path))
        for e in errors[:5]:
            problems.append(f"schema: {'/'.join(map(str, e.path))}: {e.message[:200]}")
        holes, lines, counts = result_lines(res)
        atoms = {a["number"]: a for a in doc["atoms"]}
        # Cavities against the HOLE NUMBER lines, in order, and the groups against NRHOLE.
        if [c["number"] for c in doc["cavities"]] != [h[0] for h in holes]:
            problems.append("cavity numbers differ from the HOLE NUMBER lines")
        for c, (number, members) in zip(doc["cavities"], holes):
            if c["lining_atom_numbers"] != members:
                problems.append(f"cavity {number}: lining atoms differ from its HOLE NUMBER line")
            if c["lining_atoms"] != [atoms[n]["serial"] for n in members if n in atoms]:
                problems.append(f"cavity {number}: lining serials do not map to its HOLE NUMBER line")
        group_counts = [doc["groups"][g] for g in GROUPS]
        if counts is not None and group_counts != counts:
            problems.append(f"groups {group_counts} differ from the NRHOLE card {counts}")
        expected = [g for g, n in zip(GROUPS, group_counts) for _ in range(n)]
        if [c["group"] for c in doc["cavities"]] != expected:
            problems.append("cavity groups are not in the order of the four group counts")
        # Atoms against their result lines.
        if sorted(atoms) != sorted(lines):
            problems.append(f"{len(atoms)} atoms in the JSON, {len(lines)} atom lines in the result file")
        for n, (volume, contact, flag) in lines.items():
            a = atoms.get(n)
            if a and (a["volume"] != volume or a["contact_volume"] != contact or a["outer_surface"] != (flag == "0")):
                problems.append(f"atom {n}: {a['volume']} {a['contact_volume']} {a['outer_surface']} "
                                f"against {volume} {contact} {flag}")
                break
        # Serials against the input records.
        records = input_records(pdb)
        for a in doc["atoms"]:
            if a["serial"] is None:
                continue
            candidates = records.get(a["serial"], [])
            # The coordinates identify the record; its name may have been read as
            # the standard one (force-field names such as ILE CD).
            if not any(xyz == tuple(a["xyz"]) for name, xyz in candidates):
                problems.append(f"atom {a['number']}: serial {a['serial']} names no input record "
                                f"{a['name']} {a['xyz']}")
                break
        return problems, f"{len(doc['atoms'])} atoms, {len(doc['cavities'])} cavities"


def main():
    if len(sys.argv) < 4:
        print(__doc__)
        return 2
    binary, schema = os.path.abspath(sys.argv[1]), json.load(open(sys.argv[2]))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    passed = failed = 0
    inputs = []
    skip = set()
    for arg in sys.argv[3:]:
        if arg.startswith("--skip="):
            skip.add(arg[len("--skip="):])
        elif os.path.isdir(arg):
            inputs += [p for p in sorted(glob.glob(os.path.join(arg, "*.pdb"))) if os.path.basename(p) not in skip]
        elif os.path.exists(arg):
            inputs.append(arg)
        else:
            print(f"note: {arg} is absent; skipped")
    for pdb in inputs:
        problems, summary = check(binary, validator, pdb)
        name = os.path.basename(pdb)
        if problems:
            failed += 1
            print(f"FAIL {name}: {summary}")
            for p in problems:
                print(f"     {p}")
        else:
            passed += 1
            print(f"ok   {name}: {summary}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
