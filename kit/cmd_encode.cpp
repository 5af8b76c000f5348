// lumbra-kit encode: a file written as its blocks' (k, d, index) through the
// range coder.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "app.h"
#include "atomic_output.h"
#include "coding/coded_stream.h"
#include "commands.h"
#include "input.h"
#include "options.h"
#include "output.h"

namespace lumbra::kit {

namespace {

struct EncodeOptions {
  // NOTE: 256, not the 1024 of rank: at 256 bits a table of suffix counts
  // takes at most half a MiB and a block is ranked in a few hundred additions.
  int n = 256;
  std::string in, out;
  bool force = false;
  bool stats = false;
  int cacheMib = default_cache_mib;
};

std::string fixed(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

void runEncode(const EncodeOptions& o) {
  if (o.stats && o.out == "-") throw UsageError("--stats writes to standard output; give OUT as a file");
  Input in(o.in);
  AtomicOutput out(o.out, o.force);
  SuffixCache cache(static_cast<std::size_t>(o.cacheMib) << 20);
  CodedHeader header;
  CodingStats s;
  try {
    s = encodeStream(in, out, o.n, cache, header);
  } catch (const TableTooBig& e) {
    throw Failure(std::string(e.what()) + " (see --cache-mib)");
  }
  out.patch(0, header.data(), header.size());
  out.commit();

  const double payload = static_cast<double>(s.payloadBits);
  const double coder = payload - s.kBits - s.dBits - s.indexBits;
  const std::uint64_t outBytes = (s.headerBits + s.payloadBits) / 8;
  if (o.stats) {
    nlohmann::ordered_json j = {{"block_size", o.n},
                                {"input_bytes", s.inputBytes},
                                {"blocks", s.blocks},
                                {"output_bytes", outBytes},
                                {"header_bits", s.headerBits},
                                {"k_bits", s.kBits},
                                {"d_bits", s.dBits},
                                {"index_bits", s.indexBits},
                                {"coder_bits", coder},
                                {"ideal_index_bits", s.idealIndexBits}};
    Output stdout_;
    stdout_ << j.dump() << '\n';
    stdout_.flush();
    return;
  }
  std::fflush(stdout);
  std::fprintf(stderr,
               "encode: %llu bytes in %llu blocks -> %llu bytes = header %llu + k %s + d %s + indexes %s + coder %s "
               "bits; ideal sum of log2 C(m, k, d) %s bits\n",
               static_cast<unsigned long long>(s.inputBytes), static_cast<unsigned long long>(s.blocks),
               static_cast<unsigned long long>(outBytes), static_cast<unsigned long long>(s.headerBits),
               fixed(s.kBits).c_str(), fixed(s.dBits).c_str(), fixed(s.indexBits).c_str(), fixed(coder).c_str(),
               fixed(s.idealIndexBits).c_str());
}

}  // namespace

void addEncodeCommand(CLI::App& app, int& status) {
  auto o = std::make_shared<EncodeOptions>();
  CLI::App* sub = app.add_subcommand("encode", "Write a file as the (k, d, index) of its blocks, range coded");
  static_assert(coded_max_block == max_block_size);
  addBlockSizeOption(*sub, o->n, 256);
  addForceFlag(*sub, o->force);
  sub->add_flag("--stats", o->stats, "Print where the output bits went as one JSON object on standard output");
  addCacheMibOption(*sub, o->cacheMib);
  sub->add_option("IN", o->in, "The file to encode, or - for standard input")->required()->check(fileName());
  sub->add_option("OUT", o->out, "The coded file, or - for standard output")->required()->check(fileName());
  sub->footer(
      "IN is cut into blocks of n bits as rank cuts it. The output is a header (magic\n"
      "number, format version, block size, IN's length in bits and its CRC-32), then per\n"
      "block its number of one bits k and its deviation d, each through an adaptive\n"
      "model, and its index as a uniform value below C(m, k, d), all through one range\n"
      "coder; docs/format.md describes the layout. decode gives back IN exactly.\n\n"
      "The output is written to a temporary file beside OUT and renamed to OUT at the\n"
      "end; an existing OUT is kept unless --force, and a failed run leaves nothing at\n"
      "OUT. At the end one line on standard error (or, with --stats, a JSON object on\n"
      "standard output) splits the output into bits for the header, for k, for d, for\n"
      "the indexes and the coder's own loss, beside the ideal sum of log2 C(m, k, d).\n\n"
      "Memory: the suffix counts of recently used (m, k, d) are kept within --cache-mib;\n"
      "one more table may be in use beside them, and a table larger than the whole cache\n"
      "is refused (a block far from its center line at n = 4096 can need one).\n\n"
      "Exit status: 0 done, 1 bad command line, 2 a file could not be read or written,\n"
      "OUT exists, or the counts need more than --cache-mib.\n\n"
      "EXAMPLES\n"
      "  lumbra-kit encode prog prog.lk\n"
      "  lumbra-kit encode -n 128 --stats --force prog prog.lk\n"
      "  generator | lumbra-kit encode - out.lk\n");
  sub->callback([o, &status] {
    runEncode(*o);
    status = status_ok;
  });
}

}  // namespace lumbra::kit
