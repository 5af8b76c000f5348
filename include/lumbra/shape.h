// Shaping: any bytes as a stream of balanced n-bit words whose walk (up for
// a one, down for a zero) stays within d of 0, and back (lumbra-kit shape and
// unshape; docs/shaping.md has the stream's layout). Every word has n/2
// ones, the running sum of the whole stream stays within -d..d and no run of
// equal bits is longer than 2d.
//
//   lumbra::unshape(lumbra::shape("hello"))  == "hello"
//   lumbra::shape_info(256, 4).bits_per_word == 236
//
// Alphabets: "bits" (packed bytes), "text" (a line of 0 and 1 per word) and
// "dna" (a line of n bases per word). Each call builds the table of its
// (n, d) (under 32 MiB at n = 4096) and lets it go; calls are independent
// and safe from several threads at once. Refusals: ArgumentError for n, d or
// an alphabet the command line refuses ("n is odd: ..."), InputError for a
// stream that shape did not write, naming the word ("word 12: not balanced:
// 131 ones in 256 bits").
#pragma once

#include <functional>

#include <string>

#include "lumbra/error.h"
#include "lumbra/export.h"

namespace lumbra {

// What a word of n bits within d carries: the columns of lumbra-kit shape
// --info.
struct ShapeInfo {
  int n = 0;
  int d = 0;
  int bits_per_word = 0;
  double rate = 0;        // bits_per_word / n
  double capacity = 0;    // log2(2 cos(pi / (2d + 2))): the best rate of any code within d
  double efficiency = 0;  // rate / capacity
  int sum_bound = 0;      // the bound the words' running sum keeps to (at most d)
  int longest_run = 0;    // 2 sum_bound
};

// Requires n even in 2..4096 and 1 <= d <= n / 2.
LUMBRA_API ShapeInfo shape_info(int n, int d);

// `stop`, when given, is asked as the input is consumed (every few
// kilobytes); true ends the call with Cancelled. So for unshape.
LUMBRA_API std::string shape(const std::string& data, int n = 256, int d = 4, const std::string& alphabet = "bits",
                             const std::function<bool()>& stop = {});

// The data of a stream that shape wrote with the same n, d and alphabet.
LUMBRA_API std::string unshape(const std::string& stream, int n = 256, int d = 4,
                               const std::string& alphabet = "bits",
                               const std::function<bool()>& stop = {});

}  // namespace lumbra
