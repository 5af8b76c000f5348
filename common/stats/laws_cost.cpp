#include "stats/laws_cost.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "triangle/budget.h"

namespace lumbra {

namespace {

// Processor seconds of one law at m = 4096, averaged over the 4097 k of a
// crafted file at -j 1 (bench/hostile; the 2-core Xeon, 2026-12-09), and
// what the deviation histogram's tails add to a two-sided deviation law.
struct Measured {
  std::string_view name;
  double seconds;
};
constexpr Measured measured[] = {
    {"ones", 0.0001},         {"deviation", 0.00045},     {"runs", 0.00018},
    {"longest_run", 0.0034},  {"deviation_up", 0.00166},  {"deviation_down", 0.00166},
};
constexpr double unknown_seconds = 0.0034;  // a statistic not measured: the dearest
constexpr double histogram_seconds = 0.0012;

// What a law keeps once released: its object, its map node, its tails and
// bins (a few hundred numbers); and what one law takes while it is made
// (the center line, a band's rows, the longest run's weights).
constexpr double kept_bytes = 4096;
constexpr double working_bytes = 256.0 * 1024;

}  // namespace

LawsCost lawCost(const Statistic& statistic, int m, bool histogram) {
  double seconds = unknown_seconds;
  for (const Measured& x : measured)
    if (x.name == statistic.name()) seconds = x.seconds;
  if (histogram && statistic.name() == "deviation") seconds += histogram_seconds;
  const double scale = std::pow(static_cast<double>(m) / 4096, 1.25);
  return {1, seconds * scale, kept_bytes};
}

void addLaw(LawsCost& total, const LawsCost& law) {
  total.laws += law.laws;
  total.seconds += law.seconds;
  total.bytes += law.bytes;
}

std::string durationText(double s) {
  char buf[64];
  if (s < 10) std::snprintf(buf, sizeof buf, "%.1f s", s);
  else if (s < 120) std::snprintf(buf, sizeof buf, "%.0f s", s);
  else if (s < 7200) std::snprintf(buf, sizeof buf, "%.0f min", s / 60);
  else std::snprintf(buf, sizeof buf, "%.1f h", s / 3600);
  return buf;
}

std::string lawsRefusal(const LawsCost& cost, const std::string& name, double maxSeconds) {
  const std::string laws = name + ": making its " + std::to_string(cost.laws) + " laws";
  const std::string shortfall = memoryShortfall(cost.bytes + working_bytes, memoryLimit());
  if (!shortfall.empty()) return laws + " " + shortfall;
  if (maxSeconds >= 0 && cost.seconds > maxSeconds) {
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", maxSeconds);
    return laws + " would take about " + durationText(cost.seconds) + ", more than --max-seconds " + limit;
  }
  return {};
}

}  // namespace lumbra
