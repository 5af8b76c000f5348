// The subcommands of lumbra-kit: one unit each, each adding itself to the
// application (see AddCommand in app.h).
#pragma once

#include <span>
#include <string_view>

#include "app.h"

namespace lumbra::kit {

void addRankCommand(CLI::App& app, int& status);
void addUnrankCommand(CLI::App& app, int& status);
void addEncodeCommand(CLI::App& app, int& status);
void addDecodeCommand(CLI::App& app, int& status);
// shape IN OUT, unshape IN OUT: data as balanced words in a band, and back.
void addShapeCommand(CLI::App& app, int& status);
void addUnshapeCommand(CLI::App& app, int& status);

// A subcommand: the word that names it and what adds it to the
// application (with that name).
struct Command {
  std::string_view name;
  AddCommand add;
};

// Every subcommand, in the order --help lists them, but help, which the
// application adds itself: the one list that the application, the fuzz
// target and the check of the completion and man page read.
std::span<const Command> allCommands();

// count N K D: the end-point count and the probability of a deviation.
void addCountCommand(CLI::App& app, int& status);
// blocks FILE: every block's statistics and p-values.
void addBlocksCommand(CLI::App& app, int& status);
// test FILE: the verdict on the whole file.
void addTestCommand(CLI::App& app, int& status);
// merge SUMMARY...: the verdict on slices of a file, from their summaries.
void addMergeCommand(CLI::App& app, int& status);
// smirnov X Y: the two-sample Smirnov test with its exact p-value.
void addSmirnovCommand(CLI::App& app, int& status);

}  // namespace lumbra::kit
