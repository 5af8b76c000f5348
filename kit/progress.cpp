#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "write_all.h"

namespace lumbra::kit {

Progress::Progress(bool quiet, int fd, Clock::duration interval)
    : terminal_(!quiet && ::isatty(fd) == 1), fd_(fd), interval_(interval), start_(Clock::now()),
      next_(start_ + interval) {}

bool Progress::due(std::uint64_t total) {
  if (!terminal_ || total == 0) return false;
  const Clock::time_point now = Clock::now();
  if (now < next_) return false;
  next_ = now + interval_;
  return true;
}

void Progress::update(std::uint64_t done, std::uint64_t total) {
  if (!due(total)) return;
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  const double fraction = done >= total ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char line[96];
  int len;
  if (rate > 0) {
    const auto left = std::llround(static_cast<double>(total - std::min(done, total)) / rate);
    len = std::snprintf(line, sizeof line, "\r%3d%%  %.1f MB/s  %lld:%02lld left", static_cast<int>(fraction * 100),
                        rate / 1e6, left / 60, left % 60);
  } else {
    len = std::snprintf(line, sizeof line, "\r%3d%%", static_cast<int>(fraction * 100));
  }
  show(line, len);
}

void Progress::count(const char* what, std::uint64_t done, std::uint64_t total, const char* unit) {
  if (!due(total)) return;
  done = std::min(done, total);
  char line[128];
  const int len = std::snprintf(line, sizeof line, "\r%3d%%  %s %llu of %llu %s",
                                static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 100), what,
                                static_cast<unsigned long long>(done), static_cast<unsigned long long>(total), unit);
  show(line, std::min<int>(len, static_cast<int>(sizeof line) - 1));
}

void Progress::share(const char* what, double done) {
  if (!due(1)) return;
  done = std::clamp(done, 0.0, 1.0);
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  char line[96];
  int len;
  if (done > 0) {
    const auto left = std::llround(seconds * (1 - done) / done);
    len = std::snprintf(line, sizeof line, "\r%3d%%  %s, %lld:%02lld left", static_cast<int>(done * 100), what,
                        left / 60, left % 60);
  } else {
    len = std::snprintf(line, sizeof line, "\r%3d%%  %s", 0, what);
  }
  show(line, std::min<int>(len, static_cast<int>(sizeof line) - 1));
}

void Progress::show(const char* line, int len) {
  std::string text(line, static_cast<std::size_t>(len));
  // A shorter line than the last one covers the rest with spaces.
  const std::size_t visible = text.size() - 1;
  if (visible < shown_) text.append(shown_ - visible, ' ');
  shown_ = visible;
  write(text.data(), text.size());
}

void Progress::finish() {
  if (shown_ == 0) return;
  std::string wipe = "\r";
  wipe.append(shown_, ' ');
  wipe += '\r';
  shown_ = 0;
  write(wipe.data(), wipe.size());
}

void Progress::note(const std::string& text) {
  if (!terminal_) return;
  finish();
  write(text.data(), text.size());
  write("\n", 1);
}

// NOTE: a progress line that cannot be written is no failure of the run.
void Progress::write(const char* s, std::size_t n) { static_cast<void>(writeAll(fd_, s, n)); }

}  // namespace lumbra::kit
