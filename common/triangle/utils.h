// Conversion of command-line arguments.
#pragma once

namespace lumbra {

// True when `text` is a non-empty string of the digits 0..9 whose value fits
// an int; `value` then holds that value. Otherwise false, and `value` is left
// alone. No sign and no blank is accepted anywhere; leading zeros are ("007"
// is 7). NOTE: a value above 2147483647 is refused rather than clamped, so
// that an overlong number is a usage error and never a different run.
bool parseInt(const char* text, int& value);

}  // namespace lumbra
