// The verdict on a whole file, as lumbra-kit test --format json gives it:
// the figures of each statistic of the blocks (their ones, their deviation,
// their runs, and others on request) over all the file's blocks of n bits, with
// z-scores and chi-square p-values, and the whole file's balance and runs.
// The fields have the names of the JSON keys.
//
//   lumbra::FileTest t = lumbra::test_file("random.bin");
//   if (t.deviation_test.p_value && *t.deviation_test.p_value < 0.01) ...
//
// The file is measured on `threads` threads (0: one per core) while the
// calling thread reads it; the figures are the same for any number. Memory
// stays bounded whatever the file's size. Safe from several threads at once.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lumbra/error.h"
#include "lumbra/export.h"

namespace lumbra {

// One statistic over the blocks: passing is the blocks whose p-value is at
// least 0.01; the bins are [0, 0.1), ..., [0.9, 1]. Empty optionals where a
// figure does not exist (no spread, fewer than two chi-square groups).
struct StatisticTest {
  std::uint64_t passing = 0;
  double passing_expected = 0;
  double passing_variance = 0;
  double passing_sd = 0;
  std::optional<double> passing_z;
  std::array<std::uint64_t, 10> bins_observed{};
  std::array<double, 10> bins_expected{};
  std::optional<double> chi2;
  std::optional<int> dof;
  std::optional<double> p_value;
};

// An exact p-value enclosed: e^ln_p[0] <= p <= e^ln_p[1]; p_value is its
// estimate, 0 below the doubles' range.
struct FileProbability {
  double p_value = 1;
  std::array<double, 2> ln_p{};
};

// The whole file's bits against fair coin flips: its ones against
// binomial(bits, 1/2) (balance) and its runs of equal bits given its ones
// (runs_test); neither for an empty file.
struct WholeFileTest {
  std::optional<FileProbability> balance;
  std::uint64_t runs = 0;
  int first_bit = 0;
  int last_bit = 0;
  std::optional<FileProbability> runs_test;
};

struct FileTest {
  int block_size = 0;
  std::optional<std::uint64_t> file_bits;  // the file's size in bits; none for a pipe or a device
  std::uint64_t first_block = 0;
  std::uint64_t block_count = 0;
  std::uint64_t blocks = 0;
  std::uint64_t bits = 0;
  std::uint64_t ones = 0;
  // Every statistic, by its name in the order printed ("ones", "deviation"):
  // the JSON's "tests". The first two are also the fields below.
  std::vector<std::pair<std::string, StatisticTest>> tests;
  StatisticTest ones_test;
  StatisticTest deviation_test;
  WholeFileTest whole_file;
  std::vector<std::uint64_t> deviations_observed;  // blocks with deviation d, d = 0 ..
  std::vector<double> deviations_expected;         // their expectation, the same length
  std::vector<std::array<std::uint64_t, 3>> shapes;  // (m, k, blocks) for each length and ones seen
  std::vector<std::array<std::uint64_t, 2>> ranges;  // (first, count) of the blocks held, in file order
};

// Requires 1 <= n <= 4096 (ArgumentError). A file that cannot be opened or
// read throws InputError ("can't open NAME: No such file or directory").
// Judges ones, deviation, runs and rank, as test does by default.
LUMBRA_API FileTest test_file(const std::string& path, int n = 1024, unsigned threads = 0);

// The same, judging the statistics named as test --statistics does: ones
// and deviation always, and those of runs, longest_run, deviation_up,
// deviation_down, rank, linear_complexity and collisions named ("all":
// every one). A name no statistic has throws
// ArgumentError ("statistics: no statistic 'NAME' (there are ...)").
LUMBRA_API FileTest test_file(const std::string& path, int n, unsigned threads,
                              const std::vector<std::string>& statistics);

// One statistic judged at several block sizes: the least of its chi-square
// p-values over the sizes that judged it (least_p_value, found at
// block_size), times their number (sizes_judged), at most 1 (p_value). The
// product falls below a rate no more often than that rate on random data,
// however the sizes' verdicts are tied. Empty optionals where no size
// judged it.
struct SizesVerdict {
  std::optional<double> p_value;
  std::optional<double> least_p_value;
  std::optional<int> block_size;
  int sizes_judged = 0;
};

// One file at several block sizes, as lumbra-kit test -n 64,256,1024,4096
// --format json gives it: each size's FileTest, in the order asked for, and
// the verdict on each statistic over them all, by name in the order printed.
struct SizesTest {
  std::vector<int> block_sizes;
  std::vector<FileTest> summaries;
  std::vector<std::pair<std::string, SizesVerdict>> verdict;
};

// The file is read once for all the sizes, each 1..4096, at least one, none
// twice (ArgumentError); the statistics are named as for test_file (empty:
// ones, deviation, runs and rank). A file that cannot be opened or read throws
// InputError.
//
//   lumbra::SizesTest t = lumbra::test_sizes("random.bin", {64, 256, 1024, 4096});
//   for (const auto& [name, v] : t.verdict)
//     if (v.p_value && *v.p_value < 1e-4) ...
LUMBRA_API SizesTest test_sizes(const std::string& path, const std::vector<int>& sizes, unsigned threads = 0,
                                const std::vector<std::string>& statistics = {});

}  // namespace lumbra
