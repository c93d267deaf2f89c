#pragma once
// Hand-built proteins for the secondary-structure tests: ideal backbones from
// phi/psi angles, bare residue lists for the rules that only read bonds and
// letters, and a log capture.
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "model/Protein.h"

namespace cavitas::testing {

// A backbone built atom by atom from standard bond lengths and angles; residue
// i gets phi[i-1], psi[i-1] and a trans peptide bond. HPos is placed the way the
// read driver places it: 1 Å from N, opposite to the preceding carbonyl.
std::unique_ptr<TProteinObject> BuildBackbone(const std::vector<double>& phi, const std::vector<double>& psi,
                                              const std::string& letters = "");
std::unique_ptr<TProteinObject> BuildHelix(int residues);
std::unique_ptr<TProteinObject> BuildExtended(int residues);

// Residues with CA atoms on a straight line 3.8 Å apart and the other backbone
// atoms beside them; enough for the rules that read only bonds and letters.
std::unique_ptr<TProteinObject> BuildLine(int residues);

// Appends one residue with the given backbone atoms; returns its index.
int AppendResidue(TProteinObject& p, const TCoord& n, const TCoord& ca, const TCoord& c, const TCoord& o,
                  char letter = 'A');

// Puts a counting hydrogen bond N-H(donor) -> O=C(acceptor) into the donor's next free NH slot.
void SetBond(TProteinObject& p, int donor, int acceptor, int energy = -2000);

// Writes SSSymbol of residues 1.. from a string.
void SetSymbols(TProteinObject& p, const std::string& symbols);
std::string Symbols(const TProteinObject& p);

// Routes the protein's report lines (and its own log) into a temporary file for the life of the object.
class LogCapture {
 public:
  explicit LogCapture(TProteinObject& p);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::vector<std::string> Lines() const;

 private:
  TempDir dir_;
  TProteinObject& protein_;
  TLogFileObject* previous_;
};

inline TCoord Coord(float x, float y, float z) { return TCoord{x, y, z}; }

}  // namespace cavitas::testing
