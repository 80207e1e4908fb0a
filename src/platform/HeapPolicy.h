#pragma once

#ifdef __GLIBC__
#include <malloc.h>
#endif

/// How the C library's heap serves the programs; set at the start of main(), before any thread runs.
namespace HeapPolicy {
/// One malloc arena for every thread: the program's threads (X events, D-Bus, network, the settings
/// writer) are idle nearly all the time, and an arena of its own per thread kept some 600 kB of free
/// and half-used pages dirty for the whole run.
inline void oneArena()
{
#ifdef __GLIBC__
    mallopt(M_ARENA_MAX, 1);
#endif
}

/// Blocks of 128 KiB and more always get a mapping of their own, which goes back to the system when
/// they are freed. Left to itself, glibc raises that bound to the largest block freed so far (up to
/// 32 MiB), and from then on such blocks come from the heap, whose freed pages a long run keeps: the
/// history's trim (nearly 1 MiB, every few hundred changes) held on to a megabyte that way.
inline void largeBlocksMapped()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}
} // namespace HeapPolicy
