// lumbra-kit unrank: the block of an index among the blocks of a constrained
// triangle.
#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "app.h"
#include "commands.h"
#include "lumbra/rank.h"
#include "options.h"
#include "output.h"

namespace lumbra::kit {

namespace {

struct UnrankOptions {
  int m = 0, k = 0, d = 0;
  std::string index;
  int cacheMib = default_cache_mib;
};

void runUnrank(const UnrankOptions& o) {
  if (o.index.empty() || o.index.find_first_not_of("0123456789") != std::string::npos)
    throw UsageError("INDEX must be a decimal number, not '" + o.index + "'");
  // The library refuses K, D and an INDEX out of range in this command's words.
  std::string line;
  try {
    line = lumbra::unrank(o.m, o.k, o.d, BigNat::from_string(o.index), static_cast<std::size_t>(o.cacheMib) << 20);
  } catch (const lumbra::ResourceError&) {
    throw Failure("the counts of " + std::to_string(o.m) + ", " + std::to_string(o.k) + ", " + std::to_string(o.d) +
                  " need more than " + std::to_string(o.cacheMib) + " MiB (see --cache-mib)");
  }
  line += '\n';
  Output out;
  out << line;
  out.flush();
}

}  // namespace

void addUnrankCommand(CLI::App& app, int& status) {
  auto o = std::make_shared<UnrankOptions>();
  CLI::App* sub = app.add_subcommand("unrank", "The block of an index among the blocks of a constrained triangle");
  sub->add_option("M", o->m, "Bits of the block, 1..4096")->required()->transform(decimal(1, max_block_size));
  sub->add_option("K", o->k, "One bits of the block, 0..M")->required()->transform(decimal(0, max_block_size));
  sub->add_option("D", o->d, "Largest deviation from the center line, 0..M")->required()->transform(decimal(0, max_block_size));
  sub->add_option("INDEX", o->index, "The index, a decimal number below C(M, K, D)")->required();
  addCacheMibOption(*sub, o->cacheMib);
  sub->footer(
      "Prints the M-bit block with K one bits whose walk stays within D of the center\n"
      "line of (M, K) and that has INDEX such blocks below it as a binary number, first\n"
      "bit most significant: one line of M characters 0 and 1. It is the inverse of\n"
      "rank: unrank M K D I prints the block whose index is I.\n\n"
      "Exit status: 0 done, 1 bad command line (also an INDEX not below C(M, K, D)),\n"
      "2 the counts need more memory than --cache-mib allows, or output failed.\n\n"
      "EXAMPLES\n"
      "  lumbra-kit unrank 16 6 3 2235\n"
      "  lumbra-kit unrank 1024 512 40 123456789012345678901234567890\n");
  sub->callback([o, &status] {
    runUnrank(*o);
    status = status_ok;
  });
}

}  // namespace lumbra::kit
