// Feeds arbitrary bytes to the reader of grow.inp (process 4), on the smallest, the classic
// largest and the largest grid, since the seed node is checked against the node count.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "processes/processes.h"

namespace {

// The template of grow.inp as users see it.
constexpr const char* kTemplate =
    "Enter the node in which you want to put in particles:%d Enter the particle number "
    "concentration in #/m3 initially:%lf";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace aerosol;
  const std::string text(reinterpret_cast<const char*>(data), size);

  SeedSettings scanned;
  const std::vector<TemplateField> fields = {
      {"Enter the node in which you want to put in particles:", "", "seedNode",
       ValueKind::Integer, &scanned.seedNode, nullptr},
      {" Enter the particle number concentration in #/m3 initially:", "", "seedConcentration",
       ValueKind::Real, nullptr, &scanned.seedConcentration},
  };
  const ScanOutcome outcome = scanTemplate(text, fields);
  fuzz::compareWithSscanf(text, kTemplate, fields, outcome.converted);
  const bool complete = outcome.converted == static_cast<int>(fields.size());

  for (int nodeCount : {kMinNodeCount, 48, kMaxNodeCount}) {
    RunSettings settings;
    settings.nodeCount = nodeCount;
    settings.process = 4;
    SeedSettings seed;
    std::string message;
    if (!parseSeedSettings(text, settings, seed, message)) {
      fuzz::checkMessage("grow.inp", message);
      continue;
    }
    if (!complete) fuzz::broken("accepted a file the scan could not read in full", "");
    if (seed.seedNode != scanned.seedNode ||
        !fuzz::sameDouble(seed.seedConcentration, scanned.seedConcentration))
      fuzz::broken("reader stored other values than it scanned", "");
    // The driver writes the seed into slot seedNode of tables of tableCapacity(n) entries.
    if (seed.seedNode < 2 || seed.seedNode > nodeCount || seed.seedNode >= tableCapacity(nodeCount))
      fuzz::broken("seed node let through", std::to_string(seed.seedNode));
    if (!(seed.seedConcentration >= 0.0 && std::isfinite(seed.seedConcentration)))
      fuzz::broken("seed concentration let through", std::to_string(seed.seedConcentration));
  }
  return 0;
}
