// The materials library: the data file's schema, its figures against the published table they
// were copied from, lookups, and the warnings for runs outside a fit's range.

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <toml++/toml.h>

#include "case/materials.h"

namespace aerosol {
namespace {

std::string dataFileText() {
  std::ifstream in(std::string(AEROSOL_SOURCE_DIR) + "/data/materials.toml", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool positiveNumber(const toml::node_view<const toml::node>& node) {
  auto value = node.value<double>();
  return node.is_number() && value && std::isfinite(*value) && *value > 0.0;
}

bool sourced(const toml::node_view<const toml::node>& label,
             const toml::node_view<const toml::node>& source) {
  auto l = label.value<std::string>();
  auto s = source.value<std::string>();
  return l && (*l == "S" || *l == "D") && s && !s->empty();
}

bool temperatureRange(const toml::node_view<const toml::node>& node) {
  const toml::array* range = node.as_array();
  if (!range || range->size() != 2) return false;
  auto low = (*range)[0].value<double>();
  auto high = (*range)[1].value<double>();
  return low && high && *low > 0.0 && *low < *high;
}

// Read with toml++ directly, not through the library's reader, so a reader that skips a key
// cannot hide a hole in the file.
TEST(MaterialsFile, EveryEntryHasEveryFigureWithItsSource) {
  std::string text = dataFileText();
  ASSERT_FALSE(text.empty()) << "data/materials.toml not found";
  toml::table root = toml::parse(text);
  ASSERT_EQ(root.size(), 14u);
  // A figure no source gives is marked so, with a note saying why.
  const auto given = [](const toml::node_view<const toml::node>& figure) {
    if (!figure["given"].value<bool>().value_or(true)) {
      EXPECT_TRUE(figure["note"].is_string());
      return false;
    }
    return true;
  };
  for (const auto& [key, node] : root) {
    SCOPED_TRACE(std::string(key.str()));
    auto m = toml::node_view<const toml::node>(node);
    EXPECT_TRUE(m["symbol"].is_string());
    if (given(m["molar_mass"])) {
      EXPECT_TRUE(positiveNumber(m["molar_mass"]["kg_per_mol"]));
      EXPECT_TRUE(sourced(m["molar_mass"]["label"], m["molar_mass"]["source"]));
    }
    if (given(m["density"])) {
      EXPECT_TRUE(positiveNumber(m["density"]["kg_per_m3"]));
      EXPECT_TRUE(positiveNumber(m["density"]["at_K"]));
      EXPECT_TRUE(m["density"]["state"].is_string());
      EXPECT_TRUE(sourced(m["density"]["label"], m["density"]["source"]));
    }
    if (m["sintering"]) {
      EXPECT_TRUE(positiveNumber(m["sintering"]["A"]));
      EXPECT_TRUE(positiveNumber(m["sintering"]["T_a_K"]));
      EXPECT_TRUE(sourced(m["sintering"]["label"], m["sintering"]["source"]));
    }
    auto sigma = m["surface_tension"];
    ASSERT_TRUE(sigma["given"].is_boolean());
    if (sigma["given"].value<bool>().value()) {
      EXPECT_TRUE(positiveNumber(sigma["A_dyne_per_cm"]));
      EXPECT_TRUE(positiveNumber(sigma["B_dyne_per_cm_K"]));
      EXPECT_TRUE(sourced(sigma["A_label"], sigma["A_source"]));
      EXPECT_TRUE(sourced(sigma["B_label"], sigma["B_source"]));
      EXPECT_TRUE(temperatureRange(sigma["range_K"]) || sigma["note"].is_string());
    } else {
      EXPECT_TRUE(sigma["note"].is_string());  // says why it is left to the case file
    }
    auto vapour = m["vapour_pressure"];
    if (!given(vapour)) continue;
    EXPECT_TRUE(positiveNumber(vapour["C"]));
    EXPECT_TRUE(positiveNumber(vapour["D_K"]));
    EXPECT_TRUE(temperatureRange(vapour["range_K"]));
    EXPECT_TRUE(positiveNumber(vapour["max_rel_err"]));
    EXPECT_LT(vapour["max_rel_err"].value_or(1.0), 0.2);  // a fraction, not a percentage
    EXPECT_TRUE(sourced(vapour["label"], vapour["source"]));
    if (const toml::array* alternatives = m["alternatives"].as_array()) {
      for (const toml::node& alternative : *alternatives) {
        auto a = toml::node_view<const toml::node>(alternative);
        EXPECT_TRUE(sourced(a["label"], a["source"]));
      }
    }
  }
}

TEST(MaterialsFile, CompiledInCopyIsTheDataFileAndReads) {
  EXPECT_EQ(embeddedMaterialsText(), dataFileText());
  std::vector<MaterialEntry> entries;
  std::string message;
  ASSERT_TRUE(parseMaterialLibrary(embeddedMaterialsText(), entries, message)) << message;
  ASSERT_EQ(materialLibrary().size(), 14u);
  EXPECT_EQ(materialLibrary().front().name, "aluminium");  // the file's order
  EXPECT_EQ(materialLibrary().back().name, "silica");
}

// Transcription guard: the figures of the published table (molar mass, density, A, B, sigma
// range, C, D, Ps range, max error in %). Ranges there are rounded to whole kelvins.
struct Row {
  const char* symbol;
  double M, rho, A, B, sigmaLow, sigmaHigh, C, D, psLow, psHigh, errPercent;
};
const Row kTable[] = {
    {"Al", 0.026981538, 2377, 0, 0, 0, 0, 13.0700, 36391.5, 1482, 2790, 4.1},
    {"Fe", 0.055845, 7035, 0, 0, 0, 0, 14.2256, 44354.0, 1728, 3132, 8.7},
    {"Ni", 0.0586934, 7810, 2468.80, 0.3500, 1700, 2020, 14.6944, 46654.6, 1783, 3184, 5.6},
    {"Cu", 0.063546, 7997, 1633.00, 0.2100, 1400, 1750, 13.1322, 37149.8, 1509, 2834, 4.0},
    {"Ag", 0.1078682, 9320, 1099.10, 0.1500, 0, 0, 12.8777, 31245.0, 1283, 2433, 5.2},
    {"Au", 0.19696657, 17310, 1402.84, 0.1800, 0, 0, 13.2304, 40735.0, 1646, 3078, 1.0},
    {"Si", 0.028085, 2570, 837.59, 0.0620, 0, 0, 13.4764, 47707.8, 1908, 3537, 0.4},
    {"Zn", 0.06538, 6570, 0, 0, 0, 0, 12.3277, 14483.3, 610, 1179, 11.7},
    {"Mg", 0.024305, 1584, 0, 0, 0, 0, 12.4076, 16702.8, 701, 1361, 16.1},
    {"Ti", 0.047867, 4110, 2010.71, 0.2049, 0, 0, 14.4885, 51499.3, 1982, 3558, 3.2},
    {"Na", 0.022989769, 927, 223.56, 0.0460, 373, 523, 10.6561, 12270.5, 554, 1153, 3.4},
    {"H2O", 0.0180151, 997.0, 122.97, 0.1711, 283, 373, 13.9803, 5204.5, 273, 373, 3.8},
};

// The sintering laws as their sources give them (A, T_a, d_min); silicon's A is the source's
// 5396 over its diffusion prefactor 4.69e-7 m2/s.
TEST(MaterialsLibrary, SinteringLawsMatchTheirSources) {
  struct Law {
    const char* name;
    SinteringForm form;
    double A, Ta, dMin;
  };
  const Law laws[] = {{"titania", SinteringForm::GrainBoundary, 7.44e16, 31000.0, 0.0},
                      {"silica", SinteringForm::ViscousFlow, 6.5e-15, 8.3e4, 0.0},
                      {"silicon", SinteringForm::SolidState, 5396.0 / 4.69e-7, 7562.0, 0.0}};
  for (const Law& law : laws) {
    SCOPED_TRACE(law.name);
    const MaterialEntry* m = findMaterial(law.name);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->sintering.form, law.form);
    EXPECT_NEAR(m->sintering.prefactor / law.A, 1.0, 1e-4);
    EXPECT_EQ(m->sintering.activationTemperature, law.Ta);
    EXPECT_EQ(m->sintering.minDiameter, law.dMin);
  }
  // Titania's sources disagree by an order of magnitude: the others are listed.
  EXPECT_EQ(findMaterial("TiO2")->alternatives.size(), 2u);
}

TEST(MaterialsLibrary, FiguresMatchThePublishedTable) {
  for (const Row& row : kTable) {
    SCOPED_TRACE(row.symbol);
    const MaterialEntry* m = findMaterial(row.symbol);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->molarMass, row.M);
    EXPECT_NEAR(m->density, row.rho, 0.05);
    EXPECT_EQ(m->hasSurfaceTension, row.A > 0.0);
    EXPECT_EQ(m->surfaceTensionA, row.A);
    EXPECT_EQ(m->surfaceTensionB, row.B);
    EXPECT_EQ(m->surfaceTensionRange.has_value(), row.sigmaLow > 0.0);
    if (m->surfaceTensionRange) {
      EXPECT_NEAR(m->surfaceTensionRange->low, row.sigmaLow, 0.5);
      EXPECT_NEAR(m->surfaceTensionRange->high, row.sigmaHigh, 0.5);
    }
    EXPECT_EQ(m->vaporPressureC, row.C);
    EXPECT_EQ(m->vaporPressureD, row.D);
    EXPECT_NEAR(m->vaporPressureRange.low, row.psLow, 0.5);
    EXPECT_NEAR(m->vaporPressureRange.high, row.psHigh, 0.5);
    EXPECT_NEAR(m->vaporPressureMaxError * 100.0, row.errPercent, 0.051);
  }
}

// The vapour-pressure ranges are the temperatures where the source tables give 1 Pa and
// 100 kPa (water: 0.6113 and 101.32 kPa at 0 and 100 C), so exp(C - D/T) in atm must meet
// those pressures there within the fit's stated error. A coefficient in the wrong unit or
// scaled by a gas pressure fails this.
TEST(MaterialsLibrary, VapourPressureMeetsTheSourcePointsAtTheRangeEnds) {
  const double atm = 101325.0;
  for (const MaterialEntry& m : materialLibrary()) {
    SCOPED_TRACE(m.name);
    if (!m.hasVaporPressure) continue;
    bool water = m.symbol == "H2O";
    double pLow = (water ? 611.3 : 1.0) / atm;
    double pHigh = (water ? 101320.0 : 100000.0) / atm;
    auto ps = [&](double T) { return std::exp(m.vaporPressureC - m.vaporPressureD / T); };
    double slack = m.vaporPressureMaxError + 0.002;  // C and D carry four or five digits
    EXPECT_NEAR(ps(m.vaporPressureRange.low) / pLow, 1.0, slack);
    EXPECT_NEAR(ps(m.vaporPressureRange.high) / pHigh, 1.0, slack);
  }
}

// sigma = A - B T against the reference points the sources state (A was derived from them).
TEST(MaterialsLibrary, SurfaceTensionMeetsTheSourceReferencePoints) {
  struct Point {
    const char* name;
    double T, sigma;
  };
  const Point points[] = {
      {"nickel", 1728.0, 1864.0}, {"silver", 1234.0, 914.0},     {"gold", 1338.0, 1162.0},
      {"silicon", 1687.0, 733.0}, {"titanium", 1941.0, 1613.0},  {"sodium", 373.15, 206.4},
      {"sodium", 523.15, 199.5},  {"water", 298.15, 71.97},  // Britannica, 25 C
  };
  for (const Point& p : points) {
    SCOPED_TRACE(std::string(p.name) + " at " + std::to_string(p.T) + " K");
    const MaterialEntry* m = findMaterial(p.name);
    ASSERT_NE(m, nullptr);
    EXPECT_NEAR(m->surfaceTensionA - m->surfaceTensionB * p.T, p.sigma, 0.05);
  }
}

TEST(MaterialsLibrary, LookupByNameSymbolOrAliasIgnoresCase) {
  const MaterialEntry* iron = findMaterial("iron");
  ASSERT_NE(iron, nullptr);
  EXPECT_EQ(iron->symbol, "Fe");
  EXPECT_EQ(findMaterial("Iron"), iron);
  EXPECT_EQ(findMaterial("FE"), iron);
  EXPECT_EQ(findMaterial("fe"), iron);
  EXPECT_EQ(findMaterial("aluminum"), findMaterial("Al"));
  ASSERT_NE(findMaterial("h2o"), nullptr);
  EXPECT_EQ(findMaterial("h2o")->name, "water");
  EXPECT_EQ(findMaterial("iro"), nullptr);
  EXPECT_EQ(findMaterial("iron "), nullptr);
  EXPECT_EQ(findMaterial(""), nullptr);
  EXPECT_EQ(findMaterial("NaCl"), nullptr);  // left out: no vapour-pressure table found

  // The case record: Ps in atm (factor 1, not the gas pressure); no surface tension for iron.
  MaterialProperties p = iron->properties();
  EXPECT_EQ(p.name, "iron");
  EXPECT_EQ(p.vaporPressureFactor, 1.0);
  EXPECT_FALSE(p.factorIsGasPressure);
  EXPECT_EQ(p.surfaceTensionA, 0.0);
  EXPECT_EQ(findMaterial("Cu")->properties().surfaceTensionA, 1633.0);
}

TEST(MaterialsLibrary, RangeWarningsNameThePropertyAndTheRange) {
  const MaterialEntry& iron = *findMaterial("iron");
  std::vector<std::string> w = materialRangeWarnings(iron, 300.0, 2000.0);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], "iron: vapour pressure fit holds for 1728-3132 K; the run goes down to 300 K");
  EXPECT_EQ(materialRangeWarnings(iron, 2000.0, 300.0), w);  // either order
  EXPECT_TRUE(materialRangeWarnings(iron, 1728.0, 3132.0).empty());  // the ends hold

  const MaterialEntry& nickel = *findMaterial("nickel");
  w = materialRangeWarnings(nickel, 1800.0, 3300.0);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], "nickel: vapour pressure fit holds for 1783-3184 K; the run goes up to 3300 K");
  EXPECT_EQ(w[1], "nickel: surface tension fit holds for 1700-2020 K; the run goes up to 3300 K");
  w = materialRangeWarnings(nickel, 1000.0, 4000.0);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_NE(w[0].find("the run spans 1000-4000 K"), std::string::npos);

  // No stated surface-tension range (silver): only the vapour pressure can warn.
  EXPECT_EQ(materialRangeWarnings(*findMaterial("silver"), 300.0, 1500.0).size(), 1u);

  // A property the case overrides is not the library's fit any more.
  MaterialProperties inUse = nickel.properties();
  inUse.vaporPressureC = 15.0;
  w = materialRangeWarnings(nickel, 1800.0, 3300.0, &inUse);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_NE(w[0].find("surface tension"), std::string::npos);
  inUse.surfaceTensionB = 0.3;
  EXPECT_TRUE(materialRangeWarnings(nickel, 1800.0, 3300.0, &inUse).empty());
}

TEST(MaterialsLibrary, ListingGivesEveryMaterialWithRangesAndSources) {
  std::string text = listMaterials();
  for (const MaterialEntry& m : materialLibrary()) {
    EXPECT_NE(text.find("\n" + m.name + " (" + m.symbol + ")"), std::string::npos) << m.name;
    EXPECT_NE(text.find(m.vaporPressureSource.citation), std::string::npos) << m.name;
  }
  EXPECT_NE(text.find("holds for 1728-3132 K"), std::string::npos);
  EXPECT_NE(text.find("not in the library: the case file gives A and B"), std::string::npos);
}

// Faults a later edit of the data file could bring in; each is refused with the key named.
TEST(MaterialsLibrary, ReaderRefusesDamagedEntries) {
  const std::string good = R"(
[iron]
symbol = "Fe"
[iron.molar_mass]
kg_per_mol = 0.055845
label = "S"
source = "a"
[iron.density]
kg_per_m3 = 7035
state = "liquid"
at_K = 1811.15
label = "S"
source = "b"
[iron.surface_tension]
given = false
note = "none"
[iron.vapour_pressure]
C = 14.2256
D_K = 44354.0
range_K = [1728.0, 3132.0]
max_rel_err = 0.0875
label = "D"
source = "c"
)";
  std::vector<MaterialEntry> entries;
  std::string message;
  ASSERT_TRUE(parseMaterialLibrary(good, entries, message)) << message;
  ASSERT_EQ(entries.size(), 1u);

  auto edit = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  // A second, complete entry whose symbol clashes with iron's.
  std::string ferrum = good;
  for (std::size_t at; (at = ferrum.find("iron")) != std::string::npos;) {
    ferrum.replace(at, 4, "ferrum");
  }
  ferrum.replace(ferrum.find("\"Fe\""), 4, "\"FE\"");
  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {edit("source = \"c\"", "source = \"\""), "iron.vapour_pressure.source"},
      {edit("source = \"a\"\n", ""), "iron.molar_mass.source: is missing"},
      {edit("kg_per_m3 = 7035", "kg_per_m3 = -7035"), "iron.density.kg_per_m3"},
      {edit("kg_per_m3 = 7035", "kg_per_m3 = \"7035\""), "iron.density.kg_per_m3"},
      {edit("range_K = [1728.0, 3132.0]", "range_K = [3132.0, 1728.0]"), "range_K"},
      {edit("label = \"D\"", "label = \"X\""), "iron.vapour_pressure.label"},
      {edit("max_rel_err", "max_rel_error = 0.1\nmax_rel_err"), "max_rel_error: is not a key"},
      {edit("given = false", "given = true"), "A_dyne_per_cm: is missing"},
      {edit("[iron]", "[Iron]"), "lower-case"},
      {good + ferrum, "\"FE\" is already used"},
      {"[iron\n", "line 1"},
      {"", "no materials"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_FALSE(parseMaterialLibrary(c.text, entries, message));
    EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    EXPECT_TRUE(entries.empty());
  }
}

}  // namespace
}  // namespace aerosol
