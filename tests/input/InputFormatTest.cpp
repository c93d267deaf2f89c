// Inputs told by their content: PDB or mmCIF, plain or gzip; the mmCIF reader
// against the PDB reader on the same structure; chain names of any length.
#include <gtest/gtest.h>
#include <zlib.h>

#include "frame/Error.h"
#include "input/CifReader.h"
#include "input/InputFormat.h"
#include "input/InputTestSupport.h"

namespace cavitas {
namespace {

using testing::DataFile;
using testing::LogHas;
using testing::ReadFile;
using testing::ReadPdbText;
using testing::TReadResult;

std::string Gzip(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST(DecodeInput, TellsTheFormatFromTheContent) {
  const std::string pdb = ReadFile(DataFile("pept.pdb"));
  const std::string cif = ReadFile(DataFile("pept.cif"));
  struct Case {
    const char* what;
    std::string bytes;
    std::string name;        // expected kind, or empty for an error
    std::string error;       // part of the error message
    std::string unpacked;    // the text after decoding (when not an error)
  };
  const Case cases[] = {
      {"PDB", pdb, "PDB", "", pdb},
      {"mmCIF", cif, "mmCIF", "", cif},
      {"mmCIF after comments", "# made by hand\n\n  " + cif, "mmCIF", "", "# made by hand\n\n  " + cif},
      {"gzip PDB", Gzip(pdb), "PDB (gzip)", "", pdb},
      {"gzip mmCIF", Gzip(cif), "mmCIF (gzip)", "", cif},
      {"two gzip members", Gzip(pdb.substr(0, 1000)) + Gzip(pdb.substr(1000)), "PDB (gzip)", "", pdb},
      {"truncated gzip", Gzip(pdb).substr(0, 500), "", "truncated", ""},
      {"corrupt gzip", Gzip(pdb).substr(0, 20) + std::string(200, 'x'), "", "corrupt gzip data", ""},
      {"gzip of prose", Gzip("Dear reader,\nthis is no structure.\n"), "", "not a PDB or mmCIF file", ""},
      {"prose", "Dear reader,\nthis is no structure.\n", "", "not a PDB or mmCIF file", ""},
      {"empty", "", "", "not a PDB or mmCIF file", ""},
      {"binary", std::string("\x00\x01\x02\xff", 4), "", "not a PDB or mmCIF file", ""},
  };
  for (const Case& c : cases) {
    TInputText text{"in.x", c.bytes};
    if (c.name.empty()) {
      try {
        DecodeInput(text);
        ADD_FAILURE() << c.what << ": no error";
      } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << c.what << ": " << e.what();
        EXPECT_NE(std::string(e.what()).find("in.x"), std::string::npos) << c.what;
      }
      continue;
    }
    EXPECT_EQ(DecodeInput(text).Name(), c.name) << c.what;
    EXPECT_EQ(text.Bytes, c.unpacked) << c.what;
  }
}

TEST(DecodeInput, StopsDataThatUnpacksBeyondTheLimit) {
  const std::string packed = Gzip("ATOM  \n" + std::string(std::size_t{1} << 22, ' '));
  TInputText text{"bomb.gz", packed};
  EXPECT_NO_THROW(DecodeInput(text, std::size_t{1} << 23));
  text.Bytes = packed;
  EXPECT_THROW(DecodeInput(text, std::size_t{1} << 20), IoError);
}

TEST(ChainIdentifiers, OneCharacterNamesKeepTheirsOthersTakeFreeOnesThenCycle) {
  auto ids = [](const std::vector<std::string>& names) {
    std::string s;
    for (const auto& [name, id] : ChainIdentifiers(names)) s += id;
    return s;
  };
  EXPECT_EQ(ids({"A", "B", "AA", "AB", "C"}), "ABDEC");
  EXPECT_EQ(ids({"", "A1", "b", "7"}), " Ab7");
  std::vector<std::string> many;
  for (int k = 0; k < 130; ++k) many.push_back("C" + std::to_string(k));
  const std::string all = ids(many);
  EXPECT_EQ(all.substr(0, 62), "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
  EXPECT_EQ(all.substr(62, 3), "ABC");
  for (std::size_t k = 1; k < all.size(); ++k) EXPECT_NE(all[k], all[k - 1]) << k;
}

// The same structure as PDB and as the archive's mmCIF reads the same.
TEST(CifReader, ReadsAsThePdbReaderDoes) {
  const TReadResult pdb = ReadPdbText(ReadFile(DataFile("pept.pdb")));
  const TReadResult cif = ReadPdbText(ReadFile(DataFile("pept.cif")));
  ASSERT_EQ(cif.Protein->Status, pdb.Protein->Status) << cif.Protein->StatusText;
  EXPECT_EQ(cif.Protein->InputFormat, "mmCIF");
  ASSERT_EQ(cif.Protein->ResidueCount, pdb.Protein->ResidueCount);
  ASSERT_EQ(cif.Protein->AtomCount, pdb.Protein->AtomCount);
  for (int r = 1; r <= pdb.Protein->ResidueCount; ++r)
    EXPECT_EQ(cif.Protein->Residue(r).ResidueId, pdb.Protein->Residue(r).ResidueId) << r;
  for (int i = 1; i <= pdb.Protein->AtomCount; ++i) {
    const TAtom& a = *pdb.Protein->AtomAt(i);
    const TAtom& b = *cif.Protein->AtomAt(i);
    EXPECT_EQ(a.X, b.X);
    EXPECT_EQ(a.Z, b.Z);
    EXPECT_EQ(a.AtomCode, b.AtomCode) << i;
    EXPECT_EQ(a.BFactor, b.BFactor);
  }
}

// A small mmCIF loop of atom sites with the columns given.
std::string Sites(const std::string& columns, const std::string& rows) {
  std::string text = "data_test\nloop_\n";
  std::size_t p = 0;
  while (p < columns.size()) {
    const std::size_t q = columns.find(' ', p);
    text += "_atom_site." + columns.substr(p, q == std::string::npos ? std::string::npos : q - p) + "\n";
    if (q == std::string::npos) break;
    p = q + 1;
  }
  return text + rows;
}

const char* const kColumns =
    "group_PDB id type_symbol auth_atom_id label_alt_id auth_comp_id auth_asym_id auth_seq_id pdbx_PDB_ins_code "
    "Cartn_x Cartn_y Cartn_z occupancy B_iso_or_equiv pdbx_PDB_model_num";

std::string Glycine(const std::string& chain, int number, double x, const std::string& model = "1",
                    const std::string& xText = "") {
  char buf[512];
  const std::string xs = xText.empty() ? std::to_string(x) : xText;
  std::snprintf(buf, sizeof buf,
                "ATOM 1 N N . GLY %s %d ? %s 0.000 0.000 1 10 %s\n"
                "ATOM 2 C CA . GLY %s %d ? %.3f 1.400 0.000 1 10 %s\n"
                "ATOM 3 C C . GLY %s %d ? %.3f 1.900 1.400 1 10 %s\n"
                "ATOM 4 O O . GLY %s %d ? %.3f 1.300 2.400 1 10 %s\n",
                chain.c_str(), number, xs.c_str(), model.c_str(), chain.c_str(), number, x + 0.5, model.c_str(),
                chain.c_str(), number, x + 1.0, model.c_str(), chain.c_str(), number, x + 1.2, model.c_str());
  return buf;
}

TEST(CifReader, OddFilesGiveAResultOrAClearMessage) {
  // Unknown coordinates leave the atom out, with a line in the log.
  const TReadResult unknown = ReadPdbText(Sites(kColumns, Glycine("A", 1, 0) + Glycine("A", 2, 3.8, "1", "?")));
  EXPECT_EQ(unknown.Protein->ResidueCount, 1);
  EXPECT_TRUE(LogHas(unknown, "atom site N GLY A: record ignored, coordinate \"?\" is not a number"));

  // Only the first model is read; the count is noted.
  const TReadResult models = ReadPdbText(Sites(kColumns, Glycine("A", 1, 0, "1") + Glycine("A", 1, 0, "2") +
                                                               Glycine("A", 2, 3.8, "2")));
  EXPECT_EQ(models.Protein->ResidueCount, 1);
  EXPECT_EQ(models.Protein->ModelCount, 2);

  // Long chain names take one-character identifiers, logged once.
  const TReadResult chains = ReadPdbText(Sites(kColumns, Glycine("A1", 1, 0) + Glycine("B12", 1, 20)));
  ASSERT_EQ(chains.Protein->ResidueCount, 2);
  EXPECT_EQ(chains.Protein->Residue(1).ResidueId, "   1 A");
  EXPECT_EQ(chains.Protein->Residue(2).ResidueId, "   1 B");
  EXPECT_TRUE(LogHas(chains, "chains written with one-character identifiers: A1 -> A, B12 -> B"));

  // Label names alone are enough; a data block without atoms reads nothing.
  const TReadResult labels =
      ReadPdbText(Sites("label_atom_id label_comp_id label_asym_id label_seq_id Cartn_x Cartn_y Cartn_z",
                        "N GLY A 1 0 0 0\nCA GLY A 1 0.5 1.4 0\nC GLY A 1 1 1.9 1.4\nO GLY A 1 1.2 1.3 2.4\n"));
  EXPECT_EQ(labels.Protein->ResidueCount, 1);
  const TReadResult empty = ReadPdbText("data_empty\n_entry.id EMPTY\n");
  EXPECT_EQ(empty.Protein->Status, TRunStatus::Failed);

  for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
           {Sites("label_atom_id label_comp_id Cartn_x Cartn_y Cartn_z", "N GLY 0 0 0\n"), "label_asym_id"},
           {Sites("auth_atom_id Cartn_x Cartn_z", "N 0 0\n"), "Cartn_y"},
           {"data_x\nloop_\n_atom_site.Cartn_x\n'unterminated\n", "not valid mmCIF"}}) {
    try {
      ReadPdbText(text);
      ADD_FAILURE() << message << ": no error";
    } catch (const IoError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace cavitas
