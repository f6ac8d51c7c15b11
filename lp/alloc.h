// Allocation of the solver's arrays.
//
// Every array of the solver is a plain heap block (malloc/calloc/realloc), since
// the record's arrays are released with free() and some of them belong to the ASL.
// A failed allocation throws orva::error (lp/error.h) of kind allocation, whose
// message names the operation, the array, the expression of its length with the
// requested count, and the element type, e.g.
//   MALLOC(dx,n=12,double): cannot allocate space
// (the programs print it without a line feed and end with status 1).  An allocation of
// zero elements never fails (it returns a small valid block, never null).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace orva {

// Throws the allocation error with the given message.
[[noreturn]] void alloc_failed(const char *msg);

// The element type as it appears in the failure message.
template <class T> inline constexpr const char *type_label = "?";
template <> inline constexpr const char *type_label<double> = "double";
template <> inline constexpr const char *type_label<int> = "int";
template <> inline constexpr const char *type_label<char> = "char";
template <> inline constexpr const char *type_label<char *> = "char *";
template <> inline constexpr const char *type_label<int *> = "int *";
template <> inline constexpr const char *type_label<double *> = "double *";

enum class alloc_op { malloc_, calloc_, realloc_ };

// Allocates (or resizes `old` to) `count` elements of `size` bytes; on failure throws
// "OP(name,expr=count,type): cannot [re]allocate space" (`old` then stays as it was).
void *xalloc(alloc_op op, void *old, long long count, std::size_t size, const char *name,
             const char *expr, const char *type);

// Uninitialised block of `count` elements: MALLOC(name,expr=count,type).
template <class T>
T *xmalloc(const char *name, const char *expr, long long count, const char *type = type_label<T>) {
    return static_cast<T *>(xalloc(alloc_op::malloc_, nullptr, count, sizeof(T), name, expr, type));
}

// Zero-filled block: CALLOC(name,expr=count,type).
template <class T>
T *xcalloc(const char *name, const char *expr, long long count, const char *type = type_label<T>) {
    return static_cast<T *>(xalloc(alloc_op::calloc_, nullptr, count, sizeof(T), name, expr, type));
}

// Resized block, contents kept up to the smaller length: REALLOC(name,expr=count,type).
template <class T>
T *xrealloc(T *old, const char *name, const char *expr, long long count,
            const char *type = type_label<T>) {
    return static_cast<T *>(
        xalloc(alloc_op::realloc_, static_cast<void *>(old), count, sizeof(T), name, expr, type));
}

// Resizes `p` when it exists (REALLOC message), else allocates it (MALLOC message).
template <class T>
T *xresize(T *p, const char *name, const char *expr, long long count,
           const char *type = type_label<T>) {
    return p ? xrealloc<T>(p, name, expr, count, type) : xmalloc<T>(name, expr, count, type);
}

// A block owned by one holder and released with free() when the holder goes.
struct free_delete {
    void operator()(void *p) const { std::free(p); }
};
template <class T> using owned = std::unique_ptr<T[], free_delete>;

// An owned uninitialised block: MALLOC(name,expr=count,type) on failure.
template <class T>
owned<T> make_owned(const char *name, const char *expr, long long count, const char *type = type_label<T>) {
    return owned<T>(xmalloc<T>(name, expr, count, type));
}

// Releases a block and clears the pointer.
template <class T> void xfree(T *&p) {
    if (p) {
        std::free(const_cast<void *>(static_cast<const void *>(p)));
        p = nullptr;
    }
}

} // namespace orva
