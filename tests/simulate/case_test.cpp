// Case files and legacy folders: what a valid file gives, what is refused and how the
// message points at it, the round trip through caseToToml, and each process's folder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "case/case.h"
#include "case/materials.h"

namespace aerosol {
namespace {

const std::string kExamples = std::string(AEROSOL_SOURCE_DIR) + "/examples";

// A nucleation-growth case with particles from the start; every refusal below is one edit
// of it.
const char* const kValid = R"(# test case
[material]
molar_mass = 0.1          # kg/mol
density = 2000            # kg/m3
surface_tension_a = 500   # dyne/cm
surface_tension_b = 0.2
vapor_pressure_c = 10
vapor_pressure_d = 30000

[gas]
pressure = 1.0
sutherland_a = 1.458e-6
sutherland_b = 110.4

[grid]
nodes = 48

[initial]
saturation_ratio = 1.001

[initial.particles]
kind = "lognormal"
diameter = 5.0
sigma_g = 1.4
concentration = 1e12

[temperature]
law = "cooling"
start = 1500
cooling_rate = 1000

[end]
temperature = 300

[mechanisms]
nucleation = true
coagulation = true
kernel = "fuchs"
growth = true
vapor = "depleted"

[tolerances]
relative = 1e-5

[output]
times = 51
spacing = "log"
)";

int lineOf(const std::string& text, const std::string& needle) {
  const std::size_t at = text.find(needle);
  if (at == std::string::npos) return 0;
  int line = 1;
  for (std::size_t i = 0; i < at; ++i) line += text[i] == '\n';
  return line;
}

std::string edited(std::string text, const std::string& find, const std::string& replace) {
  const std::size_t at = text.find(find);
  EXPECT_NE(at, std::string::npos) << find;
  if (at != std::string::npos) text.replace(at, find.size(), replace);
  return text;
}

void expectSameCase(const SimulationCase& a, const SimulationCase& b) {
  EXPECT_EQ(a.material.name, b.material.name);
  EXPECT_EQ(a.material.molarMass, b.material.molarMass);
  EXPECT_EQ(a.material.density, b.material.density);
  EXPECT_EQ(a.material.surfaceTensionA, b.material.surfaceTensionA);
  EXPECT_EQ(a.material.surfaceTensionB, b.material.surfaceTensionB);
  EXPECT_EQ(a.material.vaporPressureC, b.material.vaporPressureC);
  EXPECT_EQ(a.material.vaporPressureD, b.material.vaporPressureD);
  EXPECT_EQ(a.material.vaporPressureFactor, b.material.vaporPressureFactor);
  EXPECT_EQ(a.material.factorIsGasPressure, b.material.factorIsGasPressure);
  EXPECT_EQ(a.gas.pressure, b.gas.pressure);
  EXPECT_EQ(a.gas.sutherlandA, b.gas.sutherlandA);
  EXPECT_EQ(a.gas.sutherlandB, b.gas.sutherlandB);
  EXPECT_EQ(a.gas.molarMass, b.gas.molarMass);
  EXPECT_EQ(a.grid.nodeCount, b.grid.nodeCount);
  EXPECT_EQ(a.grid.spacingFactor, b.grid.spacingFactor);
  EXPECT_EQ(a.grid.firstVolume, b.grid.firstVolume);
  EXPECT_EQ(a.grid.diameterExponent, b.grid.diameterExponent);
  EXPECT_EQ(a.mechanisms.nucleation, b.mechanisms.nucleation);
  EXPECT_EQ(a.mechanisms.coagulation, b.mechanisms.coagulation);
  EXPECT_EQ(a.mechanisms.kernel, b.mechanisms.kernel);
  EXPECT_EQ(a.mechanisms.constantKernel, b.mechanisms.constantKernel);
  EXPECT_EQ(a.mechanisms.additiveKernel, b.mechanisms.additiveKernel);
  EXPECT_EQ(a.mechanisms.growth, b.mechanisms.growth);
  EXPECT_EQ(a.mechanisms.vapor, b.mechanisms.vapor);
  EXPECT_EQ(a.initial.saturationRatio, b.initial.saturationRatio);
  EXPECT_EQ(a.initial.monomerConcentration, b.initial.monomerConcentration);
  EXPECT_EQ(a.initial.particles, b.initial.particles);
  EXPECT_EQ(a.initial.diameter, b.initial.diameter);
  EXPECT_EQ(a.initial.concentration, b.initial.concentration);
  EXPECT_EQ(a.initial.seedNode, b.initial.seedNode);
  EXPECT_EQ(a.initial.geometricStd, b.initial.geometricStd);
  EXPECT_EQ(a.temperature.law, b.temperature.law);
  EXPECT_EQ(a.temperature.start, b.temperature.start);
  EXPECT_EQ(a.temperature.coolingRate, b.temperature.coolingRate);
  ASSERT_EQ(a.temperature.table.size(), b.temperature.table.size());
  for (std::size_t i = 0; i < a.temperature.table.size(); ++i) {
    EXPECT_EQ(a.temperature.table[i].time, b.temperature.table[i].time);
    EXPECT_EQ(a.temperature.table[i].temperature, b.temperature.table[i].temperature);
    EXPECT_EQ(a.temperature.table[i].pressure, b.temperature.table[i].pressure);
  }
  EXPECT_EQ(a.reactor.expansion, b.reactor.expansion);
  EXPECT_EQ(a.reactor.dilution.constant, b.reactor.dilution.constant);
  ASSERT_EQ(a.reactor.dilution.table.size(), b.reactor.dilution.table.size());
  for (std::size_t i = 0; i < a.reactor.dilution.table.size(); ++i) {
    EXPECT_EQ(a.reactor.dilution.table[i].time, b.reactor.dilution.table[i].time);
    EXPECT_EQ(a.reactor.dilution.table[i].rate, b.reactor.dilution.table[i].rate);
  }
  EXPECT_EQ(a.reactor.tubeDiameter, b.reactor.tubeDiameter);
  EXPECT_EQ(a.reactor.wallLossRate, b.reactor.wallLossRate);
  EXPECT_EQ(a.precursor.present, b.precursor.present);
  EXPECT_EQ(a.precursor.concentration, b.precursor.concentration);
  EXPECT_EQ(a.precursor.rateA, b.precursor.rateA);
  EXPECT_EQ(a.precursor.activationTemperature, b.precursor.activationTemperature);
  EXPECT_EQ(a.precursor.product, b.precursor.product);
  EXPECT_EQ(a.end.rule, b.end.rule);
  EXPECT_EQ(a.end.time, b.end.time);
  EXPECT_EQ(a.end.temperature, b.end.temperature);
  EXPECT_EQ(a.tolerances.relative, b.tolerances.relative);
  EXPECT_EQ(a.tolerances.absolute, b.tolerances.absolute);
  EXPECT_EQ(a.tolerances.maxSteps, b.tolerances.maxSteps);
  EXPECT_EQ(a.output.file, b.output.file);
  EXPECT_EQ(a.output.times, b.output.times);
  EXPECT_EQ(a.output.spacing, b.output.spacing);
}

// caseToToml, read back, gives the same record.
void expectRoundTrip(const SimulationCase& original) {
  const std::string toml = caseToToml(original);
  SimulationCase again;
  std::string message;
  ASSERT_TRUE(parseCaseText(toml, "printed.toml", again, message)) << message << "\n" << toml;
  expectSameCase(original, again);
  EXPECT_EQ(again.sourceText, toml);
}

TEST(CaseFile, ValidCaseFillsTheRecord) {
  SimulationCase c;
  std::string message;
  ASSERT_TRUE(parseCaseText(kValid, "case.toml", c, message)) << message;
  EXPECT_EQ(c.source, "case.toml");
  EXPECT_EQ(c.sourceText, kValid);
  EXPECT_EQ(c.legacyProcess, 0);
  EXPECT_EQ(c.material.molarMass, 0.1);
  EXPECT_EQ(c.material.vaporPressureFactor, 1.0);
  EXPECT_FALSE(c.material.factorIsGasPressure);
  EXPECT_EQ(c.gas.sutherlandB, 110.4);
  EXPECT_EQ(c.grid.nodeCount, 48);
  EXPECT_EQ(c.grid.spacingFactor, 0.0);  // derived as the processes do
  // With a vapour node 1 is the monomer: M / (rho NA).
  EXPECT_EQ(c.grid.firstVolume, 0.1 / (2000 * 6.0225e23));
  EXPECT_EQ(c.grid.diameterExponent, GridSpec{}.diameterExponent);
  EXPECT_EQ(c.initial.saturationRatio, 1.001);
  EXPECT_EQ(c.initial.monomerConcentration, 0.0);
  EXPECT_EQ(c.initial.particles, ParticleInit::Lognormal);
  EXPECT_EQ(c.initial.diameter, 5.0);
  EXPECT_EQ(c.initial.geometricStd, 1.4);
  EXPECT_EQ(c.initial.concentration, 1e12);
  EXPECT_EQ(c.temperature.law, TemperatureLaw::CoolingRate);
  EXPECT_EQ(c.temperature.start, 1500.0);
  EXPECT_EQ(c.temperature.coolingRate, 1000.0);
  EXPECT_EQ(c.end.rule, EndRule::Temperature);
  EXPECT_EQ(c.end.temperature, 300.0);
  EXPECT_TRUE(c.mechanisms.nucleation && c.mechanisms.coagulation && c.mechanisms.growth);
  EXPECT_EQ(c.mechanisms.kernel, KernelForm::Fuchs);
  EXPECT_EQ(c.mechanisms.vapor, VaporMode::Depleted);
  EXPECT_EQ(c.tolerances.relative, 1e-5);
  // Unset tolerances and output keys keep the record's defaults.
  EXPECT_EQ(c.tolerances.absolute, Tolerances{}.absolute);
  EXPECT_EQ(c.tolerances.maxSteps, Tolerances{}.maxSteps);
  EXPECT_EQ(c.output.file, "");
  EXPECT_EQ(c.output.times, 51);
  EXPECT_EQ(c.output.spacing, TimeSpacing::Logarithmic);
  expectRoundTrip(c);
}

TEST(CaseFile, OtherFormsFillTheRecordAndRoundTrip) {
  struct Form {
    const char* name;
    std::vector<std::pair<std::string, std::string>> edits;
  };
  const std::vector<Form> forms = {
      {"pure coagulation from a seeded node, constant temperature",
       {{"nucleation = true", "nucleation = false"},
        {"growth = true", "growth = false"},
        {"vapor = \"depleted\"", "vapor = \"none\""},
        {"saturation_ratio = 1.001", ""},
        {"nodes = 48", "nodes = 30\nfirst_diameter = 1.0\nspacing = 2"},
        {"kind = \"lognormal\"\ndiameter = 5.0\nsigma_g = 1.4", "kind = \"node\"\nnode = 1"},
        {"law = \"cooling\"\nstart = 1500\ncooling_rate = 1000", "law = \"constant\"\nstart = 300"},
        {"temperature = 300", "time = 0.01"}}},
      {"pure coagulation of particles as large as the first node",
       {{"nucleation = true", "nucleation = false"},
        {"growth = true", "growth = false"},
        {"vapor = \"depleted\"", "vapor = \"none\""},
        {"saturation_ratio = 1.001", ""},
        {"nodes = 48", "nodes = 30\nfirst_diameter = 1.0"},
        {"kind = \"lognormal\"\ndiameter = 5.0\nsigma_g = 1.4",
         "kind = \"monodisperse\"\ndiameter = 1.0"},
        {"law = \"cooling\"\nstart = 1500\ncooling_rate = 1000", "law = \"constant\"\nstart = 300"},
        {"temperature = 300", "time = 0.01"}}},
      {"held vapour, monodisperse, a table with pressures, the legacy vapour-pressure factor",
       {{"nucleation = true", "nucleation = false"},
        {"coagulation = true", "coagulation = false"},
        {"vapor = \"depleted\"", "vapor = \"held\""},
        {"vapor_pressure_d = 30000", "vapor_pressure_d = 30000\nvapor_pressure_times_gas_pressure = true"},
        {"pressure = 1.0\n", ""},
        {"saturation_ratio = 1.001", "monomer_concentration = 3.3e20"},
        {"kind = \"lognormal\"\ndiameter = 5.0\nsigma_g = 1.4", "kind = \"monodisperse\"\ndiameter = 3"},
        {"law = \"cooling\"\nstart = 1500\ncooling_rate = 1000",
         "law = \"table\"\ntable = [[0, 1500, 0.9], [0.1, 1400, 1.1], [0.5, 250, 1.0]]"},
        {"[output]", "[output]\nfile = \"out dir/\\\"r\\\".nc\""}}},
      {"reactor terms only: a precursor making particles of monomer size, a dilution table, "
       "a tube, a closed volume",
       {{"nucleation = true", "nucleation = false"},
        {"coagulation = true", "coagulation = false"},
        {"growth = true", "growth = false"},
        {"vapor = \"depleted\"", "vapor = \"none\""},
        {"saturation_ratio = 1.001", ""},
        {"[initial.particles]\nkind = \"lognormal\"\ndiameter = 5.0\nsigma_g = 1.4\n"
         "concentration = 1e12",
         ""},
        {"[mechanisms]",
         "[reactor]\nexpansion = false\ndilution_rate = [[0, 100], [0.5, 2.5e3]]\n"
         "tube_diameter = 0.02\nwall_loss_rate = 0.25\n\n[precursor]\nconcentration = 1e22\n"
         "rate_a = 8.26e4\nactivation_temperature = 10681\nproduct = \"particles\"\n\n"
         "[mechanisms]"}}},
      {"a precursor making the vapour, which starts without any",
       {{"saturation_ratio = 1.001", ""},
        {"[mechanisms]",
         "[reactor]\ndilution_rate = 40\n\n[precursor]\nconcentration = 1e21\nrate_a = 1e3\n"
         "activation_temperature = 0\nproduct = \"vapor\"\n\n[mechanisms]"}}},
      {"the constant test kernel from an exponential distribution",
       {{"nucleation = true", "nucleation = false"},
        {"growth = true", "growth = false"},
        {"vapor = \"depleted\"", "vapor = \"none\""},
        {"saturation_ratio = 1.001", ""},
        {"nodes = 48", "nodes = 60\nfirst_diameter = 0.2\nspacing = 2"},
        {"kind = \"lognormal\"\ndiameter = 5.0\nsigma_g = 1.4",
         "kind = \"exponential\"\ndiameter = 20"},
        {"kernel = \"fuchs\"", "kernel = \"constant\"\nconstant_kernel = 1e-15"},
        {"law = \"cooling\"\nstart = 1500\ncooling_rate = 1000", "law = \"constant\"\nstart = 300"},
        {"temperature = 300", "time = 100"}}},
  };
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    std::string text = kValid;
    for (const auto& [find, replace] : form.edits) text = edited(text, find, replace);
    SimulationCase c;
    std::string message;
    ASSERT_TRUE(parseCaseText(text, "case.toml", c, message)) << message << "\n" << text;
    expectRoundTrip(c);
  }
  // Spot checks of the second form: the table's first pressure is the gas pressure and the
  // legacy factor follows it.
  std::string text = kValid;
  for (const auto& [find, replace] : forms[2].edits) text = edited(text, find, replace);
  SimulationCase c;
  std::string message;
  ASSERT_TRUE(parseCaseText(text, "case.toml", c, message)) << message;
  EXPECT_EQ(c.gas.pressure, 0.9);
  EXPECT_TRUE(c.material.factorIsGasPressure);
  EXPECT_EQ(c.material.vaporPressureFactor, 0.9);
  ASSERT_EQ(c.temperature.table.size(), 3u);
  EXPECT_EQ(c.temperature.table[2].temperature, 250.0);
  EXPECT_EQ(c.output.file, "out dir/\"r\".nc");
  // The reactor's keys: a case file's gas expands unless it says otherwise; a precursor
  // that makes particles starts the grid at the monomer.
  EXPECT_TRUE(c.reactor.expansion);
  text = kValid;
  for (const auto& [find, replace] : forms[3].edits) text = edited(text, find, replace);
  ASSERT_TRUE(parseCaseText(text, "case.toml", c, message)) << message;
  EXPECT_FALSE(c.reactor.expansion);
  ASSERT_EQ(c.reactor.dilution.table.size(), 2u);
  EXPECT_EQ(c.reactor.dilution.at(0.25), 1300.0);
  EXPECT_EQ(c.reactor.tubeDiameter, 0.02);
  EXPECT_EQ(c.precursor.product, PrecursorProduct::Particles);
  EXPECT_EQ(c.grid.firstVolume, 0.1 / (2000 * 6.0225e23));
}

// One row per refusal: the edit of the valid case, the text whose line the message must
// name (empty: the edit's own line; "-": no line), and a fragment of the message.
struct Refusal {
  const char* find;
  const char* replace;
  const char* lineAt;
  const char* fragment;
};

const Refusal kRefusals[] = {
    // Types, ranges and non-finite values.
    {"nodes = 48", "nodes = 500", "", "grid.nodes = 500: expected a whole number from 3 to 400"},
    {"nodes = 48", "nodes = 2", "", "grid.nodes = 2: expected a whole number from 3 to 400"},
    {"nodes = 48", "nodes = 48.0", "", "grid.nodes = 48.0: expected a whole number"},
    {"nodes = 48", "nodes = \"48\"", "", "grid.nodes = \"48\": expected a whole number"},
    {"density = 2000", "density = 0", "", "material.density = 0: expected a density from 1 to"},
    {"density = 2000", "density = -1e300", "", "material.density = -1e300: expected"},
    {"density = 2000", "density = nan", "", "material.density = nan: expected a density from"},
    {"molar_mass = 0.1", "molar_mass = inf", "", "material.molar_mass = inf: expected"},
    {"surface_tension_b = 0.2", "surface_tension_b = true", "",
     "material.surface_tension_b = true: expected a finite number"},
    {"pressure = 1.0", "pressure = 0", "", "gas.pressure = 0: expected a pressure from 1e-6 to"},
    {"sigma_g = 1.4", "sigma_g = 1", "",
     "initial.particles.sigma_g = 1: expected a geometric standard deviation above 1"},
    {"concentration = 1e12", "concentration = -1", "",
     "initial.particles.concentration = -1: expected a number concentration from 0 to 1e30"},
    {"relative = 1e-5", "relative = 1", "",
     "tolerances.relative = 1: expected a relative tolerance from 1e-12 to below 1"},
    {"relative = 1e-5", "relative = 1e-300", "",
     "tolerances.relative = 1e-300: expected a relative tolerance from 1e-12"},
    {"relative = 1e-5", "absolute = 0", "", "tolerances.absolute = 0: expected"},
    {"relative = 1e-5", "max_steps = 0", "", "tolerances.max_steps = 0: expected a whole number"},
    {"times = 51", "times = 1", "", "output.times = 1: expected a whole number of output times"},
    {"spacing = \"log\"", "spacing = \"logarithmic\"", "",
     "output.spacing = \"logarithmic\": expected \"linear\" or \"log\""},
    {"kernel = \"fuchs\"", "kernel = \"Fuchs\"", "",
     "mechanisms.kernel = \"Fuchs\": expected \"free-molecular\", \"fuchs\", \"constant\" or "
     "\"additive\""},
    // Aggregates: the fractal law within its range, a sintering law with its constants.
    {"[tolerances]", "[aggregates]\nfractal_dimension = 3.5\nsintering = \"none\"\n[tolerances]",
     "fractal_dimension", "aggregates.fractal_dimension = 3.5: expected a fractal dimension above 1"},
    {"[tolerances]", "[aggregates]\nfractal_dimension = 1\nsintering = \"none\"\n[tolerances]",
     "fractal_dimension", "aggregates.fractal_dimension = 1: expected a fractal dimension above 1"},
    {"[tolerances]", "[aggregates]\nprefactor = 0\nsintering = \"none\"\n[tolerances]",
     "prefactor", "aggregates.prefactor = 0: expected a fractal prefactor k_f above 0"},
    {"[tolerances]", "[aggregates]\nsintering = \"viscous-flow\"\nsintering_a = 1e-15\n[tolerances]",
     "[aggregates]", "aggregates.sintering_activation_temperature is missing"},
    {"[tolerances]", "[aggregates]\n[tolerances]", "[aggregates]",
     "aggregates.sintering is missing: expected \"grain-boundary\""},
    {"[tolerances]", "[aggregates]\nsintering = \"none\"\nsintering_a = 1.0\n[tolerances]",
     "sintering_a", "aggregates.sintering_a = 1.0: expected no sintering_a with sintering = \"none\""},
    {"kind = \"lognormal\"\ndiameter = 5.0\nsigma_g = 1.4", "kind = \"exponential\"",
     "[initial.particles]",
     "initial.particles.diameter is missing: expected the mean volume's diameter from 0.1 nm"},
    {"kind = \"lognormal\"", "kind = \"exponential\"", "sigma_g",
     "initial.particles.sigma_g = 1.4: expected no sigma_g with kind = \"exponential\""},
    {"sigma_g = 1.4", "sigma_g = 1.4\nprimary_diameter = 2", "primary_diameter",
     "expected no primary_diameter without an [aggregates] table"},
    {"kernel = \"fuchs\"", "kernel = \"constant\"", "[mechanisms]",
     "mechanisms.constant_kernel is missing: expected a collision frequency function above 0"},
    {"kernel = \"fuchs\"", "kernel = \"additive\"\nadditive_kernel = -1", "additive_kernel",
     "mechanisms.additive_kernel = -1: expected a coefficient b above 0"},
    {"kernel = \"fuchs\"", "kernel = \"fuchs\"\nconstant_kernel = 1e-15", "constant_kernel",
     "mechanisms.constant_kernel = 1e-15: expected no constant_kernel unless kernel = \"constant\""},
    {"growth = true", "growth = 1", "", "mechanisms.growth = 1: expected true or false"},
    {"start = 1500", "start = -5", "", "temperature.start = -5: expected a temperature from 1 to"},
    {"nodes = 48", "nodes = 48\nspacing = 1", "spacing = 1",
     "grid.spacing = 1: expected a volume ratio of successive nodes above 1"},
    // Library materials: names, overrides, and a vapour needing a surface tension.
    {"[material]\nmolar_mass = 0.1          # kg/mol\ndensity = 2000            # kg/m3\n"
     "surface_tension_a = 500   # dyne/cm\nsurface_tension_b = 0.2\nvapor_pressure_c = 10\n"
     "vapor_pressure_d = 30000\n",
     "material = \"iron\"\n", "",
     "material.surface_tension_a is missing: the library has no surface tension for iron"},
    {"molar_mass = 0.1", "name = \"copper\"\nmolar_mass = -2", "molar_mass = -2",
     "material.molar_mass = -2: expected a molar mass from 0.001 to 10 kg/mol"},
    {"molar_mass = 0.1", "name = 7\nmolar_mass = 0.1", "", "material.name = 7: expected a "
                                                             "material of the library: "},
    {"[material]\nmolar_mass = 0.1          # kg/mol\ndensity = 2000            # kg/m3\n"
     "surface_tension_a = 500   # dyne/cm\nsurface_tension_b = 0.2\nvapor_pressure_c = 10\n"
     "vapor_pressure_d = 30000\n",
     "material = 26\n", "", "material = 26: expected a material name"},
    // Unknown and missing keys.
    {"nodes = 48", "nodes = 48\nnode_count = 3", "node_count",
     "grid.node_count: unknown key; expected one of nodes, spacing"},
    {"[end]", "[ending]", "", "ending: unknown key; expected the tables"},
    {"nodes = 48", "", "[grid]", "grid.nodes is missing: expected a whole number from 3 to 400"},
    {"vapor = \"depleted\"", "", "[mechanisms]", "mechanisms.vapor is missing"},
    {"kernel = \"fuchs\"", "", "[mechanisms]", "mechanisms.kernel is missing"},
    {"sutherland_a = 1.458e-6", "", "[gas]", "gas.sutherland_a is missing"},
    {"saturation_ratio = 1.001", "", "[initial]", "initial.saturation_ratio is missing"},
    {"temperature = 300", "", "[end]", "end.time is missing"},
    {"[tolerances]\nrelative = 1e-5", "[temperature2]", "", "temperature2: unknown key"},
    {"[initial.particles]\nkind = \"lognormal\"\ndiameter = 5.0\nsigma_g = 1.4\nconcentration = 1e12",
     "[initial.particles]\ndiameter = 5.0\nconcentration = 1e12", "[initial.particles]",
     "initial.particles.kind is missing"},
    {"molar_mass = 0.1          # kg/mol\n", "", "-", "material.molar_mass is missing"},
    // Keys that the other settings leave without a use.
    {"saturation_ratio = 1.001", "saturation_ratio = 1.001\nmonomer_concentration = 1e20",
     "monomer_concentration", "initial.monomer_concentration = 1e20: expected no "
                              "monomer_concentration together with saturation_ratio"},
    {"temperature = 300", "temperature = 300\ntime = 1", "temperature = 300",
     "end.temperature = 300: expected no temperature together with end.time"},
    {"cooling_rate = 1000", "cooling_rate = 1000\ntable = [[0, 1]]", "table =",
     "temperature.table = [...] (an array): expected no table with law = \"cooling\""},
    {"nodes = 48", "nodes = 48\nfirst_diameter = 1", "first_diameter",
     "grid.first_diameter = 1: expected no first_diameter with a vapour"},
    // Tables of temperatures.
    {"law = \"cooling\"\nstart = 1500\ncooling_rate = 1000",
     "law = \"table\"\ntable = [[0, 1500], [0.1, 1000],\n [0.1, 900]]", "[0.1, 900]",
     "temperature.table row 3 time = 0.1: expected a time after 0.1 s of the row before"},
    {"law = \"cooling\"\nstart = 1500\ncooling_rate = 1000",
     "law = \"table\"\ntable = [[0.5, 1500], [1, 1000]]", "table =",
     "temperature.table row 1 time = 0.5: expected 0 s"},
    {"law = \"cooling\"\nstart = 1500\ncooling_rate = 1000",
     "law = \"table\"\ntable = [[0, 1500], [1, 0]]", "table =",
     "temperature.table row 2 temperature = 0: expected a temperature from 1 to 1e5 K"},
    {"law = \"cooling\"\nstart = 1500\ncooling_rate = 1000",
     "law = \"table\"\ntable = [[0, 1500, 1], [1, 200]]", "table =",
     "temperature.table row 2 = [...] (an array): expected a row of 3 numbers like the first"},
    {"law = \"cooling\"\nstart = 1500\ncooling_rate = 1000",
     "law = \"table\"\ntable = [[0, 1500]]", "table =",
     "temperature.table = [...] (an array): expected an array of at least two rows"},
    {"law = \"cooling\"\nstart = 1500\ncooling_rate = 1000",
     "law = \"table\"\ntable = [[0, 1500], [1, 400]]", "temperature = 300",
     "end.temperature = 300: expected a temperature that the table reaches"},
    {"law = \"cooling\"\nstart = 1500\ncooling_rate = 1000",
     "law = \"table\"\ntable = [[0, 1500, 1], [1, 200, 1]]", "pressure = 1.0",
     "gas.pressure = 1: expected no gas.pressure when the temperature table gives pressures"},
    // Ends that are never reached, and laws that leave the physical range first.
    {"cooling_rate = 1000", "cooling_rate = -1000", "temperature = 300",
     "end.temperature = 300: expected a temperature that the law reaches"},
    {"law = \"cooling\"", "law = \"constant\"", "cooling_rate",
     "temperature.cooling_rate = 1000: expected no cooling_rate with law = \"constant\""},
    {"temperature = 300", "time = 2", "time = 2",
     "end.time = 2: expected an end before the cooling law reaches 1 K (at 1.499 s)"},
    {"surface_tension_a = 500", "surface_tension_a = 100", "surface_tension_a",
     "material.surface_tension_a = 100: expected a surface tension A - B T above 0"},
    {"sutherland_b = 110.4", "sutherland_b = -400", "sutherland_a",
     "gas.sutherland_a = 1.458e-6: expected Sutherland constants whose viscosity"},
    {"vapor_pressure_c = 10", "vapor_pressure_c = 1e300", "vapor_pressure_c",
     "material.vapor_pressure_c = 1e300: expected constants whose vapour pressure"},
    {"nodes = 48", "nodes = 48\nspacing = 1e300", "spacing",
     "grid.spacing = 1e300: expected a value whose node volumes are finite numbers above 0"},
    {"diameter = 5.0", "diameter = 1e5", "diameter = 1e5",
     "initial.particles.diameter = 100000: expected a diameter on the grid"},
    // Physical ranges: figures no aerosol has, refused before the run.
    {"pressure = 1.0", "pressure = 1e308", "", "gas.pressure = 1e308: expected a pressure from "
                                                "1e-6 to 1000 atm"},
    {"pressure = 1.0", "pressure = 1e-7", "", "gas.pressure = 1e-7: expected a pressure from"},
    {"start = 1500", "start = 1e9", "", "temperature.start = 1e9: expected a temperature from 1 "
                                        "to 1e5 K"},
    {"start = 1500", "start = 1e-9", "", "temperature.start = 1e-9: expected a temperature"},
    {"temperature = 300", "temperature = 0.5", "", "end.temperature = 0.5: expected a "
                                                   "temperature from 1 to 1e5 K"},
    {"law = \"cooling\"\nstart = 1500\ncooling_rate = 1000",
     "law = \"table\"\ntable = [[0, 1500, 1], [1, 200, 2e3]]", "table =",
     "temperature.table row 2 pressure = 2000.0: expected a pressure from 1e-6 to 1000 atm"},
    {"diameter = 5.0", "diameter = 1e100", "", "initial.particles.diameter = 1e100: expected a "
                                               "geometric mean diameter from 0.1 nm to 1 mm"},
    {"sigma_g = 1.4", "sigma_g = 1e300", "", "initial.particles.sigma_g = 1e300: expected a "
                                             "geometric standard deviation above 1 and at most 10"},
    {"concentration = 1e12", "concentration = 1e31", "",
     "initial.particles.concentration = 1e31: expected a number concentration from 0 to 1e30"},
    {"saturation_ratio = 1.001", "monomer_concentration = 1e300", "",
     "initial.monomer_concentration = 1e300: expected a number concentration above 0 and at "
     "most 1e30"},
    {"saturation_ratio = 1.001", "saturation_ratio = 1e300", "",
     "initial.saturation_ratio = 1e300: expected a saturation ratio whose monomer concentration "
     "at 1500 K is at most 1e30 #/m3"},
    {"density = 2000", "density = 1e308", "", "material.density = 1e308: expected a density"},
    {"sutherland_b = 110.4", "sutherland_b = 110.4\nmolar_mass = 29", "molar_mass = 29",
     "gas.molar_mass = 29: expected a molar mass from 0.001 to 1 kg/mol"},
    {"surface_tension_a = 500", "surface_tension_a = 1e5", "",
     "material.surface_tension_a = 100000: expected a surface tension whose monomer surface "
     "energy pi d1^2 sigma is at most 230 kT"},
    {"sutherland_a = 1.458e-6", "sutherland_a = 1e300", "",
     "gas.sutherland_a = 1e300: expected Sutherland constants whose viscosity A T^1.5 / (B + T) "
     "is from 1e-7 to 0.01 Pa s"},
    {"vapor_pressure_c = 10", "vapor_pressure_c = 700", "vapor_pressure_c",
     "material.vapor_pressure_c = 700: expected constants whose vapour pressure"},
    // Runs that would last less than 1e-12 s or more than 1e9 s.
    {"temperature = 300", "time = 1e-300", "", "end.time = 1e-300: expected an end time from "
                                               "1e-12 to 1e9 s"},
    {"cooling_rate = 1000", "cooling_rate = 1e-10", "",
     "temperature.cooling_rate = 1e-10: expected a cooling rate that reaches end.temperature = "
     "300 K in 1e-12 to 1e9 s (it takes 1.2e13 s)"},
    {"cooling_rate = 1000", "cooling_rate = 1e300", "",
     "temperature.cooling_rate = 1e300: expected a cooling rate that reaches"},
    {"cooling_rate = 1000", "cooling_rate = 1e-308", "temperature = 300",
     "end.temperature = 300: expected a temperature that the law reaches"},
    // Mechanisms that make no sense together.
    {"vapor = \"depleted\"", "vapor = \"none\"", "nucleation = true",
     "mechanisms.nucleation = true: expected false with mechanisms.vapor = \"none\""},
    {"kind = \"lognormal\"\ndiameter = 5.0\nsigma_g = 1.4",
     "kind = \"node\"\nnode = 1", "node = 1",
     "initial.particles.node = 1: expected a node of the grid from 2 to 48 (node 1 is the vapour)"},
    {"kind = \"lognormal\"\ndiameter = 5.0\nsigma_g = 1.4",
     "kind = \"node\"\nnode = 49\ndiameter = 5.0", "node = 49",
     "initial.particles.node = 49: expected a node of the grid from 2 to 48"},
    // Reactor conditions and a precursor.
    {"[mechanisms]", "[reactor]\nexpansion = 1\n[mechanisms]", "expansion",
     "reactor.expansion = 1: expected true or false"},
    {"[mechanisms]", "[reactor]\ndilution_rate = -1\n[mechanisms]", "dilution_rate",
     "reactor.dilution_rate = -1: expected a rate of 0 or more (1/s), or a table"},
    {"[mechanisms]", "[reactor]\ndilution_rate = [[0, 10], [0.1, 20],\n [0.1, 30]]\n[mechanisms]",
     "[0.1, 30]",
     "reactor.dilution_rate row 3 time = 0.1: expected a time after 0.1 s of the row before"},
    {"[mechanisms]", "[reactor]\ndilution_rate = [[0, 10], [0.1, -20]]\n[mechanisms]",
     "dilution_rate", "reactor.dilution_rate row 2 rate = -20: expected a rate of 0 or more"},
    {"[mechanisms]", "[reactor]\ndilution_rate = [[0, 10]]\n[mechanisms]", "dilution_rate",
     "reactor.dilution_rate = [...] (an array): expected a rate of 0 or more (1/s), or a table "
     "of at least two rows"},
    {"[mechanisms]", "[reactor]\ntube_diameter = 0\n[mechanisms]", "tube_diameter",
     "reactor.tube_diameter = 0: expected a tube diameter above 0 m"},
    {"[mechanisms]", "[reactor]\nwall_loss_rate = -0.5\n[mechanisms]", "wall_loss_rate",
     "reactor.wall_loss_rate = -0.5: expected a rate of 0 or more (1/s)"},
    {"[mechanisms]", "[reactor]\ntube = 0.02\n[mechanisms]", "tube =",
     "reactor.tube: unknown key; expected one of expansion, dilution_rate, tube_diameter"},
    {"[mechanisms]",
     "[precursor]\nconcentration = 1e22\nrate_a = -1\nactivation_temperature = 10681\n"
     "product = \"vapor\"\n[mechanisms]",
     "rate_a", "precursor.rate_a = -1: expected an Arrhenius prefactor of 0 or more"},
    {"[mechanisms]",
     "[precursor]\nconcentration = 1e22\nrate_a = 8.26e4\nactivation_temperature = -1\n"
     "product = \"vapor\"\n[mechanisms]",
     "activation_temperature", "precursor.activation_temperature = -1: expected an activation "
                               "temperature E/R of 0 or more (K)"},
    {"[mechanisms]",
     "[precursor]\nconcentration = 0\nrate_a = 8.26e4\nactivation_temperature = 10681\n"
     "product = \"vapor\"\n[mechanisms]",
     "concentration = 0", "precursor.concentration = 0: expected a concentration above 0"},
    {"[mechanisms]",
     "[precursor]\nconcentration = 1e22\nrate_a = 8.26e4\nactivation_temperature = 10681\n"
     "product = \"solid\"\n[mechanisms]",
     "product", "precursor.product = \"solid\": expected \"vapor\" or \"particles\""},
    {"[mechanisms]",
     "[precursor]\nconcentration = 1e22\nrate_a = 8.26e4\nactivation_temperature = 10681\n"
     "[mechanisms]",
     "[precursor]", "precursor.product is missing: expected \"vapor\" or \"particles\""},
    {"[mechanisms]",
     "[precursor]\nconcentration = 1e22\nrate_a = 8.26e4\nactivation_temperature = 10681\n"
     "product = \"particles\"\n[mechanisms]",
     "product", "precursor.product = \"particles\": expected \"vapor\" with a vapour"},
    {"vapor = \"depleted\"",
     "vapor = \"held\"\n[precursor]\nconcentration = 1e22\nrate_a = 8.26e4\n"
     "activation_temperature = 10681\nproduct = \"vapor\"",
     "vapor = \"held\"", "mechanisms.vapor = \"held\": expected \"depleted\" with a precursor"},
    // Syntax.
    {"nodes = 48", "nodes = = 48", "", "TOML syntax:"},
    {"nodes = 48", "nodes = 48\n[ grid ]", "[ grid ]", "TOML syntax:"},
};

TEST(CaseFile, RefusalsNameLineKeyValueAndExpectation) {
  for (const Refusal& row : kRefusals) {
    const std::string text = edited(kValid, row.find, row.replace);
    SCOPED_TRACE(std::string(row.replace) + " -> " + row.fragment);
    SimulationCase c;
    c.grid.nodeCount = -7;
    std::string message;
    ASSERT_FALSE(parseCaseText(text, "case.toml", c, message)) << text;
    EXPECT_NE(message.find(row.fragment), std::string::npos) << message;
    EXPECT_EQ(c.grid.nodeCount, -7) << "a refused case leaves the record alone";
    if (std::strcmp(row.lineAt, "-") == 0) continue;
    std::string at = *row.lineAt != '\0' ? row.lineAt : row.replace;
    const int line = lineOf(text, at.substr(0, at.find('\n')));
    ASSERT_GT(line, 0);
    EXPECT_EQ(message.rfind("case.toml:" + std::to_string(line) + ": ", 0), 0u) << message;
  }
}

TEST(CaseFile, RefusalsThatTakeSeveralEdits) {
  struct Row {
    std::vector<std::pair<std::string, std::string>> edits;
    const char* fragment;
  };
  const Row rows[] = {
      {{{"# test case", "grid = 5"}, {"[grid]\nnodes = 48\n", ""}},
       "case.toml:1: grid = 5: expected a [grid] table"},
      // Mechanisms that cannot work together.
      {{{"nucleation = true", "nucleation = false"},
        {"coagulation = true", "coagulation = false"},
        {"growth = true", "growth = false"},
        {"[mechanisms]", "[reactor]\nexpansion = false\n[mechanisms]"}},
       "nucleation, coagulation and growth are all false and no reactor term"},
      // A precursor that makes particles, with a grid that does not start at the monomer or
      // without a vapour to take its product; a tube without a gas viscosity.
      {{{"nucleation = true", "nucleation = false"},
        {"growth = true", "growth = false"},
        {"vapor = \"depleted\"", "vapor = \"none\""},
        {"saturation_ratio = 1.001", ""},
        {"nodes = 48", "nodes = 48\nfirst_diameter = 1"},
        {"[mechanisms]",
         "[precursor]\nconcentration = 1e22\nrate_a = 8.26e4\nactivation_temperature = 10681\n"
         "product = \"particles\"\n[mechanisms]"}},
       "grid.first_diameter = 1: expected no first_diameter with precursor.product = "
       "\"particles\" (node 1 is the monomer)"},
      {{{"nucleation = true", "nucleation = false"},
        {"growth = true", "growth = false"},
        {"vapor = \"depleted\"", "vapor = \"none\""},
        {"saturation_ratio = 1.001", ""},
        {"nodes = 48", "nodes = 48\nfirst_diameter = 1"},
        {"[mechanisms]",
         "[precursor]\nconcentration = 1e22\nrate_a = 8.26e4\nactivation_temperature = 10681\n"
         "product = \"vapor\"\n[mechanisms]"}},
       "precursor.product = \"vapor\": expected \"particles\" with mechanisms.vapor = \"none\""},
      {{{"kernel = \"fuchs\"", "kernel = \"free-molecular\""},
        {"sutherland_a = 1.458e-6\n", ""},
        {"[mechanisms]", "[reactor]\ntube_diameter = 0.01\n[mechanisms]"}},
       "gas.sutherland_a is missing"},
      {{{"nucleation = true", "nucleation = false"},
        {"[initial.particles]\nkind = \"lognormal\"\ndiameter = 5.0\nsigma_g = 1.4\n"
         "concentration = 1e12",
         ""}},
       "[initial.particles] is missing: expected particles at the start"},
      {{{"nucleation = true", "nucleation = false"}, {"vapor = \"depleted\"", "vapor = \"none\""}},
       "mechanisms.growth = true: expected false with mechanisms.vapor = \"none\""},
      {{{"nucleation = true", "nucleation = false"},
        {"growth = true", "growth = false"},
        {"vapor = \"depleted\"", "vapor = \"none\""},
        {"nodes = 48", "nodes = 48\nfirst_diameter = 1"}},
       "initial.saturation_ratio = 1.001: expected no saturation_ratio with mechanisms.vapor"},
      {{{"nucleation = true", "nucleation = false"},
        {"growth = true", "growth = false"},
        {"vapor = \"depleted\"", "vapor = \"none\""},
        {"saturation_ratio = 1.001", ""}},
       "grid.first_diameter is missing: expected the smallest particle diameter"},
      // Without a vapour: node 1's size, the grid's top, and particles given as none at all.
      {{{"nucleation = true", "nucleation = false"},
        {"growth = true", "growth = false"},
        {"vapor = \"depleted\"", "vapor = \"none\""},
        {"saturation_ratio = 1.001", ""},
        {"nodes = 48", "nodes = 48\nfirst_diameter = 1e100"}},
       "grid.first_diameter = 1e100: expected a diameter from 0.1 nm to 1 mm"},
      {{{"nucleation = true", "nucleation = false"},
        {"concentration = 1e12", "concentration = 0"}},
       "initial.particles.concentration = 0: expected particles at the start (a concentration "
       "above 0) when mechanisms.nucleation is false"},
  };
  for (const Row& row : rows) {
    std::string text = kValid;
    for (const auto& [find, replace] : row.edits) text = edited(text, find, replace);
    SimulationCase c;
    std::string message;
    EXPECT_FALSE(parseCaseText(text, "case.toml", c, message)) << row.fragment;
    EXPECT_NE(message.find(row.fragment), std::string::npos) << message;
    EXPECT_EQ(message.rfind("case.toml:", 0), 0u) << message;
  }
}

// The valid case's [material] table replaced by `replacement`, and other edits.
std::string withMaterial(const std::string& replacement,
                         const std::vector<std::pair<std::string, std::string>>& edits = {}) {
  const std::size_t begin = std::string(kValid).find("[material]");
  const std::size_t end = std::string(kValid).find("[gas]");
  std::string text = std::string(kValid).substr(0, begin) + replacement + "\n" +
                     std::string(kValid).substr(end);
  for (const auto& [find, replace] : edits) text = edited(text, find, replace);
  return text;
}

TEST(CaseFile, LibraryMaterialsTakeTheLibrarysFiguresAndOverrides) {
  const MaterialEntry* copper = findMaterial("copper");
  const MaterialEntry* iron = findMaterial("iron");
  ASSERT_TRUE(copper != nullptr && iron != nullptr);
  ASSERT_TRUE(copper->hasSurfaceTension);
  ASSERT_FALSE(iron->hasSurfaceTension);
  const std::vector<std::pair<std::string, std::string>> noVapour = {
      {"nucleation = true", "nucleation = false"},
      {"growth = true", "growth = false"},
      {"vapor = \"depleted\"", "vapor = \"none\""},
      {"saturation_ratio = 1.001", ""},
      {"nodes = 48", "nodes = 30\nfirst_diameter = 1.0"}};
  struct Form {
    const char* name;
    std::string text;
    MaterialProperties expected;
  };
  MaterialProperties denser = copper->properties();
  denser.density = 8000.0;
  MaterialProperties ironWithSigma = iron->properties();
  ironWithSigma.surfaceTensionA = 1800.0;
  ironWithSigma.surfaceTensionB = 0.3;
  const Form forms[] = {
      {"a name", withMaterial("material = \"copper\""), copper->properties()},
      {"a symbol in a table, with an override", withMaterial("[material]\nname = \"Cu\"\n"
                                                             "density = 8000"),
       denser},
      {"no surface tension in the library: the case gives it",
       withMaterial("[material]\nname = \"iron\"\nsurface_tension_a = 1800\n"
                    "surface_tension_b = 0.3"),
       ironWithSigma},
      {"no surface tension and no vapour", withMaterial("material = \"FE\"", noVapour),
       iron->properties()},
  };
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    SimulationCase c;
    std::string message;
    ASSERT_TRUE(parseCaseText(form.text, "case.toml", c, message)) << message << form.text;
    EXPECT_EQ(c.material.name, form.expected.name);
    EXPECT_EQ(c.material.molarMass, form.expected.molarMass);
    EXPECT_EQ(c.material.density, form.expected.density);
    EXPECT_EQ(c.material.surfaceTensionA, form.expected.surfaceTensionA);
    EXPECT_EQ(c.material.surfaceTensionB, form.expected.surfaceTensionB);
    EXPECT_EQ(c.material.vaporPressureC, form.expected.vaporPressureC);
    EXPECT_EQ(c.material.vaporPressureD, form.expected.vaporPressureD);
    EXPECT_EQ(c.material.vaporPressureFactor, 1.0);
    // Node 1 is the library's monomer.
    if (c.mechanisms.vapor != VaporMode::None) {
      EXPECT_EQ(c.grid.firstVolume,
                form.expected.molarMass / (form.expected.density * 6.0225e23));
    }
    expectRoundTrip(c);
    // The printed case names the material and gives every figure.
    const std::string toml = caseToToml(c);
    EXPECT_NE(toml.find("name = \"" + form.expected.name + "\""), std::string::npos) << toml;
    EXPECT_NE(toml.find("vapor_pressure_d = "), std::string::npos) << toml;
  }

  // An unknown name, at its line, with the names the library knows.
  for (const char* text : {"material = \"unobtainium\"", "[material]\nname = \"unobtainium\""}) {
    SimulationCase c;
    std::string message;
    const std::string caseText = withMaterial(text);
    ASSERT_FALSE(parseCaseText(caseText, "case.toml", c, message));
    EXPECT_EQ(message.rfind("case.toml:" + std::to_string(lineOf(caseText, "\"unobtainium\"")) +
                                ": ",
                            0),
              0u)
        << message;
    EXPECT_NE(message.find("\"unobtainium\": expected a material of the library: " +
                           materialNames()),
              std::string::npos)
        << message;
  }
  // Iron with a vapour in a table that gives only one of A and B.
  const std::string onlyA = withMaterial("[material]\nname = \"iron\"\nsurface_tension_a = 1800");
  SimulationCase c;
  std::string message;
  EXPECT_FALSE(parseCaseText(onlyA, "case.toml", c, message));
  EXPECT_NE(message.find("case.toml:" + std::to_string(lineOf(onlyA, "name = ")) +
                         ": material.surface_tension_b is missing: the library has no surface "
                         "tension for iron"),
            std::string::npos)
      << message;
}

TEST(CaseFile, WarningsForEachLibraryFitTheRunLeaves) {
  const MaterialEntry* copper = findMaterial("copper");
  ASSERT_TRUE(copper != nullptr && copper->surfaceTensionRange);
  const TemperatureRange sigma = *copper->surfaceTensionRange;
  const TemperatureRange vapour = copper->vaporPressureRange;
  // The valid case cools from 1500 K to 300 K, below both of copper's fits.
  ASSERT_LT(300.0, std::fmin(sigma.low, vapour.low));
  // A table from above the surface tension's range, ended by time part way: the span
  // reaches only the interpolated temperature at the end.
  const double hot = sigma.high + 200.0;
  const double endTemperature = std::fmax(vapour.low, sigma.low) + 50.0;
  const std::string table = "law = \"table\"\ntable = [[0, " + std::to_string(hot) + "], [1, " +
                            std::to_string(2 * endTemperature - hot) + "]]";
  struct Row {
    const char* name;
    std::string text;
    std::vector<std::string> properties;  // warned about, in order
  };
  const std::vector<Row> rows = {
      {"both fits left", withMaterial("material = \"copper\""),
       {"vapour pressure", "surface tension"}},
      {"own vapour pressure", withMaterial("[material]\nname = \"copper\"\nvapor_pressure_c = 11"),
       {"surface tension"}},
      {"the legacy law scales the vapour pressure",
       withMaterial("[material]\nname = \"copper\"\nvapor_pressure_times_gas_pressure = true"),
       {"surface tension"}},
      {"a table ended by time", withMaterial("material = \"copper\"",
                                             {{"law = \"cooling\"\nstart = 1500\n"
                                               "cooling_rate = 1000",
                                               table},
                                              {"temperature = 300", "time = 0.5"}}),
       {"surface tension"}},
      {"no library", kValid, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SimulationCase c;
    std::string message;
    ASSERT_TRUE(parseCaseText(row.text, "case.toml", c, message)) << message << row.text;
    const std::vector<std::string> warnings = caseWarnings(c);
    ASSERT_EQ(warnings.size(), row.properties.size());
    for (std::size_t i = 0; i < warnings.size(); ++i) {
      const TemperatureRange& range = row.properties[i] == "vapour pressure" ? vapour : sigma;
      EXPECT_EQ(warnings[i].rfind("copper: " + row.properties[i] + " fit holds for ", 0), 0u)
          << warnings[i];
      char text[64];
      std::snprintf(text, sizeof text, "%g-%g K", range.low, range.high);
      EXPECT_NE(warnings[i].find(text), std::string::npos) << warnings[i];
    }
  }
}

TEST(CaseFile, WarningForInitialParticlesBeyondTheGrid) {
  // A lognormal of 8 nm, sigma_g 2.5, on a grid from 5 nm: the share below 5 nm is
  // Phi(ln(5/8) / ln 2.5) of the number; on a grid from 0.2 nm, far below 1e-3: no word.
  const std::string base = edited(
      edited(edited(edited(edited(kValid, "nucleation = true", "nucleation = false"),
                           "growth = true", "growth = false"),
                    "vapor = \"depleted\"", "vapor = \"none\""),
             "saturation_ratio = 1.001", ""),
      "diameter = 5.0\nsigma_g = 1.4", "diameter = 8.0\nsigma_g = 2.5");
  const double below = 0.5 * std::erfc(-std::log(5.0 / 8.0) / std::log(2.5) / std::sqrt(2.0));
  for (const double first : {5.0, 0.2}) {
    SimulationCase c;
    std::string message;
    const std::string text =
        edited(base, "nodes = 48", "nodes = 48\nspacing = 2\nfirst_diameter = " +
                                       std::to_string(first));
    ASSERT_TRUE(parseCaseText(text, "case.toml", c, message)) << message;
    const std::vector<std::string> warnings = caseWarnings(c);
    if (first < 1.0) {
      EXPECT_TRUE(warnings.empty()) << warnings.front();
      continue;
    }
    ASSERT_EQ(warnings.size(), 1u);
    char share[32];
    std::snprintf(share, sizeof share, "%.3g%% of the number", 100.0 * below);
    EXPECT_EQ(warnings[0].rfind("initial.particles: " + std::string(share), 0), 0u)
        << warnings[0];
  }
}

TEST(CaseFile, NoInputCrashesTheReader) {
  const std::string odd[] = {
      "",
      "\xef\xbb\xbf",
      std::string("[grid]\nnodes = 4\0\n", 17),
      "nodes = 99999999999999999999999",
      "[grid]\nnodes = 9223372036854775807",
      "[grid]\nnodes = -9223372036854775808",
      std::string(300, '[') + std::string(300, ']'),
      "a = " + std::string(400, '[') + std::string(400, ']'),
      "[material]\ndensity = 1e309",
      "[[grid]]\nnodes = 4",
      "[temperature]\ntable = [[0, 1e308], [1e308, 1e-308]]",
  };
  // Names nested far deeper than any case key, which the TOML reader follows by recursion
  // (60000 levels overflowed the stack), and control characters that reach a message.
  std::string deep;
  for (int i = 0; i < 60000; ++i) deep += "a.";
  const std::string hostile[] = {"[" + deep + "b]", "[[" + deep + "b]]", deep + "b = 1",
                                 "\"a\\nb\" = 1", "[mechanisms]\n\"x\\u001b[31m\" = 1",
                                 "[mechanisms]\ncoagulation = tru\n"};
  for (const std::string& text : odd) {
    SimulationCase c;
    std::string message;
    EXPECT_FALSE(parseCaseText(text, "odd.toml", c, message));
    EXPECT_EQ(message.rfind("odd.toml", 0), 0u) << message;
  }
  for (const std::string& text : hostile) {
    SimulationCase c;
    std::string message;
    EXPECT_FALSE(parseCaseText(text, "odd.toml", c, message));
    EXPECT_EQ(message.rfind("odd.toml", 0), 0u) << message;
    for (const char ch : message) EXPECT_FALSE(ch == '\n' || ch == '\x1b') << message;
  }
  // Every value of the valid case replaced by extreme or wrongly typed ones.
  const std::string valid = kValid;
  const char* const extremes[] = {"0",    "-1",   "1e308", "-1e308", "5e-324", "nan",
                                  "-inf", "\"x\"", "[]",   "{}",     "true",
                                  "9223372036854775807", "1979-05-27"};
  for (std::size_t at = valid.find(" = "); at != std::string::npos;
       at = valid.find(" = ", at + 1)) {
    const std::size_t end = valid.find('\n', at);
    for (const char* value : extremes) {
      const std::string text = valid.substr(0, at + 3) + value + valid.substr(end);
      SimulationCase c;
      std::string message;
      if (!parseCaseText(text, "wild.toml", c, message)) {
        EXPECT_EQ(message.rfind("wild.toml:", 0), 0u) << message;
      }
    }
  }
  // Every single-character deletion of the valid case is read or refused with a message.
  for (std::size_t i = 0; i < valid.size(); ++i) {
    std::string text = valid;
    text.erase(i, 1);
    SimulationCase c;
    std::string message;
    if (!parseCaseText(text, "cut.toml", c, message)) {
      EXPECT_EQ(message.rfind("cut.toml", 0), 0u) << i << ": " << message;
    }
  }
}

TEST(CaseFile, ReadsFilesAndSaysWhyOneCannotBeRead) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("aerosol-case-test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "case.toml").string();
  {
    std::ofstream out(path, std::ios::binary);
    out << kValid;
  }
  SimulationCase c;
  std::string message;
  EXPECT_TRUE(readCaseFile(path, c, message)) << message;
  EXPECT_EQ(c.source, path);
  EXPECT_EQ(c.sourceText, kValid);
  EXPECT_FALSE(readCaseFile((dir / "missing.toml").string(), c, message));
  EXPECT_NE(message.find("missing.toml: cannot be opened"), std::string::npos) << message;
  EXPECT_FALSE(readCaseFile(dir.string(), c, message));
  EXPECT_NE(message.find("is a folder"), std::string::npos) << message;
  std::filesystem::remove_all(dir);
}

// Legacy folders: each bundled example maps to the model its process runs.
TEST(LegacyFolder, EachProcessMapsToItsModel) {
  const double monomerVolume = 0.1 / (2000 * 6.0225e23);
  // Saturation concentration at 1500 K with Ps = exp(C - D/T) P, times 1.001.
  const double startVapour =
      1.001 * (std::exp(10.0 - 30000.0 / 1500.0) * 1.0 * 101325 / (1.38e-23 * 1500.0));

  SimulationCase c;
  std::string message;
  ASSERT_TRUE(readLegacyFolder(kExamples + "/coagulation", c, message)) << message;
  EXPECT_EQ(c.legacyProcess, 1);
  EXPECT_EQ(c.grid.nodeCount, 26);
  EXPECT_EQ(c.grid.spacingFactor, std::pow(10.0, 12.0 / 24.0));
  EXPECT_EQ(c.grid.firstVolume, std::pow(1.0, 3.0) * (3.1415926 * 1e-27) / 6.0);
  EXPECT_EQ(c.grid.diameterExponent, 0.3333333);
  EXPECT_TRUE(c.mechanisms.coagulation);
  EXPECT_FALSE(c.mechanisms.nucleation || c.mechanisms.growth);
  EXPECT_EQ(c.mechanisms.vapor, VaporMode::None);
  EXPECT_EQ(c.mechanisms.kernel, KernelForm::FreeMolecular);
  EXPECT_EQ(c.initial.particles, ParticleInit::SeededNode);
  EXPECT_EQ(c.initial.seedNode, 1);
  EXPECT_EQ(c.initial.concentration, 1e20);
  EXPECT_EQ(c.temperature.law, TemperatureLaw::Constant);
  EXPECT_EQ(c.temperature.start, 300.0);
  EXPECT_EQ(c.end.rule, EndRule::Time);
  EXPECT_EQ(c.end.time, 0.01);
  EXPECT_EQ(c.material.density, 2000.0);
  EXPECT_EQ(c.sourceText, caseToToml(c));
  expectRoundTrip(c);

  for (const char* name : {"nucleation-coagulation", "nucleation-growth"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(readLegacyFolder(kExamples + "/" + name, c, message)) << message;
    const bool growth = std::string(name) == "nucleation-growth";
    EXPECT_EQ(c.legacyProcess, growth ? 3 : 2);
    EXPECT_EQ(c.grid.nodeCount, 20);
    EXPECT_EQ(c.grid.spacingFactor, std::pow(10.0, 12.0 / 18.0));
    EXPECT_EQ(c.grid.firstVolume, monomerVolume);
    EXPECT_EQ(c.grid.diameterExponent, growth ? 0.333333 : 0.3333333);
    EXPECT_TRUE(c.mechanisms.nucleation && c.mechanisms.coagulation);
    EXPECT_EQ(c.mechanisms.growth, growth);
    EXPECT_EQ(c.mechanisms.vapor, VaporMode::Depleted);
    EXPECT_EQ(c.initial.particles, ParticleInit::None);
    EXPECT_EQ(c.initial.monomerConcentration, startVapour);
    EXPECT_EQ(c.temperature.law, TemperatureLaw::CoolingRate);
    EXPECT_EQ(c.temperature.start, 1500.0);
    EXPECT_EQ(c.temperature.coolingRate, 6000.0);
    EXPECT_EQ(c.end.rule, EndRule::Temperature);
    EXPECT_EQ(c.end.temperature, 300.0);
    EXPECT_EQ(c.material.molarMass, 0.1);
    EXPECT_EQ(c.material.surfaceTensionA, 500.0);
    EXPECT_EQ(c.material.surfaceTensionB, 0.2);
    EXPECT_EQ(c.material.vaporPressureC, 10.0);
    EXPECT_EQ(c.material.vaporPressureD, 30000.0);
    EXPECT_TRUE(c.material.factorIsGasPressure);
    EXPECT_EQ(c.material.vaporPressureFactor, 1.0);
    EXPECT_EQ(c.gas.sutherlandA, 1.458e-6);
    EXPECT_EQ(c.gas.sutherlandB, 110.4);
    expectRoundTrip(c);
  }

  ASSERT_TRUE(readLegacyFolder(kExamples + "/seeded-growth", c, message)) << message;
  EXPECT_EQ(c.legacyProcess, 4);
  EXPECT_EQ(c.grid.nodeCount, 20);
  EXPECT_EQ(c.grid.firstVolume, monomerVolume);
  EXPECT_EQ(c.grid.diameterExponent, 0.333333);
  EXPECT_TRUE(c.mechanisms.growth);
  EXPECT_FALSE(c.mechanisms.nucleation || c.mechanisms.coagulation);
  EXPECT_EQ(c.mechanisms.vapor, VaporMode::Held);
  EXPECT_EQ(c.mechanisms.kernel, KernelForm::FreeMolecular);
  EXPECT_EQ(c.initial.particles, ParticleInit::SeededNode);
  EXPECT_EQ(c.initial.seedNode, 7);
  EXPECT_EQ(c.initial.concentration, 1e12);
  EXPECT_EQ(c.initial.monomerConcentration, startVapour);
  EXPECT_EQ(c.temperature.coolingRate, 10000.0);
  EXPECT_EQ(c.end.temperature, 300.0);
  expectRoundTrip(c);
}

class LegacyFolderFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("aerosol-legacy-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  // main.inp of the nucleation-growth example with one edit.
  void writeMain(const std::string& find, const std::string& replace) {
    std::ifstream in(kExamples + "/nucleation-growth/main.inp", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!find.empty()) text = edited(text, find, replace);
    std::ofstream(dir_ / "main.inp", std::ios::binary) << text;
  }
  std::string refusal() {
    SimulationCase c;
    std::string message;
    EXPECT_FALSE(readLegacyFolder(dir_.string(), c, message));
    return message;
  }
  std::filesystem::path dir_;
};

TEST_F(LegacyFolderFiles, RefusalsNameTheFolderAndFile) {
  const std::string folder = dir_.string();
  EXPECT_NE(refusal().find(folder + "/main.inp: cannot be opened"), std::string::npos);

  writeMain("surface growth:3", "surface growth:5");
  EXPECT_NE(refusal().find(folder + "/main.inp: process 5: expected a process from 1 to 4"),
            std::string::npos);

  writeMain("Density(Kg/m3): 2000", "Density(Kg/m3): 0");
  EXPECT_NE(refusal().find(folder + "/main.inp: \"Density(Kg/m3):\" (density) is 0"),
            std::string::npos);

  writeMain("Pressure(Atm): 1", "Pressure(Atm): 1e308");
  EXPECT_NE(refusal().find("as a case file, gas.pressure = 1e308: expected a pressure from"),
            std::string::npos);

  writeMain("Pressure(Atm): 1", "Pressure(Atm) 1");
  EXPECT_NE(refusal().find(folder + "/main.inp: label"), std::string::npos);

  // Process 1 and 4 read their second file from the folder.
  writeMain("surface growth:3", "surface growth:1");
  EXPECT_NE(refusal().find(folder + "/coag.inp: cannot be opened"), std::string::npos);
  std::ofstream(dir_ / "coag.inp")
      << "\n Initial diameter of monodisperse particles(nm): -1\n"
         " Initial number concentration(#/m3): 1e20\n Temperature(Kelvin): 300\n";
  EXPECT_NE(refusal().find(folder + "/coag.inp: \"Initial diameter"), std::string::npos);
  writeMain("surface growth:3", "surface growth:4");
  std::ofstream(dir_ / "grow.inp")
      << "Enter the node in which you want to put in particles: 21\n"
         " Enter the particle number concentration in #/m3 initially: 1e12\n";
  EXPECT_NE(refusal().find(folder + "/grow.inp: \"Enter the node"), std::string::npos);

  // A start at or below 300 K runs nothing in the process; simulate says so.
  writeMain("Starting Temperature(Kelvin): 1500", "Starting Temperature(Kelvin): 300");
  const std::string message = refusal();
  EXPECT_NE(message.find("this run folder cannot be simulated"), std::string::npos) << message;
  EXPECT_NE(message.find("end.temperature = 300"), std::string::npos) << message;
}

TEST_F(LegacyFolderFiles, GridsBeyondTheProcessesLimitUpTo400Nodes) {
  writeMain("Number of nodes: 20", "Number of nodes: 400");
  SimulationCase c;
  std::string message;
  ASSERT_TRUE(readLegacyFolder(dir_.string(), c, message)) << message;
  EXPECT_EQ(c.grid.nodeCount, 400);
  EXPECT_EQ(c.grid.spacingFactor, std::pow(10.0, 12.0 / 398.0));
  writeMain("Number of nodes: 20", "Number of nodes: 401");
  EXPECT_NE(refusal().find("(nodeCount) is 401, expected a whole number from 3 to 400"),
            std::string::npos);
}

}  // namespace
}  // namespace aerosol
