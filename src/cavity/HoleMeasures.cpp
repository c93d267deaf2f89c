#include "cavity/HoleMeasures.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "frame/Threads.h"
#include "surface/PatchIntegrals.h"

namespace cavitas {

TSurfaceMeasures MeasureSurface(const TModelConstants& model, const TElementList& elements, bool cavity) {
  TSurfaceMeasures out;
  if (elements.empty()) return out;
  // Integrals about a point of the surface keep the flux terms small.
  const TAtom& first = *elements.front()->Atom;
  const TExtVector origin = ToExt(first);
  // Fixed chunks summed in their order: the same sums on any number of threads.
  constexpr std::size_t kChunk = 512;
  const std::size_t chunks = (elements.size() + kChunk - 1) / kChunk;
  struct TSums {
    long double Area = 0, Flux = 0, ProbeFlux = 0;
    TExtVector Moment{};
    std::int32_t Sampled = 0;
  };
  std::vector<TSums> sums(chunks);
  const int threads = WorkerThreads(static_cast<std::int64_t>(elements.size()), 8 * kChunk);
  // Each thread takes the next chunk when done with one: cores of unequal
  // speed finish together.
  std::atomic<std::size_t> next{0};
  RunParts(threads, [&](int) {
    for (std::size_t c = next++; c < chunks; c = next++) {
      TSums& s = sums[c];
      const std::size_t end = std::min(elements.size(), (c + 1) * kChunk);
      for (std::size_t i = c * kChunk; i < end; ++i) {
        const TPatchIntegrals p = PatchIntegrals(model, *elements[i], origin);
        s.Area += p.Area;
        s.Flux += p.Flux;
        s.ProbeFlux += p.ProbeFlux;
        s.Moment = s.Moment + p.Moment;
        if (!p.Exact) ++s.Sampled;
      }
    }
  });
  long double area = 0, flux = 0, probeFlux = 0;
  TExtVector moment{};
  for (const TSums& s : sums) {
    area += s.Area;
    flux += s.Flux;
    probeFlux += s.ProbeFlux;
    moment = moment + s.Moment;
    out.SampledPatches += s.Sampled;
  }
  // Divergence theorem: V = 1/3 ∮ x·n dA; a cavity's normals point into it.
  const long double sign = cavity ? -1 : 1;
  out.Area = static_cast<double>(area);
  out.Volume = static_cast<double>(sign * flux / 3);
  if (cavity) out.ProbeCentreVolume = static_cast<double>(-probeFlux / 3);
  for (int k = 0; k < 3; ++k)
    out.Centre[k] = static_cast<double>(origin[k] + (area > 0 ? moment[k] / area : 0));
  return out;
}

}  // namespace cavitas
