#include "lp/alloc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lp/error.h"

namespace orva {

void alloc_failed(const char *msg) { throw error(error_kind::allocation, 0, msg, msg); }

void *xalloc(alloc_op op, void *old, long long count, std::size_t size, const char *name,
             const char *expr, const char *type) {
    // Zero (or negative) lengths get a one-byte block so that the result is never null:
    // callers treat a null array as "absent".
    const std::size_t want =
        count > 0 ? static_cast<std::size_t>(count) : 0;
    bool overflow = want != 0 && size > static_cast<std::size_t>(-1) / want;
    std::size_t bytes = want * size;
    if (bytes == 0) bytes = 1;
    void *p = nullptr;
    if (!overflow) {
        switch (op) {
        case alloc_op::malloc_: p = std::malloc(bytes); break;
        case alloc_op::calloc_: p = std::calloc(1, bytes); break;
        case alloc_op::realloc_: p = std::realloc(old, bytes); break;
        }
    }
    if (p) return p;
    const char *opname = op == alloc_op::malloc_ ? "MALLOC" : op == alloc_op::calloc_ ? "CALLOC" : "REALLOC";
    const char *verb = op == alloc_op::realloc_ ? "reallocate" : "allocate";
    char msg[512];
    std::snprintf(msg, sizeof msg, "%s(%s,%s=%d,%s): cannot %s space", opname, name, expr,
                  static_cast<int>(count), type, verb);
    alloc_failed(msg);
}

} // namespace orva
