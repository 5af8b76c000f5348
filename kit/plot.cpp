#include "plot.h"


#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "atomic_output.h"
#include "stats/file_names.h"
#include "summary_report.h"

namespace lumbra::kit {

namespace {

constexpr double width = 760;
constexpr double header = 34;
constexpr double panel = 250;
constexpr double left = 72, right = 24, top = 44, bottom = 46;
constexpr const char* bar_colour = "#4a7fb5";
constexpr const char* mark_colour = "#d6452b";

std::string num(double v, const char* format = "%.6g") {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// Text widths are estimated from the number of characters, generously
// (DejaVu Sans, the usual sans-serif, averages about 0.55 em a character in
// lower case, 0.6 in bold, digits 0.64 em): a text estimated wider than its
// room is set smaller (fitted()), so no text runs off the picture.
std::size_t characters(const std::string& s) {
  std::size_t n = 0;
  for (const char c : s) n += (static_cast<unsigned char>(c) & 0xc0) != 0x80 ? 1 : 0;
  return n;
}
double estimatedWidth(const std::string& s, double fontSize, bool bold) {
  return static_cast<double>(characters(s)) * fontSize * (bold ? 0.68 : 0.62);
}

// `name` shortened in the middle ("/very/lo…/file.bin") to at most `most`
// characters, on whole UTF-8 characters.
std::string middleShortened(const std::string& name, std::size_t most) {
  if (characters(name) <= most || most < 8) return name;
  const auto prefix = [&](std::size_t chars) {
    std::size_t at = 0;
    for (std::size_t n = 0; at < name.size(); ++at)
      if ((static_cast<unsigned char>(name[at]) & 0xc0) != 0x80 && n++ == chars) break;
    return at;
  };
  const std::size_t keep = most - 1, head = keep / 2, tail = keep - head;
  return name.substr(0, prefix(head)) + "\xe2\x80\xa6" + name.substr(prefix(characters(name) - tail));
}

void text(std::string& svg, double x, double y, const std::string& s, const char* anchor = "start",
          const std::string& extra = "") {
  svg += "<text x=\"" + num(x, "%.1f") + "\" y=\"" + num(y, "%.1f") + "\" text-anchor=\"" + anchor + "\"" + extra +
         ">" + xmlText(s) + "</text>\n";
}

// A text in at most `room` pixels at `fontSize`: one estimated wider is set
// smaller to fit (renderers differ in honouring textLength; every one
// honours font-size), and below 7 pixels shortened in the middle as well.
void fitted(std::string& svg, double x, double y, const std::string& s, double room, double fontSize, bool bold,
            const char* anchor = "start") {
  constexpr double least = 7;
  const double wide = estimatedWidth(s, fontSize, bold);
  const double size = wide > room ? std::max(least, fontSize * room / wide) : fontSize;
  std::string shown = s;
  if (estimatedWidth(shown, size, bold) > room)
    shown = middleShortened(s, static_cast<std::size_t>(room / estimatedWidth("x", size, bold)));
  text(svg, x, y, shown, anchor, " font-size=\"" + num(size, "%.1f") + "\"" + (bold ? " font-weight=\"bold\"" : ""));
}

void line(std::string& svg, double x1, double y1, double x2, double y2, const char* stroke, double w = 1) {
  svg += "<line x1=\"" + num(x1, "%.1f") + "\" y1=\"" + num(y1, "%.1f") + "\" x2=\"" + num(x2, "%.1f") + "\" y2=\"" +
         num(y2, "%.1f") + "\" stroke=\"" + stroke + "\" stroke-width=\"" + num(w, "%.1f") + "\"/>\n";
}

// A step of 1, 2 or 5 times a power of ten that cuts [0, highest] into at most
// about `parts` parts.
double niceStep(double highest, int parts) {
  if (highest <= 0) return 1;
  const double raw = highest / parts;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double f : {1.0, 2.0, 5.0, 10.0})
    if (f * power >= raw) return f * power;
  return 10 * power;
}

// One panel at height y0: bars of `observed`, marks at `expected`, axes,
// ticks and labels; label(i) names bar i on the x axis (empty: no label).
template <class Label>
void panelOf(std::string& svg, double y0, const std::string& title, const std::string& xTitle,
             const std::vector<double>& observed, const std::vector<double>& expected, Label label) {
  const double x0 = left, x1 = width - right, yTop = y0 + top, yBase = y0 + panel - bottom;
  fitted(svg, x0, y0 + 22, title, x1 - x0, 12, true);
  // Legend.
  svg += "<rect x=\"" + num(x1 - 190, "%.1f") + "\" y=\"" + num(y0 + 30, "%.1f") +
         "\" width=\"12\" height=\"9\" fill=\"" + bar_colour + "\"/>\n";
  text(svg, x1 - 174, y0 + 39, "observed");
  line(svg, x1 - 100, y0 + 34.5, x1 - 86, y0 + 34.5, mark_colour, 2.5);
  text(svg, x1 - 80, y0 + 39, "expected");

  double highest = 0;
  for (double v : observed) highest = std::max(highest, v);
  for (double v : expected) highest = std::max(highest, v);
  const double step = niceStep(highest, 4);
  const double yMax = std::max(step, std::ceil(highest * 1.08 / step) * step);
  auto yOf = [&](double v) { return yBase - (yBase - yTop) * v / yMax; };
  for (double v = 0; v <= yMax * 1.0001; v += step) {
    line(svg, x0 - 4, yOf(v), x1, yOf(v), "#e4e4e4");
    text(svg, x0 - 8, yOf(v) + 4, num(v), "end");
  }
  line(svg, x0, yTop - 6, x0, yBase, "#333");
  line(svg, x0, yBase, x1, yBase, "#333");

  const std::size_t bars = std::max<std::size_t>(1, std::max(observed.size(), expected.size()));
  const double slot = (x1 - x0) / static_cast<double>(bars);
  for (std::size_t i = 0; i < bars; ++i) {
    const double xs = x0 + slot * static_cast<double>(i);
    if (i < observed.size() && observed[i] > 0) {
      svg += "<rect x=\"" + num(xs + slot * 0.15, "%.2f") + "\" y=\"" + num(yOf(observed[i]), "%.2f") +
             "\" width=\"" + num(slot * 0.7, "%.2f") + "\" height=\"" + num(yBase - yOf(observed[i]), "%.2f") +
             "\" fill=\"" + bar_colour + "\"/>\n";
    }
    if (i < expected.size()) line(svg, xs + slot * 0.05, yOf(expected[i]), xs + slot * 0.95, yOf(expected[i]), mark_colour, 2.5);
    const std::string name = label(i);
    if (!name.empty()) {
      line(svg, xs + slot / 2, yBase, xs + slot / 2, yBase + 4, "#333");
      text(svg, xs + slot / 2, yBase + 17, name, "middle");
    }
  }
  text(svg, (x0 + x1) / 2, y0 + panel - 10, xTitle, "middle");
  text(svg, 18, (yTop + yBase) / 2, "blocks", "middle",
       (" transform=\"rotate(-90 18 " + num((yTop + yBase) / 2, "%.1f") + ")\"").c_str());
}

std::vector<double> numbers(const nlohmann::json& a) {
  std::vector<double> v;
  for (const nlohmann::json& x : a) v.push_back(x.get<double>());
  return v;
}

std::string testTitle(const char* what, const nlohmann::json& t) {
  Verdict v;
  if (!t.at("p_value").is_null()) {
    v.pValue = t.at("p_value").get<double>();
    v.chi2 = t.at("chi2").get<double>();
    v.dof = t.at("dof").get<int>();
  }
  const std::vector<double> expected = numbers(t.at("bins_expected"));
  BinArray bins{};
  std::copy_n(expected.begin(), std::min(expected.size(), bins.size()), bins.begin());
  std::string s = std::string(what) + ": " + verdictWords(v, bins, "it");
  if (v.pValue) s += "  (chi2 " + num(*v.chi2, "%.4g") + ", " + std::to_string(*v.dof) + " dof)";
  return s;
}

// The panel of where the unusual blocks are, at height y0: -log10 of each
// window's least p-value at its place in the file, and the level below which
// the least p-value of a whole random file falls once in a hundred files
// (0.01 / blocks: every block's p-value is at least uniform).
void wherePanel(std::string& svg, double y0, const Windows& where) {
  const double x0 = left, x1 = width - right, yTop = y0 + top, yBase = y0 + panel - bottom;
  const std::uint64_t first = where.front().firstBlock;
  const std::uint64_t blocks = where.back().firstBlock + where.back().blocks - first;
  const std::uint64_t wide = where.front().blocks;
  fitted(svg, x0, y0 + 22,
         "where: the least p-value of each " +
             (wide == 1 ? std::string("block") : "window of " + std::to_string(wide) + " blocks"),
         x1 - x0, 12, true);
  // The level's legend sits above the plot, where no stroke reaches.
  svg += "<line x1=\"" + num(x1 - 330, "%.1f") + "\" y1=\"" + num(y0 + 34.5, "%.1f") + "\" x2=\"" + num(x1 - 310, "%.1f") +
         "\" y2=\"" + num(y0 + 34.5, "%.1f") + "\" stroke=\"" + mark_colour + "\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"/>\n";
  fitted(svg, x1 - 304, y0 + 39, "0.01 / blocks: a random file's least, once in 100 files", 304, 12, false);
  const double level = -std::log10(0.01 / static_cast<double>(blocks));
  double highest = level;
  for (const LeastPWindows::Window& w : where) highest = std::max(highest, -w.log10LeastP);
  const double step = niceStep(highest, 4);
  const double yMax = std::max(step, std::ceil(highest * 1.08 / step) * step);
  auto yOf = [&](double v) { return yBase - (yBase - yTop) * v / yMax; };
  for (double v = 0; v <= yMax * 1.0001; v += step) {
    line(svg, x0 - 4, yOf(v), x1, yOf(v), "#e4e4e4");
    text(svg, x0 - 8, yOf(v) + 4, v == 0 ? std::string("1") : "1e-" + num(v), "end");
  }
  line(svg, x0, yTop - 6, x0, yBase, "#333");
  line(svg, x0, yBase, x1, yBase, "#333");
  auto xOf = [&](double block) {
    return x0 + (x1 - x0) * (block - static_cast<double>(first)) / static_cast<double>(blocks);
  };
  // One vertical stroke per window: a window is a pixel or less wide once
  // there are more blocks than pixels, and a flawed region shows as a ridge.
  svg += "<path fill=\"none\" stroke=\"" + std::string(bar_colour) + "\" stroke-width=\"1\" d=\"";
  for (const LeastPWindows::Window& w : where) {
    const double x = xOf(static_cast<double>(w.firstBlock) + static_cast<double>(w.blocks) / 2);
    svg += 'M';
    svg += num(x, "%.2f") + " " + num(yBase, "%.1f") + "V" + num(yOf(-w.log10LeastP), "%.2f");
  }
  svg += "\"/>\n";
  svg += "<line x1=\"" + num(x0, "%.1f") + "\" y1=\"" + num(yOf(level), "%.2f") + "\" x2=\"" + num(x1, "%.1f") +
         "\" y2=\"" + num(yOf(level), "%.2f") + "\" stroke=\"" + mark_colour +
         "\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"/>\n";
  const double tick = std::max(1.0, niceStep(static_cast<double>(blocks), 6));  // whole blocks
  for (double b = 0; b <= static_cast<double>(blocks) + 0.5; b += tick) {
    const double x = xOf(static_cast<double>(first) + b);
    line(svg, x, yBase, x, yBase + 4, "#333");
    text(svg, x, yBase + 17, num(static_cast<double>(first) + b, "%.0f"), "middle");
  }
  text(svg, (x0 + x1) / 2, y0 + panel - 10, "block", "middle");
  text(svg, 18, (yTop + yBase) / 2, "least p-value", "middle",
       (" transform=\"rotate(-90 18 " + num((yTop + yBase) / 2, "%.1f") + ")\"").c_str());
}

}  // namespace

std::string plotSvg(const nlohmann::json& summary, const std::string& file, const Windows& where,
                    const std::vector<VerdictLine>& verdicts) {
  const nlohmann::json& tests = summary.at("tests");
  const double table = verdicts.empty() ? 0 : 10 + 16 * static_cast<double>(verdicts.size());
  const double panels = static_cast<double>(tests.size() + 1 + (where.empty() ? 0 : 1));
  const double height = header + table + panels * panel;
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" + num(height) +
                    "\" viewBox=\"0 0 " + num(width) + " " + num(height) +
                    "\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#222\">\n"
                    "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
  // The title: the input's name shortened in the middle to what the width
  // leaves beside the rest of the line.
  const std::string blocks = summary.at("blocks").dump(), n = summary.at("block_size").dump();
  const std::string rest = ": " + blocks + " blocks of " + n + " bits" +
                           (summary.contains("first_block") && summary.at("first_block").get<std::uint64_t>() > 0
                                ? ", from block " + summary.at("first_block").dump()
                                : std::string());
  constexpr double titleSize = 15, room = width - 2 * 12;
  const std::string lead = file.empty() ? "lumbra-kit test" : "lumbra-kit test of ";
  const double perCharacter = estimatedWidth("x", titleSize, true);
  const auto fits = static_cast<std::size_t>(
      std::max(0.0, (room - estimatedWidth(lead + rest, titleSize, true)) / perCharacter));
  fitted(svg, width / 2, 22, lead + middleShortened(replacedUtf8(file), std::max<std::size_t>(fits, 12)) + rest, room,
         titleSize, true, "middle");

  // The verdicts, as the text form gives them: each statistic's, then the
  // whole file's.
  double y0 = header, column = 0;
  for (const VerdictLine& v : verdicts) column = std::max(column, estimatedWidth(v.label + ":", 12, true) + 8);
  for (const VerdictLine& v : verdicts) {
    y0 += 16;
    text(svg, left, y0, v.label + ":", "start", " font-weight=\"bold\"");
    fitted(svg, left + column, y0, v.words, width - right - left - column, 12, false);
  }
  y0 += table > 0 ? 10 : 0;

  // Bin i is [i/10, (i+1)/10), the last one closed.
  auto bin = [](std::size_t i) {
    auto edge = [](std::size_t e) { return e == 0 ? std::string("0") : e == 10 ? std::string("1") : std::string(".") + std::to_string(e); };
    return edge(i) + "\xe2\x80\x93" + edge(i + 1);
  };
  // A panel for each statistic judged, in the order of the text form (the
  // registry's); one the registry does not know (a summary from a later
  // version) after them.
  std::vector<std::pair<std::string, std::string>> judged;  // (key, title)
  for (const Statistic* s : allStatistics())
    if (tests.contains(std::string(s->name())))
      judged.emplace_back(s->name(), std::string(s->name()) + " (" + std::string(s->subject()) + ")");
  for (const auto& item : tests.items()) {
    const std::string& key = item.key();
    if (std::none_of(judged.begin(), judged.end(), [&](const auto& j) { return j.first == key; }))
      judged.emplace_back(key, key);
  }
  for (const auto& [key, title] : judged) {
    const nlohmann::json& t = tests.at(key);
    panelOf(svg, y0, testTitle(title.c_str(), t), "probability of the block, ten bins from 0 to 1",
            numbers(t.at("bins_observed")), numbers(t.at("bins_expected")), bin);
    y0 += panel;
  }
  const std::vector<double> observed = numbers(summary.at("deviations").at("observed"));
  const std::vector<double> expected = numbers(summary.at("deviations").at("expected"));
  const std::size_t ds = std::max(observed.size(), expected.size());
  // NOTE: niceStep gives fractions for a few deviations; labels go on whole
  // deviations, at least every one.
  const auto every = std::max<std::size_t>(1, static_cast<std::size_t>(niceStep(static_cast<double>(ds), 12)));
  panelOf(svg, y0, "deviations d of the blocks", "deviation d", observed, expected,
          [&](std::size_t i) { return i % every == 0 ? std::to_string(i) : std::string(); });
  if (!where.empty()) wherePanel(svg, y0 + panel, where);
  svg += "</svg>\n";
  return svg;
}

void writePlot(const nlohmann::json& summary, const std::string& path, bool replace, const std::string& file,
               const Windows& where, const std::vector<VerdictLine>& verdicts) {
  AtomicOutput::writeFile(path, plotSvg(summary, file, where, verdicts), replace);
}

}  // namespace lumbra::kit
