#pragma once
// Small pieces shared by the case-file reader and writer.

#include <string>

namespace aerosol {

// The shortest decimal that reads back to the same double ("nan", "inf" and "-inf" for the
// non-finite ones, as TOML writes them).
std::string formatCaseNumber(double value);

}  // namespace aerosol
