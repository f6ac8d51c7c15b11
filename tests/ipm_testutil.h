// Helpers of the interior-point tests: running a piece of code in a child process with
// a given standard input and captured output (for exits, prompts and signals), and
// reading the columns of an iteration line.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testlp.h"

namespace orva::testing {

struct child_result {
    int status = -1;        // exit status, -1 when the child did not exit normally
    std::string out, err;   // its standard output and error
};

inline std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Runs `body` in a forked child whose standard input holds `input` and whose standard
// output and error go to files; the child exits with body's result.  `cwd`, when given,
// is the child's working folder.  `parent`, when given, runs in the parent while the
// child runs, with the child's pid and the path of its output file.
inline child_result in_child(const std::function<int()> &body, const std::string &input = "",
                             const std::string &cwd = "",
                             const std::function<void(pid_t, const std::string &)> &parent = nullptr) {
    static int counter = 0;
    const std::string base = "/tmp/orva-ipm-child-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    const std::string in = base + ".in", out = base + ".out", err = base + ".err";
    {
        std::ofstream f(in, std::ios::binary);
        f << input;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fi = open(in.c_str(), O_RDONLY);
        const int fo = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int fe = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fi, 0);
        dup2(fo, 1);
        dup2(fe, 2);
        close(fi);
        close(fo);
        close(fe);
        std::clearerr(stdin);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(99);
        const int rc = body();
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(rc & 0xff);
    }
    if (parent) parent(pid, out);
    int st = 0;
    waitpid(pid, &st, 0);
    child_result r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = read_file(out);
    r.err = read_file(err);
    std::remove(in.c_str());
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

// Waits (up to `seconds`) until the file holds `text`.
inline bool wait_for_text(const std::string &path, const std::string &text, double seconds = 20) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (read_file(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

inline std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::string cur;
    for (char ch : text) {
        if (ch == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else {
            cur += ch;
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

// The iteration lines of a log (those that start with a right-aligned iteration number).
inline std::vector<std::string> iteration_lines(const std::string &log) {
    std::vector<std::string> its;
    for (const std::string &l : lines_of(log))
        if (l.size() >= 59 && l[3] == ' ' && l[4] == ' ' && l[2] >= '0' && l[2] <= '9') its.push_back(l);
    return its;
}

// The perturbation ("P") and step-halving ("M") columns of an iteration line; 0 when blank.
inline int p_column(const std::string &line) {
    return line.size() >= 74 ? std::atoi(line.substr(71, 3).c_str()) : 0;
}
inline int m_column(const std::string &line) {
    return line.size() >= 77 ? std::atoi(line.substr(75, 2).c_str()) : 0;
}

// min -x1 - x2  s.t.  x1 + 2 x2 <= 4,  3 x1 + x2 <= 6,  x >= 0  (rows negated to >=):
// optimum x = (1.6, 1.2), objective -2.8.
inline dense_problem small_lp() {
    dense_problem d;
    d.m = 2;
    d.n = 2;
    d.A = {{-1, -2}, {-3, -1}};
    d.b = {-4, -6};
    d.r = {inf, inf};
    d.c = {-1, -1};
    return d;
}

// min (x1-1)^2 + (x2-2)^2 = x'Qx/2 - 2 x1 - 4 x2 + 5  s.t.  x1 + x2 <= 2,  x >= 0:
// optimum x = (0.5, 1.5), objective 0.5, dual of the row 1.
inline dense_problem small_qp() {
    dense_problem d;
    d.m = 1;
    d.n = 2;
    d.A = {{-1, -1}};
    d.b = {-2};
    d.r = {inf};
    d.c = {-2, -4};
    d.Q = {{2, 0}, {0, 2}};
    d.f = 5;
    return d;
}

} // namespace orva::testing
