#include "exec/processor.h"

#include <array>
#include <cstdlib>

namespace lumbra {

namespace {

constexpr std::array<std::string_view, 4> level_names = {"plain", "sse2", "avx2", "avx512"};

// The features a level needs, and those it may use.
constexpr unsigned needs(IsaLevel level) {
  switch (level) {
    case IsaLevel::plain: return 0;
    case IsaLevel::sse2: return cpu_sse2;
    case IsaLevel::avx2: return cpu_sse2 | cpu_popcnt | cpu_avx | cpu_avx2 | cpu_fma;
    case IsaLevel::avx512: return needs(IsaLevel::avx2) | cpu_avx512f;
  }
  return 0;
}

constexpr unsigned uses(IsaLevel level) { return level == IsaLevel::avx512 ? ~0u : needs(level); }

unsigned processorHas() {
  unsigned has = 0;
#if defined(LUMBRA_X86_64)
  __builtin_cpu_init();
  // NOTE: __builtin_cpu_supports takes a literal name, hence one line each.
  has |= __builtin_cpu_supports("sse2") ? cpu_sse2 : 0u;
  has |= __builtin_cpu_supports("popcnt") ? cpu_popcnt : 0u;
  has |= __builtin_cpu_supports("avx") ? cpu_avx : 0u;
  has |= __builtin_cpu_supports("avx2") ? cpu_avx2 : 0u;
  has |= __builtin_cpu_supports("fma") ? cpu_fma : 0u;
  has |= __builtin_cpu_supports("avx512f") ? cpu_avx512f : 0u;
  has |= __builtin_cpu_supports("avx512bw") ? cpu_avx512bw : 0u;
  has |= __builtin_cpu_supports("avx512vbmi") ? cpu_avx512vbmi : 0u;
  has |= __builtin_cpu_supports("avx512bitalg") ? cpu_avx512bitalg : 0u;
  has |= __builtin_cpu_supports("avx512vpopcntdq") ? cpu_avx512vpopcntdq : 0u;
#endif
  return has;
}

// The highest level whose needs `has` meets.
IsaLevel highest(unsigned has) {
  IsaLevel top = IsaLevel::plain;
  for (IsaLevel l : {IsaLevel::sse2, IsaLevel::avx2, IsaLevel::avx512})
    if ((has & needs(l)) == needs(l)) top = l;
  return top;
}

struct InUse {
  unsigned features = 0;
  IsaLevel level = IsaLevel::plain;
  std::string error;
};

const InUse& inUse() {
  static const InUse made = [] {
    InUse u;
    const unsigned has = processorHas();
    u.features = has;
    u.level = highest(has);
    const char* asked = std::getenv("LUMBRA_ISA");
    if (asked == nullptr || *asked == '\0') return u;
    const std::string_view name(asked);
    std::size_t i = 0;
    while (i < level_names.size() && level_names[i] != name) ++i;
    if (i == level_names.size()) {
      u.error = "LUMBRA_ISA: no level '" + std::string(name) + "' (there are plain, sse2, avx2, avx512)";
      return u;
    }
    const auto level = static_cast<IsaLevel>(i);
    if (level > u.level) {
#if defined(LUMBRA_NO_INTRINSICS)
      u.error = "LUMBRA_ISA: this build has no " + std::string(name) + " (it has";
#else
      u.error = "LUMBRA_ISA: this processor has no " + std::string(name) + " (it has";
#endif
      for (std::size_t l = 0; l <= static_cast<std::size_t>(u.level); ++l)
        u.error += std::string(l == 0 ? " " : ", ") + std::string(level_names[l]);
      u.error += ")";
      return u;
    }
    u.features = has & uses(level);
    u.level = level;
    return u;
  }();
  return made;
}

}  // namespace

unsigned cpuFeatures() { return inUse().features; }

IsaLevel isaLevel() { return inUse().level; }

std::string_view isaName(IsaLevel level) { return level_names[static_cast<std::size_t>(level)]; }

const std::string& isaError() { return inUse().error; }

}  // namespace lumbra
