// The processor's features that the dispatching units choose their kernels
// by, read once for the whole program: what the processor has, cut down to
// a level when the environment variable LUMBRA_ISA names one.
//
// The levels, each with every feature of those before it:
//   plain   none: the C++ of every kernel, without vector instructions;
//   sse2    the SSE2 kernels (x86-64's baseline);
//   avx2    besides, popcnt, AVX, AVX2 and the fused multiply-add;
//   avx512  besides, the AVX-512 kernels (each asks for the AVX-512
//           extensions it needs).
// Without LUMBRA_ISA (or with it empty) the level is the highest the
// processor has. Every level gives the same output bytes; the switch is
// there so that each path can be checked against the others on one machine.
//
// LUMBRA_ISA with a name not above, or a level the processor lacks, is an
// error that isaError() describes; lumbra-kit refuses to run with it
// (status 2). Elsewhere the features are then those of the highest level
// the processor has, so nothing here throws.
#pragma once

// The kernels in assembly and intrinsics are compiled where these are
// defined; a build with LUMBRA_NO_INTRINSICS (the CMake option of that
// name) has the C++ of every kernel alone, whose level is plain.
#if defined(__x86_64__) && !defined(LUMBRA_NO_INTRINSICS)
#define LUMBRA_X86_64 1
#endif
#if defined(__SSE2__) && !defined(LUMBRA_NO_INTRINSICS)
#define LUMBRA_SSE2 1
#endif

#include <string>
#include <string_view>

namespace lumbra {

enum class IsaLevel { plain, sse2, avx2, avx512 };

// One bit for each feature a dispatching unit asks for.
enum CpuFeature : unsigned {
  cpu_sse2 = 1u << 0,
  cpu_popcnt = 1u << 1,
  cpu_avx = 1u << 2,
  cpu_avx2 = 1u << 3,
  cpu_fma = 1u << 4,
  cpu_avx512f = 1u << 5,
  cpu_avx512bw = 1u << 6,
  cpu_avx512vbmi = 1u << 7,
  cpu_avx512bitalg = 1u << 8,
  cpu_avx512vpopcntdq = 1u << 9,
};

// The features in use (those of the processor up to the level in use), read
// on the first call.
unsigned cpuFeatures();

// Whether every feature of `features` is in use.
inline bool hasCpu(unsigned features) { return (cpuFeatures() & features) == features; }

// The level in use, and its name ("plain", "sse2", "avx2", "avx512").
IsaLevel isaLevel();
std::string_view isaName(IsaLevel level);

// Why LUMBRA_ISA cannot be had ("LUMBRA_ISA: no level 'x' (there are plain,
// sse2, avx2, avx512)" or "LUMBRA_ISA: this processor has no avx512 (it has
// plain, sse2, avx2)"; "this build" for one without intrinsics), or empty
// when it can.
const std::string& isaError();

}  // namespace lumbra
