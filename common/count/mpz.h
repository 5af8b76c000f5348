// Mpz: an initialised GMP integer that lives as long as its scope, for the
// exact arithmetic of the counts, the probabilities and the coding. Its
// digits come from GMP's current memory functions and go back to them when
// it goes. decimalText: a GMP integer as the decimal text that the front
// ends and the library print.
#pragma once

#include <gmp.h>

#include <string>

namespace lumbra {

class Mpz {
 public:
  Mpz() { mpz_init(v_); }
  ~Mpz() { mpz_clear(v_); }
  Mpz(const Mpz& o) { mpz_init_set(v_, o.v_); }
  Mpz& operator=(const Mpz& o) {
    mpz_set(v_, o.v_);
    return *this;
  }
  mpz_ptr get() { return v_; }
  mpz_srcptr get() const { return v_; }

 private:
  mpz_t v_;
};

// The decimal digits of v, a leading '-' when it is negative; a plain
// std::string (std::bad_alloc).
std::string decimalText(mpz_srcptr v);

}  // namespace lumbra
