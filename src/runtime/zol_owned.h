// An owner of zol_malloc memory: the block goes back with zol_free however the
// owner's scope is left, and a null owner frees nothing (zol_free would report it).
#ifndef ZOL_OWNED_H
#define ZOL_OWNED_H

#include <cstddef>
#include <memory>

#include "zol/zol_memory.h"

namespace zol {

struct ZolFree {
    void operator()(void *p) const { zol_free(p); }
};

template <typename T>
using Owned = std::unique_ptr<T, ZolFree>;

// count zero-filled Ts from an allocator with zol_malloc's contract; null on failure.
template <typename T>
Owned<T> allocate(size_t count, void *(*alloc)(size_t) = zol_malloc)
{
    return Owned<T>(static_cast<T *>(alloc(sizeof(T) * count)));
}

} // namespace zol

#endif // ZOL_OWNED_H
