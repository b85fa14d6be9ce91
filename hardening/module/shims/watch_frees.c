/* LD_PRELOAD shim: between tessarils_shim_watch_begin(marker, length) and
 * tessarils_shim_watch_end(), counts the heap blocks released with free()
 * that still hold the marker: secrets released without being wiped.
 * operator delete reaches free, so C++ releases are seen. */
#define _GNU_SOURCE
#include <malloc.h>
#include <stddef.h>
#include <string.h>

static const void *marker;
static size_t marker_length;
static long blocks;

void tessarils_shim_watch_begin(const void *bytes, size_t length)
{
    blocks = 0;
    marker_length = length;
    marker = bytes;
}

long tessarils_shim_watch_end(void)
{
    marker = NULL;
    return blocks;
}

extern void __libc_free(void *);

void free(void *p)
{
    if (p != NULL && marker != NULL && memmem(p, malloc_usable_size(p), marker, marker_length) != NULL) ++blocks;
    __libc_free(p);
}
