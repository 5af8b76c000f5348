#include "commands.h"


namespace lumbra::kit {

// One line per subcommand; each is defined in its own unit.
std::span<const Command> allCommands() {
  static constexpr Command commands[] = {
      {"count", addCountCommand},     {"blocks", addBlocksCommand}, {"test", addTestCommand},
      {"merge", addMergeCommand},     {"smirnov", addSmirnovCommand}, {"rank", addRankCommand},
      {"unrank", addUnrankCommand},   {"encode", addEncodeCommand}, {"decode", addDecodeCommand},
      {"shape", addShapeCommand},     {"unshape", addUnshapeCommand},
  };
  return commands;
}

}  // namespace lumbra::kit
