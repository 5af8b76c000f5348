// The one writer of lumbra-kit's files: what it keeps, what it replaces and
// what it leaves behind when it cannot finish.
#include "atomic_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app.h"

namespace {

namespace fs = std::filesystem;
using lumbra::kit::AtomicOutput;
using lumbra::kit::Failure;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void spit(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

class AtomicOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("atomic_output_test." + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    // Whatever happened, no temporary file stays beside OUT.
    for (const auto& e : fs::directory_iterator(dir_))
      EXPECT_EQ(e.path().filename().string().find("partial"), std::string::npos) << e.path();
    fs::remove_all(dir_);
  }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

// An OUT that appears while the output is written is kept: the check at the
// start is not all that stands between it and the rename.
TEST_F(AtomicOutputTest, KeepsAnOutThatAppearsBeforeTheRename) {
  const std::string out = path("out");
  {
    AtomicOutput w(out, false);
    w.put("new bytes");
    spit(out, "theirs");
    try {
      w.commit();
      ADD_FAILURE() << "committed over a file that appeared";
    } catch (const Failure& e) {
      EXPECT_EQ(std::string(e.what()), out + " exists; use --force to replace it");
    }
  }
  EXPECT_EQ(slurp(out), "theirs");
  EXPECT_THROW(AtomicOutput(out, false), Failure);
  AtomicOutput::writeFile(path("fresh"), "complete", false);
  EXPECT_EQ(slurp(path("fresh")), "complete");
}

// --force replaces a regular file and keeps its mode.
TEST_F(AtomicOutputTest, ForceKeepsTheModeOfTheFileItReplaces) {
  for (const mode_t mode : {0600, 0640, 0755}) {
    const std::string out = path("keep");
    spit(out, "old");
    ASSERT_EQ(::chmod(out.c_str(), mode), 0);
    AtomicOutput::writeFile(out, "new", true);
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_EQ(slurp(out), "new");
  }
}

// A new file gets 0666 less the umask, and the umask is read, never set:
// setting it to learn it, even for an instant, would give a file that
// another thread creates meanwhile the mode 0666. umask() below stands for
// the C library's in this program and counts its calls.
std::atomic<int> umask_calls{0};

TEST_F(AtomicOutputTest, NewFilesTakeTheUmaskWithoutSettingIt) {
  for (const mode_t mask : {022, 077, 002}) {
    const mode_t before = ::umask(mask);
    const int calls = umask_calls;
    const std::string out = path("fresh");
    AtomicOutput::writeFile(out, "new", false);
    EXPECT_EQ(umask_calls - calls, 0) << "the umask was set while a file was written";
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
    fs::remove(out);
    ::umask(before);
  }
}

// The bytes reach the disk before the file takes OUT's name, and the folder
// after: the steps of commit() in order, for a new OUT and one replaced with
// --force, each time with OUT still as it was until the publishing step.
std::vector<std::string> steps;
std::string watched;
void recordStep(const char* step) { steps.push_back(std::string(step) + ": " + (fs::exists(watched) ? slurp(watched) : "none")); }

TEST_F(AtomicOutputTest, FlushesToTheDiskBeforeTheRename) {
  watched = path("synced");
  AtomicOutput::setCommitTrace(recordStep);
  AtomicOutput::writeFile(watched, "first", false);
  EXPECT_EQ(steps, (std::vector<std::string>{"fsync: none", "close: none", "publish: none", "sync folder: first"}));
  steps.clear();
  AtomicOutput::writeFile(watched, "second", true);
  AtomicOutput::setCommitTrace(nullptr);
  EXPECT_EQ(steps,
            (std::vector<std::string>{"fsync: first", "close: first", "publish: first", "sync folder: second"}));
  EXPECT_EQ(slurp(watched), "second");
}

// An OUT that is no regular file is written to, never replaced: a FIFO
// (anyone may make one) and, as root, a character device made here.
TEST_F(AtomicOutputTest, WritesDevicesAndFifosInPlace) {
  const std::string fifo = path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string got;
  std::thread reader([&] { got = slurp(fifo); });
  AtomicOutput::writeFile(fifo, "through the pipe", true);
  reader.join();
  EXPECT_EQ(got, "through the pipe");
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // The device numbers of the null device, under this test's own folder.
  const std::string device = path("device");
  if (::mknod(device.c_str(), S_IFCHR | 0600, ::makedev(1, 3)) != 0) GTEST_SKIP() << "mknod needs root";
  AtomicOutput::writeFile(device, "into the device", true);
  AtomicOutput::writeFile(device, "and again", false);
  ASSERT_EQ(::lstat(device.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// A file system that fills up: the failure is reported and nothing is left,
// neither OUT nor the temporary file.
TEST_F(AtomicOutputTest, AFullFileSystemLeavesNothing) {
  const std::string mount = path("small");
  fs::create_directories(mount);
  if (::geteuid() != 0 || ::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "a small tmpfs needs root";
  const std::string out = mount + "/out";
  try {
    AtomicOutput w(out, false);
    const std::string piece(4096, 'x');
    for (int i = 0; i < 64; ++i) w.put(piece);
    w.commit();
    ADD_FAILURE() << "256 KiB fitted into 64 KiB";
  } catch (const Failure& e) {
    EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(fs::is_empty(mount));
  ::umount2(mount.c_str(), MNT_DETACH);
}

}  // namespace

// The C library's umask, counted (see NewFilesTakeTheUmaskWithoutSettingIt).
extern "C" mode_t umask(mode_t mask) noexcept {
  ++umask_calls;
  return static_cast<mode_t>(::syscall(SYS_umask, mask));
}
