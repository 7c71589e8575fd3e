#pragma once
// Shared checks of the input-file fuzzers. A broken expectation aborts, which libFuzzer
// reports as a crash together with the input that caused it.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "processes/template_scan.h"

namespace aerosol::fuzz {

[[noreturn]] inline void broken(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

// A refusal must say which file it is about and what was expected.
inline void checkMessage(std::string_view file, const std::string& message) {
  if (message.empty()) broken("empty message", std::string(file));
  if (message.compare(0, file.size() + 1, std::string(file) + ":") != 0)
    broken("message does not start with the file name", message);
  if (message.find("expected") == std::string::npos)
    broken("message does not say what was expected", message);
}

inline bool sameDouble(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// The template that the fields stand for, written as a scanf format.
inline std::string formatOf(const std::vector<TemplateField>& fields) {
  std::string format;
  for (const TemplateField& f : fields) {
    format += f.prefix;
    format += f.kind == ValueKind::Integer ? "%d" : "%lf";
  }
  return format;
}

// Scans the text a second time with the C library's sscanf and the input file's template as
// users know it, and
// requires every value that both converted to be the same. The two differ by design only in
// where a scan stops: an integer too large for an int is refused here (sscanf wraps it), and
// a number is read by strtod's rules ("1e" reads 1 and leaves "e", "nan(12)" is one value),
// where glibc's scanf swallows "1e" or stops after "nan". Values read are never different.
inline void compareWithSscanf(const std::string& text, const char* format,
                              const std::vector<TemplateField>& fields, int converted) {
  // sscanf takes at most a fixed number of targets; the templates have up to fourteen.
  constexpr std::size_t kMax = 16;
  if (fields.size() > kMax) broken("template too long for the comparison", "");
  int ints[kMax] = {};
  double reals[kMax] = {};
  void* targets[kMax] = {};
  for (std::size_t i = 0; i < kMax; ++i)
    targets[i] = i < fields.size() && fields[i].kind == ValueKind::Integer
                     ? static_cast<void*>(&ints[i])
                     : static_cast<void*>(&reals[i]);
  const int got = std::sscanf(text.c_str(), format, targets[0], targets[1], targets[2],
                              targets[3], targets[4], targets[5], targets[6], targets[7],
                              targets[8], targets[9], targets[10], targets[11], targets[12],
                              targets[13], targets[14], targets[15]);
  const int common = got < converted ? (got < 0 ? 0 : got) : converted;
  for (int i = 0; i < common; ++i) {
    const TemplateField& f = fields[static_cast<std::size_t>(i)];
    if (f.kind == ValueKind::Integer) {
      if (*f.integerTarget != ints[i])
        broken("integer read differently from sscanf",
               std::string(f.name) + ": " + std::to_string(*f.integerTarget) + " vs " +
                   std::to_string(ints[i]));
    } else if (!sameDouble(*f.realTarget, reals[i])) {
      char detail[128];
      std::snprintf(detail, sizeof detail, "%s: %.17g vs %.17g", std::string(f.name).c_str(),
                    *f.realTarget, reals[i]);
      broken("number read differently from sscanf", detail);
    }
  }
}

}  // namespace aerosol::fuzz
