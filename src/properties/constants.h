#pragma once
// Physical constants as the program stores them: the decimals every printed table was made
// with, not today's exact values. A formula that needs one names it from here, so the same
// rounding reaches both front doors.

namespace aerosol {

inline constexpr double kPi = 3.1415926;
inline constexpr double kTwoPi = 6.2831852;
inline constexpr double kFourPi = 12.5663704;
inline constexpr double kBoltzmann = 1.38e-23;         // J/K
inline constexpr double kEightBoltzmann = 1.104e-22;   // 8 k, J/K
inline constexpr double kGasConstant = 8.314;          // J/(mol K)
inline constexpr double kAvogadro = 6.0225e23;         // 1/mol
inline constexpr double kPascalPerAtm = 101325.0;      // Pa/atm
// Molar mass (kg/mol) of the carrier gas in its mean free path
// lambda = mu / P sqrt(pi R T / (2 M)): argon's 0.040, which the input-file processes use
// (written there as sqrt(pi R T / 0.08); 2 * 0.040 is 0.08 to the bit). Air is 0.02897.
inline constexpr double kDefaultGasMolarMass = 0.040;

}  // namespace aerosol
