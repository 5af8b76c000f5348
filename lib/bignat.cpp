#include "lumbra/bignat.h"

#include <bit>

#include "bridge.h"
#include "guard.h"
#include "count/mpz.h"
#include "lumbra/error.h"

namespace lumbra {

BigNat::BigNat(std::uint64_t v) {
  if (v != 0) words_.push_back(v);
}

BigNat BigNat::from_words(std::vector<std::uint64_t> words) {
  while (!words.empty() && words.back() == 0) words.pop_back();
  BigNat b;
  b.words_ = std::move(words);
  return b;
}

BigNat BigNat::from_string(std::string_view decimal) {
  return api::guarded([&]() -> BigNat {
    const std::string text(decimal);
    Mpz v;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        mpz_set_str(v.get(), text.c_str(), 10) != 0)
      throw ArgumentError("'" + text + "' is not a decimal number");
    return api::toBigNat(v.get());
  });
}

std::string BigNat::to_string() const {
  return api::guarded([&]() -> std::string {
    Mpz v;
    api::toMpz(*this, v.get());
    return decimalText(v.get());
  });
}

std::size_t BigNat::bit_length() const {
  if (words_.empty()) return 0;
  return 64 * words_.size() - static_cast<std::size_t>(std::countl_zero(words_.back()));
}

std::strong_ordering operator<=>(const BigNat& a, const BigNat& b) {
  if (a.words_.size() != b.words_.size()) return a.words_.size() <=> b.words_.size();
  for (std::size_t i = a.words_.size(); i-- > 0;)
    if (a.words_[i] != b.words_[i]) return a.words_[i] <=> b.words_[i];
  return std::strong_ordering::equal;
}

}  // namespace lumbra
