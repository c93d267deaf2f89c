#!/usr/bin/python3
"""Runs cavitas with p: (and j:) on structures and checks the viewer files.

PREFIX.pdb must read with gemmi: one model, every atom of the JSON file with
its volume in the B-factor column (two decimals), one residue CAV per cavity
holding at least one point. Where the PyMOL command `pymol` is installed,
PREFIX.pml must run headless (pymol -cq) without an error line; elsewhere that
part is skipped with a note.

Usage: tools/viewer_check.py CAVITAS STRUCTURE.pdb|DIRECTORY...
Prints "N passed, M failed" and exits 1 when a structure fails.
"""
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

import gemmi


def check(binary, pdb, pymol):
    problems = []
    with tempfile.TemporaryDirectory() as work:
        run = subprocess.run([binary, "i:" + os.path.abspath(pdb), "o:r.res", "l:r.log", "j:r.json", "p:view"],
                             cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        files = [os.path.join(work, "view." + ext) for ext in ("pdb", "pml", "cxc")]
        if run.returncode != 0:
            left = [f for f in files if os.path.exists(f)]
            return ([f"exit {run.returncode} but {left} left"] if left else []), f"exit {run.returncode}, no files"
        doc = json.load(open(os.path.join(work, "r.json")))
        st = gemmi.read_structure(files[0])
        if len(st) != 1:
            problems.append(f"{len(st)} models")
        cav_res = [res for chain in st[0] for res in chain if res.name == "CAV"]
        other = [atom for chain in st[0] for res in chain if res.name != "CAV" for atom in res]
        if len(other) != len(doc["atoms"]):
            problems.append(f"{len(other)} atoms read, {len(doc['atoms'])} in the JSON file")
        # gemmi groups residues by chain: atoms are matched by their coordinates.
        read = {tuple(round(c, 3) for c in (atom.pos.x, atom.pos.y, atom.pos.z)): atom for atom in other}
        for a in doc["atoms"]:
            atom = read.get(tuple(a["xyz"]))
            if atom is None or abs(atom.b_iso - a["volume"]) > 0.0051 or (a["name"].isascii() and atom.name != a["name"]):
                found = f"B {atom.b_iso} name {atom.name}" if atom else "no atom there"
                problems.append(f"atom {a['number']}: {found}, JSON volume {a['volume']} name {a['name']}")
                break
        if len(cav_res) != len(doc["cavities"]) or any(len(r) == 0 for r in cav_res):
            problems.append(f"{len(cav_res)} CAV residues for {len(doc['cavities'])} cavities")
        summary = f"{len(other)} atoms, {len(cav_res)} cavities read by gemmi"
        if pymol:
            env = dict(os.environ, PATH="/usr/bin:/bin")
            p = subprocess.run([pymol, "-cq", "view.pml"], cwd=work, env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=300)
            text = p.stdout.decode("utf-8", "replace")
            bad = [l for l in text.splitlines() if "Error" in l or "error" in l.lower() or "Traceback" in l]
            if p.returncode != 0 or bad:
                problems.append(f"pymol -cq: exit {p.returncode}: {bad[:3]}")
            summary += ", PyMOL script ran"
        return problems, summary


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    binary = os.path.abspath(sys.argv[1])
    inputs = []
    for arg in sys.argv[2:]:
        if os.path.isdir(arg):
            inputs += sorted(glob.glob(os.path.join(arg, "*.pdb")))
        elif os.path.exists(arg):
            inputs.append(arg)
        else:
            print(f"note: {arg} is absent; skipped")
    pymol = shutil.which("pymol")
    if not pymol:
        print("note: pymol is not installed; the PyMOL scripts are not run")
    passed = failed = 0
    for pdb in inputs:
        problems, summary = check(binary, pdb, pymol)
        if problems:
            failed += 1
            print(f"FAIL {os.path.basename(pdb)}: {summary}")
            for p in problems:
                print(f"     {p}")
        else:
            passed += 1
            print(f"ok   {os.path.basename(pdb)}: {summary}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
