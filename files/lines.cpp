#include "files/lines.h"

namespace orva {

int read_text_line(std::FILE *fp, char *buf, int size, bool *cut) {
    int len = 0, ch = 0;
    *cut = false;
    while (len < size - 1 && (ch = std::getc(fp)) != EOF) {
        buf[len++] = ch == '\0' ? ' ' : static_cast<char>(ch);
        if (ch == '\n') break;
    }
    buf[len] = '\0';
    if (len == size - 1 && buf[len - 1] != '\n') {
        // Full: unless the line ends right here, its rest is skipped.
        ch = std::getc(fp);
        if (ch != EOF && ch != '\n') {
            *cut = true;
            while (ch != EOF && ch != '\n') ch = std::getc(fp);
        }
    }
    return len;
}

} // namespace orva
