#include "bridge.h"

#include <cmath>
#include <cstdint>

#include "count/mpz.h"
#include "lumbra/error.h"

namespace lumbra::api {

BigNat toBigNat(mpz_srcptr v) {
  std::vector<std::uint64_t> words((mpz_sizeinbase(v, 2) + 63) / 64);
  std::size_t n = 0;
  mpz_export(words.data(), &n, -1, sizeof(std::uint64_t), 0, 0, v);
  words.resize(n);
  return BigNat::from_words(std::move(words));
}

void toMpz(const BigNat& b, mpz_ptr v) {
  mpz_import(v, b.words().size(), -1, sizeof(std::uint64_t), 0, 0, b.words().data());
}

Fraction fractionOf(mpz_srcptr num, mpz_srcptr den) {
  Mpz g, n, d;
  mpz_gcd(g.get(), num, den);
  mpz_divexact(n.get(), num, g.get());
  mpz_divexact(d.get(), den, g.get());
  return {toBigNat(n.get()), toBigNat(d.get())};
}

double nearestDouble(mpz_srcptr num, mpz_srcptr den) {
  if (mpz_sgn(num) == 0) return 0;
  // q = floor(num 2^s / den) has 55 or 56 bits; r != 0 says more follows.
  const long s = 55 - (static_cast<long>(mpz_sizeinbase(num, 2)) - static_cast<long>(mpz_sizeinbase(den, 2)));
  Mpz a, b, q, r;
  if (s >= 0) {
    mpz_mul_2exp(a.get(), num, static_cast<mp_bitcnt_t>(s));
    mpz_set(b.get(), den);
  } else {
    mpz_set(a.get(), num);
    mpz_mul_2exp(b.get(), den, static_cast<mp_bitcnt_t>(-s));
  }
  mpz_tdiv_qr(q.get(), r.get(), a.get(), b.get());
  const long bits = static_cast<long>(mpz_sizeinbase(q.get(), 2));
  // The value is about 2^top; below 2^-1022 a double keeps fewer bits.
  const long top = bits - 1 - s;
  const long keep = top >= -1022 ? 53 : 53 - (-1022 - top);
  if (keep < 0) return 0;
  const long drop = bits - keep;
  Mpz kept;
  mpz_tdiv_q_2exp(kept.get(), q.get(), static_cast<mp_bitcnt_t>(drop));
  std::uint64_t m = mpz_get_ui(kept.get());
  const bool half = mpz_tstbit(q.get(), static_cast<mp_bitcnt_t>(drop - 1)) != 0;
  const bool rest = mpz_scan1(q.get(), 0) < static_cast<mp_bitcnt_t>(drop - 1) || mpz_sgn(r.get()) != 0;
  if (half && (rest || (m & 1) != 0)) ++m;
  return std::ldexp(static_cast<double>(m), static_cast<int>(drop - s));
}

void requireRange(const char* name, long long v, long long lo, long long hi, const std::string& hiName) {
  if (v >= lo && v <= hi) return;
  throw ArgumentError(std::string(name) + " must be " + std::to_string(lo) + " to " +
                      (hiName.empty() ? std::to_string(hi) : hiName) + ", not " + std::to_string(v));
}

}  // namespace lumbra::api
