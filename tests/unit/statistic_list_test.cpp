// The places outside the code that name the statistics (the man page, the
// completion, the documents, the library's and the Python module's
// comments) against the one list, allStatistics(): each names every
// statistic of the list, in its order, and nothing else (the table of
// docs/statistics.md with what each measures, as measures() says). (The kit's help
// makes its list from allStatistics() itself.)
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "stats/statistic.h"

namespace {

std::string readSource(const std::string& path) {
  std::ifstream in(std::string(LUMBRA_SOURCE_DIR) + "/" + path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// The text of `path` from the end of the first `from` to the next `to`.
std::string between(const std::string& path, const std::string& from, const std::string& to) {
  const std::string text = readSource(path);
  const std::size_t start = text.find(from);
  if (start == std::string::npos) {
    ADD_FAILURE() << path << " has no '" << from << "'";
    return {};
  }
  const std::size_t end = text.find(to, start + from.size());
  if (end == std::string::npos) {
    ADD_FAILURE() << path << " has no '" << to << "' after '" << from << "'";
    return {};
  }
  return text.substr(start + from.size(), end - start - from.size());
}

// The matches of `pattern`'s first group in `text`, in order, leaving out
// the words of `skip`.
std::vector<std::string> matches(const std::string& text, const std::string& pattern,
                                 const std::set<std::string>& skip = {}) {
  std::vector<std::string> out;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
    if (!skip.contains((*it)[1].str())) out.push_back((*it)[1].str());
  return out;
}

std::vector<std::string> names(std::size_t from = 0) {
  std::vector<std::string> out;
  for (const lumbra::Statistic* s : lumbra::allStatistics().subspan(from)) out.emplace_back(s->name());
  return out;
}

TEST(StatisticListTest, EveryPlaceThatNamesTheStatisticsNamesTheList) {
  std::vector<std::string> withAll = names();
  withAll.insert(withAll.begin(), "all");
  // The completion's words after --statistics.
  EXPECT_EQ(matches(between("docs/completion/lumbra-kit", "--statistics)", "-- \"$cur\""), R"(([a-z_]+))",
                    {"mapfile", "t", "COMPREPLY", "compgen", "W"}),
            withAll)
      << "docs/completion/lumbra-kit";
  // The man page's --statistics: the names set in bold (.B name, .BR name
  // " and " name) before all.
  {
    const std::string list = between("docs/man/lumbra-kit.1.in", ".BI \\-\\-statistics", "\n.B all\n");
    std::vector<std::string> bold;
    for (const std::string& line : matches(list, R"(\n\.BR? ([^\n]*))"))
      for (const std::string& name : matches(std::regex_replace(line, std::regex(R"("[^"]*")"), " "), R"(([a-z_]+))"))
        bold.push_back(name);
    EXPECT_EQ(bold, names()) << "docs/man/lumbra-kit.1.in, --statistics";
  }
  // The list of docs/statistics.md, in bold.
  EXPECT_EQ(matches(between("docs/statistics.md", "Every statistic is in `allStatistics()`:", ". "),
                    R"(\*\*([a-z_]+)\*\*)"),
            names())
      << "docs/statistics.md";
  // The table of docs/statistics.md: a row for each, with what it measures
  // and what its law is given.
  {
    std::vector<std::string> want;
    for (const lumbra::Statistic* s : lumbra::allStatistics())
      want.push_back("| `" + std::string(s->name()) + "` | " + std::string(s->measures()) + " | " +
                     (s->givenOnes() ? "m and k" : "m") + " |");
    EXPECT_EQ(matches(between("docs/statistics.md", "| statistic | what it measures | its law is given |\n|---|---|---|\n",
                              "\n\n"),
                      R"((\|[^\n]*\|))"),
              want)
        << "docs/statistics.md, the table of statistics";
  }
  // The comment of the library's test_file.
  EXPECT_EQ(matches(between("include/lumbra/test_file.h", "as test --statistics does: ", " named ("), R"(([a-z_]+))",
                    {"and", "always", "those", "of"}),
            names())
      << "include/lumbra/test_file.h";
  // The Python docstring of test_file: those it judges on request.
  EXPECT_EQ(matches(between("python/module.cpp", "a list or a comma list of ", ", or 'all'"), R"(([a-z_]+))"), names(2))
      << "python/module.cpp, test_file";
}

}  // namespace
