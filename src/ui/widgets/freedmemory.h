#pragma once

// Hands memory the process has freed back to the system where the C library
// keeps it otherwise (glibc keeps freed heap pages for reuse). Called after
// the console drops a large part of its text, and when it has caught up with
// a burst of output, so that the launcher's size is that of what it shows.
void releaseFreedMemory();

// Has every large block (a document's text, its tables, a burst of queued
// output) get pages of its own, given back as soon as it is freed or shrunk.
// glibc otherwise raises that size to the largest block freed so far: after
// the first trim of a full console, its multi-megabyte buffers would come
// from the heap, and the heap keeps what a burst left behind. Affects the
// whole process; idempotent.
void keepLargeBlocksSeparate();
