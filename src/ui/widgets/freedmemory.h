#pragma once

// Hands memory the process has freed back to the system where the C library
// keeps it otherwise (glibc keeps freed heap pages for reuse). Called once
// output pauses after the console dropped text or showed a burst, so that
// the launcher's size at rest is that of what it still shows.
void releaseFreedMemory();
