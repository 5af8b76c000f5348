// The library's one error policy (lib/guard.h): every entry point under any
// address-space limit either returns or throws, never aborts the process; a
// thread the system refuses is a ResourceError, not a file that cannot be
// read; GMP's memory functions are the caller's again after every call.
#include <dlfcn.h>
#include <gmp.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "lumbra/lumbra.h"

namespace {

namespace fs = std::filesystem;

// While set, pthread_create below refuses as a system out of threads does.
std::atomic<bool> refuse_threads{false};

std::string randomFile(const char* name, std::size_t bytes) {
  const fs::path p = fs::path(::testing::TempDir()) / (std::string(name) + "." + std::to_string(::getpid()));
  std::mt19937 rng(39);
  std::string data(bytes, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  std::ofstream(p, std::ios::binary) << data;
  return p.string();
}

// Every entry point, with work of a few MiB: what the sweep runs.
std::vector<std::pair<const char*, std::function<void()>>> entryPoints(const std::string& file) {
  std::string bits(4096, '0');
  for (std::size_t i = 0; i < bits.size(); i += 3) bits[i] = '1';
  const std::vector<double> x(3000, 1.5), y(2000, 2.5);
  std::ifstream in(file, std::ios::binary);
  const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), {});
  return {
      {"count", [] { (void)lumbra::count(200000, 100000, 60, {}); }},
      {"binomial (refused)", [] { (void)lumbra::binomial(2147483646, 1073741823); }},
      {"binomial", [] { (void)lumbra::binomial(3000000, 1500000); }},
      {"p_ones", [] { (void)lumbra::p_ones(4096, 1900); }},
      {"p_ones_exact", [] { (void)lumbra::p_ones_exact(4096, 1900); }},
      {"p_deviation", [] { (void)lumbra::p_deviation(4096, 2048, 70); }},
      {"p_deviation_exact", [] { (void)lumbra::p_deviation_exact(4096, 2048, 70); }},
      {"to_double", [] { (void)lumbra::to_double(lumbra::p_ones_exact(4096, 100)); }},
      {"BigNat", [] { (void)lumbra::BigNat::from_string(std::string(20000, '7')).to_string(); }},
      {"block_stats", [data] { (void)lumbra::block_stats(data, 4096); }},
      {"rank", [bits] { (void)lumbra::rank(bits); }},
      {"unrank", [] { (void)lumbra::unrank(4096, 2048, 100, lumbra::BigNat(123456789)); }},
      {"shape_info", [] { (void)lumbra::shape_info(1024, 16); }},
      {"shape and unshape", [] { (void)lumbra::unshape(lumbra::shape(std::string(20000, 'x'), 256, 4), 256, 4); }},
      {"ks_2samp", [x, y] { (void)lumbra::ks_2samp(x, y, lumbra::SmirnovAlternative::two_sided, true); }},
      {"test_file", [file] { (void)lumbra::test_file(file, 1024, 2, {"all"}); }},
      {"test_sizes", [file] { (void)lumbra::test_sizes(file, {64, 4096}, 2, {}); }},
  };
}

// The address space this process maps now, in bytes.
std::uint64_t mappedBytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
  return 0;
}

TEST(GuardTest, EveryEntryPointReturnsOrThrowsUnderAnyMemoryLimit) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory needs more address space than the limits leave";
#endif
  const std::string file = randomFile("guard_test_sweep", std::size_t{256} * 1024);
  const auto calls = entryPoints(file);
  const std::uint64_t base = mappedBytes();
  ASSERT_GT(base, 0u);
  for (const std::uint64_t extra : {0, 1, 2, 4, 8, 16, 32, 64, 128, 256}) {
    for (const auto& [name, call] : calls) {
      SCOPED_TRACE(std::string(name) + " with " + std::to_string(extra) + " MiB more address space");
      std::fflush(nullptr);
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        const rlimit limit{base + (extra << 20), base + (extra << 20)};
        ::setrlimit(RLIMIT_AS, &limit);
        int status = 0;
        try {
          call();
        } catch (const lumbra::Error&) {
        } catch (const std::bad_alloc&) {
          status = 3;  // the library's own promise is ResourceError
        }
        ::_exit(status);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
      if (WIFEXITED(status)) {
        EXPECT_EQ(WEXITSTATUS(status), 0) << "std::bad_alloc left the library";
      }
    }
  }
  fs::remove(file);
}

TEST(GuardTest, AThreadThatCannotStartIsAResourceError) {
  const std::string file = randomFile("guard_test_threads", std::size_t{64} * 1024);
  refuse_threads = true;
  for (const unsigned threads : {2u, 4u}) {
    try {
      (void)lumbra::test_file(file, 256, threads);
      ADD_FAILURE() << "ran without its threads";
    } catch (const lumbra::ResourceError& e) {
      EXPECT_EQ(std::string(e.what()), "can't start a thread: Resource temporarily unavailable");
    } catch (const std::exception& e) {
      ADD_FAILURE() << "threw something else: " << e.what();
    }
  }
  refuse_threads = false;
  EXPECT_EQ(lumbra::test_file(file, 256, 2).blocks, 64u * 1024 * 8 / 256);
  fs::remove(file);
}

void* callerAllocate(std::size_t n) { return std::malloc(n); }
void* callerReallocate(void* p, std::size_t, std::size_t n) { return std::realloc(p, n); }
void callerFree(void* p, std::size_t) { std::free(p); }

// The caller's functions are in force again after each call, whether it
// returned or threw, and during it they are not.
TEST(GuardTest, GmpMemoryFunctionsAreTheCallersAgainAfterEachCall) {
  void* (*alloc)(std::size_t);
  void* (*realloc)(void*, std::size_t, std::size_t);
  void (*release)(void*, std::size_t);
  mp_get_memory_functions(&alloc, &realloc, &release);
  // Over GMP's own functions, a call runs on the library's throwing ones.
  const auto allocateInside = [](void* (*&seen)(std::size_t)) {
    lumbra::CountOptions options;
    options.stop = [&] {
      mp_get_memory_functions(&seen, nullptr, nullptr);
      return true;
    };
    EXPECT_THROW((void)lumbra::count(200000, 100000, 60, options), lumbra::Cancelled);
  };
  void* (*seen)(std::size_t) = nullptr;
  allocateInside(seen);
  EXPECT_NE(seen, alloc) << "the count ran on GMP's aborting functions";
  // A program's own functions (lumbra's pool) stay in force, inside and after.
  mp_set_memory_functions(callerAllocate, callerReallocate, callerFree);
  EXPECT_EQ(lumbra::binomial(10, 5).to_string(), "252");
  EXPECT_THROW((void)lumbra::binomial(10, 11), lumbra::ArgumentError);
  allocateInside(seen);
  EXPECT_EQ(seen, callerAllocate) << "the count replaced the program's functions";
  void* (*a)(std::size_t);
  void* (*r)(void*, std::size_t, std::size_t);
  void (*f)(void*, std::size_t);
  mp_get_memory_functions(&a, &r, &f);
  EXPECT_EQ(a, callerAllocate);
  EXPECT_EQ(r, callerReallocate);
  EXPECT_EQ(f, callerFree);
  mp_set_memory_functions(alloc, realloc, release);
  mp_get_memory_functions(&a, &r, &f);
  EXPECT_EQ(a, alloc);
}

}  // namespace

// The C library's pthread_create, refusing while refuse_threads is set.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                              void* arg) noexcept {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto real = reinterpret_cast<Create>(::dlsym(RTLD_NEXT, "pthread_create"));
  if (refuse_threads) return EAGAIN;
  return real(thread, attr, start, arg);
}
