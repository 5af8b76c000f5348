// The whole life of one lumbra-kit run: the command line, exactly one
// subcommand, and the exit status.
//
// Statuses: 0 success; 1 a refused command line (one line naming the
// problem, then a pointer to --help, on stderr); 2 a failure while the
// subcommand ran (one line "lumbra-kit: ..." on stderr, nothing lost of what
// was written before); 3 a verdict asked for with --fail-below that failed.
#pragma once

#include <stdexcept>
#include <string>

namespace CLI {
class App;
}

namespace lumbra::kit {

inline constexpr int status_ok = 0;
inline constexpr int status_usage = 1;
inline constexpr int status_failure = 2;
inline constexpr int status_verdict = 3;

// A failure while a subcommand runs; what() is the one line shown after
// "lumbra-kit: ". Subcommands throw it; run() reports it with status 2.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A command line that parses but cannot be carried out (an index out of
// range, say); reported like a parse error, with status 1.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Each subcommand adds itself to the application: its options, its help
// text and a callback that runs it and leaves its exit status in `status`.
using AddCommand = void (*)(CLI::App& app, int& status);

// Runs argv[0..argc) and returns the exit status.
int run(int argc, char** argv);

}  // namespace lumbra::kit
