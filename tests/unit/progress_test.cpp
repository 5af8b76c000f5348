#include "progress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <string>

namespace {

using lumbra::kit::Progress;

// Everything written to the terminal so far, as its reader gets it.
std::string drain(int master) {
  std::string got;
  char buf[4096];
  ssize_t r;
  while ((r = ::read(master, buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(r));
  return got;
}

// On a terminal the line shows once the total is known, is rewritten in
// place, then wiped. That nothing shows in a file or when quiet is pinned end
// to end by kit_progress_terminal.
TEST(Progress, ShowsOnATerminalOnlyAndWipesItsLine) {
  int master, slave;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  {
    Progress p(false, slave, std::chrono::nanoseconds(0));
    p.update(1, 0);  // total not known: nothing
    p.update(250, 1000);
    p.update(1000, 1000);
    p.count("laws", 381, 1025, "(m, k)");
  }
  const std::string got = drain(master);
  EXPECT_EQ(got.find('\n'), std::string::npos) << got;
  EXPECT_NE(got.find("\r 25%  "), std::string::npos) << got;
  EXPECT_NE(got.find("\r100%  "), std::string::npos) << got;
  EXPECT_NE(got.find(" MB/s  0:00 left"), std::string::npos) << got;
  EXPECT_NE(got.find("\r 37%  laws 381 of 1025 (m, k)"), std::string::npos) << got;
  const std::size_t last = got.rfind('\r', got.size() - 2);
  EXPECT_EQ(got.substr(last), "\r" + std::string(got.size() - last - 2, ' ') + "\r") << got;
  ::close(slave);
  ::close(master);
}

}  // namespace
