#include "bitstm.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kova/exception.h"
#include "kova/file.h"
#include "recording_probe.h"

using kova::mem_pool;
using lumbra::BitReader;

namespace {

using bits = std::vector<bool>;

bits B(const char* s) {
  bits v;
  for (; *s; ++s) v.push_back(*s == '1');
  return v;
}

class BitReaderTest : public ::testing::Test {
 protected:
  // A temporary file holding `bytes`, opened for reading.
  kova::file& open_with(const std::string& bytes) {
    char name[] = "/tmp/lumbra-bitstm-XXXXXX";
    int fd = mkstemp(name);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    path = name;
    in.emplace(pool, kova::ch_range(name), kova::rd, 0);
    return *in;
  }
  // The blocks of size n up to and including the first empty one.
  std::vector<bits> blocks(BitReader& r, int n) {
    std::vector<bits> out;
    bits vb;
    do {
      r.read(n, vb);
      out.push_back(vb);
    } while (!vb.empty() && out.size() < 100000);
    return out;
  }
  void TearDown() override {
    in.reset();
    if (!path.empty()) unlink(path.c_str());
    EXPECT_EQ(probe.live_blocks(), 0u);
  }

  mem_pool pool{16384, 1024};
  lumbra_test::recording_probe probe{pool};
  std::optional<kova::file> in;  // destroyables are never deleted
  std::string path;
};

TEST_F(BitReaderTest, BlocksCarryTheBitsThatAByteBoundaryCuts) {
  struct row {
    std::string bytes;
    int n;
    std::vector<bits> expected;
  } rows[] = {
      {"\x0f\x55", 8, {B("00001111"), B("01010101"), B("")}},
      {"\x0f\x55", 5, {B("00001"), B("11101"), B("01010"), B("1"), B("")}},
      {"\xa5", 3, {B("101"), B("001"), B("01"), B("")}},
      {"\xa5\x3c\xff", 10, {B("1010010100"), B("1111001111"), B("1111"), B("")}},
      {"", 8, {B("")}},
      {"\x80", 1, {B("1"), B("0"), B("0"), B("0"), B("0"), B("0"), B("0"), B("0"), B("")}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.n);
    BitReader reader(open_with(r.bytes));
    EXPECT_EQ(blocks(reader, r.n), r.expected);
    in.reset();
    unlink(path.c_str());
    path.clear();
  }
}

TEST_F(BitReaderTest, ExhaustedStreamKeepsGivingEmptyBlocks) {
  BitReader reader(open_with("\xff"));
  bits vb;
  reader.read(8, vb);
  EXPECT_EQ(vb.size(), 8u);
  for (int i = 0; i < 3; ++i) {
    reader.read(8, vb);
    EXPECT_TRUE(vb.empty());
  }
}

TEST_F(BitReaderTest, PipeDeliveringSmallPiecesStillGivesWholeBlocks) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string data = "\x0f\x55\xd0\x01\x02\x03\x04";
  std::thread writer([&] {
    for (char c : data) {
      EXPECT_EQ(write(fds[1], &c, 1), 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    close(fds[1]);
  });
  kova::file end(pool, fds[0]);
  BitReader reader(end);
  std::vector<bits> got = blocks(reader, 24);
  writer.join();
  close(fds[0]);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].size(), 24u);
  EXPECT_EQ(got[1].size(), 24u);
  EXPECT_EQ(got[2].size(), 8u);  // 56 bits in all
  EXPECT_TRUE(got[3].empty());
  EXPECT_EQ(got[0], B("000011110101010111010000"));
}

TEST_F(BitReaderTest, FailedReadRaisesLeavesTheBlockEmptyAndKeepsCarriedBits) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "\xa5", 1), 1);
  kova::file src(pool, fds[0]);
  BitReader reader(src);
  bits vb;
  reader.read(5, vb);  // 10100, carrying 101
  EXPECT_EQ(vb, B("10100"));

  int dir = open("/tmp", O_RDONLY);  // reading a directory fails
  ASSERT_GE(dir, 0);
  src.attach(dir);
  try {
    reader.read(8, vb);
    ADD_FAILURE() << "no exception";
  } catch (const kova::sh_ptr<kova::Exception>& e) {
    auto* fe = dynamic_cast<kova::FileErrorException*>(e.get());
    ASSERT_NE(fe, nullptr);
    EXPECT_EQ(fe->errorCode, 31);
  }
  EXPECT_TRUE(vb.empty());

  src.attach(fds[0]);
  ASSERT_EQ(write(fds[1], "\xff", 1), 1);
  close(fds[1]);
  reader.read(8, vb);
  EXPECT_EQ(vb, B("10111111"));  // the carried 101, then the new byte
  close(dir);
  close(fds[0]);
}

TEST(BitReaderDeathTest, BlockSizeMustBePositive) {
  mem_pool pool(16384, 1024);
  kova::file closed(pool);
  BitReader reader(closed);
  bits vb;
  EXPECT_DEATH(reader.read(0, vb), "Hard assertion failed: n>0, file common/bitstm.cpp");
}

}  // namespace
