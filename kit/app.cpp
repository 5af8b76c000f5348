#include "app.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <new>

#include "commands.h"
#include "lumbra/error.h"
#include "version.h"

namespace lumbra::kit {

namespace {

constexpr const char* program = "lumbra-kit";

void report(const std::string& what) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", program, what.c_str());
}

void reportUsage(const std::string& what) {
  report(what);
  std::fprintf(stderr, "Try '%s --help' for more information.\n", program);
}

}  // namespace

int run(int argc, char** argv) {
  CLI::App app{"Exact probabilities, verdicts and coding for the bit blocks of a file,\n"
               "from the counts of constrained Pascal triangles.",
               program};
  app.set_version_flag("--version", std::string(program) + " " LUMBRA_VERSION);
  app.require_subcommand(1);
  app.fallthrough(false);

  int status = status_ok;
  for (AddCommand add : allCommands()) add(app, status);

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
      throw UsageError("no command '" + topic + "'");
    }
    std::fputs(sub->help(program).c_str(), stdout);
  });

  // A first word that is no option and no command is named as such, not as
  // a missing subcommand.
  if (argc > 1 && argv[1][0] != '-') {
    bool known = false;
    for (const CLI::App* sub : app.get_subcommands({})) known = known || sub->check_name(argv[1]);
    if (!known) {
      reportUsage(std::string("no command '") + argv[1] + "'");
      return status_usage;
    }
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    // --help on the application or on a subcommand: app.help() shows the
    // help of the subcommand that was named.
    std::fputs(app.help().c_str(), stdout);
    return std::fflush(stdout) == 0 ? status_ok : status_failure;
  } catch (const CLI::CallForVersion& e) {
    std::puts(e.what());
    return std::fflush(stdout) == 0 ? status_ok : status_failure;
  } catch (const CLI::ParseError& e) {
    reportUsage(e.what());
    return status_usage;
  } catch (const UsageError& e) {
    reportUsage(e.what());
    return status_usage;
  } catch (const Failure& e) {
    report(e.what());
    return status_failure;
  } catch (const lumbra::ArgumentError& e) {
    // The library's refusals are the command line's: their words name the
    // arguments as the commands do.
    reportUsage(e.what());
    return status_usage;
  } catch (const lumbra::Error& e) {
    report(e.what());
    return status_failure;
  } catch (const std::bad_alloc&) {
    report("out of memory");
    return status_failure;
  }
  if (std::fflush(stdout) != 0) {
    report("can't write to standard output");
    return status_failure;
  }
  return status;
}

}  // namespace lumbra::kit
