// The kit's list of commands against what names them: the application
// each entry builds, the completion, and the man page's synopsis and its
// COMMANDS section. (The dispatcher, help and the fuzz target read the list
// itself.)
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"

namespace {

std::string readSource(const std::string& path) {
  std::ifstream in(std::string(LUMBRA_SOURCE_DIR) + "/" + path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// The text from the first `from` to the next `to` after it.
std::string between(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t start = text.find(from);
  if (start == std::string::npos) return {};
  const std::size_t end = text.find(to, start + from.size());
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::set<std::string> firstGroups(const std::string& text, const std::string& pattern) {
  std::set<std::string> out;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
    out.insert((*it)[1].str());
  return out;
}

TEST(KitCommandsTest, TheListNamesWhatEachEntryAddsAndTheDocumentsNameTheList) {
  CLI::App app;
  int status = 0;
  std::vector<std::string> listed, added;
  std::set<std::string> withHelp{"help"};
  for (const lumbra::kit::Command& c : lumbra::kit::allCommands()) {
    c.add(app, status);
    listed.emplace_back(c.name);
    withHelp.emplace(c.name);
  }
  for (const CLI::App* sub : app.get_subcommands({})) added.push_back(sub->get_name());
  EXPECT_EQ(added, listed);

  const std::string completion = readSource("docs/completion/lumbra-kit");
  const std::string words = between(completion, "local commands='", "'\n");
  EXPECT_EQ(firstGroups(words.substr(words.find('\'') + 1), R"(([a-z]+))"), withHelp)
      << "docs/completion/lumbra-kit";

  const std::string man = readSource("docs/man/lumbra-kit.1.in");
  EXPECT_EQ(firstGroups(between(man, ".SH SYNOPSIS", ".SH DESCRIPTION"), R"(\n\.B lumbra-kit ([a-z]+))"), withHelp)
      << "docs/man/lumbra-kit.1.in, SYNOPSIS";
  EXPECT_EQ(firstGroups(between(man, ".SH COMMANDS", ".SH OPTIONS"), R"(\n\.TP\n\.B[IR]? "?([a-z]+))"), withHelp)
      << "docs/man/lumbra-kit.1.in, COMMANDS";
}

}  // namespace
