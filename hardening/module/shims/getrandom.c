/* LD_PRELOAD shim: lets a test make the operating system's random source
 * fail. tessarils_shim_getrandom(0) passes calls through, (1) makes every
 * call fail with EIO, (2) makes it deliver one byte less than asked for. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdatomic.h>
#include <stddef.h>
#include <sys/types.h>

static atomic_int mode;

void tessarils_shim_getrandom(int new_mode)
{
    atomic_store(&mode, new_mode);
}

ssize_t getrandom(void *buf, size_t len, unsigned int flags)
{
    static ssize_t (*real)(void *, size_t, unsigned int);
    const int m = atomic_load(&mode);
    if (m == 1) {
        errno = EIO;
        return -1;
    }
    if (real == NULL) real = (ssize_t (*)(void *, size_t, unsigned int))dlsym(RTLD_NEXT, "getrandom");
    if (m == 2 && len > 0) return real(buf, len - 1, flags);
    return real(buf, len, flags);
}
