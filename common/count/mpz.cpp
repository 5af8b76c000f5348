#include "count/mpz.h"

namespace lumbra {

std::string decimalText(mpz_srcptr v) {
  // GMP writes the digits and a terminating zero into room for at most
  // sizeinbase + 2 bytes (a sign and the zero); sizeinbase may be one over.
  std::string s(mpz_sizeinbase(v, 10) + 2, '\0');
  mpz_get_str(s.data(), 10, v);
  s.resize(std::char_traits<char>::length(s.c_str()));
  return s;
}

}  // namespace lumbra
