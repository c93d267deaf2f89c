#!/usr/bin/python3
"""Checks result files of cavitas for completeness and reproducibility.

For every input structure it runs the program twice and verifies that
  - the two result files are byte-identical,
  - there is one ATOM/HETATM line per atom (the total of the LENGTH card),
    numbered 1..n in order,
  - the HOLE NUMBER lines are numbered 1..n, n being the sum of the four
    NRHOLE counters, and list ascending atom numbers,
  - the file ends with END and a CH-SUM card whose value is the CRC register
    (start -1, no final inversion) of every line except REMARK lines and the
    CH-SUM card itself.

usage: check_result_file.py CAVITAS_BINARY PDB_FILE...
"""
import os
import re
import subprocess
import sys
import tempfile
import zlib


def crc_register(lines):
    # zlib.crc32 inverts at start and end; the register keeps the start of -1 and skips the final inversion.
    value = zlib.crc32("".join(lines).encode("latin-1")) ^ 0xFFFFFFFF
    return value - (1 << 32) if value >= 1 << 31 else value


def check(path):
    problems = []
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if len(lines) < 2 or lines[-2] != "END        " or not lines[-1].startswith("CH-SUM"):
        return ["file does not end with END and CH-SUM"]
    summed = [l for l in lines[:-1] if not l.startswith("REMARK")]
    stored = int(lines[-1][6:])
    if len(lines[-1]) != 18:
        problems.append("CH-SUM card is not 18 characters")
    if stored != crc_register(summed):
        problems.append("CH-SUM %d differs from the checksum %d" % (stored, crc_register(summed)))

    length = [l for l in lines if l.startswith("LENGTH")]
    nrhole = [l for l in lines if l.startswith("NRHOLE")]
    if len(length) != 1 or len(nrhole) != 1:
        return problems + ["missing LENGTH or NRHOLE card"]
    total = int(length[0][39:46])
    counters = [int(x) for x in re.findall(r"(-?\d+) \(", nrhole[0])]
    holes = [l for l in lines if l.startswith("HOLE NUMBER ")]
    if len(counters) != 4 or len(holes) != sum(counters):
        problems.append("%d HOLE NUMBER lines for counters %s" % (len(holes), counters))
    for k, l in enumerate(holes, 1):
        fields = [int(x) for x in l[12:].split()]
        if fields[0] != k:
            problems.append("hole line %d numbered %d" % (k, fields[0]))
        if fields[1:] != sorted(set(fields[1:])) or any(n < 1 or n > total for n in fields[1:]):
            problems.append("hole %d: atom numbers not ascending within 1..%d" % (k, total))

    atoms = [l for l in lines if l.startswith("ATOM") or l.startswith("HETATM")]
    if len(atoms) != total:
        problems.append("%d atom lines for %d atoms" % (len(atoms), total))
    for k, l in enumerate(atoms, 1):
        n = int(l[6:11]) if l.startswith("HETATM") else int(l[4:11])
        if n != k:
            problems.append("atom line %d carries number %d" % (k, n))
            break
        if l[-2:] not in (" 0", " 1"):
            problems.append("atom %d has no surface flag" % n)
            break
    return problems


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    binary, inputs = sys.argv[1], sys.argv[2:]
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for pdb in inputs:
            name = os.path.basename(pdb)
            outs = []
            for run in (1, 2):
                out = os.path.join(tmp, "%s.%d.out" % (name, run))
                log = os.path.join(tmp, "%s.%d.log" % (name, run))
                rc = subprocess.run([binary, "i:" + pdb, "o:" + out, "l:" + log]).returncode
                outs.append(out)
            if not os.path.exists(outs[0]):
                print("%-16s no result file (exit code %d)" % (name, rc))
                continue
            problems = check(outs[0])
            if open(outs[0], "rb").read() != open(outs[1], "rb").read():
                problems.append("two runs differ")
            failed += bool(problems)
            print("%-16s %s" % (name, "ok" if not problems else "; ".join(problems[:5])))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
