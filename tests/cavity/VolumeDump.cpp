// Test-only: reads a PDB file, runs the volume scan and prints one line per atom
// (Number, x, y, z, radius, Volume, ContactVolume) for tools/volume_check.py.
// Usage: volume_dump file.pdb [exactness] [stouten|protor] [fast|reference|extended]
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <string>

#include "cavity/Volume.h"
#include "input/ReadProtein.h"
#include "model/Radii.h"

int main(int argc, char** argv) {
  using namespace cavitas;
  if (argc < 2) {
    std::fprintf(stderr, "usage: volume_dump file.pdb [exactness] [stouten|protor] [fast|reference|extended]\n");
    return 2;
  }
  TVolumeMethod method = TVolumeMethod::Fast;
  if (argc > 4 && std::strcmp(argv[4], "reference") == 0) method = TVolumeMethod::Reference;
  if (argc > 4 && std::strcmp(argv[4], "extended") == 0) method = TVolumeMethod::ReferenceExtended;
  TProteinObject protein;
  TModelConstants& model = protein.Context.Model;
  if (argc > 3 && std::strcmp(argv[3], "protor") == 0) model.SelectRadiusSet(kProtor);
  if (argc > 2) model.SetExactness(std::stod(argv[2]));
  ReadProtein(protein, argv[1], "/dev/null", 0);
  const auto t0 = std::chrono::steady_clock::now();
  const std::clock_t c0 = std::clock();
  ComputeVolumes(protein, method);
  const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("# atoms %d exactness %.6f radius set %d seconds %.3f cpu %.3f\n", protein.AtomCount, model.Exactness,
              model.RadiusSet, seconds, cpu);
  for (int i = 1; i <= protein.AtomCount; ++i) {
    const TAtom* a = protein.AtomAt(i);
    if (a == nullptr) continue;
    std::printf("%d %.3f %.3f %.3f %.4f %.9g %.9g\n", a->Number, a->X, a->Y, a->Z, model.Radius(*a), a->Volume,
                a->ContactVolume);
  }
  return 0;
}
