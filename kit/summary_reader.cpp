#include "summary_reader.h"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "app.h"
#include "input.h"
#include "names.h"
#include "options.h"

namespace lumbra::kit {

namespace {

using nlohmann::json;

// What a summary does not hold; the text says what.
class Refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// nlohmann's texts start with "[json.exception.KIND.N] "; the rest says it.
std::string reason(const std::exception& e) {
  std::string s = e.what();
  const std::size_t close = s.rfind("] ", s.find(' '));
  return close == std::string::npos ? s : s.substr(close + 2);
}

const json& member(const json& j, const char* key) {
  if (!j.is_object()) throw Refused(std::string("no object where ") + key + " should be");
  const auto it = j.find(key);
  if (it == j.end()) throw Refused(std::string("no ") + key);
  return *it;
}

// A whole number 0 .. most: nlohmann keeps a non-negative integer written
// without fraction or exponent as number_unsigned, anything else otherwise.
std::uint64_t whole(const json& v, const std::string& what,
                    std::uint64_t most = std::numeric_limits<std::uint64_t>::max(), std::uint64_t least = 0) {
  if (!v.is_number_unsigned() || v.get<std::uint64_t>() > most || v.get<std::uint64_t>() < least)
    throw Refused(what + " is " + v.dump().substr(0, 40) + ", not a whole number from " + std::to_string(least) +
                  " to " + std::to_string(most));
  return v.get<std::uint64_t>();
}

const json& array(const json& v, const std::string& what, std::size_t least, std::size_t most) {
  if (!v.is_array() || v.size() < least || v.size() > most)
    throw Refused(what + " is not an array of " +
                  (least == most ? std::to_string(least) : std::to_string(least) + " to " + std::to_string(most)) +
                  " values");
  return v;
}

ReadSummary fromJson(const json& j, const std::string& name) {
  const int n = static_cast<int>(whole(member(j, "block_size"), "block_size", max_block_size, 1));
  FileSummary::Counts c;
  c.blocks = whole(member(j, "block_count"), "block_count");
  if (j.contains("blocks") && whole(j.at("blocks"), "blocks") != c.blocks)
    throw Refused("blocks and block_count differ");
  // The input's name, when one of several files wrote it: text, and for a
  // name that is not UTF-8 its bytes percent-encoded (see names.h).
  if (j.contains("file") && !j.at("file").is_string()) throw Refused("file is not text");
  if (j.contains("file_bytes")) {
    std::string bytes;
    const json& encoded = j.at("file_bytes");
    if (!encoded.is_string() || !percentDecoded(encoded.get<std::string>(), bytes) || !j.contains("file") ||
        replacedUtf8(bytes) != j.at("file").get<std::string>())
      throw Refused("file_bytes is not the percent-encoded bytes of file");
  }
  c.bits = whole(member(j, "bits"), "bits");
  c.ones = whole(member(j, "ones"), "ones");
  // The statistics by name in "tests"; the older form has the first two
  // alone, as "ones_test" and "deviation_test". A statistic a summary lacks
  // is not held, and the merge leaves it out.
  const auto statistics = allStatistics();
  const json* tests = j.contains("tests") ? &j.at("tests") : nullptr;
  if (tests && !tests->is_object()) throw Refused("tests is not an object");
  for (std::size_t s = 0; s < statistics.size(); ++s) {
    const std::string statistic(statistics[s]->name());
    const std::string key = tests ? statistic : statistic + "_test";
    const json& where = tests ? *tests : j;
    FileSummary::Observed o;
    if (where.contains(key)) {
      const json& t = where.at(key);
      o.held = true;
      o.passing = whole(member(t, "passing"), key + ".passing");
      const json& bins = array(member(t, "bins_observed"), key + ".bins_observed", bin_count, bin_count);
      for (std::size_t b = 0; b < static_cast<std::size_t>(bin_count); ++b)
        o.bins[b] = whole(bins[b], key + ".bins_observed");
    } else if (!tests && s < 2) {
      throw Refused("no " + key);
    }
    c.statistics.push_back(o);
  }
  // The whole file's runs and end bits, when the summary has them.
  if (j.contains("whole_file") && member(j, "whole_file").contains("runs")) {
    const json& f = j.at("whole_file");
    c.file = FileBits{c.bits, c.ones, whole(f.at("runs"), "whole_file.runs"),
                      static_cast<int>(whole(member(f, "first_bit"), "whole_file.first_bit", 1)),
                      static_cast<int>(whole(member(f, "last_bit"), "whole_file.last_bit", 1))};
  }
  for (const json& v : array(member(member(j, "deviations"), "observed"), "deviations.observed", 0,
                             static_cast<std::size_t>(n) + 1))
    c.deviations.push_back(whole(v, "deviations.observed"));
  // Blocks of n bits by k, and at most one shorter block.
  for (const json& s : array(member(j, "shapes"), "shapes", 0, static_cast<std::size_t>(n) + 2)) {
    const json& t = array(s, "a shape", 3, 3);
    c.shapes.push_back({whole(t[0], "a shape's length", static_cast<std::uint64_t>(n)),
                        whole(t[1], "a shape's ones", static_cast<std::uint64_t>(n)), whole(t[2], "a shape's blocks")});
  }
  ReadSummary r{name, FileSummary(n, 0, statistics), std::nullopt, {}};
  const std::uint64_t first = whole(member(j, "first_block"), "first_block");
  try {
    r.summary = FileSummary::restored(n, first, c, statistics);
  } catch (const std::invalid_argument& e) {
    throw Refused(e.what());
  }

  // Where the blocks lie. A summary of the old form is one range.
  if (j.contains("ranges")) {
    std::uint64_t held = 0;
    for (const json& v : array(j.at("ranges"), "ranges", 0, max_summary_values)) {
      const json& p = array(v, "a range", 2, 2);
      const BlockRange b{whole(p[0], "a range's first block"), whole(p[1], "a range's block count")};
      if (b.count == 0 || b.first + b.count < b.first) throw Refused("a range that is empty or past 2^64 blocks");
      if (!r.ranges.empty() && b.first <= r.ranges.back().first + r.ranges.back().count)
        throw Refused("ranges that are out of order, touch or overlap");
      r.ranges.push_back(b);
      held += b.count;
    }
    if (held != c.blocks) throw Refused("ranges that hold " + std::to_string(held) + " blocks, not block_count");
    if (!r.ranges.empty() && r.ranges.front().first != first) throw Refused("first_block is not the first range's");
  } else if (c.blocks > 0) {
    if (first + c.blocks < first) throw Refused("blocks past 2^64");
    r.ranges = {{first, c.blocks}};
  }
  if (j.contains("file_bits") && !j.at("file_bits").is_null()) r.fileBits = whole(j.at("file_bits"), "file_bits");

  // A shorter block is the file's last: only one, and at the end.
  std::uint64_t shorter = 0, shortLength = 0;
  for (const auto& s : c.shapes)
    if (s[0] < static_cast<std::uint64_t>(n)) {
      shorter += s[2];
      shortLength = s[0];
    }
  if (shorter > 1) throw Refused(std::to_string(shorter) + " shorter blocks, where a file has one at most");
  if (r.fileBits) {
    const std::uint64_t un = static_cast<std::uint64_t>(n);
    const std::uint64_t fileBlocks = *r.fileBits / un + (*r.fileBits % un != 0 ? 1 : 0);
    const bool holdsLast = !r.ranges.empty() && r.ranges.back().first + r.ranges.back().count == fileBlocks;
    if (!r.ranges.empty() && r.ranges.back().first + r.ranges.back().count > fileBlocks)
      throw Refused("blocks past the end of a file of " + std::to_string(*r.fileBits) + " bits");
    if (shorter != (holdsLast && *r.fileBits % un != 0 ? 1 : 0) || (shorter == 1 && shortLength != *r.fileBits % un))
      throw Refused("a last block that does not fit a file of " + std::to_string(*r.fileBits) + " bits");
  }
  // NOTE: without the size, merge checks the shorter block against the
  // other summaries' ranges.
  return r;
}

// Parses with limits: nesting and the number of values (each costs the
// DOM some bytes), refused as soon as they are passed.
json parseBounded(const std::string& text) {
  std::size_t values = 0;
  return json::parse(text, [&](int depth, json::parse_event_t, json&) {
    if (depth > 4) throw Refused("values nested more than four deep");
    if (++values > max_summary_values) throw Refused("more than " + std::to_string(max_summary_values) + " values");
    return true;
  });
}

}  // namespace

std::vector<ReadSummary> readSummaries(std::string_view text, const std::string& name) {
  if (text.size() > max_summary_bytes)
    throw Failure(name + ": more than " + std::to_string(max_summary_bytes >> 20) + " MiB, larger than any summary");
  std::vector<std::pair<std::string, std::string>> parts;  // (name, text)
  if (json::accept(text)) {
    parts.emplace_back(name, std::string(text));
  } else {
    std::size_t line = 0;
    for (std::size_t at = 0; at < text.size(); ++line) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      std::string part(text.substr(at, end - at));
      at = end + 1;
      if (part.find_first_not_of(" \t\r") != std::string::npos)
        parts.emplace_back(name + " line " + std::to_string(line + 1), std::move(part));
    }
  }
  if (parts.empty()) throw Failure(name + ": no summary in it");
  std::vector<ReadSummary> out;
  for (const auto& [where, part] : parts) {
    try {
      out.push_back(fromJson(parseBounded(part), where));
    } catch (const json::exception& e) {
      // A syntax error, or a number no double holds (1e400).
      throw Failure(where + ": not JSON: " + reason(e));
    } catch (const Refused& e) {
      throw Failure(where + ": not a summary of `lumbra-kit test --format json`: " + e.what());
    }
  }
  return out;
}

std::vector<ReadSummary> readSummaryFile(const std::string& file) {
  Input in(file);
  std::string text;
  std::vector<unsigned char> buf(std::size_t{64} * 1024);
  for (std::size_t got; (got = in.fill(buf.data(), buf.size())) > 0;) {
    text.append(reinterpret_cast<const char*>(buf.data()), got);
    if (text.size() > max_summary_bytes) break;  // refused below, without reading the rest
    if (got < buf.size()) break;
  }
  return readSummaries(text, in.name());
}

}  // namespace lumbra::kit
