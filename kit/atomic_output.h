// AtomicOutput: an output file that appears complete or not at all; the one
// writer of every file lumbra-kit makes (encode, decode, --plot, ...).
//
// A regular OUT (or one that does not exist yet): the bytes go to a new
// temporary file beside OUT, ".OUT.lumbra-kit-partial.XXXXXX", created with
// O_EXCL in OUT's folder so that the publishing rename stays on one file
// system. commit() flushes it to the disk (fsync), then publishes it: without
// `force` by a rename that refuses an existing OUT (renameat2 with
// RENAME_NOREPLACE, or link + unlink where the file system refuses that), so
// that an OUT that appeared since the start is still kept; with `force` by a
// plain rename, the new file taking the old one's mode (and owner, where
// permitted). Then OUT's folder is flushed too. Until commit() OUT is
// untouched; a run that fails, an AtomicOutput destroyed without commit(),
// and every signal whose default action ends the process (SIGINT, SIGTERM,
// SIGHUP, SIGXFSZ, SIGPIPE, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
// SIGPROF) remove the temporary file, then end the process by that signal
// (status 128 + its number in a shell); SIGXFSZ also prints one line naming
// the file-size limit. SIGKILL cannot be caught: it leaves the temporary
// file, whose name says what it is.
//
// "-" (standard output) and an OUT that exists and is no regular file (a
// device, a FIFO): the bytes are staged in a temporary file in $TMPDIR (or
// /tmp) that has no name from the start, and commit() copies them to the
// descriptor, so a failed run writes nothing there either. Such an OUT is
// written in place, never replaced, with or without `force`.
//
// The object owns its descriptors and the temporary file's name; it is used
// from one thread. Every failing system call throws Failure with one line:
// "can't write OUT: ...", "OUT exists; use --force to replace it", "can't
// write the temporary copy of OUT in DIR: ..." and so on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "triangle/bitstm.h"

namespace lumbra::kit {

class AtomicOutput final : public lumbra::ByteSink {
 public:
  // Throws Failure at once when OUT exists and is regular and not `force`,
  // is a folder, or its temporary file cannot be made.
  AtomicOutput(std::string path, bool force);
  ~AtomicOutput() override;
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  void put(const unsigned char* p, std::size_t n) override;
  void put(std::string_view s) { put(reinterpret_cast<const unsigned char*>(s.data()), s.size()); }
  // Writes over bytes already put, from `offset` on.
  void patch(std::uint64_t offset, const unsigned char* p, std::size_t n);
  // Puts the file in place. Nothing may be written after it.
  void commit();

  // The whole of `bytes` to `path`, complete or not at all.
  static void writeFile(const std::string& path, std::string_view bytes, bool force);

  // A seam for tests: called with the name of each step of commit() that
  // puts the bytes on the disk and the file in place ("fsync", "close",
  // "publish", "sync folder"), just before it is taken, so that a test sees
  // their order. Null (the default) traces nothing; set it from one thread
  // while no AtomicOutput is in use.
  using CommitTrace = void (*)(const char* step);
  static void setCommitTrace(CommitTrace trace);

 private:
  [[noreturn]] void fail(const std::string& what) const;
  void publish();

  std::string path_;     // the destination, "-" for standard output
  std::string shown_;    // how messages name it
  std::string temp_;     // the temporary file's name, empty when it has none
  std::string staging_;  // for a staged output: where the copy lives
  int fd_ = -1;          // the temporary file
  int target_ = -1;      // for a staged output: the descriptor it goes to
  bool ownTarget_ = false;
  bool force_ = false;
  bool replacing_ = false;  // a regular OUT existed at the start
  unsigned mode_ = 0;       // and its mode, owner and group
  unsigned uid_ = 0, gid_ = 0;
};

}  // namespace lumbra::kit
