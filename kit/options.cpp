#include "options.h"

#include <algorithm>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>

#include "app.h"

namespace lumbra::kit {

CLI::Validator decimal(std::uint64_t lo, std::uint64_t hi) {
  const std::string range = std::to_string(lo) + " to " + std::to_string(hi);
  return {[lo, hi, range](std::string& text) {
            std::uint64_t v = 0;
            const char* end = text.data() + text.size();
            const auto [stop, err] = std::from_chars(text.data(), end, v);
            const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
            if (!digits || err != std::errc() || stop != end || v < lo || v > hi)
              return "'" + text + "' is not a whole number from " + range;
            text = std::to_string(v);
            return std::string();
          },
          "", "decimal"};
}

CLI::Validator fileName() {
  return {[](const std::string& text) { return text.empty() ? std::string("the file name is empty") : std::string(); },
          "", "file name"};
}

void addBlockSizeOption(CLI::App& cmd, int& n, int defaultSize) {
  n = defaultSize;
  cmd.add_option("-n,--block-size", n,
                 "Bits per block, 1 to " + std::to_string(max_block_size) + " (default " + std::to_string(n) + ")")
      ->transform(decimal(1, max_block_size))
      ->type_name("N");
}

std::vector<std::string> commaList(const std::string& list) {
  std::vector<std::string> items;
  for (std::size_t at = 0;;) {
    const std::size_t comma = list.find(',', at);
    items.push_back(list.substr(at, comma - at));
    if (comma == std::string::npos) return items;
    at = comma + 1;
  }
}

std::span<const Statistic* const> statisticsOption(const std::string& list) {
  std::string why;
  const auto chosen = lumbra::namedStatistics(commaList(list), why);
  if (chosen.empty()) throw UsageError("--statistics: " + why);
  return chosen;
}

void addBlockSizesOption(CLI::App& cmd, std::vector<int>& sizes) {
  sizes = {default_block_size};
  // NOTE: the list is one word, split here: a vector option of CLI11 would
  // also take the words after it (the files) as sizes.
  cmd.add_option_function<std::string>(
         "-n,--block-size",
         [&sizes](const std::string& list) {
           sizes.clear();
           for (const std::string& item : commaList(list)) sizes.push_back(std::stoi(item));
         },
         "Bits per block, 1 to " + std::to_string(max_block_size) + " (default " +
             std::to_string(default_block_size) + "); a list N,N,... judges each size in one reading")
      ->transform(CLI::Validator(
          [](std::string& list) {
            const CLI::Validator one = decimal(1, max_block_size);
            std::string out;
            for (std::string item : commaList(list)) {
              if (std::string error = one(item); !error.empty()) return error;
              out += (out.empty() ? "" : ",") + item;
            }
            list = out;
            return std::string();
          },
          "", "decimal list"))
      ->type_name("N[,N...]");
}

void addFileArgument(CLI::App& cmd, std::string& file) {
  cmd.add_option("FILE", file, "The file to read; - reads standard input")->required()->check(fileName())->type_name("");
}

void addFilesArgument(CLI::App& cmd, std::vector<std::string>& files) {
  cmd.add_option("FILE", files, "The files to read, in turn; - reads standard input")->required()->type_name("");
}

void requireStandardInputOnce(const std::vector<std::string>& files) {
  if (std::count(files.begin(), files.end(), "-") > 1)
    throw UsageError("standard input (-) can be given only once: it is read once");
}

void addFormatOption(CLI::App& cmd, std::string& format, std::initializer_list<std::string> choices) {
  format = *choices.begin();
  std::string words;
  for (const std::string& c : choices) words += (words.empty() ? "" : "|") + c;
  const std::vector<std::string> taken(choices);
  std::string help = "Output format: " + words + " (default " + format + ")";
  // JSON Lines (one object per record) where the output has one object per
  // record: json is taken for it too, as every command that writes JSON
  // takes json.
  const bool lines = std::find(taken.begin(), taken.end(), "jsonl") != taken.end();
  if (lines) help += "; jsonl (or json): JSON Lines, one object per record";
  cmd.add_option("--format", format, help)
      ->transform([lines](const std::string& v) { return lines && v == "json" ? std::string("jsonl") : v; })
      ->check(CLI::IsMember(taken))
      ->type_name("FORMAT");
}

void addForceFlag(CLI::App& cmd, bool& force, const std::string& what) { cmd.add_flag("-f,--force", force, what); }

void addCacheMibOption(CLI::App& cmd, int& mib) {
  mib = default_cache_mib;
  cmd.add_option("--cache-mib", mib,
                 "Memory for cached suffix counts in MiB (default " + std::to_string(default_cache_mib) + ")")
      ->transform(decimal(1, 1 << 20))
      ->type_name("MIB");
}

}  // namespace lumbra::kit
