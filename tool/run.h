// The whole life of one lumbra run: set-up, banner, command line, exactly one
// command, and the report of whatever failure comes back.
#pragma once

namespace lumbra {

// Runs the command line argv[0..argc) with standard output on `out_fd` and
// standard error on `err_fd`, and returns the exit status: 0 when the
// command completed, 1 for a refused command line, 2 for a failure raised
// while it ran. main() calls it with 1 and 2; tests and fuzzers drive it in
// process with descriptors of their own.
int run(int argc, char** argv, int out_fd = 1, int err_fd = 2);

}  // namespace lumbra
