/* The module's heap: zero-filled blocks, and a free that reports a null pointer. */
#ifndef ZOL_MEMORY_H
#define ZOL_MEMORY_H

#include <stddef.h>
#include "zol/zol_types.h"

#ifdef __cplusplus
extern "C" {
#endif

ZOL_EXPORT void *zol_malloc(size_t size);
ZOL_EXPORT void zol_free(void *mem_ptr);

#ifdef __cplusplus
}
#endif

#endif /* ZOL_MEMORY_H */
