// The exceptions of the lumbra library: one base, lumbra::Error, and one
// kind for each way a call can fail. Their texts are the words lumbra-kit
// prints after "lumbra-kit: " for the same mistake ("K must be 0 to N, not
// 12"). Memory that runs out during a call (GMP's and MPFR's too) is a
// ResourceError("out of memory"), and a thread the system refuses to start
// a ResourceError("can't start a thread: ..."): no call aborts the process.
#pragma once

#include <stdexcept>

#include "lumbra/export.h"

namespace lumbra {

class LUMBRA_API Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  ~Error() override;
};

// An argument out of its range, or text that is not what it should be: what
// lumbra-kit refuses with status 1.
class LUMBRA_API ArgumentError : public Error {
 public:
  using Error::Error;
  ~ArgumentError() override;
};

// A file that cannot be opened or read: "can't open NAME: reason".
class LUMBRA_API InputError : public Error {
 public:
  using Error::Error;
  ~InputError() override;
};

// Work that needs more memory than the machine (or the process's limits, or
// a bound the caller gave) allows, refused before it starts; memory that
// runs out all the same; a thread that cannot start.
class LUMBRA_API ResourceError : public Error {
 public:
  using Error::Error;
  ~ResourceError() override;
};

// A count abandoned because the caller's stop function asked for it.
class LUMBRA_API Cancelled : public Error {
 public:
  using Error::Error;
  ~Cancelled() override;
};

}  // namespace lumbra
