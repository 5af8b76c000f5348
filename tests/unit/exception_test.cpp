#include "kova/exception.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "kova/error_codes.h"
#include "recording_probe.h"

using kova::Exception;
using kova::mem_pool;
using kova::sh_ptr;
using kova::sh_str;
using kova::src_pos;
using lumbra_test::recording_probe;

namespace {

std::string str(const sh_str& s) { return std::string(s->data(), s->size()); }

static_assert(std::is_abstract_v<kova::MsgException>);
static_assert(std::is_abstract_v<kova::ExternException>);

class Exceptions : public lumbra_test::pool_test {
 protected:
  const src_pos pos{"ruzorid/src/x.cpp", 42};
};

TEST_F(Exceptions, TextFormsOfEveryClass) {
  using make_fn = std::function<sh_ptr<Exception>(mem_pool&)>;
  struct row {
    const char* what;
    make_fn make;
    const char* text;
  };
  const src_pos neg{"a.cpp", -7};
  const row rows[] = {
      {"plain", [&](mem_pool& p) { return kova::newException(p, pos, "boom"); },
       "kova::Exception [ruzorid/src/x.cpp:42], message: boom"},
      {"empty message", [&](mem_pool& p) { return kova::newException(p, pos, ""); },
       "kova::Exception [ruzorid/src/x.cpp:42], message: "},
      {"line feed and quote kept",
       [&](mem_pool& p) { return kova::newException(p, pos, "a\"b\nc"); },
       "kova::Exception [ruzorid/src/x.cpp:42], message: a\"b\nc"},
      {"error code 0", [&](mem_pool& p) { return kova::newErrorException(p, pos, "m", 0); },
       "kova::ErrorException [ruzorid/src/x.cpp:42], errorCode=0:\"No error\", message: m"},
      {"error code 38 keeps its blank",
       [&](mem_pool& p) { return kova::newErrorException(p, pos, "m", 38); },
       "kova::ErrorException [ruzorid/src/x.cpp:42], errorCode=38:\"Network is down \", message: m"},
      {"error code outside the table",
       [&](mem_pool& p) { return kova::newErrorException(p, pos, "m", -5); },
       "kova::ErrorException [ruzorid/src/x.cpp:42], errorCode=-5:\"Unknown error\", message: m"},
      {"file error",
       [&](mem_pool& p) {
         return kova::newFileErrorException(p, pos, "Can't open file", 45, "file.ext");
       },
       "kova::FileErrorException [ruzorid/src/x.cpp:42], errorCode=45:\"No such file or "
       "directory\", fileName=\"file.ext\", message: Can't open file"},
      {"exit, negative numbers",
       [&](mem_pool& p) { return kova::newExitMsgException(p, neg, "usage", -3); },
       "kova::ExitMsgException [a.cpp:-7], exitCode=-3, message: usage"},
      {"standard extern",
       [&](mem_pool& p) {
         return kova::newStdExternException(p, pos, "std::bad_alloc", "St9bad_alloc");
       },
       "kova::StdExternException [ruzorid/src/x.cpp:42], typeName=\"St9bad_alloc\", message: "
       "std::bad_alloc"},
      {"unknown extern",
       [&](mem_pool& p) { return kova::newUnknExternException(p, pos, "Unknown exception"); },
       "kova::UnknExternException [ruzorid/src/x.cpp:42], typeName=\"unknown\", message: Unknown "
       "exception"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    sh_ptr<Exception> e = r.make(pool);
    sh_str text = e->toText();
    EXPECT_EQ(str(text), r.text);
    EXPECT_EQ(&text.pool(), &pool);
    // Without a cause, the chain is the one line.
    EXPECT_EQ(str(kova::chainText(e)), r.text);
    // Every factory gives back all it took when any allocation fails.
    lumbra_test::expect_no_leak_on_any_failure([&](mem_pool& p) { (void)r.make(p); });
  }
}

TEST_F(Exceptions, ANestedExceptionLivesInThePoolOfItsCause) {
  mem_pool other(16384, 1024);
  recording_probe other_probe(other);
  {
    sh_ptr<Exception> cause = kova::newException(other, pos, "cause");
    const auto before = probe.live_blocks();
    sh_ptr<Exception> e = kova::newErrorException(pos, "outer", 2, cause);
    EXPECT_EQ(probe.live_blocks(), before);
    EXPECT_EQ(&e.pool(), &other);
    EXPECT_EQ(&e->toText().pool(), &other);
    EXPECT_EQ(e->nested.get(), cause.get());
    EXPECT_EQ(cause.use_count(), 2);
  }
  EXPECT_EQ(other_probe.live_blocks(), 0u);
}

TEST_F(Exceptions, NestedFactoriesLoseNothingOnFailure) {
  lumbra_test::expect_no_leak_on_any_failure([&](mem_pool& p) {
    sh_ptr<Exception> c = kova::newUnknExternException(p, pos, "c");
    c = kova::newStdExternException(pos, "s", "t", c);
    c = kova::newExitMsgException(pos, "x", 1, c);
    c = kova::newFileErrorException(pos, "f", 45, "n", c);
    c = kova::newErrorException(pos, "e", 8, c);
    c = kova::newException(pos, "m", c);
    (void)kova::chainText(c);
  });
}

// A chain lists its exceptions outermost first, one a line; a chain of
// nothing is empty, in the pool of the empty value.
TEST_F(Exceptions, ChainsOutermostFirst) {
  sh_ptr<Exception> c = kova::newErrorException(pool, src_pos{"c.cpp", 3}, "C", 45);
  sh_ptr<Exception> b = kova::newException(src_pos{"b.cpp", 2}, "B", c);
  sh_ptr<Exception> a = kova::newExitMsgException(src_pos{"a.cpp", 1}, "A", 1, b);
  EXPECT_EQ(str(kova::chainText(a)),
            "kova::ExitMsgException [a.cpp:1], exitCode=1, message: A\n"
            "kova::Exception [b.cpp:2], message: B\n"
            "kova::ErrorException [c.cpp:3], errorCode=45:\"No such file or directory\", "
            "message: C");
  sh_str none = kova::chainText(sh_ptr<Exception>(pool));
  EXPECT_EQ(none->size(), 0);
  EXPECT_EQ(&none.pool(), &pool);
}

TEST_F(Exceptions, ThrownAndCaughtAsSharedPointerWithTheRaisingLine) {
  int line = 0;
  try {
    line = __LINE__ + 1;
    throw kova::newExitMsgException(pool, KOVA_SRC_POS, "bye", 1);
  } catch (const sh_ptr<Exception>& e) {
    EXPECT_STREQ(e->src_pos.path, "tests/unit/exception_test.cpp");
    EXPECT_EQ(e->src_pos.line, line);
    auto* x = dynamic_cast<kova::ExitMsgException*>(e.get());
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->exitCode, 1);
  }
}

// recatch gives our own exception back as it was thrown, and wraps anything
// else: a standard exception by its raw type name, the rest as unknown.
TEST_F(Exceptions, RecatchKeepsOursAndWrapsTheRest) {
  sh_ptr<Exception> ours = kova::newException(pool, pos, "ours");
  try {
    throw ours;
  } catch (...) {
    sh_ptr<Exception> e = kova::recatch(pool, pos);
    EXPECT_EQ(e.get(), ours.get());
    EXPECT_EQ(ours.use_count(), 3);  // ours, the thrown copy, the result
  }
  struct row {
    std::function<void()> raise;
    const char* text;
  };
  const row rows[] = {
      {[] { throw std::bad_alloc(); },
       "kova::StdExternException [main:186], typeName=\"St9bad_alloc\", message: std::bad_alloc"},
      {[] { throw std::runtime_error("went wrong"); },
       "kova::StdExternException [main:186], typeName=\"St13runtime_error\", message: went wrong"},
      {[] { throw 17; }, "kova::UnknExternException [main:186], typeName=\"unknown\", message: Unknown exception"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.text);
    try {
      r.raise();
    } catch (...) {
      EXPECT_EQ(str(kova::recatch(pool, src_pos{"main", 186})->toText()), r.text);
    }
  }
}

TEST(ErrorCodes, ErrnoMapping) {
  struct row {
    int e, code;
  };
  const row rows[] = {
      {0, 0}, {ENOENT, 45}, {EBADF, 8}, {EEXIST, 20}, {EILSEQ, 25}, {EXDEV, 80},
      // Texts exist for these, but the mapping has no entry.
      {ETXTBSY, 78}, {EADDRINUSE, 78}, {-1, 78}, {INT_MIN, 78},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.e);
    EXPECT_EQ(kova::codeFromErrno(r.e), r.code);
  }
  // Exactly 0 and 38 names have codes of their own, all distinct.
  int mapped = 0;
  bool seen[81] = {};
  for (int e = 0; e < 4096; ++e) {
    int c = kova::codeFromErrno(e);
    ASSERT_TRUE(c >= 0 && c <= 80);
    if (c == 78) continue;
    EXPECT_FALSE(seen[c]) << "code " << c << " twice";
    seen[c] = true;
    ++mapped;
  }
  EXPECT_EQ(mapped, 39);
}

TEST(ErrorCodes, Texts) {
  mem_pool pool(16384, 1024);
  recording_probe probe(pool);
  struct row {
    int code;
    const char* text;
  };
  const row rows[] = {
      {0, "No error"},       {38, "Network is down "}, {80, "Cross-device link"},
      {81, "Unknown error"}, {-1, "Unknown error"},    {INT_MIN, "Unknown error"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.code);
    EXPECT_STREQ(kova::errorTextOf(r.code), r.text);
    EXPECT_EQ(str(kova::errorText(pool, r.code)), r.text);
  }
  EXPECT_EQ(probe.live_blocks(), 0u);
}

}  // namespace
