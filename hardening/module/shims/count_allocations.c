/* LD_PRELOAD shim: counts the C heap allocations a thread makes between
 * tessarils_shim_count_begin() and tessarils_shim_count_end(), which returns
 * the count. operator new reaches malloc, so C++ allocations are counted. */
#define _GNU_SOURCE
#include <stddef.h>

static __thread int counting;
static __thread long count;

void tessarils_shim_count_begin(void)
{
    count = 0;
    counting = 1;
}

long tessarils_shim_count_end(void)
{
    counting = 0;
    return count;
}

extern void *__libc_malloc(size_t);
extern void *__libc_calloc(size_t, size_t);
extern void *__libc_realloc(void *, size_t);
extern void *__libc_memalign(size_t, size_t);

/* glibc's own entry points keep dlsym (which may allocate) out of the way. */
void *malloc(size_t size)
{
    count += counting;
    return __libc_malloc(size);
}

void *calloc(size_t n, size_t size)
{
    count += counting;
    return __libc_calloc(n, size);
}

void *realloc(void *p, size_t size)
{
    count += counting;
    return __libc_realloc(p, size);
}

int posix_memalign(void **out, size_t alignment, size_t size)
{
    count += counting;
    void *p = __libc_memalign(alignment, size);
    if (p == NULL) return 12; /* ENOMEM */
    *out = p;
    return 0;
}

void *aligned_alloc(size_t alignment, size_t size)
{
    count += counting;
    return __libc_memalign(alignment, size);
}
