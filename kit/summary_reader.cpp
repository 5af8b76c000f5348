#include "summary_reader.h"

#include "app.h"
#include "input.h"

namespace lumbra::kit {

std::vector<ReadSummary> readSummaries(std::string_view text, const std::string& name) {
  try {
    return lumbra::readSummaries(text, name);
  } catch (const SummaryError& e) {
    throw Failure(e.what());
  }
}

std::vector<ReadSummary> readSummaryFile(const std::string& file) {
  Input in(file);
  std::string text;
  std::vector<unsigned char> buf(std::size_t{64} * 1024);
  for (std::size_t got; (got = in.fill(buf.data(), buf.size())) > 0;) {
    text.append(reinterpret_cast<const char*>(buf.data()), got);
    if (text.size() > max_summary_bytes) break;  // refused by the reader, without reading the rest
    if (got < buf.size()) break;
  }
  return readSummaries(text, in.name());
}

}  // namespace lumbra::kit
