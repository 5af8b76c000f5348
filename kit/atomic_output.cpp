#include "atomic_output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app.h"
#include "write_all.h"

namespace lumbra::kit {

namespace {

// The temporary files that a signal must not leave behind. The handler
// reads only these fixed arrays and calls only unlink(), so it is safe at
// any moment; a name is written before its slot is marked in use.
constexpr std::size_t max_temps = 8;
constexpr std::size_t max_temp_name = 4096;
std::array<std::array<char, max_temp_name>, max_temps> temp_names;
std::array<std::atomic<bool>, max_temps> temp_in_use;
// Every signal whose default action ends the process and that lumbra-kit
// has no use for (SIGKILL and SIGSTOP cannot be caught; SIGSEGV and its kin
// are faults, whose handler must not run on a broken state).
constexpr std::array<int, 11> cleaned_signals = {SIGINT,  SIGTERM, SIGHUP,  SIGXFSZ, SIGPIPE, SIGQUIT,
                                                 SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF};
// The line SIGXFSZ prints, made when the handler is installed (the limit
// is the process's own and does not change under it).
std::array<char, 160> file_size_line;
std::size_t file_size_line_length = 0;

void prepareFileSizeLine() {
  struct rlimit lim {};
  char limit[48] = "unlimited";
  if (::getrlimit(RLIMIT_FSIZE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY)
    std::snprintf(limit, sizeof limit, "%llu bytes", static_cast<unsigned long long>(lim.rlim_cur));
  const int n = std::snprintf(file_size_line.data(), file_size_line.size(),
                              "lumbra-kit: a file reached the file-size limit (ulimit -f, RLIMIT_FSIZE: %s)\n",
                              limit);
  file_size_line_length = n > 0 ? std::min(static_cast<std::size_t>(n), file_size_line.size() - 1) : 0;
}

extern "C" void removeTempsAndDie(int sig) {
  for (std::size_t i = 0; i < max_temps; ++i)
    if (temp_in_use[i].load()) ::unlink(temp_names[i].data());
  if (sig == SIGXFSZ && file_size_line_length > 0) {
    const ssize_t ignored = ::write(2, file_size_line.data(), file_size_line_length);
    (void)ignored;
  }
  // The default action then ends the process, so its parent sees the signal.
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// Installs the handler once, for each signal whose default action is in
// force: one ignored stays ignored (nohup keeps SIGHUP ignored, and so does
// this), one handled by someone else (a profiler's SIGPROF) stays theirs.
void catchSignals() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  prepareFileSizeLine();
  for (int sig : cleaned_signals) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL)
      continue;
    struct sigaction sa {};
    sa.sa_handler = removeTempsAndDie;
    sigemptyset(&sa.sa_mask);
    ::sigaction(sig, &sa, nullptr);
  }
}

// Blocks the cleaned signals on this thread for its lifetime, so that a
// temporary file and its slot (or its unlink) come as one.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : cleaned_signals) sigaddset(&set, sig);
    ::pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

void remember(const std::string& name) {
  catchSignals();
  if (name.size() >= max_temp_name) return;
  for (std::size_t i = 0; i < max_temps; ++i) {
    if (temp_in_use[i].load()) continue;
    std::memcpy(temp_names[i].data(), name.c_str(), name.size() + 1);
    temp_in_use[i].store(true);
    return;
  }
}

void forget(const std::string& name) {
  for (std::size_t i = 0; i < max_temps; ++i)
    if (temp_in_use[i].load() && name == temp_names[i].data()) temp_in_use[i].store(false);
}

// A new file from the pattern (ending in XXXXXX), opened with O_EXCL; -1
// and errno on failure.
int createExclusive(std::string& pattern) {
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
  if (fd >= 0) pattern = buf.data();
  return fd;
}

AtomicOutput::CommitTrace commit_trace = nullptr;

void trace(const char* step) {
  if (commit_trace != nullptr) commit_trace(step);
}

void putAll(int fd, const unsigned char* p, std::size_t n, const std::string& what) {
  if (const int failure = writeAll(fd, p, n)) throw Failure(what + ": " + writeFailure(failure));
}

// The umask the process had when it started, learned then, before any
// thread could create a file while it is 0. Asking umask() is the only way
// to learn it, and asking sets it.
const mode_t umask_at_start = [] {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}();

// The process's umask, learned without changing it: the "Umask:" line of
// /proc/self/status (Linux 4.7 on), else the one it had at the start.
mode_t currentUmask() {
  const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return umask_at_start;
  std::array<char, 4096> buf{};
  std::size_t got = 0;
  for (ssize_t r; got + 1 < buf.size() && (r = ::read(fd, buf.data() + got, buf.size() - 1 - got)) != 0;) {
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) break;
    got += static_cast<std::size_t>(r);
  }
  ::close(fd);
  const char* line = std::strstr(buf.data(), "\nUmask:\t");
  if (line == nullptr) return umask_at_start;
  char* end = nullptr;
  const unsigned long mask = std::strtoul(line + 8, &end, 8);
  if (end == line + 8 || *end != '\n' || mask > 0777) return umask_at_start;
  return static_cast<mode_t>(mask);
}

// The permission a new file gets: 0666 less the process's umask.
mode_t newFileMode() { return 0666 & ~currentUmask(); }

// Where a published name lands on the disk: its folder, flushed too. Best
// effort: the file is in place already, and some file systems refuse it.
void syncFolder(const std::string& dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

AtomicOutput::AtomicOutput(std::string path, bool force) : path_(std::move(path)), force_(force) {
  shown_ = path_ == "-" ? "standard output" : path_;
  if (path_.empty()) throw Failure("can't write a file without a name");
  struct stat st {};
  const bool exists = path_ != "-" && ::stat(path_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) fail(std::strerror(EISDIR));
  // A symbolic link to a regular file: the file it leads to is the one
  // replaced (with --force), beside itself, and the link stays, as an OUT
  // that is a device stays what it is.
  struct stat link {};
  if (exists && S_ISREG(st.st_mode) && ::lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    char* real = ::realpath(path_.c_str(), nullptr);
    if (real == nullptr) fail(std::strerror(errno));
    path_ = real;
    std::free(real);
  }
  if (path_ == "-" || (exists && !S_ISREG(st.st_mode))) {
    // Staged: the bytes wait in a file without a name.
    if (path_ == "-") {
      target_ = 1;
    } else {
      do target_ = ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
      while (target_ < 0 && errno == EINTR);
      if (target_ < 0) throw Failure("can't open " + shown_ + ": " + std::strerror(errno));
      ownTarget_ = true;
    }
    const char* t = std::getenv("TMPDIR");
    staging_ = t && *t ? t : "/tmp";
    std::string name = staging_ + "/.lumbra-kit-staging.XXXXXX";
    const SignalsHeld held;
    fd_ = createExclusive(name);
    if (fd_ < 0) {
      const int err = errno;
      if (ownTarget_) ::close(target_);
      throw Failure("can't make the temporary copy of " + shown_ + " in " + staging_ + ": " + std::strerror(err));
    }
    ::unlink(name.c_str());
    return;
  }
  if (exists && !force) throw Failure(shown_ + " exists; use --force to replace it");
  if (exists) {
    replacing_ = true;
    mode_ = st.st_mode & 07777;
    uid_ = st.st_uid;
    gid_ = st.st_gid;
  }
  const std::size_t slash = path_.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
  // NOTE: a name stays within the 255 bytes a file system allows.
  std::string name = dir + "." + path_.substr(dir.size(), 200) + ".lumbra-kit-partial.XXXXXX";
  const SignalsHeld held;
  fd_ = createExclusive(name);
  if (fd_ < 0) throw Failure("can't create a temporary file beside " + shown_ + ": " + std::strerror(errno));
  temp_ = name;
  remember(temp_);
}

AtomicOutput::~AtomicOutput() {
  if (fd_ >= 0) ::close(fd_);
  if (ownTarget_) ::close(target_);
  if (!temp_.empty()) {
    const SignalsHeld held;
    ::unlink(temp_.c_str());
    forget(temp_);
  }
}

void AtomicOutput::fail(const std::string& what) const { throw Failure("can't write " + shown_ + ": " + what); }

void AtomicOutput::put(const unsigned char* p, std::size_t n) {
  putAll(fd_, p, n,
         staging_.empty() ? "can't write " + shown_
                          : "can't write the temporary copy of " + shown_ + " in " + staging_);
}

void AtomicOutput::patch(std::uint64_t offset, const unsigned char* p, std::size_t n) {
  if (const int failure = writeAllAt(fd_, p, n, offset)) fail(writeFailure(failure));
}

void AtomicOutput::commit() {
  if (!staging_.empty()) {
    // The staged copy, from its start, to its descriptor.
    std::vector<unsigned char> buf(std::size_t{64} * 1024);
    if (::lseek(fd_, 0, SEEK_SET) != 0) fail(std::strerror(errno));
    for (;;) {
      const ssize_t r = ::read(fd_, buf.data(), buf.size());
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) throw Failure("can't read the temporary copy of " + shown_ + " in " + staging_ + ": " + std::strerror(errno));
      if (r == 0) break;
      putAll(target_, buf.data(), static_cast<std::size_t>(r), "can't write " + shown_);
    }
    return;
  }
  if (replacing_) {
    // NOTE: the owner first: a change of owner clears the set-id bits.
    if (::fchown(fd_, uid_, gid_) != 0 && errno != EPERM) fail(std::strerror(errno));
    if (::fchmod(fd_, static_cast<mode_t>(mode_)) != 0) fail(std::strerror(errno));
  } else if (::fchmod(fd_, newFileMode()) != 0) {
    fail(std::strerror(errno));
  }
  trace("fsync");
  if (::fsync(fd_) != 0) fail(std::strerror(errno));
  const int fd = fd_;
  fd_ = -1;
  trace("close");
  if (::close(fd) != 0) fail(std::strerror(errno));
  trace("publish");
  publish();
  const SignalsHeld held;
  forget(temp_);
  temp_.clear();
  const std::size_t slash = path_.rfind('/');
  trace("sync folder");
  syncFolder(slash == std::string::npos ? "" : path_.substr(0, slash + 1));
}

void AtomicOutput::publish() {
  if (force_) {
    if (::rename(temp_.c_str(), path_.c_str()) != 0) fail(std::strerror(errno));
    return;
  }
  const std::string exists = shown_ + " exists; use --force to replace it";
  if (::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno == EEXIST) throw Failure(exists);
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) fail(std::strerror(errno));
  // A file system that cannot rename without replacing: a second name
  // refuses an existing OUT just as well.
  if (::link(temp_.c_str(), path_.c_str()) == 0) {
    ::unlink(temp_.c_str());
    return;
  }
  if (errno == EEXIST) throw Failure(exists);
  if (errno != EPERM && errno != EOPNOTSUPP) fail(std::strerror(errno));
  // NOTE: nor hard links (FAT): only a check just before the rename is left.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0) throw Failure(exists);
  if (::rename(temp_.c_str(), path_.c_str()) != 0) fail(std::strerror(errno));
}

void AtomicOutput::setCommitTrace(CommitTrace trace) { commit_trace = trace; }

void AtomicOutput::writeFile(const std::string& path, std::string_view bytes, bool force) {
  AtomicOutput out(path, force);
  out.put(bytes);
  out.commit();
}

}  // namespace lumbra::kit
