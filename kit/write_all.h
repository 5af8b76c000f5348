// writeAll: every byte of a buffer to a descriptor. write(2) may take fewer
// bytes than asked, and a signal may interrupt it; these keep at it until
// every byte is written or a write really fails. They return 0, or what
// went wrong: the errno of the failed call, or no_progress when a write
// took no byte. They allocate nothing and throw nothing, so that callers
// put a failure in their own words (writeFailure gives the reason's text)
// and the progress line can use them where a failure must pass unnoticed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumbra::kit {

// What a write that took no byte at all returns (no errno is set then).
inline constexpr int no_progress = -1;

int writeAll(int fd, const void* p, std::size_t n) noexcept;
// The same at `offset` of a file (pwrite: the file's position stays).
int writeAllAt(int fd, const void* p, std::size_t n, std::uint64_t offset) noexcept;

// The reason of a failed writeAll for a message: strerror, or "nothing
// written". Requires failure != 0.
std::string writeFailure(int failure);

}  // namespace lumbra::kit
