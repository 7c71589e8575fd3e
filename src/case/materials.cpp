#include "case/materials.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <iostream>
#include <set>
#include <sstream>
#include <utility>

#include <toml++/toml.h>

namespace aerosol {

namespace {

constexpr const char* kLibraryName = "materials.toml";

std::string lowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

// Shortest text that reads back to the same double: 2468.8, 0.026981538, 44354.
std::string number(double value) {
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (error != std::errc()) return "?";
  return std::string(buffer, end);
}

std::string rangeText(const TemperatureRange& range) {
  return number(range.low) + "-" + number(range.high) + " K";
}

// "grain-boundary, tau = A d^4 T exp(T_a (1 - d_min/d) / T): A = 7.44e+16 s/(m4 K), ...".
std::string sinteringText(const SinteringLaw& law) {
  std::string text;
  switch (law.form) {
    case SinteringForm::GrainBoundary:
      text = "grain-boundary diffusion, tau = A d^4 T exp(T_a (1 - d_min/d) / T): A = " +
             number(law.prefactor) + " s/(m4 K)";
      break;
    case SinteringForm::ViscousFlow:
      text = "viscous flow, tau = A d exp(T_a (1 - d_min/d) / T): A = " + number(law.prefactor) +
             " s/m";
      break;
    case SinteringForm::SolidState:
      text = "solid-state diffusion, tau = A d^3 T exp(T_a (1 - d_min/d) / T)";
      if (law.surfaceEnergyA != 0.0)
        text += " / (" + number(law.surfaceEnergyA) + " - " + number(law.surfaceEnergyB) +
                " T) J/m2";
      text += ": A = " + number(law.prefactor) + " s/(m3 K)";
      break;
    default:
      return "none";
  }
  text += ", T_a = " + number(law.activationTemperature) + " K";
  if (law.minDiameter > 0.0) {
    char nm[32];
    std::snprintf(nm, sizeof nm, "%g", law.minDiameter * 1e9);
    text += std::string(", d_min = ") + nm + " nm";
  }
  return text;
}

std::string percent(double fraction) {
  std::ostringstream out;
  out.precision(2);
  out << std::fixed << fraction * 100.0 << " %";
  return out.str();
}

// Reads one table of the library with the path of keys for messages; records the first
// fault and lets the rest of the reading run on harmlessly.
class TableReader {
 public:
  TableReader(const toml::table& table, std::string path, std::string& fault)
      : table_(table), path_(std::move(path)), fault_(fault) {}

  const toml::table* subTable(std::string_view key) {
    used_.insert(std::string(key));
    const toml::node* node = table_.get(key);
    if (node == nullptr) {
      fail(key, "is missing: expected a table");
      return nullptr;
    }
    if (!node->is_table()) {
      fail(key, "expected a table, found " + typeName(*node), node);
      return nullptr;
    }
    return node->as_table();
  }

  const toml::array* arrayOfTables(std::string_view key) {
    used_.insert(std::string(key));
    const toml::node* node = table_.get(key);
    if (node == nullptr) return nullptr;
    if (!node->is_array_of_tables()) {
      fail(key, "expected an array of tables ([[...]])", node);
      return nullptr;
    }
    return node->as_array();
  }

  void markKnown(std::string_view key) { used_.insert(std::string(key)); }

  bool has(std::string_view key) const { return table_.get(key) != nullptr; }

  std::string text(std::string_view key, bool required = true) {
    used_.insert(std::string(key));
    const toml::node* node = table_.get(key);
    if (node == nullptr) {
      if (required) fail(key, "is missing: expected a non-empty string");
      return {};
    }
    auto value = node->value<std::string>();
    if (!node->is_string() || !value || value->empty()) {
      fail(key, "expected a non-empty string", node);
      return {};
    }
    return *value;
  }

  bool flag(std::string_view key) {
    used_.insert(std::string(key));
    const toml::node* node = table_.get(key);
    if (node == nullptr || !node->is_boolean()) {
      fail(key, node ? "expected true or false" : "is missing: expected true or false", node);
      return false;
    }
    return node->value<bool>().value_or(false);
  }

  // A finite number > 0, or >= 0 when zero is allowed (a density slope).
  double positive(std::string_view key, bool zeroAllowed = false) {
    used_.insert(std::string(key));
    const toml::node* node = table_.get(key);
    const char* expected = zeroAllowed ? "expected a finite number >= 0"
                                       : "expected a finite number > 0";
    if (node == nullptr) {
      fail(key, std::string("is missing: ") + expected);
      return 0.0;
    }
    auto value = node->is_number() ? node->value<double>() : std::nullopt;
    if (!value || !std::isfinite(*value) || *value < 0.0 || (*value == 0.0 && !zeroAllowed)) {
      fail(key, std::string(expected) + ", found " + valueText(*node), node);
      return 0.0;
    }
    return *value;
  }

  std::optional<double> optionalPositive(std::string_view key, bool zeroAllowed = false) {
    if (!has(key)) {
      used_.insert(std::string(key));
      return std::nullopt;
    }
    return positive(key, zeroAllowed);
  }

  // [low, high] in K with 0 < low < high.
  std::optional<TemperatureRange> range(std::string_view key, bool required) {
    used_.insert(std::string(key));
    const toml::node* node = table_.get(key);
    if (node == nullptr) {
      if (required) fail(key, "is missing: expected [low, high] in K");
      return std::nullopt;
    }
    const toml::array* array = node->as_array();
    if (array != nullptr && array->size() == 2 && (*array)[0].is_number() &&
        (*array)[1].is_number()) {
      double low = (*array)[0].value<double>().value_or(0.0);
      double high = (*array)[1].value<double>().value_or(0.0);
      if (std::isfinite(low) && std::isfinite(high) && low > 0.0 && low < high) {
        return TemperatureRange{low, high};
      }
    }
    fail(key, "expected [low, high] in K with 0 < low < high, found " + valueText(*node), node);
    return std::nullopt;
  }

  FigureSource source(std::string_view labelKey, std::string_view citationKey) {
    FigureSource result;
    result.label = text(labelKey);
    if (!result.label.empty() && result.label != "S" && result.label != "D") {
      fail(labelKey, "expected \"S\" (read in the source) or \"D\" (derived), found \"" +
                         result.label + "\"",
           table_.get(labelKey));
    }
    result.citation = text(citationKey);
    return result;
  }

  // Keys the reader did not ask for are typing slips in the data file.
  void refuseUnknownKeys() {
    for (const auto& [key, node] : table_) {
      if (used_.count(std::string(key.str())) == 0) {
        fail(key.str(), "is not a key of this table", &node);
      }
    }
  }

  void fail(std::string_view key, const std::string& what, const toml::node* node = nullptr) {
    if (!fault_.empty()) return;
    std::ostringstream out;
    out << kLibraryName;
    const toml::source_region& where = node ? node->source() : table_.source();
    if (where.begin.line > 0) out << " line " << where.begin.line;
    out << ": " << path_ << (path_.empty() ? "" : ".") << key << ": " << what;
    fault_ = out.str();
  }

 private:
  static std::string typeName(const toml::node& node) {
    switch (node.type()) {
      case toml::node_type::string: return "a string";
      case toml::node_type::integer:
      case toml::node_type::floating_point: return "a number";
      case toml::node_type::boolean: return "a boolean";
      case toml::node_type::array: return "an array";
      case toml::node_type::table: return "a table";
      default: return "a date or time";
    }
  }

  static std::string valueText(const toml::node& node) {
    if (node.is_number()) return number(node.value<double>().value_or(0.0));
    if (node.is_string()) return "\"" + node.value<std::string>().value_or("") + "\"";
    if (node.is_array()) {
      std::ostringstream out;
      out << *node.as_array();
      return out.str();
    }
    return typeName(node);
  }

  const toml::table& table_;
  std::string path_;
  std::string& fault_;
  std::set<std::string> used_;
};

// "grain-boundary" and the rest, as case files name them; none for an unknown name.
std::optional<SinteringForm> sinteringForm(const std::string& name) {
  if (name == "grain-boundary") return SinteringForm::GrainBoundary;
  if (name == "viscous-flow") return SinteringForm::ViscousFlow;
  if (name == "solid-state") return SinteringForm::SolidState;
  return std::nullopt;
}

// A sintering law's keys: form, A, T_a and, optional, d_min and a surface energy a - b T.
void readSinteringLaw(TableReader& reader, SinteringLaw& law) {
  const std::string form = reader.text("form");
  if (const std::optional<SinteringForm> known = sinteringForm(form)) {
    law.form = *known;
  } else if (!form.empty()) {
    reader.fail("form",
                "expected \"grain-boundary\", \"viscous-flow\" or \"solid-state\", found \"" +
                    form + "\"");
  }
  law.prefactor = reader.positive("A");
  law.activationTemperature = reader.positive("T_a_K");
  law.minDiameter = reader.optionalPositive("d_min_m").value_or(0.0);
  law.surfaceEnergyA = reader.optionalPositive("surface_energy_a_J_per_m2").value_or(0.0);
  law.surfaceEnergyB = reader.optionalPositive("surface_energy_b_J_per_m2_K").value_or(0.0);
}

void readAlternative(const toml::table& table, const std::string& path, AlternativeFit& fit,
                     std::string& fault) {
  TableReader reader(table, path, fault);
  std::string property = reader.text("property");
  if (property == "surface_tension") {
    fit.property = AlternativeFit::Property::SurfaceTension;
    fit.first = reader.positive("A_dyne_per_cm");
    fit.second = reader.positive("B_dyne_per_cm_K");
  } else if (property == "vapour_pressure") {
    fit.property = AlternativeFit::Property::VaporPressure;
    fit.first = reader.positive("C");
    fit.second = reader.positive("D_K");
    fit.maxRelativeError = reader.optionalPositive("max_rel_err").value_or(0.0);
  } else if (property == "sintering") {
    fit.property = AlternativeFit::Property::Sintering;
    readSinteringLaw(reader, fit.sintering);
    fit.sintering.source = reader.text("source", false);
  } else if (!property.empty()) {
    reader.fail("property", "expected \"surface_tension\", \"vapour_pressure\" or "
                            "\"sintering\", found \"" + property + "\"");
  }
  fit.range = reader.range("range_K", false);
  fit.source = reader.source("label", "source");
  reader.refuseUnknownKeys();
}

void readEntry(const std::string& name, const toml::table& table, MaterialEntry& entry,
               std::string& fault) {
  entry.name = name;
  TableReader reader(table, name, fault);
  entry.symbol = reader.text("symbol");
  if (const toml::node* aliases = table.get("aliases")) {
    const toml::array* array = aliases->as_array();
    bool ok = array != nullptr;
    if (ok) {
      for (const toml::node& alias : *array) {
        auto value = alias.value<std::string>();
        if (!alias.is_string() || !value || value->empty()) ok = false;
        else entry.aliases.push_back(*value);
      }
    }
    if (!ok) reader.fail("aliases", "expected an array of non-empty strings", aliases);
  }
  reader.markKnown("aliases");
  // A figure no source read for the library gives: `given = false` and a note saying so.
  const auto notGiven = [](TableReader& sub, bool& has, std::string& note) {
    has = !sub.has("given") || sub.flag("given");
    if (!has) {
      note = sub.text("note");
      sub.refuseUnknownKeys();
    }
    return !has;
  };
  if (const toml::table* molar = reader.subTable("molar_mass")) {
    TableReader sub(*molar, name + ".molar_mass", fault);
    if (!notGiven(sub, entry.hasMolarMass, entry.molarMassNote)) {
      entry.molarMass = sub.positive("kg_per_mol");
      entry.molarMassSource = sub.source("label", "source");
      sub.refuseUnknownKeys();
    }
  }
  if (const toml::table* density = reader.subTable("density");
      density != nullptr && [&] {
        TableReader sub(*density, name + ".density", fault);
        return !notGiven(sub, entry.hasDensity, entry.densityNote);
      }()) {
    TableReader sub(*density, name + ".density", fault);
    sub.markKnown("given");
    entry.density = sub.positive("kg_per_m3");
    entry.densityState = sub.text("state");
    entry.densityTemperature = sub.positive("at_K");
    entry.densitySlope = sub.optionalPositive("slope_kg_per_m3_K", true).value_or(0.0);
    entry.densitySlopeUpTo = sub.optionalPositive("up_to_K").value_or(0.0);
    if (sub.has("slope_kg_per_m3_K") != sub.has("up_to_K")) {
      sub.fail("up_to_K", "a density slope needs up_to_K, the highest temperature of its table");
    }
    entry.densitySource = sub.source("label", "source");
    sub.refuseUnknownKeys();
  }
  if (const toml::table* sigma = reader.subTable("surface_tension")) {
    TableReader sub(*sigma, name + ".surface_tension", fault);
    entry.hasSurfaceTension = sub.flag("given");
    if (entry.hasSurfaceTension) {
      entry.surfaceTensionA = sub.positive("A_dyne_per_cm");
      entry.surfaceTensionASource = sub.source("A_label", "A_source");
      entry.surfaceTensionB = sub.positive("B_dyne_per_cm_K");
      entry.surfaceTensionBSource = sub.source("B_label", "B_source");
      entry.surfaceTensionRange = sub.range("range_K", false);
      entry.surfaceTensionNote = sub.text("note", false);
      // Without a stated range the note must say so, or a reader takes it for an oversight.
      if (!entry.surfaceTensionRange && entry.surfaceTensionNote.empty()) {
        sub.fail("range_K", "is missing: give [low, high] in K or a note saying why not");
      }
    } else {
      // Left for the case file: the note says what the sources do give.
      entry.surfaceTensionNote = sub.text("note");
    }
    sub.refuseUnknownKeys();
  }
  if (const toml::table* vapour = reader.subTable("vapour_pressure");
      vapour != nullptr && [&] {
        TableReader sub(*vapour, name + ".vapour_pressure", fault);
        return !notGiven(sub, entry.hasVaporPressure, entry.vaporPressureNote);
      }()) {
    TableReader sub(*vapour, name + ".vapour_pressure", fault);
    sub.markKnown("given");
    entry.vaporPressureC = sub.positive("C");
    entry.vaporPressureD = sub.positive("D_K");
    entry.vaporPressureRange = sub.range("range_K", true).value_or(TemperatureRange{});
    entry.vaporPressureMaxError = sub.positive("max_rel_err");
    entry.vaporPressureSource = sub.source("label", "source");
    entry.vaporPressureNote = sub.text("note", false);
    sub.refuseUnknownKeys();
  }
  if (reader.has("sintering")) {
    if (const toml::table* law = reader.subTable("sintering")) {
      TableReader sub(*law, name + ".sintering", fault);
      readSinteringLaw(sub, entry.sintering);
      entry.sinteringSource = sub.source("label", "source");
      entry.sintering.source = entry.sinteringSource.citation;
      sub.refuseUnknownKeys();
    }
  } else {
    reader.markKnown("sintering");
  }
  if (const toml::array* alternatives = reader.arrayOfTables("alternatives")) {
    int index = 0;
    for (const toml::node& node : *alternatives) {
      AlternativeFit fit;
      readAlternative(*node.as_table(),
                      name + ".alternatives[" + std::to_string(index++) + "]", fit, fault);
      entry.alternatives.push_back(std::move(fit));
    }
  }
  reader.refuseUnknownKeys();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && lowerCase(a) == lowerCase(b);
}

}  // namespace

MaterialProperties MaterialEntry::properties() const {
  MaterialProperties result;
  result.name = name;
  result.molarMass = molarMass;
  result.density = density;
  if (hasSurfaceTension) {
    result.surfaceTensionA = surfaceTensionA;
    result.surfaceTensionB = surfaceTensionB;
  }
  result.vaporPressureC = vaporPressureC;
  result.vaporPressureD = vaporPressureD;
  result.vaporPressureFactor = 1.0;
  result.factorIsGasPressure = false;
  return result;
}

bool parseMaterialLibrary(std::string_view text, std::vector<MaterialEntry>& result,
                          std::string& message) {
  result.clear();
  toml::table root;
  try {
    root = toml::parse(text, std::string_view(kLibraryName));
  } catch (const toml::parse_error& error) {
    std::ostringstream out;
    out << kLibraryName << " line " << error.source().begin.line << ": "
        << error.description();
    message = out.str();
    return false;
  }
  std::string fault;
  std::set<std::string> lookupNames;  // every name, alias and symbol, lower case
  // toml++ keeps keys sorted; the library keeps the file's order.
  std::vector<std::pair<std::string, const toml::node*>> ordered;
  for (const auto& [key, node] : root) ordered.emplace_back(std::string(key.str()), &node);
  std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
    return a.second->source().begin.line < b.second->source().begin.line;
  });
  for (const auto& [name, nodePointer] : ordered) {
    const toml::node& node = *nodePointer;
    TableReader top(root, "", fault);
    if (!node.is_table()) {
      top.fail(name, "expected a material table ([name])", &node);
      break;
    }
    if (name != lowerCase(name)) {
      top.fail(name, "expected a lower-case material name", &node);
      break;
    }
    MaterialEntry entry;
    readEntry(name, *node.as_table(), entry, fault);
    if (!fault.empty()) break;
    std::vector<std::string> names{entry.name, entry.symbol};
    names.insert(names.end(), entry.aliases.begin(), entry.aliases.end());
    for (const std::string& lookup : names) {
      if (!lookupNames.insert(lowerCase(lookup)).second) {
        top.fail(name, "the name \"" + lookup + "\" is already used by another material",
                 &node);
        break;
      }
    }
    if (!fault.empty()) break;
    result.push_back(std::move(entry));
  }
  if (fault.empty() && result.empty()) fault = std::string(kLibraryName) + ": no materials";
  if (!fault.empty()) {
    message = fault;
    result.clear();
    return false;
  }
  return true;
}

const std::vector<MaterialEntry>& materialLibrary() {
  static const std::vector<MaterialEntry> library = [] {
    std::vector<MaterialEntry> entries;
    std::string message;
    // The text is compiled in and the tests read it; a fault here is a build defect, told
    // once rather than hidden, and the library is then empty.
    if (!parseMaterialLibrary(embeddedMaterialsText(), entries, message)) {
      std::cerr << "aerosol: the built-in materials library is damaged: " << message << "\n";
    }
    return entries;
  }();
  return library;
}

const MaterialEntry* findMaterial(std::string_view name) {
  for (const MaterialEntry& entry : materialLibrary()) {
    if (equalsIgnoringCase(name, entry.name) || equalsIgnoringCase(name, entry.symbol)) {
      return &entry;
    }
    for (const std::string& alias : entry.aliases) {
      if (equalsIgnoringCase(name, alias)) return &entry;
    }
  }
  return nullptr;
}

std::string materialNames() {
  std::string names;
  for (const MaterialEntry& entry : materialLibrary()) {
    if (!names.empty()) names += ", ";
    names += entry.name + " (" + entry.symbol + ")";
  }
  return names;
}

std::string listMaterials() {
  std::ostringstream out;
  out << "Materials: vapour pressure Ps = exp(C - D/T) atm, surface tension sigma = A - B T "
         "dyne/cm.\n"
         "[S] read in the source cited, [D] derived from it. A case file names one with\n"
         "material = \"name\" and may give any property itself.\n";
  auto cite = [](const FigureSource& source) {
    return "[" + source.label + "] " + source.citation;
  };
  for (const MaterialEntry& entry : materialLibrary()) {
    out << "\n" << entry.name << " (" << entry.symbol << ")";
    for (const std::string& alias : entry.aliases) out << ", also " << alias;
    out << "\n";
    const auto missing = [&out](const char* property, const std::string& note) {
      out << "  " << property << "not in the library: the case file gives it\n"
          << "                   " << note << "\n";
    };
    if (entry.hasMolarMass)
      out << "  molar mass       " << number(entry.molarMass) << " kg/mol\n"
          << "                   " << cite(entry.molarMassSource) << "\n";
    else
      missing("molar mass       ", entry.molarMassNote);
    if (entry.hasDensity) {
      out << "  density          " << number(entry.density) << " kg/m3, " << entry.densityState
          << " (" << number(entry.densityTemperature) << " K)";
      if (entry.densitySlope > 0.0) {
        out << "; falls by " << number(entry.densitySlope) << " kg/m3 per K up to "
            << number(entry.densitySlopeUpTo) << " K (the runs use the constant value)";
      } else if (entry.densitySlopeUpTo > 0.0) {
        out << "; constant up to " << number(entry.densitySlopeUpTo) << " K";
      }
      out << "\n                   " << cite(entry.densitySource) << "\n";
    } else {
      missing("density          ", entry.densityNote);
    }
    if (entry.hasSurfaceTension) {
      out << "  surface tension  A = " << number(entry.surfaceTensionA) << " dyne/cm, B = "
          << number(entry.surfaceTensionB) << " dyne/(cm K), ";
      if (entry.surfaceTensionRange) {
        out << "holds for " << rangeText(*entry.surfaceTensionRange);
      } else {
        out << "no range stated";
      }
      out << "\n                   A " << cite(entry.surfaceTensionASource)
          << "\n                   B " << cite(entry.surfaceTensionBSource) << "\n";
      if (!entry.surfaceTensionNote.empty()) {
        out << "                   note: " << entry.surfaceTensionNote << "\n";
      }
    } else {
      out << "  surface tension  not in the library: the case file gives A and B\n"
          << "                   " << entry.surfaceTensionNote << "\n";
    }
    if (entry.hasVaporPressure) {
      out << "  vapour pressure  C = " << number(entry.vaporPressureC)
          << ", D = " << number(entry.vaporPressureD) << " K, holds for "
          << rangeText(entry.vaporPressureRange) << ", max error "
          << percent(entry.vaporPressureMaxError) << "\n"
          << "                   " << cite(entry.vaporPressureSource) << "\n";
      if (!entry.vaporPressureNote.empty()) {
        out << "                   note: " << entry.vaporPressureNote << "\n";
      }
    } else {
      missing("vapour pressure  ", entry.vaporPressureNote);
    }
    if (entry.sintering.form != SinteringForm::None)
      out << "  sintering        " << sinteringText(entry.sintering) << "\n"
          << "                   " << cite(entry.sinteringSource) << "\n";
    for (const AlternativeFit& fit : entry.alternatives) {
      if (fit.property == AlternativeFit::Property::Sintering) {
        out << "  alternative      sintering " << sinteringText(fit.sintering) << "\n"
            << "                   " << cite(fit.source) << "\n";
        continue;
      }
      if (fit.property == AlternativeFit::Property::SurfaceTension) {
        out << "  alternative      surface tension A = " << number(fit.first)
            << " dyne/cm, B = " << number(fit.second) << " dyne/(cm K)";
      } else {
        out << "  alternative      vapour pressure C = " << number(fit.first)
            << ", D = " << number(fit.second) << " K";
      }
      if (fit.range) out << ", holds for " << rangeText(*fit.range);
      if (fit.maxRelativeError > 0.0) out << ", max error " << percent(fit.maxRelativeError);
      out << "\n                   " << cite(fit.source) << "\n";
    }
  }
  return out.str();
}

std::vector<std::string> materialRangeWarnings(const MaterialEntry& entry, double Tmin,
                                               double Tmax, const MaterialProperties* inUse) {
  std::vector<std::string> warnings;
  if (!std::isfinite(Tmin) || !std::isfinite(Tmax)) return warnings;
  if (Tmin > Tmax) std::swap(Tmin, Tmax);
  auto check = [&](const char* property, const TemperatureRange& range) {
    bool below = Tmin < range.low;
    bool above = Tmax > range.high;
    if (!below && !above) return;
    std::string text = entry.name + ": " + property + " fit holds for " + rangeText(range) +
                       "; the run ";
    if (below && above) {
      text += "spans " + number(Tmin) + "-" + number(Tmax) + " K";
    } else if (below) {
      text += "goes down to " + number(Tmin) + " K";
    } else {
      text += "goes up to " + number(Tmax) + " K";
    }
    warnings.push_back(std::move(text));
  };
  bool ownVapour = entry.hasVaporPressure &&
                   (inUse == nullptr || (inUse->vaporPressureC == entry.vaporPressureC &&
                                         inUse->vaporPressureD == entry.vaporPressureD));
  if (ownVapour) check("vapour pressure", entry.vaporPressureRange);
  bool ownSigma = inUse == nullptr || (inUse->surfaceTensionA == entry.surfaceTensionA &&
                                       inUse->surfaceTensionB == entry.surfaceTensionB);
  if (entry.hasSurfaceTension && entry.surfaceTensionRange && ownSigma) {
    check("surface tension", *entry.surfaceTensionRange);
  }
  return warnings;
}

}  // namespace aerosol
