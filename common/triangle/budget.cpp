#include "triangle/budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "kova/bigint.h"
#include "kova/sh_ptr.h"
#include "count/binomial_size.h"
#include "count/count.h"
#include "triangle/trian.h"

namespace lumbra {

namespace {

using i64 = std::int64_t;

// What one cell takes from the pool besides its limbs: the number object (24
// bytes) and its control block (24). The budget test holds the estimates
// against the pool's real peak, so a change of either shows there.
constexpr double cell_object_bytes = 48;
// GMP keeps one limb more than a sum needs, and rounds the value up to whole
// limbs: at most bits/64 + 2 limbs of 8 bytes.
double limbBytes(double bits) { return bits / 8 + 16; }

using Line = CellShape::Line;

// The least of `lines` at x.
const Line& lowest(const std::vector<Line>& lines, double x) {
  const Line* best = &lines[0];
  for (const Line& l : lines)
    if (l.at(x) < best->at(x)) best = &l;
  return *best;
}

// Sum over the integers x in [lo, hi] of (p.c0 + p.c1 x)(q.c0 + q.c1 x),
// taken about lo so that large x lose no precision.
double sumOfProduct(const Line& p, const Line& q, i64 lo, i64 hi) {
  if (hi < lo) return 0;
  const double m = static_cast<double>(hi - lo + 1);
  const double pa = p.at(static_cast<double>(lo)), qa = q.at(static_cast<double>(lo));
  const double st = m * (m - 1) / 2;                  // sum of t, t = x - lo
  const double st2 = (m - 1) * m * (2 * m - 1) / 6;  // sum of t^2
  return pa * qa * m + (pa * q.c1 + qa * p.c1) * st + p.c1 * q.c1 * st2;
}

// log2 rho, rho = 2cos(pi/(2d + 3)): 0 for d = 0 (every count is 0 or 1),
// approaching 1 (doubling at each step) as d grows.
double bitsPerStep(int d) {
  const double pi = 3.14159265358979323846;
  return std::min(1.0, 1 + std::log2(std::cos(pi / (2.0 * d + 3))) + 1e-12);
}

double rowBytes(i64 n) { return static_cast<double>(n + 1) * (sizeof(TrianRow) + sizeof(int)); }

constexpr double slot_bytes = sizeof(kova::sh_ptr<kova::BigInt>);

}  // namespace

CellShape::CellShape(int n, int k, int d) : n_(n) {
  const double most = std::min({d, k, n - k}) + 1.0;
  cells_ = {{most, 0}, {1, 1}, {n + 1.0, -1}};
  bits_ = {{log2BinomialAbove(n, k) + 1, 0}, {1, bitsPerStep(d)}};
}

std::vector<i64> CellShape::pieces() const {
  std::vector<i64> cuts{0, n_ + 1};
  for (const auto* set : {&cells_, &bits_})
    for (std::size_t i = 0; i < set->size(); ++i)
      for (std::size_t j = i + 1; j < set->size(); ++j) {
        const Line &a = (*set)[i], &b = (*set)[j];
        if (a.c1 == b.c1) continue;
        const double x = std::ceil((b.c0 - a.c0) / (a.c1 - b.c1));
        if (x > 0 && x <= static_cast<double>(n_)) cuts.push_back(static_cast<i64>(x));
      }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  return cuts;
}

double CellShape::sum(double a0, double a1, bool perCell) const {
  const std::vector<i64> cuts = pieces();
  double total = 0;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    const i64 lo = cuts[i], hi = cuts[i + 1] - 1;
    const double mid = (static_cast<double>(lo) + static_cast<double>(hi)) / 2;
    const Line& b = lowest(bits_, mid);
    const Line value{a0 + a1 * b.c0, a1 * b.c1};
    const Line count = perCell ? lowest(cells_, mid) : Line{1, 0};
    total += sumOfProduct(count, value, lo, hi);
  }
  return total;
}

double CellShape::maxCells() const { return cells_[0].c0; }
double CellShape::maxBits() const { return bits_[0].c0; }

double cellBitsBound(int n, int k, int d, std::int64_t x) {
  const double bits = bitsPerStep(d) * static_cast<double>(x) + 1;
  return std::min(log2BinomialAbove(n, k) + 1, bits);
}

// The text that showC puts the bit count into.
constexpr double log10_2 = 0.30102999566398119521;
constexpr double line_bytes = 1024;

MemoryEstimate showCMemory(int n, int k, int d) {
  const CellShape s(n, k, d);
  MemoryEstimate m;
  // The counting engine keeps no record per step: its rows (two per half)
  // and its binomials are what it takes at its peak.
  // Besides them, the count itself and its decimal text (counted here with
  // the limbs, the text being as short-lived as they are).
  m.cells = countWalksBytes(n, k, d) + limbBytes(s.maxBits()) + s.maxBits() * log10_2 + 2 + line_bytes;
  return m;
}

MemoryEstimate triangleMemory(int n, int k, int d) {
  const CellShape s(n, k, d);
  MemoryEstimate m;
  m.rows = rowBytes(n) + s.sum(1, 0, true) * slot_bytes;
  m.cells = s.sum(cell_object_bytes + limbBytes(0), 1.0 / 8, true);
  return m;
}

std::uint64_t physicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
}

namespace {

// NOTE: the files below are read with C stdio, not iostreams: the stream
// library's set-up alone would add most of a MiB to every run's memory.

// The first number in the file `path`, or 0 when it cannot be read (or says
// "max").
std::uint64_t numberIn(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return 0;
  unsigned long long v = 0;
  if (std::fscanf(f, "%llu", &v) != 1) v = 0;
  std::fclose(f);
  return v;
}

// The process's whole address space and its data segment, in bytes
// (/proc/self/statm: size, resident, shared, text, lib, data, in pages).
void currentUse(std::uint64_t& space, std::uint64_t& data) {
  space = data = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return;
  unsigned long long v[6] = {};
  if (std::fscanf(f, "%llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) == 6) {
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGE_SIZE));
    space = v[0] * page;
    data = v[5] * page;
  }
  std::fclose(f);
}

// The room left under the memory limit of the process's cgroup (version 2:
// memory.max; version 1: memory.limit_in_bytes), 0 when none is set. A
// container sees its own cgroup at the root of /sys/fs/cgroup, so the
// root's files are the fallback.
std::uint64_t cgroupRoom() {
  std::string v2, v1;
  if (std::FILE* f = std::fopen("/proc/self/cgroup", "r")) {
    char buf[4096];
    while (std::fgets(buf, sizeof buf, f)) {
      std::string line(buf);
      if (!line.empty() && line.back() == '\n') line.pop_back();
      if (line.rfind("0::", 0) == 0) v2 = line.substr(3);
      const std::size_t m = line.find(":memory:");
      if (m != std::string::npos) v1 = line.substr(m + 8);
    }
    std::fclose(f);
  }
  const std::string root = "/sys/fs/cgroup", v1root = root + "/memory";
  for (const auto& [dir, max, current] :
       {std::tuple{root + v2, "/memory.max", "/memory.current"}, std::tuple{root, "/memory.max", "/memory.current"},
        std::tuple{v1root + v1, "/memory.limit_in_bytes", "/memory.usage_in_bytes"},
        std::tuple{v1root, "/memory.limit_in_bytes", "/memory.usage_in_bytes"}}) {
    const std::uint64_t limit = numberIn(dir + max);
    // NOTE: version 1 writes "no limit" as a number near 2^63.
    if (limit == 0 || limit >= (std::uint64_t{1} << 62)) continue;
    const std::uint64_t used = numberIn(dir + current);
    return limit > used ? limit - used : 1;
  }
  return 0;
}

}  // namespace

MemoryLimit memoryLimit() {
  MemoryLimit least;
  auto consider = [&](std::uint64_t bytes, const char* name) {
    if (bytes != 0 && (least.bytes == 0 || bytes < least.bytes)) least = {bytes, name};
  };
  consider(physicalMemory(), "physical memory");
  std::uint64_t space = 0, data = 0;
  currentUse(space, data);
  for (const auto& [resource, used, name] :
       {std::tuple{RLIMIT_AS, space, "the address-space limit (ulimit -v)"},
        std::tuple{RLIMIT_DATA, data, "the data-segment limit (ulimit -d)"}}) {
    rlimit r{};
    if (getrlimit(resource, &r) != 0 || r.rlim_cur == RLIM_INFINITY) continue;
    consider(r.rlim_cur > used ? r.rlim_cur - used : 1, name);
  }
  consider(cgroupRoom(), "the cgroup memory limit");
  return least;
}

std::string memoryShortfall(double need, const MemoryLimit& limit) {
  const double have = static_cast<double>(limit.bytes);
  if (have == 0 || need <= have) return {};
  auto amount = [](double bytes, bool up) {
    const double mib = 1024.0 * 1024.0, gib = 1024.0 * mib;
    const double unit = bytes < gib ? mib : gib;
    char text[48];
    std::snprintf(text, sizeof text, "%.0f %s", up ? std::ceil(bytes / unit) : std::floor(bytes / unit),
                  unit == gib ? "GiB" : "MiB");
    return std::string(text);
  };
  std::string words = "needs about " + amount(need, true) + " of memory; ";
  if (std::string_view(limit.name) == "physical memory")
    words += "this machine has " + amount(have, false);
  else
    words += std::string(limit.name) + " leaves " + amount(have, false);
  return words;
}

}  // namespace lumbra
