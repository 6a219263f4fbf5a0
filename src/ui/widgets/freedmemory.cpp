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
