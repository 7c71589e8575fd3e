// Reading main.inp against its template, the derived grid quantities, and the range checks
// made before a process runs.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "processes/run_settings.h"

namespace aerosol {
namespace {

struct Values {
  std::string nodes = "26", start = "1500", cooling = "1000", pressure = "1",
              weight = "0.1", density = "2000", a = "500", b = "0.2", c = "10", d = "30000",
              process = "2", collision = "1", sa = "1.458e-6", sb = "110.4";
};

// The labels, each followed by its value, joined by `gap`.
std::string mainInp(const Values& v, const std::string& gap = " ") {
  return "Number of nodes: " + v.nodes + gap + "Starting Temperature(Kelvin): " + v.start + gap +
         "Cooling Rate(Kelvin/s): " + v.cooling + gap + "Pressure(Atm): " + v.pressure + gap +
         "Molecular Weight(Kg/mol): " + v.weight + gap + "Density(Kg/m3): " + v.density + gap +
         "Surface Tension in the form A-BT(dyne/cm): A=" + v.a + gap + "B=" + v.b + gap +
         "Saturation Vapor Pressure of material in form Ps=exp(C-D/T)P: C=" + v.c + gap +
         "D=" + v.d + gap +
         "Enter your choice - 1)Coagulation,2)nucleation+coagulation,3)nucleation + "
         "coagulation + surface growth,4)surface growth:" +
         v.process + gap +
         "Choice of collision frequency function:1)Free Molecular Regime,2)Fuchs form for "
         "free molecular and transition regime:" +
         v.collision + gap +
         "Sutherland's constants for carrier gas in the form A*T^1.5/(B+T): A=" + v.sa + gap +
         "B=" + v.sb;
}

void expectSame(const RunSettings& x, const RunSettings& y) {
  EXPECT_EQ(x.nodeCount, y.nodeCount);
  EXPECT_EQ(x.startTemperature, y.startTemperature);
  EXPECT_EQ(x.coolingRate, y.coolingRate);
  EXPECT_EQ(x.pressure, y.pressure);
  EXPECT_EQ(x.molecularWeight, y.molecularWeight);
  EXPECT_EQ(x.density, y.density);
  EXPECT_EQ(x.surfaceTensionA, y.surfaceTensionA);
  EXPECT_EQ(x.surfaceTensionB, y.surfaceTensionB);
  EXPECT_EQ(x.vaporPressureC, y.vaporPressureC);
  EXPECT_EQ(x.vaporPressureD, y.vaporPressureD);
  EXPECT_EQ(x.process, y.process);
  EXPECT_EQ(x.collisionFunction, y.collisionFunction);
  EXPECT_EQ(x.sutherlandA, y.sutherlandA);
  EXPECT_EQ(x.sutherlandB, y.sutherlandB);
  EXPECT_EQ(x.spacingFactor, y.spacingFactor);
  EXPECT_EQ(x.monomerVolume, y.monomerVolume);
}

RunSettings parsed(const std::string& text) {
  RunSettings s;
  std::string message;
  EXPECT_TRUE(parseRunSettings(text, s, message)) << message;
  return s;
}

std::string failure(const std::string& text) {
  RunSettings s;
  std::string message;
  EXPECT_FALSE(parseRunSettings(text, s, message));
  return message;
}

TEST(SettingsReader, ReadsEveryFieldInOrder) {
  Values v;
  v.nodes = "14";
  v.start = "1234.5";
  v.cooling = "2e3";
  v.pressure = "0.75";
  v.weight = "0.06";
  v.density = "2200";
  v.a = "400";
  v.b = "0.1";
  v.c = "12.5";
  v.d = "25000";
  v.process = "3";
  v.collision = "2";
  v.sa = "1.5e-6";
  v.sb = "120";
  const RunSettings s = parsed(mainInp(v));
  EXPECT_EQ(s.nodeCount, 14);
  EXPECT_EQ(s.startTemperature, 1234.5);
  EXPECT_EQ(s.coolingRate, 2000.0);
  EXPECT_EQ(s.pressure, 0.75);
  EXPECT_EQ(s.molecularWeight, 0.06);
  EXPECT_EQ(s.density, 2200.0);
  EXPECT_EQ(s.surfaceTensionA, 400.0);
  EXPECT_EQ(s.surfaceTensionB, 0.1);
  EXPECT_EQ(s.vaporPressureC, 12.5);
  EXPECT_EQ(s.vaporPressureD, 25000.0);
  EXPECT_EQ(s.process, 3);
  EXPECT_EQ(s.collisionFunction, 2);
  EXPECT_EQ(s.sutherlandA, 1.5e-6);
  EXPECT_EQ(s.sutherlandB, 120.0);
}

TEST(SettingsReader, OneLineAndOneLabelPerLineReadTheSame) {
  const Values v;
  const RunSettings oneLine = parsed(mainInp(v, " "));
  expectSame(parsed(mainInp(v, "\n")), oneLine);
  expectSame(parsed(mainInp(v, "\r\n")), oneLine);
  expectSame(parsed(mainInp(v, "\t \n\n  ")), oneLine);
  // No blank at all between a value and the next label is a match too.
  expectSame(parsed(mainInp(v, "")), oneLine);
  // Trailing text after the last value is not read.
  expectSame(parsed(mainInp(v) + "\n\nnotes: anything\n"), oneLine);
}

TEST(SettingsReader, AnythingBeforeTheFirstLabelFails) {
  const std::string text = mainInp(Values{});
  for (const std::string& lead : {std::string(" "), std::string("\n"), std::string("x"),
                                  std::string("\xef\xbb\xbf")}) {
    const std::string message = failure(lead + text);
    EXPECT_NE(message.find("Number of nodes:"), std::string::npos) << message;
  }
}

TEST(SettingsReader, LabelsAreCaseSensitive) {
  std::string text = mainInp(Values{});
  std::string lower = text;
  lower[0] = 'n';
  EXPECT_NE(failure(lower).find("Number of nodes:"), std::string::npos);
  std::string density = text;
  density.replace(density.find("Density(Kg/m3):"), 15, "density(Kg/m3):");
  const std::string message = failure(density);
  EXPECT_NE(message.find("Density(Kg/m3):"), std::string::npos) << message;
  EXPECT_NE(message.find("main.inp"), std::string::npos) << message;
}

TEST(SettingsReader, MissingValueNamesItsLabel) {
  Values v;
  v.pressure = "";
  std::string message = failure(mainInp(v));
  EXPECT_NE(message.find("Pressure(Atm):"), std::string::npos) << message;
  v = Values{};
  v.collision = "one";
  message = failure(mainInp(v));
  EXPECT_NE(message.find("transition regime:"), std::string::npos) << message;
  // A file cut short after a label.
  std::string text = mainInp(Values{});
  text.resize(text.find("B=110.4") + 2);
  message = failure(text);
  EXPECT_NE(message.find("B="), std::string::npos) << message;
  EXPECT_NE(message.find("Sutherland"), std::string::npos) << message;
  // An empty file.
  EXPECT_NE(failure("").find("Number of nodes:"), std::string::npos);
}

TEST(SettingsReader, IntegerTooLargeIsRefusedNotWrapped) {
  Values v;
  v.nodes = "4294967299";  // wraps to 3 in 32 bits
  EXPECT_NE(failure(mainInp(v)).find("Number of nodes:"), std::string::npos);
}

TEST(SettingsReader, SpacingFactorAndMonomerVolume) {
  Values v;
  v.nodes = "3";
  EXPECT_EQ(parsed(mainInp(v)).spacingFactor, 1e12);
  v.nodes = "14";
  EXPECT_DOUBLE_EQ(parsed(mainInp(v)).spacingFactor, 10.0);
  v.nodes = "26";
  EXPECT_DOUBLE_EQ(parsed(mainInp(v)).spacingFactor, std::sqrt(10.0));
  v.nodes = "42";
  EXPECT_LT(parsed(mainInp(v)).spacingFactor, 2.0);
  v.nodes = "41";
  EXPECT_GT(parsed(mainInp(v)).spacingFactor, 2.0);

  v = Values{};
  v.weight = "0.1";
  v.density = "2000";
  const RunSettings s = parsed(mainInp(v));
  EXPECT_DOUBLE_EQ(s.monomerVolume, 0.1 / (2000.0 * 6.0225e23));
  // Avogadro's number is the stored 6.0225e23, which is told apart from 6.022e23.
  EXPECT_GT(std::fabs(s.monomerVolume / (0.1 / (2000.0 * 6.022e23)) - 1.0), 1e-5);
}

// ---------------------------------------------------------------- range checks

RunSettings valid(int process) {
  Values v;
  v.process = std::to_string(process);
  return parsed(mainInp(v));
}

std::string check(RunSettings s) { return checkRunSettings(s); }

TEST(SettingsChecks, ValidSettingsPassForEveryProcess) {
  for (int p = 1; p <= 4; ++p) EXPECT_EQ(check(valid(p)), "") << p;
}

TEST(SettingsChecks, NodeCountRange) {
  for (int p = 1; p <= 4; ++p) {
    RunSettings s = valid(p);
    for (int n : {3, 48, 200}) {
      s.nodeCount = n;
      EXPECT_EQ(check(s), "") << "process " << p << " n=" << n;
    }
    for (int n : {-1, 0, 2, 201, 100000}) {
      s.nodeCount = n;
      const std::string problem = check(s);
      EXPECT_NE(problem.find("Number of nodes:"), std::string::npos)
          << "process " << p << " n=" << n << ": " << problem;
    }
  }
}

TEST(SettingsChecks, CollisionFunctionMattersOnlyWhereParticlesCoagulate) {
  for (int p = 1; p <= 3; ++p) {
    RunSettings s = valid(p);
    s.collisionFunction = 2;
    EXPECT_EQ(check(s), "") << p;
    for (int c : {0, 3, 7}) {
      s.collisionFunction = c;
      EXPECT_NE(check(s).find("transition regime:"), std::string::npos) << p << " " << c;
    }
  }
  RunSettings seeded = valid(4);
  for (int c : {0, 3, 7}) {
    seeded.collisionFunction = c;
    EXPECT_EQ(check(seeded), "") << c;
  }
}

TEST(SettingsChecks, NonPositiveDensityOrPressureRefused) {
  for (int p = 1; p <= 4; ++p) {
    for (double bad : {0.0, -2000.0, std::nan("")}) {
      RunSettings s = valid(p);
      s.density = bad;
      EXPECT_NE(check(s).find("Density(Kg/m3):"), std::string::npos) << p << " " << bad;
      s = valid(p);
      s.pressure = bad;
      EXPECT_NE(check(s).find("Pressure(Atm):"), std::string::npos) << p << " " << bad;
    }
  }
}

TEST(SettingsChecks, CoolingMustEndTheRunAboveThreeHundredKelvin) {
  for (int p = 2; p <= 4; ++p) {
    RunSettings s = valid(p);
    s.startTemperature = 1500.0;
    for (double rate : {0.0, -5.0}) {
      s.coolingRate = rate;
      EXPECT_NE(check(s).find("Cooling Rate(Kelvin/s):"), std::string::npos) << p << " " << rate;
    }
    // At or below 300 K no step is taken, so the rate does not matter.
    for (double start : {300.0, 250.0}) {
      s.startTemperature = start;
      for (double rate : {0.0, -5.0}) {
        s.coolingRate = rate;
        EXPECT_EQ(check(s), "") << p << " " << start << " " << rate;
      }
    }
  }
  // Process 1 keeps its own constant temperature: the cooling rate is not its business.
  RunSettings coag = valid(1);
  coag.coolingRate = 0.0;
  EXPECT_EQ(check(coag), "");
}

TEST(SettingsChecks, ProcessesOutsideOneToFourAreNotChecked) {
  for (int p : {0, 5, -3}) {
    RunSettings s = valid(p);
    s.nodeCount = 1;
    s.density = -1.0;
    s.pressure = 0.0;
    s.collisionFunction = 9;
    s.coolingRate = -1.0;
    EXPECT_EQ(check(s), "") << p;
  }
}

}  // namespace
}  // namespace aerosol
