// count: the end-point count of the constrained triangle, exactly.
//
// countWalks(c, n, k, d) sets c to the number of n-bit blocks with k one bits
// whose walk stays within d of the center line of (n, k): the number that
// Trian(pool, n, k, d, true).getC() holds, without building the triangle.
// It uses at most `threads` threads (0: as many as the machine has cores)
// and the same bytes come out for any number of them.
//
// How: a band that no walk can leave gives C(n, k) at once; a balanced block
// (2k = n, a straight center line) has a closed form, the reflection sum,
// taken when it costs less than the rows; otherwise the band's rows are run
// from both ends to the middle column, one half per thread, and the two
// middle rows meet in a dot product. Only the region that walks from the
// start to the end can reach costs anything.
//
// The result is an initialised GMP integer owned by the caller. The engine's
// own memory (two limb rows per half, binomials, the dot product) is taken
// through GMP's current memory functions (lumbra's run sends them to its
// pool), only on the calling thread and never while the second thread runs,
// and is all given back before the call returns; the second thread only
// adds limbs. Throws std::bad_alloc.
//
// A long count can be abandoned and watched: the overload with a CountStop
// polls it on the calling thread about every million limb additions (a few
// milliseconds), telling it the share of the work done, and stops both
// halves once it says so. countWalksSeconds estimates the time beforehand.
#pragma once

#include <gmp.h>

#include <functional>

namespace lumbra {

// Requires 1 <= n <= 2147483646, 0 <= k <= n, 0 <= d <= n.
void countWalks(mpz_ptr c, int n, int k, int d, unsigned threads = 0);

// Asked now and then, on the calling thread, whether to abandon the count,
// and told the share of the work done so far (0 to 0.99, an estimate from
// the same model as countWalksSeconds); it must not throw. An empty one
// never stops.
using CountStop = std::function<bool(double done)>;

// countWalks, abandoned when `stop` returns true: then it returns false and
// c holds no count. The same requirements and exceptions.
bool countWalks(mpz_ptr c, int n, int k, int d, unsigned threads, const CountStop& stop);

// The walks of (n, k) that never go more than `below` under the center line
// nor more than `above` over it: countWalks(c, n, k, d) is
// countWalksBetween(c, n, k, d, d). A side given as n is no bound at all,
// so (n, k, n, u - 1) counts the blocks whose walk rises less than u over
// the line. Requires what countWalks does, with 0 <= below, above <= n.
void countWalksBetween(mpz_ptr c, int n, int k, int below, int above, unsigned threads = 0);

// The same count by the rows alone, never a closed form: what countWalks
// falls back to, kept callable for tests and measurements.
void countWalksByRows(mpz_ptr c, int n, int k, int d, unsigned threads = 0);

// The balanced count (k = n/2) by the reflection sum
//   sum over j of C(n, n/2 + j(2d + 2)) - C(n, n/2 + j(2d + 2) + d + 1),
// each binomial stepped from the one before where that is cheaper.
// Requires n even, 2 <= n <= 2147483646, 0 <= d <= n.
void balancedCount(mpz_ptr c, int n, int d);

// The seconds countWalks(c, n, k, d, threads) takes, estimated from n, k
// and d alone (within a factor of about 2 where it takes more than a
// second; docs/benchmarks.md has the measurements), for a caller that would
// rather not start work that long. Requires what countWalks does.
double countWalksSeconds(int n, int k, int d, unsigned threads = 0);

// The seconds of C(n, k) by GMP's binomial, estimated the same way.
double binomialSeconds(int n, int k);

// B log2(B)^3 for a number of B bits: how the time of GMP's binomials and
// decimal conversions grows (its products grow faster than B log B).
double bigNumberWork(double bits);

// The bytes the engine holds at its peak for (n, k, d), besides the result:
// for the memory check before a count starts.
double countWalksBytes(int n, int k, int d);

}  // namespace lumbra
