// The module's heap: every block is zero-filled, so that a record built in it
// starts out as the all-zero record the stack and the host expect.
#include <cstdlib>
#include <cstring>

#include "log/zol_diag.h"
#include "zol/zol_memory.h"

extern "C" {

void *zol_malloc(size_t size)
{
    void *p = malloc(size);
    if (p == nullptr) {
        // malloc(0) may legitimately answer null; only a real request is a failure.
        if (size != 0) {
            ZOL_LOG(ZOL_LOG_ERROR, "Fail to allocate memory\n");
        }
        return nullptr;
    }
    memset(p, 0, size);
    return p;
}

void zol_free(void *mem_ptr)
{
    if (!ZOL_NOT_NULL(mem_ptr, "mem_ptr")) {
        return;
    }
    free(mem_ptr);
}

} // extern "C"
