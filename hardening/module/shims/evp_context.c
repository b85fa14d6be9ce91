/* LD_PRELOAD shim: lets a test make OpenSSL refuse new cipher contexts, a
 * failure the engine treats as a broken invariant.
 * tessarils_shim_evp_context(1) makes EVP_CIPHER_CTX_new return NULL, (0)
 * passes calls through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdatomic.h>
#include <stddef.h>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

static atomic_int failing;

void tessarils_shim_evp_context(int fail)
{
    atomic_store(&failing, fail);
}

EVP_CIPHER_CTX *EVP_CIPHER_CTX_new(void)
{
    static EVP_CIPHER_CTX *(*real)(void);
    if (atomic_load(&failing)) return NULL;
    if (real == NULL) {
        /* libcrypto arrives with the extension, in its local scope, where
         * RTLD_NEXT does not look: ask the loaded library itself. */
        void *library = dlopen("libcrypto.so.3", RTLD_LAZY | RTLD_NOLOAD);
        if (library == NULL) return NULL;
        real = (EVP_CIPHER_CTX * (*)(void)) dlsym(library, "EVP_CIPHER_CTX_new");
        if (real == NULL) return NULL;
    }
    return real();
}
