#pragma once
// The material of the nucleation worked example (M = 0.1 kg/mol, rho = 2000 kg/m3, surface
// tension 500 - 0.2 T dyne/cm, Ps = exp(10 - 30000/T) atm), cooling from 1500 K at 1000 K/s,
// with air's Sutherland constants: the settings that tests and benchmarks share.

#include <cmath>

#include "processes/run_settings.h"

namespace aerosol {

inline RunSettings exampleMaterial(int nodeCount, int process, int collisionFunction) {
  RunSettings s;
  s.nodeCount = nodeCount;
  s.startTemperature = 1500.0;
  s.coolingRate = 1000.0;
  s.pressure = 1.0;
  s.molecularWeight = 0.1;
  s.density = 2000.0;
  s.surfaceTensionA = 500.0;
  s.surfaceTensionB = 0.2;
  s.vaporPressureC = 10.0;
  s.vaporPressureD = 30000.0;
  s.process = process;
  s.collisionFunction = collisionFunction;
  s.sutherlandA = 1.458e-6;
  s.sutherlandB = 110.4;
  s.spacingFactor = std::pow(10.0, 12.0 / static_cast<double>(nodeCount - 2));
  s.monomerVolume = s.molecularWeight / (s.density * 6.0225e23);
  return s;
}

}  // namespace aerosol
