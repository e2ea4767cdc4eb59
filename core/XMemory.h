#pragma once

#include <cstddef>

// Raw memory blocks behind texts, byte blocks and slot arrays. They come from
// malloc/realloc/free so that a block can be resized in place.

// Returns a new block of size bytes, or null when memory is exhausted.
void* XAlloc(std::size_t size);
// Resizes block (null allocates) to size bytes. On failure returns null and
// leaves block untouched, as realloc does.
void* XRealloc(void* block, std::size_t size);
// Releases block; null is allowed.
void XFree(void* block);

// Test seam for memory exhaustion: after `count` more successful XAlloc or
// XRealloc calls, the next `failures` calls fail and the seam then disarms
// itself; a negative `failures` (the default) fails every further call. A
// negative count disarms it (the initial state, which never fails). A single
// failure lets the exception that reports it still copy its message.
// Process-wide.
void XSetAllocFailAfter(long count, long failures = -1);
// Number of XAlloc and XRealloc calls made so far, failed ones included.
long XGetAllocCount();
