#include "options.h"

#include <CLI/CLI.hpp>

namespace lumbra::kit {

void addBlockSizeOption(CLI::App& cmd, int& n) {
  n = default_block_size;
  cmd.add_option("-n,--block-size", n, "Bits per block, 1 to 4096 (default 1024)")
      ->check(CLI::Range(1, max_block_size))
      ->type_name("N");
}

void addFileArgument(CLI::App& cmd, std::string& file) {
  cmd.add_option("FILE", file, "The file to read; - reads standard input")->required()->type_name("");
}

void addFilesArgument(CLI::App& cmd, std::vector<std::string>& files) {
  cmd.add_option("FILE", files, "The files to read, in turn; - reads standard input")->required()->type_name("");
}

void addFormatOption(CLI::App& cmd, std::string& format, std::initializer_list<std::string> choices) {
  format = *choices.begin();
  std::string words;
  for (const std::string& c : choices) words += (words.empty() ? "" : "|") + c;
  cmd.add_option("--format", format, "Output format: " + words + " (default " + format + ")")
      ->check(CLI::IsMember(std::vector<std::string>(choices)))
      ->type_name("FORMAT");
}

}  // namespace lumbra::kit
