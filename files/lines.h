// Reading text lines of a bounded length from the problem and settings files.
#pragma once

#include <cstdio>

namespace orva {

// Reads one line into buf, at most size-1 bytes with its line feed, and terminates it.
// A NUL byte in the line is stored as a blank, so that the line's length is what was
// read; the rest of a line longer than the room is skipped (*cut then tells so) and never
// read as a line of its own.  Returns the number of bytes stored, 0 at the end of the
// input (or at a read error: the stream's error flag tells them apart).
int read_text_line(std::FILE *fp, char *buf, int size, bool *cut);

} // namespace orva
