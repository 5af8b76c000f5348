// Fuzz target: lumbra-kit's command line and file input, through the very
// run() that its main() calls.
//
// The input is an argument vector and a file: the bytes before the first
// 0xff byte, cut at every zero byte, give argv[1], argv[2], ... (at most 8);
// the bytes after it (at most 4 KiB) are the file, and an argument "@" names
// it. Standard output and error go to /dev/null. Every run must end with a
// status of 0 to 3 (1 for a first word that is no command) and give back
// every descriptor it opened.
//
// Inputs with a number above 320 or a number in another base are not run,
// so that every run stays quick: counts and tails cost O(n d); nor inputs
// with an argument that CLI11 could take for --plot, which writes a file.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "app.h"
#include "commands.h"

namespace {

constexpr long long largest_number = 320;
constexpr std::size_t largest_file = 4096;

[[noreturn]] void fail(const char* what, const std::vector<std::string>& args) {
  std::fprintf(stderr, "fuzz_kit: %s; arguments:", what);
  for (const std::string& a : args) std::fprintf(stderr, " [%s]", a.c_str());
  std::fprintf(stderr, "\n");
  std::abort();
}

// Whether a word holds a run of digits above largest_number, or a digit
// followed by a letter (0x10, 1e3).
bool too_big(const std::string& s) {
  long long v = 0;
  bool in = false;
  for (char c : s) {
    if (c >= '0' && c <= '9') {
      v = std::min(v * 10 + (c - '0'), 1LL << 40);
      if (v > largest_number) return true;
      in = true;
    } else {
      if (in && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return true;
      v = 0;
      in = false;
    }
  }
  return false;
}

int lowestFreeDescriptor() {
  const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (fd < 0) std::abort();
  close(fd);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string file = [] {
    char tmpl[] = "/tmp/fuzz_kit.XXXXXX";
    const int fd = mkstemp(tmpl);
    if (fd < 0) std::abort();
    close(fd);
    return std::string(tmpl);
  }();
  static const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd < 0) std::abort();

  std::vector<std::string> args;
  std::size_t i = 0;
  if (size > 0 && data[0] != 0xff) args.emplace_back();
  for (; i < size && data[i] != 0xff; ++i) {
    if (data[i] != 0) {
      args.back().push_back(static_cast<char>(data[i]));
    } else if (args.size() < 8) {
      args.emplace_back();
    } else {
      break;
    }
  }
  while (i < size && data[i] != 0xff) ++i;
  const std::size_t from = i < size ? i + 1 : size;
  if (size - from > largest_file) return 0;
  // NOTE: no --plot, encode or decode: they would write files wherever the
  // input names (the coding has fuzz targets of its own).
  for (const std::string& a : args)
    if (too_big(a) || a.rfind("--p", 0) == 0) return 0;
  if (!args.empty() && (args[0] == "encode" || args[0] == "decode")) return 0;
  {
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f || std::fwrite(data + from, 1, size - from, f) != size - from || std::fclose(f) != 0) std::abort();
  }

  std::vector<std::string> argv_text{"lumbra-kit"};
  for (const std::string& a : args) argv_text.push_back(a == "@" ? file : a);
  std::vector<char*> argv;
  argv.reserve(argv_text.size() + 1);
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  const int free_before = lowestFreeDescriptor();
  std::fflush(stdout);
  std::fflush(stderr);
  const int out = dup(1), err = dup(2);
  dup2(null_fd, 1);
  dup2(null_fd, 2);
  const int status = lumbra::kit::run(static_cast<int>(argv_text.size()), argv.data());
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(out, 1);
  dup2(err, 2);
  close(out);
  close(err);
  if (status < 0 || status > 3) fail("status outside 0..3", args);
  // Every command of the kit's list, and help; what else comes first is a
  // usage error.
  static const std::set<std::string> commands = [] {
    std::set<std::string> names{"help"};
    for (const lumbra::kit::Command& c : lumbra::kit::allCommands()) names.emplace(c.name);
    return names;
  }();
  const bool command = !args.empty() && (commands.count(args[0]) > 0 || (!args[0].empty() && args[0][0] == '-'));
  if (!command && status != 1) fail("a first word that is no command did not give status 1", args);
  if (lowestFreeDescriptor() != free_before) fail("a descriptor was left open", args);
  return 0;
}
