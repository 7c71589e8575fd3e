#pragma once
// The particles of a case at t = 0 on the node grid. A size between two nodes is shared
// between them so that both the number and the volume are kept: a monodisperse size as it
// is, a lognormal or an exponential section by section (the number and the volume of the
// distribution between two node volumes, in closed form, shared between those two nodes). What
// lies beyond the grid's end nodes goes into them with its number; its share is reported.

#include <vector>

#include "case/case.h"

namespace aerosol {

struct ParticlePlacement {
  std::vector<double> number;  // #/m3 at node k in [k - 1], nodes 1..n
  double numberOffGrid = 0.0;  // share of the number below the first node or above node n
  double volumeOffGrid = 0.0;  // share of the volume there
};

// `volume[k]` is the volume (m3) of node k = 1..n (volume[0] unused); particles go to nodes
// first..n.
ParticlePlacement placeInitialParticles(const InitialState& initial,
                                        const std::vector<double>& volume, int first, int n);

// A share of the number or volume off the grid above this gets a warning before the run.
inline constexpr double kOffGridWarning = 1e-3;

}  // namespace aerosol
