// Output: standard output of a subcommand, collected in a buffer and handed
// to the descriptor when the buffer is full, on flush() and at the end.
//
// A failed write throws Failure ("can't write to standard output: ...") at
// once, so a subcommand stops at the first write that cannot reach its
// reader; everything written before it has been handed on. A reader that
// goes away ends the process by SIGPIPE, as any filter does.
#pragma once

#include <string>
#include <string_view>

namespace lumbra::kit {

class Output {
 public:
  explicit Output(int fd = 1) : fd_(fd) { buf_.reserve(capacity); }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  // Flushes what is left; a failure then is lost (never thrown), so call
  // flush() first.
  ~Output();

  Output& operator<<(std::string_view s) {
    if (buf_.size() + s.size() > capacity) spill(s);
    else buf_.append(s);
    return *this;
  }
  Output& operator<<(char c) { return *this << std::string_view(&c, 1); }

  // Hands everything collected to the descriptor. Throws Failure.
  void flush();

 private:
  static constexpr std::size_t capacity = std::size_t{64} * 1024;
  void spill(std::string_view s);
  void put(const char* p, std::size_t n);

  int fd_;
  std::string buf_;
};

}  // namespace lumbra::kit
