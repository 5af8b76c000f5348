// LUMBRA_API marks what the library exports. The library is built with
// hidden visibility, so a declaration without it stays inside the library
// (the counting engine, the laws' caches, the support library): what a
// program may call is exactly what these headers mark.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define LUMBRA_API __attribute__((visibility("default")))
#else
#define LUMBRA_API
#endif
