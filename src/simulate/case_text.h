#pragma once
// Small pieces shared by the case-file reader and writer.

#include <string>

namespace aerosol {

// The shortest decimal that reads back to the same double ("nan", "inf" and "-inf" for the
// non-finite ones, as TOML writes them).
std::string formatCaseNumber(double value);

// The node diameters the grid of a case gives (m): (6 v / pi)^e with the case's stored
// one third, as the processes build them. Used to check that particle sizes lie on the grid.
double caseNodeDiameter(double volume, double diameterExponent);

}  // namespace aerosol
