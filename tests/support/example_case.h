#pragma once
// The simulate case that a legacy run folder of these settings describes for process 1 to 4
// (the vapour-pressure law times the gas pressure, S = 1.001 at the start, cooling to
// 300 K): the case that tests and benchmarks set against the fixed-step processes.

#include "case/case.h"
#include "coagulation/node_grid.h"
#include "processes/run_settings.h"

namespace aerosol {

inline SimulationCase legacyCaseOf(const RunSettings& s, int process) {
  SimulationCase c;
  c.source = "test case";
  c.legacyProcess = process;
  c.material = materialOf(s);
  c.gas = carrierGasOf(s);
  c.grid.nodeCount = s.nodeCount;
  c.grid.spacingFactor = s.spacingFactor;
  c.grid.firstVolume = s.monomerVolume;
  c.grid.diameterExponent = process == 2 ? kThirdSeven : kThirdSix;
  Mechanisms& m = c.mechanisms;
  m.kernel = kernelFormOf(s);
  m.vapor = process == 4 ? VaporMode::Held : VaporMode::Depleted;
  m.nucleation = process == 2 || process == 3;
  m.coagulation = process == 2 || process == 3;
  m.growth = process == 3 || process == 4;
  c.initial.saturationRatio = 1.001;
  c.temperature.law = TemperatureLaw::CoolingRate;
  c.temperature.start = s.startTemperature;
  c.temperature.coolingRate = s.coolingRate;
  c.end.rule = EndRule::Temperature;
  c.end.temperature = 300.0;
  return c;
}

}  // namespace aerosol
