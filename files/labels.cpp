#include "files/labels.h"

#include <cstdint>
#include <cstring>

#include "lp/alloc.h"

namespace orva {

namespace {

NLIST **hashtab = nullptr;
int hashsize = 0;
std::uint32_t multiplier = 0;

std::uint32_t hash(const char *s) {
    std::uint32_t h = 0;
    for (; *s; ++s) h = h * multiplier + static_cast<std::uint32_t>(static_cast<signed char>(*s));
    return h % static_cast<std::uint32_t>(hashsize);
}

char *copy_key(const char *s1) {
    const long long len = static_cast<long long>(std::strlen(s1)) + 1;
    char *s2 = xmalloc<char>("s2", "(int)(strlen(s1)+1)", len);
    std::memcpy(s2, s1, static_cast<std::size_t>(len));
    return s2;
}

} // namespace

void hash_free() {
    if (!hashtab) return;
    for (int b = 0; b < hashsize; ++b) {
        NLIST *e = hashtab[b];
        while (e) {
            NLIST *next = e->next;
            xfree(e->name);
            xfree(e);
            e = next;
        }
    }
    xfree(hashtab);
    hashsize = 0;
}

void hash_init(int size) {
    hash_free();
    if (size < 1) size = 1;
    hashtab = xcalloc<NLIST *>("hashtab", "hashsize", size, "NLIST *");
    hashsize = size;
    multiplier = static_cast<std::uint32_t>(static_cast<int>(size * 0.3874576628));
}

NLIST *lookup(const char *key) {
    if (!hashtab) hash_init(1);
    for (NLIST *e = hashtab[hash(key)]; e; e = e->next)
        if (std::strcmp(key, e->name) == 0) return e;
    return nullptr;
}

NLIST *install(const char *key, int index) {
    NLIST *e = lookup(key);
    if (!e) {
        owned<NLIST> entry(xmalloc<NLIST>("np", "1", 1, "NLIST"));
        entry[0].name = copy_key(key);
        e = entry.release();
        const std::uint32_t b = hash(key);
        e->next = hashtab[b];
        hashtab[b] = e;
    }
    e->index = index;
    return e;
}

int getindex(const char *key) {
    const NLIST *e = lookup(key);
    return e ? e->index : -1;
}

int getparam(const char *name) {
    char key[10];
    std::size_t len = std::strlen(name);
    if (len > 8) len = 8;
    std::memcpy(key, name, len);
    key[len] = 'P';
    key[len + 1] = '\0';
    return getindex(key);
}

} // namespace orva
