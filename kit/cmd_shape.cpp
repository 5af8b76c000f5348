// lumbra-kit shape and unshape: any file as balanced words that stay in a
// band (DC-free line codes, GC-balanced DNA), and back; shape --info: what a
// word carries.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "app.h"
#include "atomic_output.h"
#include "coding/shaped_stream.h"
#include "commands.h"
#include "input.h"
#include "options.h"
#include "output.h"

namespace lumbra::kit {

namespace {

struct ShapeOptions {
  int n = 256;
  int d = 4;
  std::string alphabet = "bits";
  std::string in, out;
  bool force = false;
  bool info = false;
};

Alphabet alphabetOf(const std::string& name) {
  return name == "text" ? Alphabet::text : name == "dna" ? Alphabet::dna : Alphabet::bits;
}

// Integers on the command line are plain decimal: CLI11 alone would also
// take 0x10 and read 010 as octal. Leading zeros go before it converts.
const CLI::Validator wordDecimal(
    [](std::string& v) {
      if (v.empty() || v.size() > 9 ||
          !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "'" + v + "' is not a decimal number below 10^9";
      v.erase(0, std::min(v.find_first_not_of('0'), v.size() - 1));
      return std::string();
    },
    "", "decimal");

void addShapeOptions(CLI::App& cmd, ShapeOptions& o) {
  cmd.add_option("-n,--word-bits", o.n, "Bits per word: even, 2 to 4096 (default 256)")
      ->transform(wordDecimal)
      ->type_name("N");
  cmd.add_option("-d,--depth", o.d, "How far a word's walk may stray from 0: 1 to N/2 (default 4)")
      ->transform(wordDecimal)
      ->type_name("D");
  cmd.add_option("--alphabet", o.alphabet,
                 "bits (packed bytes), text (a line of 0 and 1 per word) or dna (default bits)")
      ->check(CLI::IsMember({"bits", "text", "dna"}))
      ->type_name("WORD");
  addForceFlag(cmd, o.force);
}

void checkShape(const ShapeOptions& o) {
  if (const std::string why = shapeRefusal(o.n, o.d); !why.empty()) throw UsageError(why);
}

void printInfo(const ShapeOptions& o) {
  const Shaper s(o.n, o.d);
  const bool dna = alphabetOf(o.alphabet) == Alphabet::dna;
  const double rate = s.bits() / static_cast<double>(o.n);
  const double capacity = shapeCapacity(o.d);
  char line[256];
  Output stdout_;
  stdout_ << "n\td\tbits_per_word\trate\tcapacity\tefficiency\tsum_bound\tlongest_run"
          << (dna ? "\tbits_per_base" : "") << '\n';
  std::snprintf(line, sizeof line, "%d\t%d\t%d\t%.6f\t%.6f\t%.6f\t%d\t%d", o.n, o.d, s.bits(), rate, capacity,
                rate / capacity, s.depth(), 2 * s.depth());
  stdout_ << line;
  if (dna) {
    std::snprintf(line, sizeof line, "\t%.6f", 1 + rate);
    stdout_ << line;
  }
  stdout_ << '\n';
  stdout_.flush();
}

void runShape(const ShapeOptions& o) {
  checkShape(o);
  if (o.info) {
    if (!o.in.empty()) throw UsageError("--info takes no IN or OUT");
    printInfo(o);
    return;
  }
  if (o.out.empty()) throw UsageError(o.in.empty() ? "IN and OUT are required" : "OUT is required");
  const Shaper s(o.n, o.d);
  Input in(o.in);
  AtomicOutput out(o.out, o.force);
  std::vector<unsigned char> head;
  shapeStream(in, out, s, alphabetOf(o.alphabet), head);
  out.patch(0, head.data(), head.size());
  out.commit();
}

// The input, its first bytes kept: what the header of any parameters of
// the same N can take, so that a stream refused in its first words can be
// tried with others.
class KeptStart final : public lumbra::ByteSource {
 public:
  KeptStart(Input& in, std::size_t keep) : in_(in), keep_(keep) {}
  std::size_t get(unsigned char* buf, std::size_t n) override {
    const std::size_t got = in_.fill(buf, n);
    kept_.insert(kept_.end(), buf, buf + std::min(got, keep_ - std::min(keep_, kept_.size())));
    return got;
  }
  // The first bytes, read on to as many as kept (or the end of the input).
  const std::vector<unsigned char>& start() {
    const std::size_t had = kept_.size();
    if (had < keep_) {
      kept_.resize(keep_);
      kept_.resize(had + in_.fill(kept_.data() + had, keep_ - had));
    }
    return kept_;
  }

 private:
  Input& in_;
  std::size_t keep_;
  std::vector<unsigned char> kept_;
};

// "; these words read with -d 3 --alphabet dna": the options, as given on
// the command line, that read the stream's start where o's do not.
std::string otherParameters(KeptStart& start, const ShapeOptions& o) {
  const Alphabet given = alphabetOf(o.alphabet);
  const auto found = readsWith(start.start(), o.n, o.d, given);
  if (found.empty()) return "";
  std::string options;
  for (const ShapeParameters& p : found) {
    std::string one;
    if (p.d != o.d) one += "-d " + std::to_string(p.d);
    if (p.alphabet != given)
      one += std::string(one.empty() ? "" : " ") + "--alphabet " +
             (p.alphabet == Alphabet::bits ? "bits" : p.alphabet == Alphabet::text ? "text" : "dna");
    options += (options.empty() ? "" : ", or ") + one;
  }
  return "; these words read with " + options + " (-n " + std::to_string(o.n) + ")";
}

void runUnshape(const ShapeOptions& o) {
  checkShape(o);
  const Shaper s(o.n, o.d);
  Input in(o.in);
  KeptStart start(in, headerBytesAtMost(o.n));
  AtomicOutput out(o.out, o.force);
  try {
    unshapeStream(start, out, s, alphabetOf(o.alphabet));
  } catch (const ShapeError& e) {
    // Refused in its header or the word after it: perhaps a stream of other
    // parameters, which one word cannot tell; the stream's start can.
    const bool early = e.word() <= streamWords(s, alphabetOf(o.alphabet), 0).header;
    throw Failure(in.name() + ": " + e.what() + (early ? otherParameters(start, o) : ""));
  }
  out.commit();
}

constexpr const char* stream_help =
    "The stream is words only: the first words carry the data's length in bytes (64\n"
    "bits), the last ones its CRC-32, the data lies in between, and each word carries\n"
    "floor(log2 C(N, N/2, D)) bits of them as its index among the N-bit words with N/2\n"
    "ones whose walk stays within D of 0. So every word is balanced, the running sum\n"
    "of the whole stream (+1 for a one, -1 for a zero) stays within -D..D, and no run\n"
    "of equal bits is longer than 2D. With --alphabet dna each bit chooses the pair G/C\n"
    "(1) or A/T (0) and one more data bit the base in it (A 00, T 01, C 10, G 11), so\n"
    "every word of N bases holds N/2 of G or C. docs/shaping.md has the layout and how\n"
    "to choose N and D. The output goes to a temporary file beside OUT and is renamed\n"
    "to OUT at the end; an existing OUT is kept unless --force; - is standard input or\n"
    "output.\n\n";

}  // namespace

void addShapeCommand(CLI::App& app, int& status) {
  auto o = std::make_shared<ShapeOptions>();
  CLI::App* sub = app.add_subcommand("shape", "Write a file as balanced words whose walks stay in a band");
  addShapeOptions(*sub, *o);
  sub->add_flag("--info", o->info, "Print what a word of N and D carries, as TSV, and nothing else");
  sub->add_option("IN", o->in, "The file to shape, or - for standard input");
  sub->add_option("OUT", o->out, "The shaped stream, or - for standard output");
  sub->footer(std::string(stream_help) +
              "--info prints one TSV line under a header: bits per word, the rate (bits per\n"
              "word / N), the capacity log2(2 cos(pi / (2D + 2))) of a channel whose running sum\n"
              "stays within D, the efficiency (rate / capacity), the bound the words' running sum\n"
              "keeps to and the longest run of equal bits; with --alphabet dna also the data bits\n"
              "per base.\n\n"
              "Exit status: 0 done, 1 bad command line, 2 a file could not be read or written,\n"
              "or OUT exists.\n\n"
              "EXAMPLES\n"
              "  lumbra-kit shape --info -n 256 -d 4\n"
              "  lumbra-kit shape random.bin random.shaped\n"
              "  lumbra-kit shape --alphabet dna -n 128 -d 3 random.bin strands.txt");
  sub->callback([o, &status] {
    runShape(*o);
    status = status_ok;
  });
}

void addUnshapeCommand(CLI::App& app, int& status) {
  auto o = std::make_shared<ShapeOptions>();
  CLI::App* sub = app.add_subcommand("unshape", "Give back the bytes of a stream that shape wrote");
  addShapeOptions(*sub, *o);
  sub->add_option("IN", o->in, "The shaped stream, or - for standard input")->required();
  sub->add_option("OUT", o->out, "The data, or - for standard output")->required();
  sub->footer(std::string(stream_help) +
              "unshape takes the same -n, -d and --alphabet as shape. It refuses, in one line\n"
              "naming the word (counted from 0) and with status 2, a word that is not balanced\n"
              "or leaves the band, one that shape does not write, a stream that is not a whole\n"
              "number of words or goes on after its last word, a length that does not fit and\n"
              "a checksum that does not match; nothing is then left at OUT.\n\n"
              "Exit status: 0 done, 1 bad command line, 2 a refused stream, a file that could\n"
              "not be read or written, or OUT exists.\n\n"
              "EXAMPLES\n"
              "  lumbra-kit unshape random.shaped random.back && cmp random.bin random.back\n"
              "  lumbra-kit unshape --alphabet dna -n 128 -d 3 strands.txt strands.back");
  sub->callback([o, &status] {
    runUnshape(*o);
    status = status_ok;
  });
}

}  // namespace lumbra::kit
