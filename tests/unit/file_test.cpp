#include "kova/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "kova/exception.h"
#include "recording_probe.h"

using kova::file;
using kova::mem_pool;
using kova::sh_ptr;
using kova::sh_str;

namespace {

std::string str(const sh_str& s) { return std::string(s->data(), s->size()); }

bool fd_is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

// The lowest free descriptor: it moves if a test leaves one open.
int lowest_free_fd() {
  int fd = ::dup(0);
  ::close(fd);
  return fd;
}

// Runs `op`, which must raise; returns what it raised as a FileErrorException.
struct raised {
  int errorCode = -1, line = -1;
  std::string fileName, message, path, text;
};
raised catch_file_error(const std::function<void()>& op) {
  raised r;
  try {
    op();
    ADD_FAILURE() << "nothing raised";
  } catch (const sh_ptr<kova::Exception>& e) {
    auto* fe = dynamic_cast<kova::FileErrorException*>(e.get());
    if (!fe) {
      ADD_FAILURE() << "not a FileErrorException: " << str(e->toText());
      return r;
    }
    r.errorCode = fe->errorCode;
    r.fileName = str(fe->fileName);
    r.message = str(fe->message);
    r.path = fe->src_pos.path;
    r.line = fe->src_pos.line;
    r.text = str(e->toText());
  }
  return r;
}

class Files : public lumbra_test::pool_test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "kova_file_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir = tmpl + "/";
    fd_mark = lowest_free_fd();
  }
  void TearDown() override {
    std::filesystem::remove_all(dir);
    pool_test::TearDown();
    EXPECT_EQ(lowest_free_fd(), fd_mark) << "a descriptor was left open";
  }
  // A file of that content in the test's directory; returns its path.
  std::string make(const char* name, const std::string& content) {
    std::string p = dir + name;
    file f(pool, p.c_str(), kova::wr, kova::open_create | kova::open_trunc);
    EXPECT_EQ(f.write(content.data(), int(content.size())), int(content.size()));
    return p;
  }

  std::string dir;
  int fd_mark = -1;
};

// Each raise names a fixed line of the handle's source, whatever line the
// raising statement stands on, with its own message, the code of the failure
// and the name of the file (the requested one where the handle has none).
// The text of the whole exception is pinned end to end by the command-line
// cases showFile_missing_file and showFile_directory.
TEST_F(Files, EveryRaiseCarriesItsLineMessageCodeAndName) {
  file closed(pool);
  const std::string missing = dir + "missing";
  char c = 0;
  sh_str t = kova::new_str(pool, 0);
  struct row {
    const char* op;
    int line, code;
    const char* message;
    std::string fileName;
    std::function<void()> f;
  } rows[] = {
      {"checkError", 151, 8, "File error", "", [&] { closed.tryClose(), closed.checkError(); }},
      {"open", 160, 45, "Can't open file", missing, [&] { closed.open(missing.c_str(), kova::rd, 0); }},
      {"open by constructor", 160, 45, "Can't open file", missing,
       [&] { file g(pool, missing.c_str(), kova::rd, 0); }},
      {"open by factory", 160, 45, "Can't open file", missing,
       [&] { kova::newFile(pool, missing.c_str(), kova::rd, 0); }},
      {"close", 169, 8, "Can't close file", "", [&] { closed.close(); }},
      {"attach", 178, 8, "Can't attach to \"-1\"", "", [&] { closed.attach(-1); }},
      {"attach by constructor", 178, 8, "Can't attach to \"-1\"", "", [&] { file g(pool, -1); }},
      {"read", 195, 8, "Can't read from file", "", [&] { closed.read(&c, 1); }},
      {"read into a text", 206, 8, "Can't read from file", "", [&] { closed.read(t, 1); }},
      {"write", 217, 8, "Can't write to file", "", [&] { closed.write(&c, 1); }},
      {"tell", 228, 8, "Can't tell on file", "", [&] { closed.tell(); }},
      {"seek", 239, 8, "Can't seek on file", "", [&] { closed.seek(0, kova::seek_set); }},
      {"remove", 306, 45, "Can't remove file", missing, [&] { file::remove(pool, missing.c_str()); }},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.op);
    raised e = catch_file_error(r.f);
    EXPECT_EQ(e.path, "ruzorid/src/file.cpp");
    EXPECT_EQ(e.line, r.line);
    EXPECT_EQ(e.errorCode, r.code);
    EXPECT_EQ(e.message, r.message);
    EXPECT_EQ(e.fileName, r.fileName);
  }
  EXPECT_EQ(str(closed.name()), "");
  EXPECT_EQ(closed.fd(), -1);
}

// The non-raising twins report the code of the failure and leave the handle
// as it was; a zero count makes no call and clears the error.
TEST_F(Files, TwinsThatDoNotRaise) {
  const std::string p = make("a", "x"), missing = dir + "missing";
  file f(pool);
  char c;
  EXPECT_FALSE(f.tryOpen(missing.c_str(), kova::rd, 0));
  EXPECT_EQ(f.lastError(), 45);
  EXPECT_FALSE(f.tryOpen(p.c_str(), kova::rdwr, kova::open_create | kova::open_excl));
  EXPECT_EQ(f.lastError(), 20);
  EXPECT_EQ(f.tryRead(&c, 1), -1);
  EXPECT_EQ(f.lastError(), 8);  // a closed handle: the call is made on -1
  EXPECT_EQ(f.tryRead(&c, 0), 0);
  EXPECT_EQ(f.lastError(), 0);
  EXPECT_EQ(f.tryWrite(&c, 1), -1);
  EXPECT_EQ(f.tryWrite(&c, 0), 0);
  EXPECT_EQ(f.lastError(), 0);
  EXPECT_FALSE(f.tryAttach(-1));
  EXPECT_EQ(f.lastError(), 8);
  EXPECT_FALSE(f.tryClose());
  EXPECT_EQ(f.fd(), -1);
  EXPECT_EQ(file::tryRemove(pool, p.c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(p));
  EXPECT_EQ(file::tryRemove(pool, p.c_str()), 45);
}

TEST_F(Files, CreatedFilesAreForTheOwnerOnly) {
  mode_t old = ::umask(0);
  std::string p = make("a", "");
  ::umask(old);
  struct stat st;
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Files, ReadsAtAndNearTheEnd) {
  std::string p = make("a", "hello world");
  file f(pool, p.c_str(), kova::rd, 0);
  EXPECT_TRUE(f.owns());
  EXPECT_EQ(str(f.name()), p);
  char buf[64];
  EXPECT_EQ(f.read(buf, 5), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(f.read(buf, 64), 6);  // fewer left than asked: no failure
  EXPECT_EQ(f.read(buf, 64), 0);  // the end: no failure either
  EXPECT_EQ(f.lastError(), 0);
  f.checkError();
  // Into a text: replaced, not appended to.
  ASSERT_EQ(f.seek(0, kova::seek_set), 0);
  sh_str t = kova::new_str(pool, "old contents");
  EXPECT_EQ(f.read(t, 4), 4);
  EXPECT_EQ(str(t), "hell");
  EXPECT_EQ(f.read(t, 100), 7);
  EXPECT_EQ(str(t), "o world");
  EXPECT_EQ(f.read(t, 100), 0);
  EXPECT_EQ(str(t), "");
}

TEST_F(Files, FlagsAccessModesAndSeeks) {
  std::string p = make("a", "abc");
  {
    file f(pool, p.c_str(), kova::rdwr, kova::open_append);
    EXPECT_EQ(f.write("de", 2), 2);
    EXPECT_EQ(f.tell(), 5);
  }
  {
    // An access outside 0..2 reads only.
    file f(pool, p.c_str(), 5, 0);
    EXPECT_EQ(f.tryWrite("x", 1), -1);
    EXPECT_EQ(f.lastError(), 8);
    EXPECT_EQ(catch_file_error([&] { f.checkError(); }).fileName, p);
    EXPECT_EQ(f.seek(0, kova::seek_end), 5);
    EXPECT_EQ(f.tell(), 5);
    EXPECT_EQ(f.seek(-4, kova::seek_cur), 1);
    EXPECT_EQ(f.seek(3, 9), 3);  // an origin outside 0..2 counts from the start
    EXPECT_EQ(f.trySeek(-1, kova::seek_set), -1);
    EXPECT_EQ(f.lastError(), 28);
  }
  { file truncating(pool, p.c_str(), kova::wr, kova::open_trunc); }
  EXPECT_EQ(std::filesystem::file_size(p), 0u);
}

TEST_F(Files, PositionsBeyond32BitsAreRefused) {
  std::string p = make("big", "");
  ASSERT_EQ(::truncate(p.c_str(), 3LL << 30), 0);  // sparse: nothing is written
  file f(pool, p.c_str(), kova::rd, 0);
  EXPECT_EQ(f.trySeek(0, kova::seek_end), -1);
  EXPECT_EQ(f.lastError(), 64);
  EXPECT_EQ(catch_file_error([&] { f.tell(); }).errorCode, 64);
}

TEST_F(Files, SystemFailuresAreRaised) {
  {
    file d(pool, dir.c_str(), kova::rd, 0);
    sh_str t = kova::new_str(pool, 0);
    EXPECT_EQ(catch_file_error([&] { d.read(t, 1); }).errorCode, 31);
  }
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    file f(pool, fds[0]);
    raised r = catch_file_error([&] { f.tell(); });
    EXPECT_EQ(r.errorCode, 72);
    EXPECT_EQ(r.fileName, "(attached to " + std::to_string(fds[0]) + ")");
    // An attached handle stays as it was when attaching fails.
    EXPECT_EQ(catch_file_error([&] { f.attach(-2); }).message, "Can't attach to \"-2\"");
    EXPECT_EQ(f.fd(), fds[0]);
  }
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST_F(Files, DestroyingAnAttachedHandleLeavesTheDescriptorOpen) {
  int fd = ::dup(1);
  {
    sh_ptr<file> f = kova::newFile(pool, fd);
    EXPECT_FALSE(f->owns());
    EXPECT_EQ(str(f->name()), "(attached to " + std::to_string(fd) + ")");
  }
  EXPECT_TRUE(fd_is_open(fd));
  ::close(fd);
}

TEST_F(Files, ClosingAnAttachedHandle) {
  int fd = ::dup(1);
  file f(pool, fd);
  f.close();  // attached, and closed all the same
  EXPECT_FALSE(fd_is_open(fd));
  EXPECT_EQ(f.fd(), -1);
  EXPECT_EQ(str(f.name()), "");
}

TEST_F(Files, DestroyingAnOwnedHandleWhoseCloseFailsRaisesNothing) {
  std::string p = make("a", "x");
  file* f = new (pool.alloc_for<file>()) file(pool, p.c_str(), kova::rd, 0);
  ::close(f->fd());  // behind the handle's back
  f->destroy(pool);
}

TEST_F(Files, ReopeningByItsOwnName) {
  std::string p = make("a", "abc");
  file f(pool, p.c_str(), kova::rd, 0);
  int old = f.fd();
  char buf[4];
  f.read(buf, 2);
  f.open(f.name()->range(), kova::rd, 0);  // the name lies in the handle itself
  EXPECT_EQ(str(f.name()), p);
  EXPECT_EQ(f.read(buf, 4), 3);
  ::close(old);  // opening again does not close what was held
}

TEST_F(Files, NothingLostOnAnyAllocationFailure) {
  std::string p = make("a", "abc");
  lumbra_test::expect_no_leak_on_any_failure([&](mem_pool& mp) {
    sh_ptr<file> f = kova::newFile(mp, p.c_str(), kova::rd, 0);
    sh_str t = kova::new_str(mp, 0);
    f->read(t, 10);
    f->close();
    f->attach(1);
    f->detach();
    try {
      file::remove(mp, (dir + "missing").c_str());
    } catch (const sh_ptr<kova::Exception>&) {
    }
  });
  // TearDown checks that no descriptor was left behind by a failed factory.
}

}  // namespace
