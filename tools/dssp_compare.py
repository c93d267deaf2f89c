#!/usr/bin/env python3
"""Cross-check of the secondary-structure assignment against Debian's mkdssp.

Runs the test-only dump tool (tests/secstruct/secstruct_dump) and mkdssp on each
structure, pairs residues by chain, number and insertion code, and reports the
three-class agreement (H = H/G/I, E = E/B, other) plus the strict per-letter
agreement and the letter pairs behind every three-class difference.

Known differences of rule: mkdssp adds the polyproline letter 'P' (other on
the three-class level, blank here), and it drops residues with alternative
residue names (microheterogeneity, 1ejg residues 22 and 25) where this reader
keeps the first alternative, so helices around them differ.

usage: tools/dssp_compare.py [--dump BUILD/tests/secstruct/secstruct_dump]
                             [--corpus ../shared/corpus] [--details] [files...]
"""
import argparse
import collections
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
BLANK_CHAIN = "0"
THREE = {"H": "H", "G": "H", "I": "H", "E": "E", "B": "E"}


def three(letter):
    return THREE.get(letter, "-")


def ours(dump, path):
    out = subprocess.run([dump, path], capture_output=True, text=True, check=True).stdout.splitlines()
    status = out[0]
    result = collections.OrderedDict()
    for line in out[1:]:
        if line.startswith("#"):
            continue
        index, rid, aa, ss = line.split("|")[:4]
        key = (rid[5], rid[:4].strip(), rid[4])
        result[key] = (int(index), ss)
    return status, result


def coordinates_only(path, target):
    """mkdssp is strict about header records: give it a neutral header, a unit
    cell and the coordinate records of the first model only."""
    with open(path, errors="replace") as f, open(target, "w") as out:
        out.write("HEADER    CROSS-CHECK                             01-JAN-00   XXXX              \n")
        out.write("CRYST1    1.000    1.000    1.000  90.00  90.00  90.00 P 1           1          \n")
        for line in f:
            line = line.rstrip("\r\n")
            if line.startswith("ENDMDL"):
                break
            if line.startswith(("ATOM  ", "TER")):
                # mkdssp rejects a blank chain identifier; BLANK_CHAIN stands in for it.
                if len(line) > 21 and line[21] == " ":
                    line = line[:21] + BLANK_CHAIN + line[22:]
                out.write(line + "\n")
        out.write("END\n")


def dssp(path):
    with tempfile.TemporaryDirectory() as tmp:
        target = os.path.join(tmp, "out.dssp")
        source = os.path.join(tmp, "in.pdb")
        coordinates_only(path, source)
        run = subprocess.run(["mkdssp", "--output-format", "dssp", source, target], capture_output=True, text=True)
        if run.returncode != 0 or not os.path.exists(target):
            return None, run.stderr.strip().splitlines()[-1:] or ["mkdssp failed"]
        lines = open(target).read().splitlines()
    result = {}
    started = False
    for line in lines:
        if line.startswith("  #  RESIDUE"):
            started = True
            continue
        if not started or len(line) < 17 or line[13] == "!":
            continue
        chain = " " if line[11] == BLANK_CHAIN else line[11]
        key = (chain, line[5:10].strip(), line[10])
        result[key] = line[16]
    return result, None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dump", default=os.path.join(HERE, "..", "build", "secstruct", "tests", "secstruct", "secstruct_dump"))
    parser.add_argument("--corpus", default=os.path.join(HERE, "..", "..", "shared", "corpus"))
    parser.add_argument("--details", action="store_true", help="list every residue of a three-class difference")
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()
    files = args.files or sorted(f for f in os.listdir(args.corpus) if f.endswith(".pdb") and f != "3o21x4.pdb")
    total = same3 = same = 0
    pairs = collections.Counter()
    letter_pairs = collections.Counter()
    for name in files:
        path = name if os.path.exists(name) else os.path.join(args.corpus, name)
        status, mine = ours(args.dump, path)
        theirs, error = dssp(path)
        if theirs is None:
            print(f"{name:16s} mkdssp gave no result ({error[0]}); {status}")
            continue
        common = [k for k in mine if k in theirs]
        n = len(common)
        s3 = sum(three(mine[k][1]) == three(theirs[k]) for k in common)
        s1 = sum(mine[k][1] == theirs[k] for k in common)
        total, same3, same = total + n, same3 + s3, same + s1
        for k in common:
            a, b = mine[k][1], theirs[k]
            if a != b:
                letter_pairs[(a, b)] += 1
            if three(a) != three(b):
                pairs[(a, b)] += 1
                if args.details:
                    print(f"    {name} {k[0]}{k[1]}{k[2].strip()} (index {mine[k][0]}): ours '{a}' mkdssp '{b}'")
        if n:
            print(f"{name:16s} residues {n:5d} (ours {len(mine):5d}, mkdssp {len(theirs):5d})  "
                  f"3-class {100.0 * s3 / n:6.2f} %  letters {100.0 * s1 / n:6.2f} %  {status}")
        else:
            print(f"{name:16s} no common residues; {status}")
    if total:
        print(f"TOTAL            residues {total:5d}  3-class {100.0 * same3 / total:6.2f} %  letters {100.0 * same / total:6.2f} %")
    print("three-class differences (ours, mkdssp): " +
          ", ".join(f"'{a}'/'{b}' {c}" for (a, b), c in pairs.most_common()))
    print("letter differences (ours, mkdssp): " +
          ", ".join(f"'{a}'/'{b}' {c}" for (a, b), c in letter_pairs.most_common()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
