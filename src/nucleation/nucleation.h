#pragma once
// Classical homogeneous nucleation of a cooling vapour: saturation state, nucleation rate
// and critical cluster, the placement of new particles on the grid, and the monomer balance.
// The vapour monomer is node 1; particles occupy nodes 2..n.

#include <vector>

#include "properties/material.h"

namespace aerosol {

struct MonomerProperties {
  double monomerArea = 0.0;    // s1, m2
  double monomerMass = 0.0;    // m1, kg
  double monomerVolume = 0.0;  // v1, m3
};

struct NucleationState {
  double surfaceTension = 0.0;           // sigma, N/m
  double saturationPressure = 0.0;       // Ps, Pa
  double saturationConcentration = 0.0;  // ns, #/m3
  double saturationRatio = 0.0;          // S
  double theta = 0.0;                    // dimensionless surface tension
  double nucleationRate = 0.0;           // Jk, #/(m3 s)
  double criticalSize = 0.0;             // k*, monomers (never rounded)
  double criticalDiameter = 0.0;         // d*, m
  double criticalVolume = 0.0;           // v*, m3
};

MonomerProperties computeMonomerProperties(double density, double monomerVolume);

// The input-file processes' vapour at time 0: 1.001 times the saturation concentration at
// the starting temperature T0 (K) and gas pressure P (atm).
double initialMonomerConcentration(const MaterialProperties& material, double gasPressure,
                                   double startTemperature);

// Surface tension (N/m), saturation pressure (Pa) and saturation concentration (#/m3) at T
// (K) and gas pressure P (atm); the part of the state that growth alone needs.
void computeSaturation(const MaterialProperties& material, double gasPressure,
                       double temperature, NucleationState& state);

// The whole state at T with monomer concentration N1 (#/m3). Nothing is clipped: S below 1
// gives negative critical sizes, as the formulas say.
NucleationState computeNucleationState(const MaterialProperties& material, double gasPressure,
                                       const MonomerProperties& monomer, double temperature,
                                       double monomerConcentration);

// xi_k, k = 2..n: particles added to node k per critical cluster; each cluster goes whole
// into the smallest node above v*, scaled to conserve volume.
void computeNucleationFractions(const std::vector<double>& volume, int nodeCount,
                                double criticalVolume, std::vector<double>& nucleationFraction);

double removeNucleatedMonomers(double monomerConcentration, double nucleationRate,
                               double criticalSize, double dt);

double coolGas(double temperature, double coolingRate, double dt);

}  // namespace aerosol
