// InputFile: the bytes of a named file, or of standard input for "-", as a
// ByteSource. It owns the descriptor it opened (never standard input) and
// closes it when it goes; a failing open or read throws Failure naming the
// file.
#pragma once

#include <string>

#include "bitstm.h"

namespace lumbra::kit {

class InputFile final : public lumbra::ByteSource {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  std::size_t get(unsigned char* buf, std::size_t n) override;

 private:
  std::string name_;
  int fd_;
  bool owned_;
};

}  // namespace lumbra::kit
