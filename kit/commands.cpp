#include "commands.h"

#include <vector>

namespace lumbra::kit {

// One line per subcommand; each is defined in its own unit.

std::span<const AddCommand> allCommands() {
  static const std::vector<AddCommand> commands = {
      addCountCommand,
      addBlocksCommand,
      addTestCommand,
      addMergeCommand,
      addSmirnovCommand,
      addRankCommand,
      addUnrankCommand,
      addEncodeCommand,
      addDecodeCommand,
  };
  return commands;
}

}  // namespace lumbra::kit
