// Settings for programs that read MPS files: a keyword table filled from a specs file
// (one keyword and value per line) or an option string (keyword=value words), and
// copied into an lp record with set_opns.
//
// The table is process-wide.  Once a lookup has failed (a keyword the table does not
// hold), every later specs line or option word is refused as well, in both readers.
#pragma once

namespace orva {

struct LP;

// One keyword: type 0 flag (ival 0/1), 1 integer (ival), 2 real (rval).
struct keyword {
    const char *name;
    int type;
    int ival;
    double rval;
};

enum { KEY_FLAG = 0, KEY_INT = 1, KEY_REAL = 2 };

// Reads a specs file: 0 when the whole file was read, otherwise the number (1-based) of
// the line at which reading stopped; -1 when the file cannot be opened or read.  Lines: a keyword
// and its value (a real starts with a digit, an integer with a digit or "-", a flag is T
// or F); "*" starts a comment line.
int rd_specs(const char *path);

// Reads an option string of keyword=value words (a flag by its name alone, which sets it
// to 1, or with a whole number, as in pred_corr=3): 1 when the
// whole string was taken, 0 when it stopped at an error.
int rd_opns(const char *opns);

// Copies the table into the record.
void set_opns(LP *lp);

// Looks up the keyword that starts at *pos (case ignored; the word ends at a blank, a
// control character, the end or "="): the entry with *pos moved past the name, or null
// after counting a failed lookup.
keyword *binsearch(const char **pos);

// The same lookup without counting a failure or moving a position: the entry of the
// keyword that starts at word (*end, when given, gets the end of the matched name).
keyword *findkey(const char *word, const char **end = nullptr);

// The number of failed lookups so far.
int opns_failures();

// Restores the defaults of the table and clears the count of failed lookups.
void reset_opns();

// Prints the message of a result code of solvelp (0..14) on a line of its own; other
// codes print nothing.
void opt_message(int code);

} // namespace orva
