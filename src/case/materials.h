#pragma once
// The materials library: molar mass, density, surface tension A - B T and vapour pressure
// exp(C - D/T) of the materials in data/materials.toml, each figure with its source and the
// temperatures where its fit holds. The file is compiled into the program, so neither the
// program nor the Python module needs a data path at run time.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "case/case.h"
#include "properties/aggregates.h"

namespace aerosol {

// Where a figure comes from: label "S" (read in the source) or "D" (derived from it).
struct FigureSource {
  std::string label;
  std::string citation;
};

struct TemperatureRange {
  double low = 0.0;   // K
  double high = 0.0;  // K
};

// Another published (or liquid-only) fit of a property, for a case file to override with.
struct AlternativeFit {
  enum class Property { SurfaceTension, VaporPressure, Sintering };
  Property property = Property::VaporPressure;
  double first = 0.0;   // A (dyne/cm) or C
  double second = 0.0;  // B (dyne/(cm K)) or D (K)
  std::optional<TemperatureRange> range;
  double maxRelativeError = 0.0;  // vapour pressure; 0 when none is stated
  SinteringLaw sintering;         // Sintering
  FigureSource source;
};

struct MaterialEntry {
  std::string name;    // lower-case key: "iron"
  std::string symbol;  // chemical symbol or formula: "Fe", "H2O"
  std::vector<std::string> aliases;

  // A material may lack a figure that no source read for the library gives (an oxide's
  // molar mass and density, say): a case naming it gives that figure itself; `note` says why.
  bool hasMolarMass = true;
  double molarMass = 0.0;  // kg/mol
  FigureSource molarMassSource;
  std::string molarMassNote;

  bool hasDensity = true;
  std::string densityNote;
  double density = 0.0;            // kg/m3, at densityTemperature
  std::string densityState;        // "liquid at the melting point"
  double densityTemperature = 0.0; // K
  double densitySlope = 0.0;       // kg/(m3 K), rho(T) = density - slope (T - T_ref); 0 if none
  double densitySlopeUpTo = 0.0;   // K, highest temperature of the slope's table; 0 if none
  FigureSource densitySource;

  // False for materials with no temperature-dependent surface tension from a source: a case
  // must then give A and B itself.
  bool hasSurfaceTension = false;
  double surfaceTensionA = 0.0;  // dyne/cm
  double surfaceTensionB = 0.0;  // dyne/(cm K)
  std::optional<TemperatureRange> surfaceTensionRange;  // none when the source states none
  FigureSource surfaceTensionASource;
  FigureSource surfaceTensionBSource;
  std::string surfaceTensionNote;

  bool hasVaporPressure = true;
  double vaporPressureC = 0.0;  // Ps = exp(C - D/T) atm, not scaled by the gas pressure
  double vaporPressureD = 0.0;  // K
  TemperatureRange vaporPressureRange;
  double vaporPressureMaxError = 0.0;  // largest |fit/source - 1| over the fitted points
  FigureSource vaporPressureSource;     // covers C, D, the range and the error
  std::string vaporPressureNote;

  // The law by which its aggregates sinter, where a source gives one (form None otherwise).
  SinteringLaw sintering;
  FigureSource sinteringSource;

  std::vector<AlternativeFit> alternatives;

  // The case record's material with these figures (factor 1: Ps in atm). A and B stay 0 when
  // the library has no surface tension.
  MaterialProperties properties() const;
};

// Reads a library text; false with `message` (the entry, the key, what was expected) when an
// entry lacks a key, has the wrong type, or a figure that is not positive and finite.
bool parseMaterialLibrary(std::string_view text, std::vector<MaterialEntry>& result,
                          std::string& message);

// The library compiled into the program, in the file's order.
const std::vector<MaterialEntry>& materialLibrary();
std::string_view embeddedMaterialsText();

// By name, alias or symbol, ignoring case ("Iron", "fe", "aluminum"); nullptr if unknown.
const MaterialEntry* findMaterial(std::string_view name);

// The names a case may give, for messages: "aluminium (Al), iron (Fe), ..., water (H2O)".
std::string materialNames();

// The library as text: one block per material with its figures, ranges and sources.
std::string listMaterials();

// One warning per property whose fit range the run's temperatures [Tmin, Tmax] leave:
// "iron: vapour pressure fit holds for 1728-3132 K; the run goes down to 300 K". With
// `inUse`, a property whose coefficients differ from the library's (the case overrode them)
// gets no warning.
std::vector<std::string> materialRangeWarnings(const MaterialEntry& entry, double Tmin,
                                               double Tmax,
                                               const MaterialProperties* inUse = nullptr);

}  // namespace aerosol
