// The label table of the MPS reader: one process-wide hash table from a key to an
// index, shared by rows, columns and parameters.  The key is the label followed by
// "R" for a row, "C" for a column and "P" for a parameter.  The table stays after
// readlp returns, so that a caller can look the parameters up with getparam.
#pragma once

namespace orva {

// One entry of a bucket chain.
struct NLIST {
    NLIST *next;
    char *name;  // the key (own copy)
    int index;
};

// Creates an empty table with `size` buckets (at least 1), releasing any older table.
void hash_init(int size);
// Enters a key with an index; an existing key gets the new index.  Returns the entry.
NLIST *install(const char *key, int index);
// The entry of a key, or null.  A lookup before any hash_init creates a one-bucket table.
NLIST *lookup(const char *key);
// The index of a key, or -1.
int getindex(const char *key);
// The position in the record's param list of a parameter line's value, or -1.  The
// name counts with its first 8 characters.
int getparam(const char *name);
// Releases the table (a later use starts a new one).
void hash_free();

} // namespace orva
