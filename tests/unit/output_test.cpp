#include "output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>

#include "kova/error_codes.h"
#include "recording_probe.h"

using kova::mem_pool;
using lumbra::output_file;

namespace {

constexpr int capacity = 64 * 1024;

std::string random_text(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

int write_text(output_file& out, const std::string& s) { return out.tryWrite(s.data(), static_cast<int>(s.size())); }

// Everything that can be read from fd now, without waiting.
std::string drain(int fd) {
  std::string got;
  char buf[4096];
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) {
    const ssize_t r = ::read(fd, buf, sizeof buf);
    if (r <= 0) break;
    got.append(buf, static_cast<std::size_t>(r));
  }
  return got;
}

// Bytes stay collected up to exactly 64 KiB; the next write sends them on
// first, a write larger than the buffer goes straight through after them,
// and the last bytes go when the handle does: every byte, in order.
TEST(OutputFile, CollectsUpTo64KiBAndKeepsEveryByteInOrder) {
  mem_pool pool(16384, 1024);
  lumbra_test::recording_probe probe(pool);
  char path[] = "/tmp/lumbra_output_XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  auto on_disk = [&] {
    struct stat st {};
    ::fstat(fd, &st);
    return static_cast<long>(st.st_size);
  };
  std::string all;
  {
    output_file out(pool, fd);
    struct step {
      std::size_t size;
      long on_disk_after;
    } steps[] = {{capacity - 1, 0}, {1, 0}, {1, capacity}, {3 * capacity + 5, 4 * capacity + 6}, {10, 4 * capacity + 6}};
    for (const step& s : steps) {
      SCOPED_TRACE(s.size);
      const std::string piece = random_text(s.size, static_cast<unsigned>(s.size));
      EXPECT_EQ(write_text(out, piece), static_cast<int>(s.size));
      all += piece;
      EXPECT_EQ(on_disk(), s.on_disk_after);
    }
    EXPECT_EQ(out.writeError(), 0);
  }
  EXPECT_EQ(probe.live_blocks(), 0u);
  std::string back(all.size() + 1, '\0');
  EXPECT_EQ(::pread(fd, back.data(), back.size(), 0), static_cast<ssize_t>(all.size()));
  back.resize(all.size());
  EXPECT_TRUE(back == all);
  ::close(fd);
  ::unlink(path);
}

// A pipe that takes only part of a write: the rest is tried again at once,
// and its failure is the one kept. Nothing more is written after it, even
// when the pipe has room again, and every later write says -1.
TEST(OutputFile, ShortWritesAreContinuedAndTheFirstFailureIsKept) {
  mem_pool pool(16384, 1024);
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  const int room = ::fcntl(p[1], F_SETPIPE_SZ, 4096);
  ASSERT_GT(room, 0);
  ASSERT_EQ(::fcntl(p[1], F_SETFL, O_NONBLOCK), 0);
  {
    output_file out(pool, p[1]);
    const std::string data = random_text(static_cast<std::size_t>(room) + 5000, 7);
    EXPECT_EQ(write_text(out, data), static_cast<int>(data.size()));  // collected
    out.flush();
    EXPECT_EQ(out.writeError(), kova::codeFromErrno(EAGAIN));
    EXPECT_TRUE(drain(p[0]) == data.substr(0, static_cast<std::size_t>(room)));
    EXPECT_EQ(out.tryWrite("x", 1), -1);
    out.flush();
    EXPECT_EQ(drain(p[0]), "");
    EXPECT_EQ(out.writeError(), kova::codeFromErrno(EAGAIN));
  }
  ::close(p[0]);
  ::close(p[1]);
}

// On a terminal nothing is held back.
TEST(OutputFile, TerminalWritesGoStraightThrough) {
  mem_pool pool(16384, 1024);
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) GTEST_SKIP() << "no pseudo-terminal here";
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios t{};
  ASSERT_EQ(::tcgetattr(slave, &t), 0);
  ::cfmakeraw(&t);  // no line-end translation
  ASSERT_EQ(::tcsetattr(slave, TCSANOW, &t), 0);
  {
    output_file out(pool, slave);
    EXPECT_EQ(out.tryWrite("line\n", 5), 5);
    pollfd pf{master, POLLIN, 0};
    ASSERT_EQ(::poll(&pf, 1, 5000), 1);
    EXPECT_EQ(drain(master), "line\n");
  }
  ::close(slave);
  ::close(master);
}

}  // namespace
