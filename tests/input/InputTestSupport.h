#pragma once
// Builders of small PDB fragments and a one-call read for the input tests.
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "model/Protein.h"

namespace cavitas::testing {

// One ATOM record with the columns of the format. name is the 4-character atom name.
std::string AtomLine(int serial, const std::string& name, const std::string& residue, char chain, int number, double x,
                     double y, double z, char altLoc = ' ', char insertion = ' ');
std::string HetAtomLine(int serial, const std::string& name, const std::string& residue, char chain, int number,
                        double x, double y, double z);

// HEADER, COMPND, SOURCE and AUTHOR records, so that no header status hides another.
std::string HeaderCards();

// A chain builder: residues along a path, 3.8 Å apart, with a sound backbone
// (C of one residue 1.3 Å from N of the next) and side-chain atoms near CA.
class TChainBuilder {
 public:
  explicit TChainBuilder(char chain = 'A') : chain_(chain) {}
  // Appends a residue; sideNames are 4-character side-chain atom names.
  TChainBuilder& Residue(const std::string& name, const std::vector<std::string>& sideNames, char insertion = ' ');
  TChainBuilder& Ala() { return Residue("ALA", {" CB "}); }
  TChainBuilder& Gly() { return Residue("GLY", {}); }
  // Adds a record line as is.
  TChainBuilder& Raw(const std::string& line);
  TChainBuilder& Ter();
  // Moves the next residue's N `gap` Å further along the path.
  TChainBuilder& Gap(double gap);
  // Row of the path: after `rowLength` residues the path steps 6 Å sideways and
  // turns, so long chains stay compact.
  TChainBuilder& RowLength(int n);
  std::string Text() const { return text_; }
  int NextNumber() const { return number_; }


 private:
  std::string text_;
  char chain_;
  int number_ = 1;
  int serial_ = 1;
  int rowLength_ = 1000000;
  int inRow_ = 0;
  double x_ = 0, y_ = 0, z_ = 0;  // N of the next residue
  int direction_ = 1;
  double gap_ = 0;
};

std::string WithCrLf(const std::string& lf);

struct TReadResult {
  std::unique_ptr<TProteinObject> Protein;
  std::vector<std::string> Log;  // lines without their CR LF
};

// Writes text to a file in a fresh directory, reads it with ReadProtein and collects the log.
TReadResult ReadPdbText(const std::string& text);
TReadResult ReadPdbFile(const std::string& path);

bool LogHas(const TReadResult& r, const std::string& line);

}  // namespace cavitas::testing
