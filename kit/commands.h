// The subcommands of lumbra-kit: one unit each, each adding itself to the
// application (see AddCommand in app.h).
#pragma once

#include <span>

#include "app.h"

namespace lumbra::kit {

void addRankCommand(CLI::App& app, int& status);
void addUnrankCommand(CLI::App& app, int& status);
void addEncodeCommand(CLI::App& app, int& status);
void addDecodeCommand(CLI::App& app, int& status);

// Every subcommand, in the order --help lists them.
std::span<const AddCommand> allCommands();

}  // namespace lumbra::kit
