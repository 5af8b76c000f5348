// The library's one error policy, around the body of every entry point:
//
//   BigNat binomial(int n, int k) {
//     return api::guarded([&] { ... });
//   }
//
// While a guarded body runs, GMP (and MPFR, which asks GMP for its memory
// functions at each allocation) takes its memory through functions that
// throw std::bad_alloc where GMP's own would abort the process. They are
// installed by the first call to come in and the previous ones restored by
// the last to go out, so that overlapping calls on several threads, and a
// guarded call inside another, leave them as they were; no call returns
// with them left installed. A program that installed functions of its own
// before the call (lumbra, over its pool) keeps them: only GMP's defaults
// are replaced.
//
// What the body throws leaves as one of the library's kinds (error.h):
// std::bad_alloc as ResourceError("out of memory"), a thread or a mutex the
// system refused (std::system_error) as ResourceError("can't start a
// thread: REASON"); lumbra::Error and everything else unchanged. A body
// that reads files turns its read errors into InputError itself, before
// they could be taken for a thread.
#pragma once

#include <new>
#include <system_error>

#include "lumbra/error.h"

namespace lumbra::api {

// GMP's memory functions as this library wants them, for the lifetime of
// one guard (see above). Never throws.
class GmpMemoryGuard {
 public:
  GmpMemoryGuard() noexcept;
  ~GmpMemoryGuard();
  GmpMemoryGuard(const GmpMemoryGuard&) = delete;
  GmpMemoryGuard& operator=(const GmpMemoryGuard&) = delete;
};

[[noreturn]] void throwOutOfMemory();
[[noreturn]] void throwThreadRefused(const std::system_error& e);

template <class F>
auto guarded(F&& body) -> decltype(body()) {
  const GmpMemoryGuard memory;
  try {
    return body();
  } catch (const Error&) {
    throw;
  } catch (const std::bad_alloc&) {
    throwOutOfMemory();
  } catch (const std::system_error& e) {
    throwThreadRefused(e);
  }
}

}  // namespace lumbra::api
