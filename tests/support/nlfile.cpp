#include "nlfile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace orva::testing {

namespace {
// Variables named in an expression ("v<k>" tokens).
std::set<int> vars_of(const std::string &expr) {
    std::set<int> vs;
    std::istringstream in(expr);
    std::string tok;
    while (in >> tok)
        if (tok.size() > 1 && tok[0] == 'v') vs.insert(std::stoi(tok.substr(1)));
    return vs;
}

std::string num(double v) {
    std::ostringstream o;
    o.precision(17);
    o << v;
    return o.str();
}

// Linear part with every nonlinearly appearing variable listed (coefficient 0 if absent).
std::map<int, double> full_terms(const std::map<int, double> &lin, const std::string &expr) {
    std::map<int, double> t = lin;
    for (int v : vars_of(expr)) t.emplace(v, 0.0);
    return t;
}

void bound_line(std::ostream &o, double lo, double up) {
    const bool hl = std::isfinite(lo), hu = std::isfinite(up);
    if (hl && hu && lo == up)
        o << "4 " << num(lo) << "\n";
    else if (hl && hu)
        o << "0 " << num(lo) << " " << num(up) << "\n";
    else if (hu)
        o << "1 " << num(up) << "\n";
    else if (hl)
        o << "2 " << num(lo) << "\n";
    else
        o << "3\n";
}
} // namespace

std::string nl_text(const nl_model &p) {
    const int n = p.n, m = static_cast<int>(p.rows.size()), no = static_cast<int>(p.objs.size());
    int nlc = 0, nlo = 0, nranges = 0, neqns = 0, ncc = 0, nzc = 0, nzo = 0;
    for (const auto &r : p.rows) {
        if (!r.expr.empty()) ++nlc;
        if (r.complements >= 0) ++ncc;
        if (std::isfinite(r.lo) && std::isfinite(r.up)) (r.lo == r.up ? neqns : nranges)++;
        nzc += static_cast<int>(full_terms(r.lin, r.expr).size());
    }
    for (const auto &ob : p.objs) {
        // A bare constant ("n5") is not a nonlinear part.
        const bool nonlin = !ob.expr.empty() && ob.expr[0] != 'n';
        if (nonlin) ++nlo;
        nzo += static_cast<int>(full_terms(ob.lin, ob.expr).size());
    }
    const int nlv = p.nnl;
    const int nlvc = nlc ? nlv : 0, nlvo = nlo ? nlv : 0, nlvb = (nlc && nlo) ? nlv : 0;

    std::ostringstream o;
    o << "g3 1 1 0\t# problem test\n";
    o << " " << n << " " << m << " " << no << " " << nranges << " " << neqns << "\n";
    o << " " << nlc << " " << nlo;
    if (ncc) o << " " << ncc << " 0";
    o << "\n 0 0\n";
    o << " " << nlvc << " " << nlvo << " " << nlvb << "\n";
    o << " 0 0 0 1\n";
    o << " " << p.nbv << " " << p.niv << " 0 0 0\n";
    o << " " << nzc << " " << nzo << "\n";
    o << " 0 0\n 0 0 0 0 0\n";
    for (int i = 0; i < m; ++i)
        o << "C" << i << "\n" << (p.rows[i].expr.empty() ? std::string("n0\n") : p.rows[i].expr);
    for (int k = 0; k < no; ++k)
        o << "O" << k << " " << (p.objs[k].maximize ? 1 : 0) << "\n"
          << (p.objs[k].expr.empty() ? std::string("n0\n") : p.objs[k].expr);
    if (!p.y0.empty()) {
        o << "d" << p.y0.size() << "\n";
        for (auto [i, v] : p.y0) o << i << " " << num(v) << "\n";
    }
    if (!p.x0.empty()) {
        o << "x" << p.x0.size() << "\n";
        for (auto [j, v] : p.x0) o << j << " " << num(v) << "\n";
    }
    if (m > 0) {
        o << "r\n";
        for (const auto &r : p.rows) {
            if (r.complements >= 0)
                o << "5 1 " << r.complements + 1 << "\n";
            else
                bound_line(o, r.lo, r.up);
        }
    }
    if (n > 0) {
        o << "b\n";
        for (int j = 0; j < n; ++j) {
            if (p.bounds.empty())
                o << "3\n";
            else
                bound_line(o, p.bounds[j].first, p.bounds[j].second);
        }
    }
    // Column counts of the Jacobian (cumulative, first n-1 columns).
    if (n > 0) {
        std::vector<int> cnt(n, 0);
        for (const auto &r : p.rows)
            for (const auto &t : full_terms(r.lin, r.expr)) cnt[t.first]++;
        o << "k" << n - 1 << "\n";
        int acc = 0;
        for (int j = 0; j < n - 1; ++j) {
            acc += cnt[j];
            o << acc << "\n";
        }
    }
    for (int i = 0; i < m; ++i) {
        const auto t = full_terms(p.rows[i].lin, p.rows[i].expr);
        if (t.empty()) continue;
        o << "J" << i << " " << t.size() << "\n";
        for (auto [j, v] : t) o << j << " " << num(v) << "\n";
    }
    for (int k = 0; k < no; ++k) {
        const auto t = full_terms(p.objs[k].lin, p.objs[k].expr);
        if (t.empty()) continue;
        o << "G" << k << " " << t.size() << "\n";
        for (auto [j, v] : t) o << j << " " << num(v) << "\n";
    }
    return o.str();
}

std::string nl_binary(const std::string &text, bool other_order) {
    std::istringstream in(text);
    std::string line, out;
    auto bytes = [&](const void *p, size_t n) {
        std::string b(static_cast<const char *>(p), n);
        if (other_order) std::reverse(b.begin(), b.end());
        out += b;
    };
    auto i32 = [&](long long v) {
        const std::int32_t x = static_cast<std::int32_t>(v);
        bytes(&x, sizeof x);
    };
    auto f64 = [&](double v) { bytes(&v, sizeof v); };
    auto ints = [](const std::string &s) {
        std::vector<long long> v;
        std::istringstream is(s.substr(0, s.find('#')));
        long long x;
        while (is >> x) v.push_back(x);
        return v;
    };
    // The numbers of a line as strtod reads them (so "inf" and "nan" too).
    auto reals = [](const std::string &s) {
        std::vector<double> v;
        const char *p = s.c_str();
        for (char *end = nullptr;; p = end) {
            const double x = std::strtod(p, &end);
            if (end == p) break;
            v.push_back(x);
        }
        return v;
    };
    std::vector<std::string> lines;
    while (std::getline(in, line)) lines.push_back(line);
    const std::vector<long long> dims = ints(lines.at(1));
    std::string first = lines.at(0);
    first[0] = 'b';
    out += first + "\n";
    // Header line 5 is "nwv nfunc arith flags"; arith 1 is little-endian IEEE, 2 big-endian.
    if (other_order) {
        const std::vector<long long> w = ints(lines.at(5));
        const std::uint16_t one = 1;
        const bool little = *reinterpret_cast<const unsigned char *>(&one) == 1;
        char l5[96];
        std::snprintf(l5, sizeof l5, " %lld %lld %d %lld", w.at(0), w.at(1), little ? 2 : 1, w.at(3));
        lines.at(5) = l5;
    }
    for (size_t h = 1; h < 10; ++h) out += lines.at(h) + "\n";
    // (A damaged count may ask for more lines than there are: the conversion stops there.)
    size_t i = 10;
    auto pair_lines = [&](long long count) {
        for (long long k = 0; k < count && i < lines.size(); ++k) {
            const std::vector<double> v = reals(lines[i++]);
            i32(static_cast<long long>(v.at(0)));
            f64(v.size() > 1 ? v[1] : 0.0);
        }
    };
    while (i < lines.size()) {
        const std::string l = lines[i++];
        if (l.empty()) continue;
        const char t = l[0];
        const std::vector<long long> v = ints(l.substr(1));
        if (std::string("CLOVFSdxrbkJG").find(t) != std::string::npos) out += t;
        // The name after the integers of an F or S segment: its length, then its bytes.
        auto name = [&](size_t words) {
            std::istringstream is(l.substr(1));
            std::string w;
            for (size_t k = 0; k < words; ++k) is >> w;  // the integers
            is >> w;
            i32(static_cast<long long>(w.size()));
            out += w;
        };
        switch (t) {
        case 'F': i32(v.at(0)); i32(v.at(1)); i32(v.at(2)); name(3); break;
        case 'S':
            i32(v.at(0));
            i32(v.at(1));
            name(2);
            for (long long k = 0; k < v.at(1) && i < lines.size(); ++k) {
                std::istringstream is(lines[i++]);
                long long j;
                double x;
                is >> j >> x;
                i32(j);
                if (v.at(0) & 4)
                    f64(x);
                else
                    i32(static_cast<long long>(x));
            }
            break;
        case 'C': case 'L': i32(v.at(0)); break;
        case 'O': i32(v.at(0)); i32(v.at(1)); break;
        case 'V': i32(v.at(0)); i32(v.at(1)); i32(v.at(2)); pair_lines(v.at(1)); break;
        case 'd': case 'x': i32(v.at(0)); pair_lines(v.at(0)); break;
        case 'J': case 'G': i32(v.at(0)); i32(v.at(1)); pair_lines(v.at(1)); break;
        case 'k':
            i32(v.at(0));
            for (long long k = 0; k < v.at(0) && i < lines.size(); ++k) i32(ints(lines[i++]).at(0));
            break;
        case 'r': case 'b': {
            const long long count = t == 'r' ? dims.at(1) : dims.at(0);
            for (long long k = 0; k < count && i < lines.size(); ++k) {
                std::istringstream is(lines[i++]);
                int type;
                is >> type;
                out += static_cast<char>('0' + type);
                if (type == 5) {
                    long long a, b;
                    is >> a >> b;
                    i32(a);
                    i32(b);
                } else {
                    const std::vector<double> x = reals(lines[i - 1]);
                    for (size_t k2 = 1; k2 < x.size(); ++k2) f64(x[k2]);
                }
            }
            break;
        }
        case 'o': out += 'o'; i32(v.at(0)); break;
        case 'v': out += 'v'; i32(v.at(0)); break;
        case 'n': out += 'n'; f64(std::stod(l.substr(1))); break;
        default:
            if (std::isdigit(static_cast<unsigned char>(t))) i32(ints(l).at(0));  // an operand count
            break;
        }
    }
    return out;
}

std::string write_nl(const std::string &dir, const std::string &stem, const nl_model &p) {
    const std::string path = dir + "/" + stem;
    std::ofstream f(path + ".nl", std::ios::binary);
    f << nl_text(p);
    return path;
}

} // namespace orva::testing
