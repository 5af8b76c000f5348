// lumbra-kit rank: every block of a file with its index among the blocks of
// its constrained triangle.
#include <gmp.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "app.h"
#include "commands.h"
#include "input.h"
#include "options.h"
#include "output.h"
#include "coding/rank.h"
#include "count/mpz.h"
#include "triangle/trian.h"

namespace lumbra::kit {

namespace {

struct RankOptions {
  int n = 1024;
  std::string format = "tsv";
  std::string file;
  int cacheMib = default_cache_mib;
};

void runRank(const RankOptions& o) {
  Input in(o.file);
  BlockReader reader(in);
  SuffixCache cache(static_cast<std::size_t>(o.cacheMib) << 20);
  Output out;
  const bool tsv = o.format == "tsv";
  if (tsv) out << "block\tlength\tones\tdeviation\tindex\n";
  std::vector<bool> vb;
  mpz_t index;
  mpz_init(index);
  try {
    for (unsigned long long b = 0; reader.read(o.n, vb); ++b) {
      int k, d;
      walkStats(vb, k, d);
      const int m = static_cast<int>(vb.size());
      auto t = cache.get(m, k, d);
      if (!t)
        throw Failure("block " + std::to_string(b) + " needs more than the cache's " + std::to_string(o.cacheMib) +
                      " MiB of counts (see --cache-mib)");
      t->rank(vb, index);
      const std::string digits = decimalText(index);
      if (tsv)
        out << std::to_string(b) << '\t' << std::to_string(m) << '\t' << std::to_string(k) << '\t' << std::to_string(d)
            << '\t' << digits << '\n';
      else
        out << "{\"block\":" << std::to_string(b) << ",\"length\":" << std::to_string(m) << ",\"ones\":"
            << std::to_string(k) << ",\"deviation\":" << std::to_string(d) << ",\"index\":\"" << digits << "\"}\n";
    }
  } catch (...) {
    mpz_clear(index);
    throw;
  }
  mpz_clear(index);
  out.flush();
}

}  // namespace

void addRankCommand(CLI::App& app, int& status) {
  auto o = std::make_shared<RankOptions>();
  CLI::App* sub = app.add_subcommand("rank", "Each block's index among the blocks of its constrained triangle");
  addBlockSizeOption(*sub, o->n);
  addFormatOption(*sub, o->format, {"tsv", "jsonl"});
  addCacheMibOption(*sub, o->cacheMib);
  addFileArgument(*sub, o->file);
  sub->footer(
      "The file is read as one stream of bits, each byte most significant bit first, cut\n"
      "into blocks of n bits (the last block may be shorter). For each block it prints\n"
      "its number (from 0), its length m, its number of one bits k, its deviation d (the\n"
      "largest distance of its walk from the center line of (m, k)) and its index: the\n"
      "number of m-bit blocks with k ones and deviation at most d that are smaller as\n"
      "binary numbers, first bit most significant. Indexes run from 0 to C(m, k, d) - 1\n"
      "and are printed in decimal (a string in jsonl).\n\n"
      "Exit status: 0 done, 1 bad command line, 2 a file could not be read or written.\n\n"
      "EXAMPLES\n"
      "  printf 'Hello, world!\\n' > hello.txt\n"
      "  lumbra-kit rank -n 16 hello.txt\n"
      "  lumbra-kit rank -n 64 --format jsonl hello.txt\n");
  sub->callback([o, &status] {
    runRank(*o);
    status = status_ok;
  });
}

}  // namespace lumbra::kit
