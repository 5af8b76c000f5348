// Fuzz target: the command line, through the very run() that main() calls.
//
// The input is an argument vector: its bytes cut at every zero byte give
// argv[1], argv[2], ... (at most 8; empty ones included), after the program
// name. Standard output and error go to /dev/null. Every run must end with
// status 0, 1 or 2 and give back every descriptor it opened; and the status
// must be the one that a small model of the command line expects, so that a
// refusal of good work, or work done on bad arguments, is found as surely as
// a crash.
//
// Two kinds of input are not run, so that every run stays quick: numbers
// from 201 up to 2147483647 (larger ones are refused as usage errors, and
// those are run), and showFile with a name holding a slash. A showFile name
// is looked up in a folder of the harness's own: "empty", "small" (3 bytes),
// "data" (256 bytes), the folder "dir", and anything else, which is missing.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "run.h"

namespace {

// Numbers above this are not run (see above). From about 210 on showTrian
// prints counts of 63 digits and more, which once overran printTrian's
// scratch area (the corpus holds the input that found it).
constexpr long long largest_number = 320;

[[noreturn]] void fail(const char* what, const std::vector<std::string>& args) {
  std::fprintf(stderr, "fuzz_cli: %s; arguments:", what);
  for (const std::string& a : args) std::fprintf(stderr, " [%s]", a.c_str());
  std::fprintf(stderr, "\n");
  std::abort();
}

// The folder with the files that showFile may name, and /dev/null.
struct Fixture {
  std::string dir;
  int null_fd = -1;

  Fixture() {
    char tmpl[] = "/tmp/fuzz_cli.XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    dir = tmpl;
    put("empty", "");
    put("small", "\x0f\x55\xd0");
    std::string data;
    for (int i = 0; i < 256; ++i) data.push_back(static_cast<char>(i * 167 + 13));
    put("data", data);
    if (mkdir((dir + "/dir").c_str(), 0700) != 0) std::abort();
    null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd < 0) std::abort();
  }
  ~Fixture() {
    for (const char* f : {"empty", "small", "data"}) unlink((dir + "/" + f).c_str());
    rmdir((dir + "/dir").c_str());
    rmdir(dir.c_str());
    close(null_fd);
  }

  void put(const char* name, const std::string& bytes) const {
    FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0)
      std::abort();
  }
};

const Fixture& fixture() {
  static const Fixture f;
  return f;
}

// The value of a non-empty digit string, or -1 for anything else; values
// past 2147483647 come back as 2147483648.
long long digits(const std::string& s) {
  if (s.empty()) return -1;
  long long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return -1;
    v = std::min(v * 10 + (c - '0'), 2147483648LL);
  }
  return v;
}

// The status that lumbra must end with, by the rules of its command line.
int expectedStatus(const std::vector<std::string>& args) {
  if (args.empty()) return 1;
  const std::string& word = args[0];
  if (word == "showFile") {
    if (args.size() != 3) return 1;
    const long long n = digits(args[1]);
    if (n < 1 || n > 2048) return 1;
    const std::string& name = args[2];
    return name == "empty" || name == "small" || name == "data" ? 0 : 2;
  }
  if (word == "showC" || word == "showTrian") {
    if (args.size() != 4) return 1;
    const long long n = digits(args[1]), k = digits(args[2]), d = digits(args[3]);
    if (n < 1 || k < 0 || d < 0 || n >= 2147483647 || k > n || d > n) return 1;
    return 0;
  }
  return 1;
}

// The lowest free descriptor: it moves if a run leaves one open.
int lowestFreeDescriptor() {
  const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (fd < 0) std::abort();
  close(fd);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Fixture& fx = fixture();
  std::vector<std::string> args;
  if (size > 0) {
    args.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] != 0) {
        args.back().push_back(static_cast<char>(data[i]));
      } else if (args.size() < 8) {
        args.emplace_back();
      } else {
        break;
      }
    }
  }
  for (const std::string& a : args) {
    const long long v = digits(a);
    if (v > largest_number && v <= 2147483647) return 0;
  }
  std::vector<std::string> argv_text{"lumbra"};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  if (args.size() == 3 && args[0] == "showFile") {
    if (args[2].find('/') != std::string::npos) return 0;
    argv_text[3] = fx.dir + "/" + args[2];
  }
  std::vector<char*> argv;
  argv.reserve(argv_text.size() + 1);
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  const int free_before = lowestFreeDescriptor();
  const int status = lumbra::run(static_cast<int>(argv_text.size()), argv.data(), fx.null_fd, fx.null_fd);
  if (status < 0 || status > 2) fail("status outside 0..2", args);
  if (status != expectedStatus(args)) {
    char what[64];
    std::snprintf(what, sizeof what, "status %d, expected %d", status, expectedStatus(args));
    fail(what, args);
  }
  if (lowestFreeDescriptor() != free_before) fail("a descriptor was left open", args);
  return 0;
}
