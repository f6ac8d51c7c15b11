// Errors the library reports to its caller.
//
// The library never ends the process.  A data error (my_exit: a negative range, a
// repeated matrix entry, functions that cannot be evaluated at the initial point, a
// refused MPS file, a file that cannot be opened) and a failed allocation throw
// `orva::error`, which carries its kind, its code, its text and exactly what the
// programs print for it.  The programs `orva` and `orva-mps` catch it in main and end
// as they always have: the output on standard output (a data error's
// "ORVA ERROR(code): text\n", an allocation failure's "MALLOC(...): cannot allocate
// space" without a line feed) and exit status 1.  A caller that embeds the library
// catches it and goes on: the solver's own storage has been released on the way, and the
// lp record is left valid for closelp (every array it holds is its own or borrowed).
#pragma once

#include <exception>
#include <string>

namespace orva {

enum class error_kind {
    data,        // my_exit: `code` is the ORVA ERROR code
    allocation,  // a failed allocation: `code` is 0
};

class error : public std::exception {
public:
    error(error_kind kind, int code, std::string text, std::string output)
        : kind_(kind), code_(code), text_(std::move(text)), output_(std::move(output)) {}

    error_kind kind() const noexcept { return kind_; }
    // The data error's code (2 a file cannot be opened, 11 no NAME, 26 an unknown MPS
    // section, 31 a negative range, 35/36 columns out of order, 40 a repeated matrix
    // entry, 50 functions that cannot be evaluated at the initial point); 0 for an
    // allocation failure.
    int code() const noexcept { return code_; }
    // The message alone (a data error's text, or the allocation message).
    const std::string &text() const noexcept { return text_; }
    // What the programs print on standard output for it.
    const std::string &output() const noexcept { return output_; }
    // The programs' exit status for it.
    int status() const noexcept { return 1; }
    const char *what() const noexcept override { return text_.c_str(); }

private:
    error_kind kind_;
    int code_;
    std::string text_;
    std::string output_;
};

// Prints what the programs print for the error (standard output, flushed) and returns
// their exit status.
int report(const error &e);

} // namespace orva
