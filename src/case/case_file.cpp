// Reading a TOML case file into a SimulationCase. Every refusal names the file, the line,
// the key (dotted path), the value found and what was expected; the first problem found
// ends the reading.

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <toml++/toml.h>

#include "case/case.h"
#include "case/case_checks.h"
#include "case/case_text.h"
#include "case/initial_particles.h"
#include "case/materials.h"
#include "common/console.h"
#include "properties/constants.h"

namespace aerosol {
namespace {

// A TOML integer or float as a double; nullopt for any other kind of value.
std::optional<double> numberOf(const toml::node& node) {
  if (const auto* i = node.as_integer()) return static_cast<double>(i->get());
  if (const auto* f = node.as_floating_point()) return f->get();
  return std::nullopt;
}


// A case file with a long measured temperature history is still far below this.
constexpr std::uintmax_t kLargestCaseFile = 64u << 20;

std::string quoteText(std::string_view text) {
  constexpr std::size_t kShown = 60;
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text.size() > kShown) out += "...";
  return out + "\"";
}

// Text with its control characters as \u escapes (tabs kept).
std::string withoutControls(const std::string& text) {
  std::string out;
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if ((c < 0x20 && c != '\t') || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out;
}

// The TOML reader follows a dotted name (a.b.c = 1, [a.b.c]) by recursion, one level per part,
// without a limit: tens of thousands of parts overflow the stack. No case key has more than
// three; a line with more than this many dots joining names is refused before parsing.
constexpr int kMostDottedParts = 64;

// The first line (1-based) holding more than kMostDottedParts dots outside strings and
// comments that are not a number's decimal point (a dot between two digits, alone in its run
// of digits, signs, exponents and dots), or 0 when there is none.
int lineOfDeepKey(std::string_view text) {
  int line = 1;
  int dots = 0;
  std::string_view closing;  // the delimiter of the string we are in, "" outside strings
  std::size_t runDots = 0;   // dots in the current run of number characters
  auto endRun = [&] {
    if (runDots > 1) dots += static_cast<int>(runDots);
    runDots = 0;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      endRun();
      if (dots > kMostDottedParts) return line;
      ++line;
      dots = 0;
      if (closing.size() == 1) closing = {};  // a one-line string ends with its line
      continue;
    }
    if (!closing.empty()) {
      if (c == '\\' && closing[0] == '"') {
        ++i;  // the escaped character
      } else if (text.compare(i, closing.size(), closing) == 0) {
        i += closing.size() - 1;
        closing = {};
      }
      continue;
    }
    if (c == '#') {
      endRun();
      while (i + 1 < text.size() && text[i + 1] != '\n') ++i;
      continue;
    }
    if (c == '"' || c == '\'') {
      endRun();
      const bool multi = text.compare(i, 3, std::string(3, c)) == 0;
      closing = multi ? (c == '"' ? "\"\"\"" : "\'\'\'") : (c == '"' ? "\"" : "'");
      if (multi) i += 2;
      continue;
    }
    const bool number = (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' ||
                        c == '_' || c == 'e' || c == 'E';
    if (!number) {
      endRun();
      continue;
    }
    if (c != '.') continue;
    const auto digit = [&](std::size_t at) {
      return at < text.size() && text[at] >= '0' && text[at] <= '9';
    };
    if (i > 0 && digit(i - 1) && digit(i + 1))
      ++runDots;
    else
      ++dots;
  }
  endRun();
  return dots > kMostDottedParts ? line : 0;
}

// A value as the message shows it.
std::string shown(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string: return quoteText(node.as_string()->get());
    case toml::node_type::integer: return std::to_string(node.as_integer()->get());
    case toml::node_type::floating_point: {
      // A float stays one in the message: "nodes = 48.0" is not the whole number 48.
      std::string text = formatCaseNumber(node.as_floating_point()->get());
      if (text.find_first_of(".eni") == std::string::npos) text += ".0";
      return text;
    }
    case toml::node_type::boolean: return node.as_boolean()->get() ? "true" : "false";
    case toml::node_type::array: return "[...] (an array)";
    case toml::node_type::table: return "{...} (a table)";
    case toml::node_type::date: return "a date";
    case toml::node_type::time: return "a time";
    case toml::node_type::date_time: return "a date-time";
    default: return "nothing";
  }
}

int lineOf(const toml::node& node) { return static_cast<int>(node.source().begin.line); }

// The key of `table` that is none of `known` and comes first in the file (its name in
// `name`); null when every key is known. The table's own order is not the file's.
const toml::node* firstUnknownKey(const toml::table& table, std::span<const char* const> known,
                                  std::string& name) {
  const toml::node* first = nullptr;
  for (const auto& [key, node] : table) {
    bool isKnown = false;
    for (const char* k : known) isKnown = isKnown || key.str() == k;
    if (!isKnown && (first == nullptr || lineOf(node) < lineOf(*first))) {
      first = &node;
      name = std::string(key.str());
    }
  }
  return first;
}

std::string joinChoices(std::initializer_list<const char*> names) {
  std::string out;
  std::size_t i = 0;
  for (const char* name : names) {
    if (i > 0) out += (i + 1 == names.size()) ? " or " : ", ";
    out += name;
    ++i;
  }
  return out;
}

class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}

  bool failed() const { return !message_.empty(); }
  const std::string& message() const { return message_; }

  // A refusal is one line of text whatever the file holds: control characters that reach it
  // (in a key, or in the character where the TOML syntax broke) are escaped.
  void fail(int line, const std::string& text) {
    if (failed()) return;
    message_ = source_;
    if (line > 0) message_ += ":" + std::to_string(line);
    message_ += ": " + withoutControls(text);
  }
  // A value refused: "file:12: grid.nodes = 500: expected ...".
  void refuse(const toml::node& node, const std::string& path, const std::string& expected) {
    fail(lineOf(node), path + " = " + shown(node) + ": expected " + expected);
  }
  // A value from the record refused after reading, at the line where its key was.
  void refuseValue(const std::string& path, const std::string& value,
                   const std::string& expected) {
    fail(line(path), path + " = " + value + ": expected " + expected);
  }

  // Where each key read was, and its value as shown, for refusals after reading.
  void remember(const std::string& path, const toml::node& node) {
    keys_.push_back({path, lineOf(node), shown(node)});
  }
  int line(const std::string& path) const {
    for (const KeySeen& key : keys_)
      if (key.path == path) return key.line;
    return 0;
  }
  std::string value(const std::string& path) const {
    for (const KeySeen& key : keys_)
      if (key.path == path) return key.value;
    return "?";
  }

 private:
  std::string source_;
  std::string message_;
  struct KeySeen {
    std::string path;
    int line;
    std::string value;
  };
  std::vector<KeySeen> keys_;
};

// One table of the case file and the keys it may hold.
class Section {
 public:
  Section(Reader& reader, const toml::table* table, std::string path,
          std::initializer_list<const char*> keys)
      : r_(reader), table_(table), path_(std::move(path)), keys_(keys) {
    if (table_ == nullptr) return;
    r_.remember(path_, *table_);
    std::string firstKey;
    if (const toml::node* first = firstUnknownKey(*table_, keys_, firstKey)) {
      std::string expected;
      for (std::size_t i = 0; i < keys_.size(); ++i)
        expected += (i == 0 ? "" : ", ") + std::string(keys_[i]);
      r_.fail(lineOf(*first), path_ + "." + firstKey + ": unknown key; expected one of " +
                                  expected + " in [" + path_ + "]");
    }
  }

  std::string key(std::string_view k) const { return path_ + "." + std::string(k); }
  int line() const { return table_ == nullptr ? 0 : lineOf(*table_); }

  const toml::node* find(std::string_view k) const {
    if (table_ == nullptr || r_.failed()) return nullptr;
    const toml::node* node = table_->get(k);
    if (node != nullptr) r_.remember(key(k), *node);
    return node;
  }
  bool has(std::string_view k) const { return table_ != nullptr && table_->get(k) != nullptr; }

  void missing(std::string_view k, const std::string& expected) const {
    if (table_ == nullptr)
      r_.fail(0, key(k) + " is missing (there is no [" + path_ + "] table): expected " +
                     expected);
    else
      r_.fail(line(), key(k) + " is missing: expected " + expected);
  }
  // A key that the other settings leave without a use.
  void notUsed(std::string_view k, const std::string& why) const {
    if (const toml::node* node = find(k))
      r_.refuse(*node, key(k), "no " + std::string(k) + " " + why);
  }

  // A finite number that `accept` takes; nullopt when absent or refused.
  std::optional<double> number(std::string_view k, const std::string& expected,
                               const std::function<bool(double)>& accept) const {
    const toml::node* node = find(k);
    if (node == nullptr) return std::nullopt;
    const std::optional<double> read = numberOf(*node);
    const double value = read.value_or(0.0);
    if (!read || !std::isfinite(value) || !accept(value)) {
      r_.refuse(*node, key(k), expected);
      return std::nullopt;
    }
    return value;
  }
  double requiredNumber(std::string_view k, const std::string& expected,
                        const std::function<bool(double)>& accept) const {
    if (!has(k)) {
      missing(k, expected);
      return 0.0;
    }
    return number(k, expected, accept).value_or(0.0);
  }

  std::optional<long long> integer(std::string_view k, long long low, long long high,
                                   const std::string& expected) const {
    const toml::node* node = find(k);
    if (node == nullptr) return std::nullopt;
    const auto* i = node->as_integer();
    if (i == nullptr || i->get() < low || i->get() > high) {
      r_.refuse(*node, key(k), expected);
      return std::nullopt;
    }
    return i->get();
  }

  std::optional<bool> flag(std::string_view k) const {
    const toml::node* node = find(k);
    if (node == nullptr) return std::nullopt;
    const auto* b = node->as_boolean();
    if (b == nullptr) {
      r_.refuse(*node, key(k), "true or false");
      return std::nullopt;
    }
    return b->get();
  }
  bool requiredFlag(std::string_view k) const {
    if (!has(k)) {
      missing(k, "true or false");
      return false;
    }
    return flag(k).value_or(false);
  }

  // The index of the name given among `names`; nullopt when absent or refused.
  std::optional<int> choice(std::string_view k, std::initializer_list<const char*> names) const {
    const toml::node* node = find(k);
    if (node == nullptr) return std::nullopt;
    std::vector<std::string> options;
    for (const char* name : names) options.push_back(std::string("\"") + name + "\"");
    std::string expected;
    for (std::size_t i = 0; i < options.size(); ++i)
      expected += (i == 0 ? "" : (i + 1 == options.size() ? " or " : ", ")) + options[i];
    if (const auto* s = node->as_string()) {
      int index = 0;
      for (const char* name : names) {
        if (s->get() == name) return index;
        ++index;
      }
    }
    r_.refuse(*node, key(k), expected);
    return std::nullopt;
  }

  std::optional<std::string> text(std::string_view k, const std::string& expected) const {
    const toml::node* node = find(k);
    if (node == nullptr) return std::nullopt;
    const auto* s = node->as_string();
    if (s == nullptr || s->get().empty() || s->get().find('\0') != std::string::npos) {
      r_.refuse(*node, key(k), expected);
      return std::nullopt;
    }
    return s->get();
  }


 private:
  Reader& r_;
  const toml::table* table_;
  std::string path_;
  std::vector<const char*> keys_;
};

// A top-level table, or null (a refusal when the key holds something else).
const toml::table* tableAt(Reader& r, const toml::table& doc, std::string_view name,
                           const std::string& expected) {
  const toml::node* node = doc.get(name);
  if (node == nullptr || r.failed()) return nullptr;
  if (const auto* table = node->as_table()) return table;
  r.refuse(*node, std::string(name), expected);
  return nullptr;
}

bool positive(double v) { return v > 0.0; }
bool nonNegative(double v) { return v >= 0.0; }
bool anyFinite(double) { return true; }
std::function<bool(double)> within(const PhysicalRange& range) {
  return [range](double v) { return range.contains(v); };
}

// Node 1 is the monomer with a vapour, and with a precursor that makes particles of its size.
bool monomerGrid(const SimulationCase& c) {
  return c.mechanisms.vapor != VaporMode::None ||
         (c.precursor.present && c.precursor.product == PrecursorProduct::Particles);
}

// The library entry a case names, or null (with a refusal when the name is not known).
const MaterialEntry* namedMaterial(Reader& r, const toml::node& node, const std::string& path) {
  const auto* name = node.as_string();
  const MaterialEntry* entry = name == nullptr ? nullptr : findMaterial(name->get());
  if (entry == nullptr)
    r.refuse(node, path, "a material of the library: " + materialNames() +
                             " (aerosol materials lists them), or a [material] table giving "
                             "every property");
  return entry;
}

// `material = "iron"`, or a [material] table: every property given, or `name` with any
// property overriding the library's figure.
void readMaterial(Reader& r, const toml::table& doc, bool vapor, bool monomer,
                  SimulationCase& c) {
  const toml::node* node = doc.get("material");
  MaterialProperties& m = c.material;
  m = MaterialProperties{};
  const MaterialEntry* entry = nullptr;
  const toml::node* nameNode = nullptr;
  const toml::table* table = nullptr;
  if (node != nullptr && node->is_string()) {
    nameNode = node;
    r.remember("material", *node);
    entry = namedMaterial(r, *node, "material");
  } else if (node != nullptr && node->is_table()) {
    table = node->as_table();
    nameNode = table->get("name");
    if (nameNode != nullptr) entry = namedMaterial(r, *nameNode, "material.name");
  } else if (node != nullptr) {
    r.refuse(*node, "material",
             "a material name (material = \"iron\"; aerosol materials lists them) or a "
             "[material] table");
    return;
  }
  if (r.failed()) return;
  Section s(r, table, "material",
            {"name", "molar_mass", "density", "surface_tension_a", "surface_tension_b",
             "vapor_pressure_c", "vapor_pressure_d", "vapor_pressure_factor",
             "vapor_pressure_times_gas_pressure"});
  if (nameNode != nullptr) s.find("name");
  if (entry != nullptr) {
    m = entry->properties();
    // A figure from the library is refused later (if at all) at the line naming it.
    for (const char* key : {"molar_mass", "density", "surface_tension_a", "surface_tension_b",
                            "vapor_pressure_c", "vapor_pressure_d"})
      if (!s.has(key)) r.remember(s.key(key), *nameNode);
  }
  // A property the case gives, else the library's figure, else missing when `required`.
  // Without a vapour only the density is used; the vapour's properties may stay.
  auto property = [&](const char* key, const std::string& expected,
                      const std::function<bool(double)>& accept, bool required,
                      std::optional<double> library, const char* libraryKeys) {
    if (s.has(key)) return s.number(key, expected, accept).value_or(0.0);
    if (library) return *library;
    if (!required) return 0.0;
    if (entry != nullptr)  // a figure no source read for the library gives
      r.fail(lineOf(*nameNode),
             s.key(key) + " is missing: the library has no " + libraryKeys + " for " +
                 entry->name + "; expected " + expected + " in a [material] table with name = \"" +
                 entry->name + "\"");
    else
      s.missing(key, expected);
    return 0.0;
  };
  auto library = [&](double value, bool given) {
    return entry != nullptr && given ? std::optional<double>(value) : std::nullopt;
  };
  const bool sigma = entry != nullptr && entry->hasSurfaceTension;
  const bool ps = entry != nullptr && entry->hasVaporPressure;
  m.density = property("density", kDensityRange.expected, within(kDensityRange), true,
                       library(m.density, entry != nullptr && entry->hasDensity), "density");
  m.molarMass = property("molar_mass", kMolarMassRange.expected, within(kMolarMassRange), monomer,
                         library(m.molarMass, entry != nullptr && entry->hasMolarMass),
                         "molar mass");
  m.surfaceTensionA = property("surface_tension_a", "a finite number (dyne/cm)", anyFinite,
                               vapor, library(m.surfaceTensionA, sigma), "surface tension");
  m.surfaceTensionB = property("surface_tension_b", "a finite number (dyne/(cm K))", anyFinite,
                               vapor, library(m.surfaceTensionB, sigma), "surface tension");
  m.vaporPressureC = property("vapor_pressure_c", "a finite number", anyFinite, vapor,
                              library(m.vaporPressureC, ps), "vapour pressure");
  m.vaporPressureD = property("vapor_pressure_d", "a finite number (K)", anyFinite, vapor,
                              library(m.vaporPressureD, ps), "vapour pressure");
  const std::optional<bool> timesGas = s.flag("vapor_pressure_times_gas_pressure");
  m.factorIsGasPressure = timesGas.value_or(false);
  if (m.factorIsGasPressure && s.has("vapor_pressure_factor")) {
    s.notUsed("vapor_pressure_factor",
              "with vapor_pressure_times_gas_pressure = true (the factor is the gas pressure)");
    return;
  }
  m.vaporPressureFactor =
      s.number("vapor_pressure_factor", "a factor above 0 (atm)", positive).value_or(1.0);
}

void readGas(Reader& r, const toml::table& doc, SimulationCase& c, bool viscosity) {
  Section s(r, tableAt(r, doc, "gas", "a [gas] table"), "gas",
            {"pressure", "sutherland_a", "sutherland_b", "molar_mass"});
  CarrierGasProperties& g = c.gas;
  g = CarrierGasProperties{};
  g.pressure = s.number("pressure", kPressureRange.expected, within(kPressureRange)).value_or(1.0);
  g.molarMass = s.number("molar_mass", kGasMolarMassRange.expected, within(kGasMolarMassRange))
                    .value_or(kDefaultGasMolarMass);
  if (viscosity) {
    g.sutherlandA = s.requiredNumber("sutherland_a", "a finite number (Pa s K^-0.5)", anyFinite);
    g.sutherlandB = s.requiredNumber("sutherland_b", "a finite number (K)", anyFinite);
  } else {
    g.sutherlandA =
        s.number("sutherland_a", "a finite number (Pa s K^-0.5)", anyFinite).value_or(0.0);
    g.sutherlandB = s.number("sutherland_b", "a finite number (K)", anyFinite).value_or(0.0);
  }
}

void readMechanisms(Reader& r, const toml::table& doc, SimulationCase& c) {
  Section s(r, tableAt(r, doc, "mechanisms", "a [mechanisms] table"), "mechanisms",
            {"nucleation", "coagulation", "kernel", "constant_kernel", "additive_kernel", "growth",
             "vapor"});
  Mechanisms& m = c.mechanisms;
  m = Mechanisms{};
  m.nucleation = s.requiredFlag("nucleation");
  m.coagulation = s.requiredFlag("coagulation");
  m.growth = s.requiredFlag("growth");
  if (!s.has("vapor")) s.missing("vapor", "\"depleted\", \"held\" or \"none\"");
  const int vapor = s.choice("vapor", {"depleted", "held", "none"}).value_or(2);
  m.vapor = vapor == 0 ? VaporMode::Depleted : vapor == 1 ? VaporMode::Held : VaporMode::None;
  const bool kernelUsed = m.coagulation || m.growth;
  if (kernelUsed && !s.has("kernel"))
    s.missing("kernel", "\"free-molecular\" or \"fuchs\" (the collision kernel of coagulation "
                        "and of the monomers' collisions in growth)");
  const KernelForm forms[] = {KernelForm::FreeMolecular, KernelForm::Fuchs, KernelForm::Constant,
                              KernelForm::Additive};
  m.kernel = forms[s.choice("kernel", {"free-molecular", "fuchs", "constant", "additive"})
                       .value_or(0)];
  // The test kernels' constants, with their own kernel only.
  const auto constant = [&](const char* key, KernelForm form, const char* name,
                            const std::string& expected) {
    if (m.kernel == form) {
      if (!s.has(key)) s.missing(key, expected);
      return s.number(key, expected, positive).value_or(0.0);
    }
    s.notUsed(key, std::string("unless kernel = \"") + name + "\"");
    return 0.0;
  };
  m.constantKernel = constant("constant_kernel", KernelForm::Constant, "constant",
                              "a collision frequency function above 0 (m3/s)");
  m.additiveKernel = constant("additive_kernel", KernelForm::Additive, "additive",
                              "a coefficient b above 0 of beta = b (v_i + v_j) (1/s)");
  if (r.failed()) return;

  if (m.vapor == VaporMode::None) {
    if (m.nucleation)
      r.refuseValue("mechanisms.nucleation", "true",
                    "false with mechanisms.vapor = \"none\" (nucleation needs a vapour)");
    if (m.growth)
      r.refuseValue("mechanisms.growth", "true",
                    "false with mechanisms.vapor = \"none\" (growth needs a vapour)");
  }
}

void readGrid(Reader& r, const toml::table& doc, SimulationCase& c) {
  Section s(r, tableAt(r, doc, "grid", "a [grid] table"), "grid",
            {"nodes", "spacing", "first_diameter", "first_volume", "diameter_exponent"});
  GridSpec& g = c.grid;
  g = GridSpec{};
  const std::string nodesExpected = "a whole number from " + std::to_string(kFewestNodes) +
                                    " to " + std::to_string(kMostNodes);
  if (!s.has("nodes")) s.missing("nodes", nodesExpected);
  g.nodeCount = static_cast<int>(
      s.integer("nodes", kFewestNodes, kMostNodes, nodesExpected).value_or(0));
  g.spacingFactor =
      s.number("spacing", "a volume ratio of successive nodes above 1", [](double v) {
         return v > 1.0;
       }).value_or(0.0);
  g.diameterExponent =
      s.number("diameter_exponent", "a stored one third from 0.333 to 0.334", [](double v) {
         return v >= 0.333 && v <= 0.334;
       }).value_or(GridSpec{}.diameterExponent);
  if (monomerGrid(c)) {
    // With a vapour, or a precursor that makes particles, node 1 is the monomer.
    const std::string why = c.mechanisms.vapor != VaporMode::None
                                ? "with a vapour (node 1 is the monomer)"
                                : "with precursor.product = \"particles\" (node 1 is the monomer)";
    s.notUsed("first_diameter", why);
    s.notUsed("first_volume", why);
    if (!r.failed()) g.firstVolume = monomerVolume(c.material.molarMass, c.material.density);
    return;
  }
  const bool byDiameter = s.has("first_diameter");
  if (byDiameter && s.has("first_volume")) {
    s.notUsed("first_volume", "together with first_diameter (give one of them)");
    return;
  }
  if (!byDiameter && !s.has("first_volume")) {
    s.missing("first_diameter",
              "the smallest particle diameter in nm, or first_volume in m3, without a vapour");
    return;
  }
  if (byDiameter) {
    const double d =
        s.number("first_diameter", kDiameterRange.expected, within(kDiameterRange)).value_or(0.0);
    g.firstVolume = volumeOfDiameterNm(d);
  } else {
    g.firstVolume = s.number("first_volume", "a volume above 0 m3", positive).value_or(0.0);
  }
}

// The grid's limits (case_checks.h), at the key the file gave: node 1 by first_diameter or
// first_volume.
void checkGridVolumes(Reader& r, const SimulationCase& c) {
  std::optional<CaseProblem> problem = checkGrid(c);
  if (!problem) return;
  if (problem->key == "grid.first_volume" && r.line("grid.first_diameter") > 0) {
    problem->key = "grid.first_diameter";
    problem->value = r.value(problem->key);
  }
  r.refuseValue(problem->key, problem->value, problem->expected);
}

void readParticles(Reader& r, const toml::table* table, SimulationCase& c) {
  Section s(r, table, "initial.particles",
            {"kind", "concentration", "diameter", "node", "sigma_g", "primary_diameter"});
  InitialState& in = c.initial;
  if (!s.has("kind"))
    s.missing("kind", "\"monodisperse\", \"node\", \"lognormal\" or \"exponential\"");
  const char* const kinds[] = {"monodisperse", "node", "lognormal", "exponential"};
  const int kind = s.choice("kind", {kinds[0], kinds[1], kinds[2], kinds[3]}).value_or(0);
  const ParticleInit forms[] = {ParticleInit::Monodisperse, ParticleInit::SeededNode,
                                ParticleInit::Lognormal, ParticleInit::Exponential};
  in.particles = forms[kind];
  in.concentration = s.requiredNumber("concentration", kConcentrationRange.expected,
                                      within(kConcentrationRange));
  const std::string why = std::string("with kind = \"") + kinds[kind] + "\"";
  // Aggregates of primaries of one size (particles no larger than a primary are spheres).
  if (c.aggregates)
    in.primaryDiameter =
        s.number("primary_diameter", "a primary particle diameter above 0 nm", positive)
            .value_or(0.0);
  else
    s.notUsed("primary_diameter", "without an [aggregates] table (particles are spheres)");
  if (in.particles == ParticleInit::SeededNode) {
    const int lowest = c.mechanisms.vapor == VaporMode::None ? 1 : 2;
    const int n = c.grid.nodeCount;
    std::string expected = "a node of the grid from " + std::to_string(lowest) + " to " +
                           std::to_string(n);
    if (lowest == 2) expected += " (node 1 is the vapour)";
    if (!s.has("node")) s.missing("node", expected);
    in.seedNode = static_cast<int>(s.integer("node", lowest, n, expected).value_or(0));
    s.notUsed("diameter", why);
    s.notUsed("sigma_g", why);
    return;
  }
  s.notUsed("node", why + " (give kind = \"node\" to seed a node)");
  const char* const meaning[] = {"", "", "a geometric mean ", "the mean volume's "};
  in.diameter = s.requiredNumber(
      "diameter",
      kind == 0 ? std::string(kDiameterRange.expected)
                : meaning[kind] + std::string(kDiameterRange.expected + 2),
      within(kDiameterRange));
  if (in.particles == ParticleInit::Lognormal)
    in.geometricStd = s.requiredNumber("sigma_g", kGeometricStdRange.expected,
                                       within(kGeometricStdRange));
  else
    s.notUsed("sigma_g", why);
  if (r.failed()) return;
  // The size must lie on the grid: between the smallest particle node and the largest,
  // compared in volume (node diameters carry the grid's stored one third, a few ppm off the
  // sphere's), within rounding.
  const GridSpec& g = c.grid;
  const int lowestNode = c.mechanisms.vapor == VaporMode::None ? 1 : 2;
  const double low = g.volumeOf(lowestNode);
  const double high = g.volumeOf(g.nodeCount);
  const double volume = volumeOfDiameterNm(in.diameter);
  const double slack = 1e-9;
  auto nm = [](double v) { return showNumber(std::cbrt(v * 6.0 / kPi) * 1e9); };
  if (!(volume >= low * (1.0 - slack) && volume <= high * (1.0 + slack)))
    r.refuseValue("initial.particles.diameter", formatCaseNumber(in.diameter),
                  "a diameter on the grid, from " + nm(low) + " to " + nm(high) + " nm (node " +
                      std::to_string(lowestNode) + " to node " + std::to_string(g.nodeCount) +
                      ")");
}

// [aggregates]: the fractal law and the sintering law, by default the material's from the
// library.
void readAggregates(Reader& r, const toml::table& doc, SimulationCase& c) {
  const toml::table* table = tableAt(r, doc, "aggregates", "an [aggregates] table");
  if (table == nullptr) return;
  Section s(r, table, "aggregates",
            {"fractal_dimension", "prefactor", "sintering", "sintering_a",
             "sintering_activation_temperature", "sintering_min_diameter"});
  AggregateProperties a;
  a.fractalDimension = s.number("fractal_dimension", "a fractal dimension above 1 and at most 3",
                                [](double v) { return v > 1.0 && v <= 3.0; })
                           .value_or(a.fractalDimension);
  a.prefactor = s.number("prefactor", "a fractal prefactor k_f above 0", positive)
                    .value_or(a.prefactor);
  const MaterialEntry* entry = c.material.name.empty() ? nullptr : findMaterial(c.material.name);
  const SinteringLaw library = entry != nullptr ? entry->sintering : SinteringLaw{};
  const SinteringForm forms[] = {SinteringForm::GrainBoundary, SinteringForm::ViscousFlow,
                                 SinteringForm::SolidState, SinteringForm::Instant,
                                 SinteringForm::None};
  const char* const names[] = {"grain-boundary", "viscous-flow", "solid-state", "instant", "none"};
  const std::optional<int> chosen = s.choice(
      "sintering", {"grain-boundary", "viscous-flow", "solid-state", "instant", "none"});
  if (r.failed()) return;
  if (!chosen && library.form == SinteringForm::None) {
    s.missing("sintering",
              "\"grain-boundary\", \"viscous-flow\", \"solid-state\", \"instant\" or \"none\" "
              "(the material has no sintering law in the library)");
    return;
  }
  SinteringLaw& law = a.sintering;
  law = chosen ? SinteringLaw{} : library;
  if (chosen) law.form = forms[*chosen];
  // A law's constants: the case's, else the library's when it holds the same law.
  const bool fromLibrary = library.form == law.form && library.form != SinteringForm::None;
  if (fromLibrary) law = library;
  const std::string why = std::string("with sintering = \"") +
                          names[static_cast<int>(law.form)] + "\"";
  if (!law.relaxes()) {
    s.notUsed("sintering_a", why);
    s.notUsed("sintering_activation_temperature", why);
    s.notUsed("sintering_min_diameter", why);
    c.aggregates = a;
    return;
  }
  const char* prefactorUnits = law.form == SinteringForm::GrainBoundary ? "s/(m4 K)"
                               : law.form == SinteringForm::ViscousFlow ? "s/m"
                                                                        : "s/(m3 K)";
  const std::string aExpected =
      std::string("the law's prefactor A above 0 (") + prefactorUnits + ")";
  const std::string taExpected = "an activation temperature T_a of 0 or more (K)";
  if (!fromLibrary) {
    if (!s.has("sintering_a")) s.missing("sintering_a", aExpected);
    if (!s.has("sintering_activation_temperature"))
      s.missing("sintering_activation_temperature", taExpected);
  }
  law.prefactor = s.number("sintering_a", aExpected, positive).value_or(law.prefactor);
  law.activationTemperature =
      s.number("sintering_activation_temperature", taExpected, [](double v) { return v >= 0.0; })
          .value_or(law.activationTemperature);
  law.minDiameter = s.number("sintering_min_diameter", "a diameter of 0 or more (m)",
                             [](double v) { return v >= 0.0; })
                        .value_or(law.minDiameter);
  if (!fromLibrary || s.has("sintering_a") || s.has("sintering_activation_temperature") ||
      s.has("sintering_min_diameter")) {
    law.source = "the case";
    law.surfaceEnergyA = fromLibrary ? law.surfaceEnergyA : 0.0;
    law.surfaceEnergyB = fromLibrary ? law.surfaceEnergyB : 0.0;
  }
  c.aggregates = a;
}

void readInitial(Reader& r, const toml::table& doc, SimulationCase& c) {
  const toml::table* table = tableAt(r, doc, "initial", "an [initial] table");
  Section s(r, table, "initial", {"saturation_ratio", "monomer_concentration", "particles"});
  InitialState& in = c.initial;
  in = InitialState{};
  if (c.mechanisms.vapor != VaporMode::None) {
    const bool ratio = s.has("saturation_ratio");
    const bool concentration = s.has("monomer_concentration");
    // A precursor that makes the vapour may start without any.
    const bool fromPrecursor = c.precursor.present;
    if (ratio && concentration)
      s.notUsed("monomer_concentration", "together with saturation_ratio (give one of them)");
    else if (!ratio && !concentration && !fromPrecursor)
      s.missing("saturation_ratio",
                "the vapour's saturation ratio at the start, or monomer_concentration in #/m3");
    in.saturationRatio =
        s.number("saturation_ratio", "a saturation ratio above 0", positive).value_or(0.0);
    in.monomerConcentration =
        fromPrecursor
            ? s.number("monomer_concentration",
                       "a number concentration of 0 or more and at most 1e30 #/m3",
                       [](double v) { return v >= 0.0 && kConcentrationRange.contains(v); })
                  .value_or(0.0)
            : s.number("monomer_concentration",
                       "a number concentration above 0 and at most 1e30 #/m3",
                       [](double v) { return v > 0.0 && kConcentrationRange.contains(v); })
                  .value_or(0.0);
  } else {
    s.notUsed("saturation_ratio", "with mechanisms.vapor = \"none\"");
    s.notUsed("monomer_concentration", "with mechanisms.vapor = \"none\"");
  }
  const toml::node* particles = s.find("particles");
  if (particles != nullptr) {
    if (!particles->is_table()) {
      r.refuse(*particles, "initial.particles", "an [initial.particles] table");
      return;
    }
    readParticles(r, particles->as_table(), c);
  }
  if (r.failed()) return;
  if (in.particles == ParticleInit::None && !c.mechanisms.nucleation && !c.precursor.present)
    r.fail(s.line(), "[initial.particles] is missing: expected particles at the start when "
                     "mechanisms.nucleation is false and there is no [precursor] (nothing "
                     "would form them)");
}

void readTemperature(Reader& r, const toml::table& doc, SimulationCase& c) {
  Section s(r, tableAt(r, doc, "temperature", "a [temperature] table"), "temperature",
            {"law", "start", "cooling_rate", "table"});
  TemperatureHistory& h = c.temperature;
  h = TemperatureHistory{};
  if (!s.has("law")) s.missing("law", "\"constant\", \"cooling\" or \"table\"");
  const int law = s.choice("law", {"constant", "cooling", "table"}).value_or(0);
  h.law = law == 0 ? TemperatureLaw::Constant
          : law == 1 ? TemperatureLaw::CoolingRate
                     : TemperatureLaw::Table;
  const std::string why = std::string("with law = \"") +
                          (law == 0 ? "constant" : law == 1 ? "cooling" : "table") + "\"";
  if (h.law != TemperatureLaw::Table) {
    h.start = s.requiredNumber("start", kTemperatureRange.expected, within(kTemperatureRange));
    if (h.law == TemperatureLaw::CoolingRate)
      h.coolingRate = s.requiredNumber("cooling_rate", "a finite cooling rate (K/s)", anyFinite);
    else
      s.notUsed("cooling_rate", why);
    s.notUsed("table", why);
    return;
  }
  s.notUsed("start", why + " (the table's first row is the start)");
  s.notUsed("cooling_rate", why);
  const std::string rowExpected =
      "[time s, temperature K] or [time s, temperature K, pressure atm]";
  if (!s.has("table")) {
    s.missing("table", "an array of rows " + rowExpected);
    return;
  }
  const toml::node* node = s.find("table");
  if (node == nullptr) return;
  const toml::array* rows = node->as_array();
  if (rows == nullptr || rows->size() < 2) {
    r.refuse(*node, "temperature.table", "an array of at least two rows " + rowExpected);
    return;
  }
  std::size_t width = 0;
  for (std::size_t i = 0; i < rows->size() && !r.failed(); ++i) {
    const toml::node& rowNode = (*rows)[i];
    const std::string rowPath = "temperature.table row " + std::to_string(i + 1);
    const toml::array* row = rowNode.as_array();
    if (row == nullptr || row->size() < 2 || row->size() > 3) {
      r.refuse(rowNode, rowPath, rowExpected);
      return;
    }
    if (i == 0) width = row->size();
    if (row->size() != width) {
      r.refuse(rowNode, rowPath,
               "a row of " + std::to_string(width) +
                   " numbers like the first (give a pressure in every row or in none)");
      return;
    }
    double values[3] = {0.0, 0.0, 0.0};
    const char* names[3] = {"time", "temperature", "pressure"};
    for (std::size_t j = 0; j < row->size(); ++j) {
      const toml::node& item = (*row)[j];
      const std::string path = rowPath + " " + names[j];
      const std::optional<double> read = numberOf(item);
      if (!read) {
        r.refuse(item, path, "a number");
        return;
      }
      const double v = *read;
      values[j] = v;
      std::string expected;
      bool ok = std::isfinite(v);
      if (j == 0 && i == 0) {
        ok = ok && v == 0.0;
        expected = "0 s (the run starts at t = 0)";
      } else if (j == 0) {
        const double before = h.table.back().time;
        ok = ok && v > before;
        expected = "a time after " + formatCaseNumber(before) +
                   " s of the row before (the times must increase)";
      } else if (j == 1) {
        ok = ok && kTemperatureRange.contains(v);
        expected = kTemperatureRange.expected;
      } else {
        ok = ok && kPressureRange.contains(v);
        expected = kPressureRange.expected;
      }
      if (!ok) {
        r.refuse(item, path, expected);
        return;
      }
    }
    h.table.push_back({values[0], values[1], values[2]});
  }
  if (!r.failed()) h.start = h.table[0].temperature;
}

void readEnd(Reader& r, const toml::table& doc, SimulationCase& c) {
  Section s(r, tableAt(r, doc, "end", "an [end] table"), "end", {"time", "temperature"});
  EndCondition& e = c.end;
  e = EndCondition{};
  const bool byTime = s.has("time");
  if (byTime && s.has("temperature")) {
    s.notUsed("temperature", "together with end.time (give one of them)");
    return;
  }
  if (!byTime && !s.has("temperature")) {
    s.missing("time", "the end time in s, or end.temperature in K");
    return;
  }
  if (byTime) {
    e.rule = EndRule::Time;
    e.time = s.number("time", kEndTimeRange.expected, within(kEndTimeRange)).value_or(0.0);
  } else {
    e.rule = EndRule::Temperature;
    e.temperature =
        s.number("temperature", kTemperatureRange.expected, within(kTemperatureRange))
            .value_or(0.0);
  }
}

void readTolerances(Reader& r, const toml::table& doc, SimulationCase& c) {
  Section s(r, tableAt(r, doc, "tolerances", "a [tolerances] table"), "tolerances",
            {"relative", "absolute", "max_steps"});
  const Tolerances defaults;
  Tolerances& t = c.tolerances;
  // Below 1e-12 the tolerance asks for more digits than double precision carries.
  t.relative = s.number("relative", "a relative tolerance from 1e-12 to below 1", [](double v) {
                  return v >= 1e-12 && v < 1.0;
                }).value_or(defaults.relative);
  // Below 1e-10 #/m3 the error test chases noise far under any concentration that matters.
  t.absolute = s.number("absolute", "an absolute tolerance from 1e-10 to 1e30 #/m3",
                        [](double v) { return v >= 1e-10 && v <= 1e30; })
                   .value_or(defaults.absolute);
  t.maxSteps = static_cast<long>(
      s.integer("max_steps", 1, 1000000000000LL, "a whole number of steps from 1 to 1e12")
          .value_or(defaults.maxSteps));
}

void readOutput(Reader& r, const toml::table& doc, SimulationCase& c) {
  Section s(r, tableAt(r, doc, "output", "an [output] table"), "output",
            {"file", "times", "spacing"});
  const OutputSpec defaults;
  OutputSpec& o = c.output;
  o.file = s.text("file", "a file name (a non-empty string)").value_or(defaults.file);
  o.times = static_cast<int>(
      s.integer("times", 2, 1000000,
                "a whole number of output times from 2 to 1000000 (the start and the end "
                "included)")
          .value_or(defaults.times));
  const std::optional<int> spacing = s.choice("spacing", {"linear", "log"});
  o.spacing = spacing ? (*spacing == 1 ? TimeSpacing::Logarithmic : TimeSpacing::Linear)
                      : defaults.spacing;
}

// A table of rates [[time s, rate 1/s], ...]: times of 0 or more, increasing; rates of 0 or
// more.
void readRateTable(Reader& r, const toml::node& node, const std::string& path,
                   RateHistory& history) {
  const std::string rowExpected = "[time s, rate 1/s]";
  const toml::array* rows = node.as_array();
  if (rows == nullptr || rows->size() < 2) {
    r.refuse(node, path, "a rate of 0 or more (1/s), or a table of at least two rows " +
                             rowExpected);
    return;
  }
  for (std::size_t i = 0; i < rows->size() && !r.failed(); ++i) {
    const toml::node& rowNode = (*rows)[i];
    const std::string rowPath = path + " row " + std::to_string(i + 1);
    const toml::array* row = rowNode.as_array();
    if (row == nullptr || row->size() != 2) {
      r.refuse(rowNode, rowPath, rowExpected);
      return;
    }
    double values[2] = {0.0, 0.0};
    const char* names[2] = {"time", "rate"};
    for (std::size_t j = 0; j < 2; ++j) {
      const toml::node& item = (*row)[j];
      const std::string itemPath = rowPath + " " + names[j];
      const std::optional<double> read = numberOf(item);
      if (!read) {
        r.refuse(item, itemPath, "a number");
        return;
      }
      const double v = *read;
      std::string expected = "a rate of 0 or more (1/s)";
      bool ok = std::isfinite(v) && v >= 0.0;
      if (j == 0 && i == 0) {
        expected = "a time of 0 s or more";
      } else if (j == 0) {
        const double before = history.table.back().time;
        ok = ok && v > before;
        expected = "a time after " + formatCaseNumber(before) +
                   " s of the row before (the times must increase)";
      }
      if (!ok) {
        r.refuse(item, itemPath, expected);
        return;
      }
      values[j] = v;
    }
    history.table.push_back({values[0], values[1]});
  }
}

void readReactor(Reader& r, const toml::table& doc, SimulationCase& c) {
  Section s(r, tableAt(r, doc, "reactor", "a [reactor] table"), "reactor",
            {"expansion", "dilution_rate", "tube_diameter", "wall_loss_rate"});
  ReactorConditions& reactor = c.reactor;
  reactor = ReactorConditions{};
  // A case file describes a flow at the history's pressure unless it says otherwise.
  reactor.expansion = s.flag("expansion").value_or(true);
  if (const toml::node* node = s.find("dilution_rate")) {
    if (node->is_array())
      readRateTable(r, *node, s.key("dilution_rate"), reactor.dilution);
    else
      reactor.dilution.constant =
          s.number("dilution_rate",
                   "a rate of 0 or more (1/s), or a table [[time s, rate 1/s], ...]", nonNegative)
              .value_or(0.0);
  }
  reactor.tubeDiameter =
      s.number("tube_diameter", "a tube diameter above 0 m", positive).value_or(0.0);
  reactor.wallLossRate =
      s.number("wall_loss_rate", "a rate of 0 or more (1/s)", nonNegative).value_or(0.0);
}

void readPrecursor(Reader& r, const toml::table& doc, SimulationCase& c) {
  PrecursorProperties& p = c.precursor;
  p = PrecursorProperties{};
  const toml::table* table = tableAt(r, doc, "precursor", "a [precursor] table");
  if (table == nullptr) return;
  Section s(r, table, "precursor",
            {"concentration", "rate_a", "activation_temperature", "product"});
  p.present = true;
  p.concentration = s.requiredNumber(
      "concentration", "a concentration above 0 (molecules/m3)", positive);
  p.rateA = s.requiredNumber("rate_a", "an Arrhenius prefactor of 0 or more (1/s)", nonNegative);
  p.activationTemperature = s.requiredNumber(
      "activation_temperature", "an activation temperature E/R of 0 or more (K)", nonNegative);
  if (!s.has("product")) s.missing("product", "\"vapor\" or \"particles\"");
  p.product = s.choice("product", {"vapor", "particles"}).value_or(0) == 1
                  ? PrecursorProduct::Particles
                  : PrecursorProduct::Vapor;
}

// A case must change something: a mechanism, a reactor term or a precursor.
void checkSomethingHappens(Reader& r, const SimulationCase& c) {
  const Mechanisms& m = c.mechanisms;
  const ReactorConditions& reactor = c.reactor;
  // A constant temperature at the gas pressure keeps the gas density as it is.
  const bool expands =
      reactor.expansion && (c.temperature.law != TemperatureLaw::Constant);
  const bool sinters = c.aggregates && c.aggregates->sintering.relaxes();
  if (!m.nucleation && !m.coagulation && !m.growth && !expands && !reactor.hasDilution() &&
      !reactor.hasWalls() && !c.precursor.present && !sinters)
    r.fail(r.line("mechanisms"),
           "[mechanisms]: nucleation, coagulation and growth are all false and no reactor term, "
           "precursor or sintering is on: expected at least one mechanism, a changing gas "
           "density with reactor.expansion, dilution, wall losses, a [precursor] or the "
           "sintering of [aggregates] (nothing would change)");
}

// The checks that involve several sections, once each has been read.
void checkTogether(Reader& r, SimulationCase& c) {
  MaterialProperties& mat = c.material;
  TemperatureHistory& h = c.temperature;

  // A table with pressures gives the gas pressure; the factor of a legacy law follows it.
  if (h.givesPressure()) {
    if (r.line("gas.pressure") > 0) {
      r.refuseValue("gas.pressure", formatCaseNumber(c.gas.pressure),
                    "no gas.pressure when the temperature table gives pressures");
      return;
    }
    c.gas.pressure = h.table[0].pressure;
  }
  if (mat.factorIsGasPressure) mat.vaporPressureFactor = c.gas.pressure;

  if (const std::optional<CaseProblem> problem = checkCase(c))
    r.refuseValue(problem->key, problem->value, problem->expected);
}

}  // namespace

bool parseCaseText(const std::string& text, const std::string& sourceName,
                   SimulationCase& result, std::string& message) {
  Reader r(sourceName);
  if (const int line = lineOfDeepKey(text)) {
    r.fail(line, "a name of more than " + std::to_string(kMostDottedParts) +
                     " dotted parts: expected the keys and tables of a case file (none has more "
                     "than three parts)");
    message = r.message();
    return false;
  }
  toml::table doc;
  try {
    doc = toml::parse(std::string_view(text), std::string_view(sourceName));
  } catch (const toml::parse_error& error) {
    r.fail(static_cast<int>(error.source().begin.line),
           "TOML syntax: " + std::string(error.description()));
    message = r.message();
    return false;
  } catch (const std::exception& error) {
    message = sourceName + ": could not be read: " + error.what();
    return false;
  }

  static const char* const kSections[] = {
      "material", "gas", "grid", "initial", "temperature", "end", "mechanisms", "aggregates",
      "reactor", "precursor", "tolerances", "output"};
  std::string unknownKey;
  if (const toml::node* unknown = firstUnknownKey(doc, kSections, unknownKey)) {
    r.fail(lineOf(*unknown), unknownKey + ": unknown key; expected the tables " +
                                 joinChoices({"[material]", "[gas]", "[grid]", "[initial]",
                                              "[temperature]", "[end]", "[mechanisms]",
                                              "[aggregates]", "[reactor]", "[precursor]",
                                              "[tolerances]", "[output]"}));
    message = r.message();
    return false;
  }

  SimulationCase c;
  c.source = sourceName;
  c.sourceText = text;
  // Mechanisms first: they decide which of the other keys are needed.
  readMechanisms(r, doc, c);
  // The reactor and the precursor next: they decide the grid and the gas keys needed too.
  if (!r.failed()) readReactor(r, doc, c);
  if (!r.failed()) readPrecursor(r, doc, c);
  const bool vapor = c.mechanisms.vapor != VaporMode::None;
  if (!r.failed()) readMaterial(r, doc, vapor, monomerGrid(c), c);
  // The gas viscosity enters the Fuchs kernel and the diffusion to a tube's wall.
  if (!r.failed())
    readGas(r, doc, c,
            (c.mechanisms.kernel == KernelForm::Fuchs &&
             (c.mechanisms.coagulation || c.mechanisms.growth)) ||
                c.reactor.tubeDiameter > 0.0);
  if (!r.failed()) readGrid(r, doc, c);
  if (!r.failed()) checkGridVolumes(r, c);
  if (!r.failed()) readTemperature(r, doc, c);
  if (!r.failed()) readEnd(r, doc, c);
  if (!r.failed()) readAggregates(r, doc, c);
  // After the aggregates: sintering alone changes the state.
  if (!r.failed()) checkSomethingHappens(r, c);
  if (!r.failed()) readInitial(r, doc, c);
  if (!r.failed()) readTolerances(r, doc, c);
  if (!r.failed()) readOutput(r, doc, c);
  if (!r.failed()) checkTogether(r, c);
  if (r.failed()) {
    message = r.message();
    return false;
  }
  result = std::move(c);
  return true;
}

bool readCaseFile(const std::string& path, SimulationCase& result, std::string& message) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    message = path + ": is a folder; expected a TOML case file";
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    message = path + ": cannot be opened: " + std::generic_category().message(errno);
    return false;
  }
  std::string text;
  char buffer[65536];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(file.gcount()));
    if (text.size() > kLargestCaseFile) {
      message = path + ": larger than " + std::to_string(kLargestCaseFile >> 20) +
                " MB; expected a TOML case file";
      return false;
    }
  }
  if (file.bad()) {
    message = path + ": read error";
    return false;
  }
  return parseCaseText(text, path, result, message);
}

namespace {

// The initial particles' share beyond the grid, when it is more than kOffGridWarning.
std::optional<std::string> offGridWarning(const SimulationCase& c) {
  const GridSpec& g = c.grid;
  const int n = g.nodeCount;
  const int first = c.mechanisms.vapor == VaporMode::None ? 1 : 2;
  if (n < first + 1 || c.initial.particles == ParticleInit::None) return std::nullopt;
  std::vector<double> volume(static_cast<std::size_t>(n) + 1, 0.0);
  for (int k = 1; k <= n; ++k) volume[static_cast<std::size_t>(k)] = g.volumeOf(k);
  const ParticlePlacement p = placeInitialParticles(c.initial, volume, first, n);
  if (!(p.numberOffGrid > kOffGridWarning || p.volumeOffGrid > kOffGridWarning))
    return std::nullopt;
  char text[320];
  std::snprintf(text, sizeof text,
                "initial.particles: %.3g%% of the number and %.3g%% of the volume lie beyond "
                "the grid's particle nodes (%.4g to %.4g nm); they are put in the end nodes, "
                "keeping their number",
                100.0 * p.numberOffGrid, 100.0 * p.volumeOffGrid,
                std::cbrt(6.0 * volume[static_cast<std::size_t>(first)] / kPi) * 1e9,
                std::cbrt(6.0 * volume[static_cast<std::size_t>(n)] / kPi) * 1e9);
  return std::string(text);
}

}  // namespace

std::vector<std::string> caseWarnings(const SimulationCase& c) {
  std::vector<std::string> warnings;
  if (checkCase(c)) return warnings;
  if (std::optional<std::string> offGrid = offGridWarning(c)) warnings.push_back(*offGrid);
  const MaterialEntry* entry = c.material.name.empty() ? nullptr : findMaterial(c.material.name);
  // Without a vapour neither fitted property enters the model.
  if (entry == nullptr || c.mechanisms.vapor == VaporMode::None) return warnings;
  const TemperatureSpan span = caseTemperatureSpan(c);
  // A property the run does not take from the library's fit gets no warning: an overridden
  // figure, a vapour pressure scaled by a factor or by the gas pressure (the legacy law), a
  // surface tension without nucleation or growth. NaN never equals the library's figure.
  MaterialProperties inUse = c.material;
  const double none = std::numeric_limits<double>::quiet_NaN();
  if (inUse.factorIsGasPressure || inUse.vaporPressureFactor != 1.0) inUse.vaporPressureC = none;
  if (!c.mechanisms.nucleation && !c.mechanisms.growth) inUse.surfaceTensionA = none;
  for (std::string& warning : materialRangeWarnings(*entry, span.low, span.high, &inUse))
    warnings.push_back(std::move(warning));
  return warnings;
}

}  // namespace aerosol
