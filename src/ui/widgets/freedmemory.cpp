#include "ui/widgets/freedmemory.h"

#include <cstdlib>   // before the test below: it defines __GLIBC__

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void releaseFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void keepLargeBlocksSeparate()
{
#if defined(__GLIBC__)
    // Setting it at all stops the adjustment. Above a chunk of output as
    // read (64 KiB, 128 KiB as text), which the heap keeps reusing; below
    // anything the size of a console.
    static const bool set = mallopt(M_MMAP_THRESHOLD, 256 * 1024) == 1;
    (void)set;
#endif
}
