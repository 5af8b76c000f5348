// Options that several subcommands share, each added the same way with the
// same words in --help. The values live in the caller's variables.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "stats/statistic.h"

namespace CLI {
class App;
class Validator;
}

namespace lumbra::kit {

inline constexpr int max_block_size = 4096;
inline constexpr int default_block_size = 1024;

// Every integer on lumbra-kit's command line goes through this transform:
// plain decimal digits (leading zeros allowed, meaning nothing) of a value
// in lo .. hi. CLI11 on its own reads 010 as octal, 0x10 as hex and "" as 0;
// here each of them, a sign, a fraction or a value out of range is refused
// with "'TEXT' is not a whole number from LO to HI", and CLI11 is handed the
// digits without their leading zeros. Attach it with ->transform().
CLI::Validator decimal(std::uint64_t lo, std::uint64_t hi);

// A file name on the command line: refused when empty, before any work.
// Attach it with ->check().
CLI::Validator fileName();

// -n, --block-size N: 1 .. 4096, `defaultSize` when not given.
void addBlockSizeOption(CLI::App& cmd, int& n, int defaultSize = default_block_size);
// The words of a comma-separated list, empty ones kept ("a,,b": a, "", b).
std::vector<std::string> commaList(const std::string& list);

// The statistics a --statistics LIST names ("all": every one), as
// namedStatistics gives them; a name no statistic has is a UsageError.
std::span<const Statistic* const> statisticsOption(const std::string& list);
// -n, --block-size N[,N...]: one size or a list of them, each 1 .. 4096;
// default_block_size alone when not given.
void addBlockSizesOption(CLI::App& cmd, std::vector<int>& sizes);
// FILE, the input ("-" for standard input); required.
void addFileArgument(CLI::App& cmd, std::string& file);
// FILE..., one input or more, read in turn; at least one required.
void addFilesArgument(CLI::App& cmd, std::vector<std::string>& files);
// --format WORD, one of `choices` (the first is the default).
void addFormatOption(CLI::App& cmd, std::string& format, std::initializer_list<std::string> choices);
// -f, --force: replace an output file that exists (see AtomicOutput);
// `what` says which.
void addForceFlag(CLI::App& cmd, bool& force, const std::string& what = "Replace OUT if it exists");
// --cache-mib MIB: the memory of the suffix-count cache (coding/rank.h),
// 1 .. 2^20 MiB, default_cache_mib when not given.
inline constexpr int default_cache_mib = 256;
void addCacheMibOption(CLI::App& cmd, int& mib);

}  // namespace lumbra::kit
