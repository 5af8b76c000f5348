#include "run.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "triangle/bigintgmp.h"
#include "triangle/budget.h"
#include "commands.h"
#include "kova/exception.h"
#include "kova/file.h"
#include "kova/mem_pool.h"
#include "kova/shared_text.h"
#include "output.h"
#include "triangle/utils.h"
#include "version.h"

namespace lumbra {
namespace {

using kova::ch_range;
using kova::Exception;
using kova::mem_pool;
using kova::sh_ptr;

constexpr const char* usage_text =
    "lumbra showC     n k d\n"
    "lumbra showFile  n file.ext\n"
    "lumbra showTrian n k d";

// The largest block that showFile takes, in bits.
constexpr int max_block_bits = 2048;

[[noreturn]] void refuse(mem_pool& pool, const kova::src_pos& pos, ch_range message) {
  throw kova::newExitMsgException(pool, pos, message, 1);
}

// Parses argv[first..first+count) into `values` in order; the first failure
// refuses the command line.
void parse_all(mem_pool& pool, const kova::src_pos& pos, char** args, int count, int* values) {
  for (int i = 0; i < count; ++i)
    if (!parseInt(args[i], values[i])) refuse(pool, pos, usage_text);
}

// Values that parse as numbers but that a triangle cannot take are refused
// here, in words, before any command runs.
void check_triangle_args(mem_pool& pool, const char* command, int n, int k, int d) {
  kova::sh_str msg = kova::new_str(pool, 1024);
  if (n < 1)
    msg << command << ": n=" << n << " is too small; n must be at least 1";
  else if (n == INT_MAX)  // a triangle has n + 1 rows, and their count must be an int
    msg << command << ": n=" << n << " is too large; n must be at most " << INT_MAX - 1;
  else if (k > n)
    msg << command << ": k=" << k << " is larger than n=" << n << "; k must lie in 0..n";
  else if (d > n)
    msg << command << ": d=" << d << " is larger than n=" << n << "; d must lie in 0..n";
  else
    return;
  refuse(pool, KOVA_SRC_POS, msg->range());
}

// Work whose cells cannot fit the machine is refused before it starts, so
// that it ends with a clear error instead of being killed half-way. Work that
// fits runs, however long it takes.
// NOTE: the positions of the two failures that users meet most, a refused
// memory estimate and a failed write to standard output, are fixed lines of
// this file, so that editing it does not change what users and expected
// outputs see.
constexpr kova::src_pos raise_pos(int line) { return kova::src_pos{__FILE__, line}; }
constexpr int memory_refusal_line = 77;
constexpr int write_failure_line = 143;

// The limit is the least that the machine, the process's limits and its
// cgroup allow, and the refusal names it.
void check_memory(mem_pool& pool, const char* command, int n, int k, int d,
                  const MemoryEstimate& need) {
  const std::string words = memoryShortfall(need.total(), memoryLimit());
  if (words.empty()) return;
  kova::sh_str msg = kova::new_str(pool, 1024);
  msg << command << " " << n << " " << k << " " << d << " " << words.c_str();
  throw kova::newErrorException(pool, raise_pos(memory_refusal_line), msg->range(), 49);  // "Not enough space"
}

void check_block_size(mem_pool& pool, int n) {
  if (n >= 1 && n <= max_block_bits) return;
  kova::sh_str msg = kova::new_str(pool, 1024);
  msg << "showFile: block size n=" << n << " is out of range; it must lie in 1.." << max_block_bits;
  refuse(pool, KOVA_SRC_POS, msg->range());
}

// Examines the command line and runs the one command it names.
void dispatch(mem_pool& pool, output_file& out, int argc, char** argv) {
  if (argc < 2) refuse(pool, KOVA_SRC_POS, usage_text);
  ch_range word(argv[1]);
  int v[3];
  if (word == ch_range("showFile")) {
    if (argc != 4) refuse(pool, KOVA_SRC_POS, usage_text);
    parse_all(pool, KOVA_SRC_POS, argv + 2, 1, v);
    check_block_size(pool, v[0]);
    showFile(pool, out, v[0], ch_range(argv[3]));
  } else if (word == ch_range("showTrian")) {
    if (argc != 5) refuse(pool, KOVA_SRC_POS, usage_text);
    parse_all(pool, KOVA_SRC_POS, argv + 2, 3, v);
    check_triangle_args(pool, "showTrian", v[0], v[1], v[2]);
    check_memory(pool, "showTrian", v[0], v[1], v[2], showTrianMemory(v[0], v[1], v[2]));
    showTrian(pool, out, v[0], v[1], v[2]);
  } else if (word == ch_range("showC")) {
    if (argc != 5) refuse(pool, KOVA_SRC_POS, usage_text);
    parse_all(pool, KOVA_SRC_POS, argv + 2, 3, v);
    check_triangle_args(pool, "showC", v[0], v[1], v[2]);
    check_memory(pool, "showC", v[0], v[1], v[2], showCMemory(v[0], v[1], v[2]));
    showC(pool, out, v[0], v[1], v[2]);
  } else {
    refuse(pool, KOVA_SRC_POS, usage_text);
  }
}

void write_banner(mem_pool& pool, kova::file& out) {
  kova::sh_str banner = kova::new_str(pool, 1024);
  banner << "lumbra " << LUMBRA_VERSION << " - constrained Pascal triangles, CPU=" << kova::cpu_name()
         << "\n(c) 2026 the lumbra authors\n\n";
  out.tryWrite(banner->data(), banner->size());
}

// Writes `text` and a line feed to `to` in one write.
void write_line(const kova::sh_str& text, kova::file& to) {
  kova::sh_str line = kova::new_str(text, 1024);
  line->push_back('\n');
  to.tryWrite(line->data(), line->size());
}

}  // namespace

int run(int argc, char** argv, int out_fd, int err_fd) {
  mem_pool pool(16384, 1024);
  output_file out(pool, out_fd);
  kova::file err(pool, err_fd);
  kova::gmp_pool_guard gmp(pool);
  sh_ptr<Exception> caught(pool);
  try {
    try {
      write_banner(pool, out);
      dispatch(pool, out, argc, argv);
      // A command that could not write its output has not succeeded.
      out.flush();
      if (out.writeError() != 0)
        throw kova::newFileErrorException(pool, raise_pos(write_failure_line), "Can't write to file", out.writeError(),
                                          out.name()->range());
      return 0;
    } catch (const sh_ptr<Exception>& e) {
      caught = e;
    } catch (...) {
      caught = kova::recatch(pool, KOVA_SRC_POS);
    }
    // What the command wrote reaches standard output before the report.
    out.flush();
    if (auto* exit = dynamic_cast<kova::ExitMsgException*>(caught.get())) {
      if (exit->message->size() > 0) write_line(exit->message, exit->exitCode == 0 ? out : err);
      out.flush();
      return exit->exitCode;
    }
    write_line(kova::chainText(caught), err);
    return 2;
  } catch (...) {
    // Only the report itself can get here, when even its text cannot be had.
    static const char last_words[] = "lumbra: out of memory while reporting a failure\n";
    err.tryWrite(last_words, sizeof last_words - 1);
    return 2;
  }
}

}  // namespace lumbra
