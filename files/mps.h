// MPS files: the reader and writer of the column-oriented MPS layout with a QUADS
// section for the quadratic objective, and the column and row solution report.
//
// The reader takes the fixed-column layout (fields in columns 2-3, 5-12, 15-22, 25-36,
// 40-47 and 50-61; names may hold blanks).  Rows become b <= A x <= b + r with L rows
// negated into G form; the objective row's entries become c, its right-hand side the
// negated constant f; QUADS (or QUADOBJ) entries give the lower triangle of Q, which is
// stored with both triangles.  Lines before NAME and after ENDATA are parameter lines
// "key value", kept in the record's param list and found with getparam (files/labels.h).
#pragma once

#include <cstdio>

namespace orva {

struct LP;

// Reads k files (the path "-" is standard input) as one continuous MPS input into the
// record.  Data errors end the run through my_exit: 2 a file cannot be opened, 11 no NAME
// line, 26 an unknown section header, 35 a column out of order in COLUMNS, 36 columns out
// of order in QUADS.  Other faults print a message and skip the line or entry.
void readlp(int k, const char *const *paths, LP *lp);

// The method settings readlp gives every problem it reads, over the record's own: a convex
// problem (linear or convex quadratic), bounds not honoured, the predictor-corrector
// method with mufactor 0, and an initial distance from the bounds of 100 unless one is
// set.  Programs that fill a record from other sources use it to solve the same way.
void mps_method(LP *lp);

// Writes the record's problem as an MPS file that readlp reads back; returns 0, or EOF
// when a write or the close failed (a full disk).  An unopenable path ends the run (code 2).
int writelp(const LP *lp, const char *path);
// The same into a file opened for writing, which it closes.
int writelp(const LP *lp, std::FILE *fp);

// Writes the column and row solution report of a solved record; returns 0, or EOF when a
// write or the close failed.  An unopenable path ends the run (code 2).
int writesol(const LP *lp, const char *path);
// The same into a file opened for writing, which it closes.
int writesol(const LP *lp, std::FILE *fp);

// Closes a file the writers have written: 0, or EOF when a write on the way (a full disk)
// or the close failed.
int close_written(std::FILE *fp);

} // namespace orva
