#include "processes/template_scan.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace aerosol {
namespace {

// The white space of the C locale's isspace, without its locale dependence.
bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t skipBlanks(const std::string& text, std::size_t pos) {
  while (pos < text.size() && isBlank(text[pos])) ++pos;
  return pos;
}

// Matches the literal template text; on a mismatch returns false and reports where.
bool matchLiteral(const std::string& text, std::size_t& pos, std::string_view literal,
                  std::string_view& unmatched) {
  std::size_t t = 0;
  while (t < literal.size()) {
    if (isBlank(literal[t])) {
      while (t < literal.size() && isBlank(literal[t])) ++t;
      pos = skipBlanks(text, pos);
      continue;
    }
    if (pos >= text.size() || text[pos] != literal[t]) {
      unmatched = literal.substr(t);
      return false;
    }
    ++pos;
    ++t;
  }
  return true;
}

enum class NumberResult { Ok, Missing, OutOfRange };

NumberResult readInteger(const std::string& text, std::size_t& pos, int& value) {
  std::size_t p = skipBlanks(text, pos);
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
    negative = text[p] == '-';
    ++p;
  }
  if (p >= text.size() || !isDigit(text[p])) return NumberResult::Missing;
  // Accumulate in a wide type and stop growing once past the int range, so that any
  // run of digits is read without overflow.
  long long magnitude = 0;
  bool tooLarge = false;
  while (p < text.size() && isDigit(text[p])) {
    if (!tooLarge) {
      magnitude = magnitude * 10 + (text[p] - '0');
      if (magnitude > static_cast<long long>(INT_MAX) + 1) tooLarge = true;
    }
    ++p;
  }
  if (tooLarge || (!negative && magnitude > INT_MAX)) {
    pos = p;
    return NumberResult::OutOfRange;
  }
  value = negative ? static_cast<int>(-magnitude) : static_cast<int>(magnitude);
  pos = p;
  return NumberResult::Ok;
}

NumberResult readReal(const std::string& text, std::size_t& pos, double& value) {
  std::size_t p = skipBlanks(text, pos);
  if (p >= text.size()) return NumberResult::Missing;
  const char* start = text.c_str() + p;
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(start, &end);
  if (end == start) return NumberResult::Missing;
  // Past the end of a text with an embedded NUL strtod cannot go: it stops at the NUL.
  value = parsed;
  pos = p + static_cast<std::size_t>(end - start);
  return NumberResult::Ok;
}

}  // namespace

ScanOutcome scanTemplate(const std::string& text, const std::vector<TemplateField>& fields) {
  ScanOutcome outcome;
  std::size_t pos = 0;
  for (const TemplateField& field : fields) {
    std::string_view unmatched;
    const std::size_t labelStart =
        !field.prefix.empty() && isBlank(field.prefix.front()) ? skipBlanks(text, pos) : pos;
    if (!matchLiteral(text, pos, field.prefix, unmatched)) {
      outcome.failure = ScanFailure::LabelMismatch;
      outcome.labelStart = labelStart;
      outcome.textPosition = pos;
      outcome.expectedText = unmatched;
      return outcome;
    }
    const std::size_t valueStart = skipBlanks(text, pos);
    NumberResult result;
    if (field.kind == ValueKind::Integer) {
      int value = 0;
      result = readInteger(text, pos, value);
      if (result == NumberResult::Ok) *field.integerTarget = value;
    } else {
      double value = 0.0;
      result = readReal(text, pos, value);
      if (result == NumberResult::Ok) *field.realTarget = value;
    }
    if (result != NumberResult::Ok) {
      outcome.failure = result == NumberResult::Missing ? ScanFailure::MissingValue
                                                        : ScanFailure::IntegerOutOfRange;
      outcome.textPosition = valueStart;
      return outcome;
    }
    ++outcome.converted;
    outcome.lastValueStart = valueStart;
    outcome.lastValueEnd = pos;
  }
  return outcome;
}

std::string excerpt(const std::string& text, std::size_t position, std::size_t length) {
  if (position >= text.size()) return "end of file";
  std::string shown = "\"";
  const std::size_t stop = position + length < text.size() ? position + length : text.size();
  for (std::size_t i = position; i < stop; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '"' || c == '\\') {
      shown += '\\';
      shown += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      static const char* digits = "0123456789abcdef";
      shown += "\\x";
      shown += digits[c >> 4];
      shown += digits[c & 15];
    } else {
      shown += static_cast<char>(c);
    }
  }
  if (stop < text.size()) shown += "...";
  shown += '"';
  return shown;
}

std::string describeScanFailure(std::string_view fileName, const std::string& text,
                                const std::vector<TemplateField>& fields,
                                const ScanOutcome& outcome) {
  std::string message(fileName);
  if (outcome.converted >= static_cast<int>(fields.size())) return message + ": read in full";
  const TemplateField& field = fields[static_cast<std::size_t>(outcome.converted)];
  const std::string label(field.label);
  const std::string name(field.name);
  switch (outcome.failure) {
    case ScanFailure::LabelMismatch: {
      std::string_view prefix = field.prefix;
      while (!prefix.empty() && isBlank(prefix.front())) prefix.remove_prefix(1);
      std::string expected(prefix);
      while (!expected.empty() && isBlank(expected.back())) expected.pop_back();
      // Nothing of the label matched right after a value: most often a unit or other text
      // written after the number, so name that value too.
      const bool afterValue = outcome.converted > 0 && prefix.size() == outcome.expectedText.size();
      message += ": label \"" + label + "\" (" + name + ") not found";
      if (afterValue) {
        const TemplateField& previous = fields[static_cast<std::size_t>(outcome.converted - 1)];
        message += " after the value " +
                   excerpt(text.substr(0, outcome.lastValueEnd), outcome.lastValueStart,
                           outcome.lastValueEnd - outcome.lastValueStart) +
                   " of \"" + std::string(previous.label) + "\"";
      }
      message += ": expected \"" + expected + "\" but found " +
                 excerpt(text, outcome.labelStart, expected.size() + 16);
      if (outcome.textPosition > outcome.labelStart)
        message += ", which differs from it at " + excerpt(text, outcome.textPosition, 16);
      message += std::string() +
                 (afterValue ? " (a value is a plain number without units, and labels must "
                               "match the template exactly, case included)"
                             : " (labels must match the template exactly, case included)");
      break;
    }
    case ScanFailure::MissingValue:
      message += ": no value after \"" + label + "\" (" + name + "): found " +
                 excerpt(text, outcome.textPosition) + ", expected " +
                 (field.kind == ValueKind::Integer ? "a whole number" : "a number");
      break;
    case ScanFailure::IntegerOutOfRange:
      message += ": the value of \"" + label + "\" (" + name + ") is too large: found " +
                 excerpt(text, outcome.textPosition) + ", expected a whole number of at most " +
                 std::to_string(INT_MAX) + " in size";
      break;
    case ScanFailure::None:
      message += ": read in full";
      break;
  }
  if (outcome.converted + 1 < static_cast<int>(fields.size()))
    message += "; the values after it were not read either";
  return message;
}

}  // namespace aerosol
