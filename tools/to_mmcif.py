#!/usr/bin/python3
"""Writes a PDB file as mmCIF the way the archive does: an _atom_site loop
with group_PDB, label and author names and numbers, alternate locations and
every model; entity names and chains, keywords, deposition date, authors,
resolution and disulphide bonds where the PDB file has them.

  tools/to_mmcif.py INPUT.pdb OUTPUT.cif [--chain-suffix X]

--chain-suffix appends X to every chain name (longer names, as large
assemblies have). Needs Debian's python3-gemmi (/usr/bin/python3).
"""
import argparse
import re

import gemmi


def quote(v):
    v = str(v)
    if v in ("", "?", "."):
        return v or "?"
    if re.search(r"[\s'\"]", v) or v[0] in "_#$;[]":
        return '"' + v + '"' if '"' not in v else "'" + v + "'"
    return v


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("input")
    ap.add_argument("output")
    ap.add_argument("--chain-suffix", default="")
    args = ap.parse_args()
    st = gemmi.read_structure(args.input)
    st.setup_entities()
    sfx = args.chain_suffix
    out = [f"data_{st.name or 'XXXX'}", f"_entry.id {quote(st.name or 'XXXX')}", "#"]
    keywords = st.info.get("_struct_keywords.pdbx_keywords", "") if hasattr(st.info, "get") else ""
    if keywords:
        out += [f"_struct_keywords.pdbx_keywords {quote(keywords)}", "#"]
    date = st.info.get("_pdbx_database_status.recvd_initial_deposition_date", "") if hasattr(st.info, "get") else ""
    if date:
        out += [f"_pdbx_database_status.recvd_initial_deposition_date {date}", "#"]
    if st.resolution > 0:
        out += [f"_refine.ls_d_res_high {st.resolution:.2f}", "#"]
    if st.entities:
        out += ["loop_", "_entity.id", "_entity.type", "_entity.pdbx_description"]
        for e in st.entities:
            out.append(f"{quote(e.name)} {str(e.entity_type).split('.')[-1].lower()} ?")
        out.append("#")
    conns = [c for c in st.connections if str(c.type).endswith("Disulf")]
    if conns:
        out += ["loop_", "_struct_conn.id", "_struct_conn.conn_type_id",
                "_struct_conn.ptnr1_auth_asym_id", "_struct_conn.ptnr1_auth_seq_id", "_struct_conn.pdbx_ptnr1_PDB_ins_code",
                "_struct_conn.ptnr2_auth_asym_id", "_struct_conn.ptnr2_auth_seq_id", "_struct_conn.pdbx_ptnr2_PDB_ins_code"]
        for k, c in enumerate(conns):
            p1, p2 = c.partner1, c.partner2
            ic1 = p1.res_id.seqid.icode.strip() or "?"
            ic2 = p2.res_id.seqid.icode.strip() or "?"
            out.append(f"disulf{k+1} disulf {quote(p1.chain_name + sfx)} {p1.res_id.seqid.num} {ic1} "
                       f"{quote(p2.chain_name + sfx)} {p2.res_id.seqid.num} {ic2}")
        out.append("#")
    out += ["loop_"] + ["_atom_site." + t for t in (
        "group_PDB", "id", "type_symbol", "label_atom_id", "label_alt_id", "label_comp_id", "label_asym_id",
        "label_entity_id", "label_seq_id", "pdbx_PDB_ins_code", "Cartn_x", "Cartn_y", "Cartn_z", "occupancy",
        "B_iso_or_equiv", "pdbx_formal_charge", "auth_seq_id", "auth_comp_id", "auth_asym_id", "auth_atom_id",
        "pdbx_PDB_model_num")]
    serial = 0
    for mi, model in enumerate(st):
        for chain in model:
            for res in chain:
                for atom in res:
                    serial += 1
                    group = "HETATM" if res.het_flag == "H" else "ATOM"
                    alt = atom.altloc if atom.altloc != "\0" else "."
                    icode = res.seqid.icode.strip() or "?"
                    out.append(" ".join(quote(v) if not isinstance(v, float) else f"{v:.3f}" for v in (
                        group, serial, atom.element.name.upper(), atom.name, alt, res.name, chain.name + sfx,
                        res.entity_id or "?", res.label_seq if res.label_seq is not None else ".", icode,
                        atom.pos.x, atom.pos.y, atom.pos.z)) +
                        f" {atom.occ:.2f} {atom.b_iso:.2f} ? {res.seqid.num} {quote(res.name)} "
                        f"{quote(chain.name + sfx)} {quote(atom.name)} {model.name or mi + 1}")
    out.append("#")
    with open(args.output, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
