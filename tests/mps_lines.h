// Helpers of the MPS tests: fixed-column lines, scratch files, reading with captured output.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "files/mps.h"
#include "lp/lp.h"
#include "testlp.h"

namespace mpstest {

// One data line in the fixed columns: f1 in 2-3, f2 in 5-12, f3 in 15-22, f4 in 25-36,
// f5 in 40-47, f6 in 50-61; trailing blanks are dropped.
inline std::string line(const std::string &f1, const std::string &f2, const std::string &f3 = "",
                        const std::string &f4 = "", const std::string &f5 = "",
                        const std::string &f6 = "") {
    std::string s(61, ' ');
    auto put = [&](int col, const std::string &v) { s.replace(col - 1, v.size(), v); };
    put(2, f1);
    put(5, f2);
    put(15, f3);
    // Numbers are right-aligned in their field, as most files write them.
    put(25 + 12 - static_cast<int>(f4.size()), f4);
    put(40, f5);
    put(50 + 12 - static_cast<int>(f6.size()), f6);
    s.erase(s.find_last_not_of(' ') + 1);
    return s + "\n";
}

inline std::string write_file(const std::string &dir, const std::string &name,
                              const std::string &text) {
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// Reads the files into a fresh record; `out` gets what the reader printed.
inline orva::LP *read_files(const std::vector<std::string> &paths, std::string *out = nullptr) {
    std::vector<const char *> argv;
    for (const auto &p : paths) argv.push_back(p.c_str());
    orva::LP *lp = orva::openlp();
    ::testing::internal::CaptureStdout();
    orva::readlp(static_cast<int>(argv.size()), argv.data(), lp);
    std::fflush(stdout);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    if (out) *out = printed;
    return lp;
}

// Reads one MPS text through a scratch file.
inline orva::LP *read_text(const std::string &text, std::string *out = nullptr) {
    static int counter = 0;
    const std::string dir = orva::testing::scratch_dir("mps" + std::to_string(counter++));
    return read_files({write_file(dir, "p.mps", text)}, out);
}

// The entry of A at (row, col), 0 when absent.
inline double entry(const orva::LP *lp, int row, int col) {
    for (int k = lp->kA[col]; k < lp->kA[col + 1]; ++k)
        if (lp->iA[k] == row) return lp->A[k];
    return 0.0;
}

inline double qentry(const orva::LP *lp, int row, int col) {
    for (int k = lp->kQ[col]; k < lp->kQ[col + 1]; ++k)
        if (lp->iQ[k] == row) return lp->Q[k];
    return 0.0;
}

} // namespace mpstest
