#pragma once

// Hands memory the process has freed back to the system where the C library
// keeps it otherwise (glibc keeps freed heap pages for reuse). Called after
// the console drops a large part of its text, so that the launcher's size
// after a flood is that of what it still shows.
void releaseFreedMemory();
