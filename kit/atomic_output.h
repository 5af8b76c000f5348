// AtomicOutput: an output file that appears complete or not at all.
//
// Bytes go to a temporary file beside the destination (in the same
// directory, so the final rename stays on one file system); commit() renames
// it into place. Until then the destination is untouched, and a run that
// fails, or an AtomicOutput destroyed without commit(), removes the
// temporary file. An existing destination is refused unless `force`. The
// destination "-" is standard output: the temporary file then lives in
// $TMPDIR (or /tmp) and commit() copies it to standard output, so a failed
// run writes nothing there either.
//
// The object owns its descriptor and the temporary file's name; it throws
// Failure ("can't write OUT: ...") for every failing system call.
#pragma once

#include <cstdint>
#include <string>

#include "triangle/bitstm.h"

namespace lumbra::kit {

class AtomicOutput final : public lumbra::ByteSink {
 public:
  AtomicOutput(std::string path, bool force);
  ~AtomicOutput() override;
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  void put(const unsigned char* p, std::size_t n) override;
  // Writes over bytes already put, from `offset` on.
  void patch(std::uint64_t offset, const unsigned char* p, std::size_t n);
  // Puts the file in place. Nothing may be written after it.
  void commit();

 private:
  [[noreturn]] void fail(const std::string& what) const;

  std::string path_;   // the destination, "-" for standard output
  std::string temp_;   // the temporary file, empty once it is gone
  int fd_ = -1;
};

}  // namespace lumbra::kit
