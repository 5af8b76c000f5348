// Options that several subcommands share, each added the same way with the
// same words in --help. The values live in the caller's variables.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace lumbra::kit {

inline constexpr int max_block_size = 4096;
inline constexpr int default_block_size = 1024;

// -n, --block-size N: 1 .. 4096.
void addBlockSizeOption(CLI::App& cmd, int& n);
// FILE, the input ("-" for standard input); required.
void addFileArgument(CLI::App& cmd, std::string& file);
// FILE..., one input or more, read in turn; at least one required.
void addFilesArgument(CLI::App& cmd, std::vector<std::string>& files);
// --format WORD, one of `choices` (the first is the default).
void addFormatOption(CLI::App& cmd, std::string& format, std::initializer_list<std::string> choices);

}  // namespace lumbra::kit
