#include "plot.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app.h"
#include "plain_walk.h"
#include "reading/block_meter.h"
#include "summary_report.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

json summary() {
  json t = {{"passing", 990}, {"passing_expected", 989.5}, {"passing_variance", 9.8}, {"passing_sd", 3.13},
            {"passing_z", 0.16}, {"bins_observed", {98, 105, 97, 101, 99, 96, 104, 100, 102, 98}},
            {"bins_expected", {100, 100, 100, 100, 100, 100, 100, 100, 100, 100}}, {"chi2", 1.2}, {"dof", 9},
            {"p_value", 0.9991}};
  json d = t;
  d["p_value"] = nullptr;
  return {{"block_size", 1024}, {"first_block", 0}, {"block_count", 1000}, {"blocks", 1000}, {"bits", 1024000},
          {"ones", 512000}, {"tests", {{"ones", t}, {"deviation", d}, {"runs", t}}},
          {"deviations", {{"observed", {0, 0, 3, 40, 180, 300, 250, 140, 60, 20, 7}},
                          {"expected", {0, 0.1, 4.2, 38, 185.5, 296, 255, 135, 62, 18, 6.2}}}}};
}

// The picture stands alone, renders with a real renderer, and is no blank
// page: its PNG is several times the size of a blank page's of the same size.
TEST(Plot, RendersAloneAndIsNotBlank) {
  const std::string svg = lumbra::kit::plotSvg(summary());
  for (const char* outside : {"<script", "href", "url(", "@import", "<image", "@font-face"})
    EXPECT_EQ(svg.find(outside), std::string::npos) << outside;
  if (std::system("rsvg-convert --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "rsvg-convert is not installed";
  const fs::path dir = fs::path(::testing::TempDir()) / ("plot_test." + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  lumbra::kit::writePlot(summary(), (dir / "plot.svg").string(), false);
  std::ofstream(dir / "blank.svg") << svg.substr(0, svg.find("<rect")) << "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/></svg>\n";
  for (const char* name : {"plot", "blank"}) {
    const std::string cmd = "rsvg-convert -o " + (dir / name).string() + ".png " + (dir / name).string() + ".svg 2> " +
                            (dir / name).string() + ".err";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << name;
    EXPECT_EQ(slurp(dir / (std::string(name) + ".err")), "");
  }
  EXPECT_GT(fs::file_size(dir / "plot.png"), 4 * fs::file_size(dir / "blank.png"));
  fs::remove_all(dir);
}

// An existing file is kept unless replacing is asked for; no temporary file
// is left behind either way.
TEST(Plot, KeepsAnExistingFileUnlessAskedToReplace) {
  const fs::path dir = fs::path(::testing::TempDir()) / ("plot_keep." + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string path = (dir / "p.svg").string();
  std::ofstream(path) << "mine";
  EXPECT_THROW(lumbra::kit::writePlot(summary(), path, false), lumbra::kit::Failure);
  EXPECT_EQ(slurp(path), "mine");
  lumbra::kit::writePlot(summary(), path, true);
  EXPECT_EQ(slurp(path), lumbra::kit::plotSvg(summary()));
  EXPECT_THROW(lumbra::kit::writePlot(summary(), (dir / "no" / "p.svg").string(), true), lumbra::kit::Failure);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

// Files whose blocks have each number of distinct deviations, 0 up to 20 or
// as many as blocks of that size can have, the smallest deviations or the
// largest: the picture is drawn, and the deviation axis is labelled at 0 and
// then at even steps inside the histogram, never more than 13 labels.
TEST(Plot, AnyNumberOfDistinctDeviations) {
  for (int n = 1; n <= 16; ++n) {
    std::map<std::int64_t, std::vector<bool>> byDeviation;  // a block of each deviation
    std::vector<bool> vb(static_cast<std::size_t>(n));
    for (std::uint32_t v = 0; v < (1u << n); ++v) {
      for (int i = 0; i < n; ++i) vb[static_cast<std::size_t>(i)] = (v >> i) & 1;
      byDeviation.emplace(lumbra_test::plain_walk(vb).d, vb);
    }
    std::vector<std::vector<bool>> blocks;
    blocks.reserve(byDeviation.size());
    for (const auto& [d, b] : byDeviation) blocks.push_back(b);
    const int distinct = static_cast<int>(blocks.size());
    for (int count = 0; count <= std::min(20, distinct); ++count) {
      for (const bool largest : {false, true}) {
        SCOPED_TRACE("n " + std::to_string(n) + ", " + std::to_string(count) + (largest ? " largest" : " smallest"));
        lumbra::FileSummary s(n);
        lumbra::BlockMeter meter(n);
        lumbra::LeastPWindows where(0, 4);
        std::int64_t top = -1;
        for (int i = 0; i < count; ++i) {
          const std::vector<bool>& block = blocks[static_cast<std::size_t>(largest ? distinct - 1 - i : i)];
          const lumbra_test::plain_walk w(block);
          std::vector<unsigned char> bytes((block.size() + 7) / 8, 0);
          for (std::size_t b = 0; b < block.size(); ++b)
            if (block[b]) bytes[b / 8] |= static_cast<unsigned char>(0x80 >> (b % 8));
          s.add(n, meter.shape(bytes.data(), 0, n));
          where.add(n, w.k, static_cast<int>(w.d));
          top = std::max(top, w.d);
        }
        lumbra::StatisticLaws laws;
        s.settle(laws, 1);
        const std::string svg =
            lumbra::kit::plotSvg(lumbra::kit::toJson(lumbra::kit::reportOf(s, laws)), "", where.windows(laws));
        EXPECT_EQ(svg.find(">where: ") != std::string::npos, count > 0);
        EXPECT_EQ(svg.find("nan"), std::string::npos);
        const std::size_t from = svg.find(">deviations d of the blocks<");
        const std::string panel = svg.substr(from, svg.find(">where: ") - from);
        static const std::regex label(R"(text-anchor="middle">([0-9]+)</text>)");
        std::vector<std::int64_t> labels;
        for (std::sregex_iterator i(panel.begin(), panel.end(), label), end; i != end; ++i)
          labels.push_back(std::stoll((*i)[1]));
        ASSERT_FALSE(labels.empty());
        EXPECT_EQ(labels[0], 0);
        EXPECT_LE(labels.size(), 13U);
        for (std::size_t i = 1; i < labels.size(); ++i) {
          EXPECT_EQ(labels[i] - labels[i - 1], labels[1] - labels[0]);
          EXPECT_GT(labels[i], labels[i - 1]);
        }
        EXPECT_LE(labels.back(), std::max<std::int64_t>(top, 0));
      }
    }
  }
}

}  // namespace
