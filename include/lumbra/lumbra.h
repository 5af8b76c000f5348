// The whole public API of the lumbra library, one header per concept:
//   count.h      exact counts C(n, k, d) and C(n, k)
//   laws.h       a block's p-values, as doubles and exact fractions
//   rank.h       a block's index in its triangle, and back
//   blocks.h     the statistics of every block of a byte string
//   test_file.h  the verdict on a whole file, at one block size or several
//   shape.h      any bytes as balanced words in a band, and back
//   smirnov.h    the two-sample Smirnov test with its exact p-value
//   bignat.h     big numbers and fractions; error.h the exceptions;
//   version.h    the version
// Names are in namespace lumbra and in snake_case, like the standard
// library's and like the Python module's.
#pragma once

#include "lumbra/bignat.h"
#include "lumbra/blocks.h"
#include "lumbra/count.h"
#include "lumbra/error.h"
#include "lumbra/laws.h"
#include "lumbra/rank.h"
#include "lumbra/shape.h"
#include "lumbra/smirnov.h"
#include "lumbra/test_file.h"
#include "lumbra/version.h"
