// lumbra-kit decode: a file that encode wrote, back to its bytes.
#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "app.h"
#include "atomic_output.h"
#include "coding/coded_stream.h"
#include "commands.h"
#include "input.h"
#include "options.h"

namespace lumbra::kit {

namespace {

struct DecodeOptions {
  std::string in, out;
  bool force = false;
  int cacheMib = default_cache_mib;
};

void runDecode(const DecodeOptions& o) {
  Input in(o.in);
  AtomicOutput out(o.out, o.force);
  SuffixCache cache(static_cast<std::size_t>(o.cacheMib) << 20);
  const std::string name = o.in == "-" ? "standard input" : o.in;
  try {
    decodeStream(in, out, cache);
  } catch (const CorruptStream& e) {
    throw Failure(name + ": " + e.what());
  } catch (const TableTooBig& e) {
    throw Failure(name + ": " + e.what() + " (see --cache-mib)");
  }
  out.commit();
}

}  // namespace

void addDecodeCommand(CLI::App& app, int& status) {
  auto o = std::make_shared<DecodeOptions>();
  CLI::App* sub = app.add_subcommand("decode", "Give back the bytes of a file that encode wrote");
  addForceFlag(*sub, o->force);
  addCacheMibOption(*sub, o->cacheMib);
  sub->add_option("IN", o->in, "The coded file, or - for standard input")->required()->check(fileName());
  sub->add_option("OUT", o->out, "The decoded file, or - for standard output")->required()->check(fileName());
  sub->footer(
      "Reads the header and the range-coded blocks that encode wrote and writes the\n"
      "original bytes; their CRC-32 must match the header's. Anything that is not such a\n"
      "stream (a wrong magic number, a newer format version, a truncated or corrupted\n"
      "stream, a checksum that does not match, bytes after the coded data, an index not\n"
      "below its count) is reported in one line with status 2.\n\n"
      "The output is written to a temporary file beside OUT (for -, in $TMPDIR) and put\n"
      "in place only when the whole stream checked out: a failed run leaves nothing at\n"
      "OUT. An existing OUT is kept unless --force.\n\n"
      "Exit status: 0 done, 1 bad command line, 2 an invalid stream, a file that could\n"
      "not be read or written, or OUT exists.\n\n"
      "EXAMPLES\n"
      "  lumbra-kit decode prog.lk prog.back && cmp prog prog.back\n"
      "  lumbra-kit decode prog.lk - | sha256sum\n");
  sub->callback([o, &status] {
    runDecode(*o);
    status = status_ok;
  });
}

}  // namespace lumbra::kit
