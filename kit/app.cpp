#include "app.h"

#include <fcntl.h>
#include <gmp.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>
#include <system_error>

#include "commands.h"
#include "exec/processor.h"
#include "lumbra/error.h"
#include "version.h"

namespace lumbra::kit {

namespace {

constexpr const char* program = "lumbra-kit";

void report(const std::string& what) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", program, what.c_str());
}

// A refused command line: what is wrong, and where the help of the
// command (or of the program, before a command is known) is.
void reportUsage(const std::string& what, const std::string& command = "") {
  report(what);
  if (command.empty())
    std::fprintf(stderr, "Try '%s --help' for more information.\n", program);
  else
    std::fprintf(stderr, "Try '%s help %s' for more information.\n", program, command.c_str());
}

// The edits (insertions, deletions, substitutions, swaps of neighbours)
// that turn a into b.
std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// "; did you mean 'X'?" for the nearest of `names` within two edits of
// `word` (the first of equals), or nothing.
std::string didYouMean(const std::string& word, const std::vector<std::string>& names) {
  if (word.size() > 64) return "";  // no typing error is that long
  std::string best;
  std::size_t least = 3;
  for (const std::string& name : names) {
    const std::size_t d = editDistance(word, name);
    if (d < least && d < std::max<std::size_t>(name.size(), 2)) least = d, best = name;
  }
  return best.empty() ? "" : "; did you mean '" + best + "'?";
}

// The options a command takes, as they are written (--format, -n).
std::vector<std::string> optionNames(const CLI::App& command) {
  std::vector<std::string> names;
  for (const CLI::Option* o : command.get_options()) {
    for (const std::string& l : o->get_lnames()) names.push_back("--" + l);
    for (const std::string& s : o->get_snames()) names.push_back("-" + s);
  }
  return names;
}

// The words of a refused command line that name no option of `command`,
// each with the option it may have meant.
std::string unknownOptions(const CLI::App& command, int argc, char** argv) {
  const std::vector<std::string> names = optionNames(command);
  std::string out;
  for (int i = 2; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--") break;
    if (word.size() < 2 || word[0] != '-' || (word[1] >= '0' && word[1] <= '9') || word[1] == '.') continue;
    word = word.substr(0, word.find('='));
    if (word.size() > 2 && word[1] != '-') word = word.substr(0, 2);  // -n64
    if (std::find(names.begin(), names.end(), word) != names.end()) continue;
    out += (out.empty() ? "" : "; ") + ("no option '" + word + "'" + didYouMean(word, names));
  }
  return out;
}

// Whether everything printed to stdout has reached its descriptor: an
// earlier write may have failed while the buffer spilled, which the last
// fflush no longer sees.
bool stdoutDelivered() { return std::fflush(stdout) == 0 && std::ferror(stdout) == 0; }

// A descriptor 0, 1 or 2 that the caller left closed would be handed to the
// first file this run opens, and the run would then write its output file
// onto itself as "standard output". Each closed one is taken by /dev/null,
// opened the wrong way round (standard output for reading, standard input
// for writing), so that a run that reads or writes it fails with EBADF and
// says so, while a run that never uses it is not disturbed.
void takeClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // NOTE: open() returns the lowest free descriptor, which is fd, since
    // the lower ones are open by now.
    const int got = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (got >= 0 && got != fd) ::close(got);
  }
}

// GMP's and MPFR's memory, taken from the C heap as GMP's own functions do
// (so a block freed by either matches), but with std::bad_alloc instead of
// GMP's abort when the heap has no more: the run then ends with one line
// and status 2. MPFR asks GMP for its memory functions at each allocation.
// NOTE: the unwinding crosses GMP's C frames, which carry unwind tables on
// every platform lumbra-kit builds for; what those frames held is lost, and
// the run ends right after.
void* gmpAllocate(std::size_t n) {
  void* p = std::malloc(n);
  if (p == nullptr && n > 0) throw std::bad_alloc();
  return p;
}

void* gmpReallocate(void* p, std::size_t, std::size_t n) {
  void* q = std::realloc(p, n);
  if (q == nullptr && n > 0) throw std::bad_alloc();
  return q;
}

void gmpFree(void* p, std::size_t) { std::free(p); }

int runCommandLine(int argc, char** argv);

}  // namespace

int run(int argc, char** argv) {
  takeClosedStandardDescriptors();
  mp_set_memory_functions(gmpAllocate, gmpReallocate, gmpFree);
  // A level of LUMBRA_ISA that cannot be had is a failure before anything
  // runs, whatever the command line.
  if (!isaError().empty()) {
    report(isaError());
    return status_failure;
  }
  // The one error policy: whatever a subcommand throws ends the run with
  // one line and status 2, never with std::terminate.
  try {
    return runCommandLine(argc, argv);
  } catch (const Failure& e) {
    report(e.what());
  } catch (const std::bad_alloc&) {
    report("out of memory");
  } catch (const std::system_error& e) {
    // NOTE: readers turn their errno into Failure, so what comes here is a
    // thread (or its mutex) that the system refused.
    report("can't start a thread: " + e.code().message());
  } catch (const std::exception& e) {
    report(std::string("internal error: ") + e.what());
  } catch (...) {
    report("internal error: an unknown exception");
  }
  return status_failure;
}

namespace {

int runCommandLine(int argc, char** argv) {
  CLI::App app{"Exact probabilities, verdicts and coding for the bit blocks of a file,\n"
               "from the counts of constrained Pascal triangles.",
               program};
  // The version, then the processor's kernels in use (exec/processor.h).
  app.set_version_flag("--version", std::string(program) + " " LUMBRA_VERSION "\nisa: " +
                                        std::string(isaName(isaLevel())));
  app.require_subcommand(1);
  app.fallthrough(false);

  int status = status_ok;
  for (const Command& command : allCommands()) command.add(app, status);

  // help COMMAND: the subcommand's own --help, to stdout.
  std::string topic;
  CLI::App* help = app.add_subcommand("help", "Show the help of a command");
  help->add_option("COMMAND", topic, "The command to explain");
  help->footer(
      "Without COMMAND, the commands and the options they share; with it, the whole text\n"
      "of that command: what it does, its options, its output, its exit status and examples.\n\n"
      "EXAMPLES\n"
      "  lumbra-kit help\n"
      "  lumbra-kit help test\n");
  help->callback([&] {
    if (topic.empty()) {
      // NOTE: app.help() would show the help of the selected subcommand, help.
      std::fputs(app.get_formatter()->make_help(&app, program, CLI::AppFormatMode::Normal).c_str(), stdout);
      return;
    }
    CLI::App* sub = nullptr;
    try {
      sub = app.get_subcommand(topic);
    } catch (const CLI::OptionNotFound&) {
      std::vector<std::string> names;
      for (const CLI::App* c : app.get_subcommands({})) names.push_back(c->get_name());
      throw UsageError("no command '" + topic + "'" + didYouMean(topic, names));
    }
    std::fputs(sub->help(program).c_str(), stdout);
  });

  // A first word that is no option and no command is named as such, not as
  // a missing subcommand.
  std::string command;  // the command named, once known
  if (argc > 1 && argv[1][0] == '-' && argv[1][1] != '\0') {
    const std::string word = argv[1];
    if (word != "-h" && word != "--help" && word != "--version" && word.rfind("--version=", 0) != 0) {
      reportUsage("no option '" + word + "' before the command");
      return status_usage;
    }
  } else if (argc > 1) {
    bool known = false;
    std::vector<std::string> names;
    for (const CLI::App* sub : app.get_subcommands({})) {
      known = known || sub->check_name(argv[1]);
      names.push_back(sub->get_name());
    }
    if (!known) {
      reportUsage(std::string("no command '") + argv[1] + "'" + didYouMean(argv[1], names));
      return status_usage;
    }
    if (std::string(argv[1]) != "help") command = argv[1];
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    // --help on the application or on a subcommand: app.help() shows the
    // help of the subcommand that was named.
    std::fputs(app.help().c_str(), stdout);
  } catch (const CLI::CallForVersion& e) {
    std::puts(e.what());
  } catch (const CLI::ExtrasError& e) {
    // Words the command does not take: an unknown option is named with the
    // one it may have meant.
    const std::string unknown = command.empty() ? "" : unknownOptions(*app.get_subcommand(command), argc, argv);
    reportUsage(unknown.empty() ? e.what() : unknown, command);
    return status_usage;
  } catch (const CLI::ParseError& e) {
    reportUsage(e.what(), command);
    return status_usage;
  } catch (const UsageError& e) {
    reportUsage(e.what(), command);
    return status_usage;
  } catch (const lumbra::ArgumentError& e) {
    // The library's refusals are the command line's: their words name the
    // arguments as the commands do.
    reportUsage(e.what(), command);
    return status_usage;
  } catch (const lumbra::Error& e) {
    report(e.what());
    return status_failure;
  }
  if (!stdoutDelivered()) {
    report(std::string("can't write to standard output") + (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
    return status_failure;
  }
  return status;
}

}  // namespace

}  // namespace lumbra::kit
