#pragma once
// Reading a text file against a fixed template, by the rules of the C formatted input:
// a blank in the template matches any run of white space (line ends included) or none,
// %d reads a decimal int and %lf a double after skipping white space, and every other
// character must stand in the text exactly. Unlike scanf, an integer that does not fit
// an int is a failure rather than a silently wrapped value, and the failure is located
// so that a message can name the label and show what stood there instead.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace aerosol {

enum class ValueKind { Integer, Real };

// One value of a template: the literal text that stands before it and where it goes.
struct TemplateField {
  std::string_view prefix;  // template text in front of the value, blanks included
  std::string_view label;   // the label as users know it, for messages
  std::string_view name;    // the field it fills
  ValueKind kind;
  int* integerTarget;
  double* realTarget;
};

enum class ScanFailure { None, LabelMismatch, MissingValue, IntegerOutOfRange };

struct ScanOutcome {
  int converted = 0;                  // values converted, like the count scanf returns
  ScanFailure failure = ScanFailure::None;
  std::size_t textPosition = 0;       // where in the text the scan stopped
  std::string_view expectedText;      // for LabelMismatch: the template text not matched
  std::size_t labelStart = 0;         // for LabelMismatch: where the label should begin
  std::size_t lastValueStart = 0;     // text span of the last value converted
  std::size_t lastValueEnd = 0;
};

// Scans `text` field by field; stops at the first failure. The text must be followed by a
// terminating NUL (a std::string's data() is), so that numbers are read safely at its end.
ScanOutcome scanTemplate(const std::string& text, const std::vector<TemplateField>& fields);

// Builds the message for a scan that did not convert every field: file, label, field,
// what stood in the file and what was expected.
std::string describeScanFailure(std::string_view fileName, const std::string& text,
                                const std::vector<TemplateField>& fields,
                                const ScanOutcome& outcome);

// A short, printable excerpt of the text at a position, for messages.
std::string excerpt(const std::string& text, std::size_t position, std::size_t length = 32);

}  // namespace aerosol
