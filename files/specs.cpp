#include "files/specs.h"
#include "files/lines.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "ipm/ipm.h"
#include "lp/lp.h"
#include "lp/ranges.h"
#include "presolve/presolve.h"

namespace orva {

namespace {

constexpr int nkeys = 39;

// Sorted by name for the bisection.
constexpr std::array<keyword, nkeys> defaults = {{
    {"amd", KEY_FLAG, 0, 0.0},
    {"autoord", KEY_FLAG, 0, 0.0},
    {"bndpush", KEY_REAL, 0, -1.0},
    {"convex", KEY_FLAG, 0, 0.0},
    {"dense", KEY_INT, -1, 0.0},
    {"dual", KEY_FLAG, 0, 0.0},
    {"epsdiag", KEY_REAL, 0, 1e-10},
    {"epsnum", KEY_REAL, 0, 0.0},
    {"epssol", KEY_REAL, 0, 1e-6},
    {"honor_bnds", KEY_FLAG, 0, 0.0},
    {"honor_bnds_init", KEY_FLAG, 0, 0.0},
    {"inftol", KEY_REAL, 0, 1e-6},
    {"inftol2", KEY_REAL, 0, 1e5},
    {"iterlim", KEY_INT, 500, 0.0},
    {"lessfill", KEY_FLAG, 0, 0.0},
    {"lincons", KEY_INT, 0, 0.0},
    {"lsqinit", KEY_FLAG, 0, 0.0},
    {"lsqrows", KEY_FLAG, 0, 0.0},
    {"max", KEY_FLAG, 0, 0.0},
    {"maximize", KEY_FLAG, 0, 0.0},
    {"maxit", KEY_INT, 200, 0.0},
    {"min", KEY_FLAG, 0, 0.0},
    {"mindeg", KEY_FLAG, 0, 0.0},
    {"minimize", KEY_FLAG, 0, 0.0},
    {"minlocfil", KEY_FLAG, 0, 0.0},
    {"mufactor", KEY_REAL, 0, -1.0},
    {"nesdis", KEY_FLAG, 0, 0.0},
    {"noreord", KEY_FLAG, 0, 0.0},
    {"outlev", KEY_INT, 0, 0.0},
    {"pred_corr", KEY_FLAG, 0, 0.0},
    {"presolve", KEY_INT, PO_DEFAULT, 0.0},  // read by the MPS program, not set_opns
    {"primal", KEY_FLAG, 0, 0.0},
    {"quadratic", KEY_FLAG, 0, 0.0},
    {"sdp", KEY_FLAG, 0, 0.0},
    {"sigfig", KEY_INT, 8, 0.0},
    {"stablty", KEY_REAL, 0, 1.0},
    {"steplen", KEY_REAL, 0, 0.95},
    {"timlim", KEY_REAL, 0, -1.0},
    {"verbose", KEY_INT, 0, 0.0},
}};

std::array<keyword, nkeys> keytab = defaults;

int failures = 0;

// Whether a character ends a keyword.
bool ends_word(char ch) {
    return ch == '\0' || ch == '=' || static_cast<unsigned char>(ch) <= ' ';
}

// Compares the word at s with a name: <0, 0 (match) or >0; *len gets the matched length.
int compare(const char *s, const char *name, int *len) {
    for (int k = 0;; ++k) {
        const int w = ends_word(s[k]) ? 0 : std::tolower(static_cast<unsigned char>(s[k]));
        const int c = static_cast<unsigned char>(name[k]);
        if (w != c) return w < c ? -1 : 1;
        if (c == 0) {
            *len = k;
            return 0;
        }
    }
}

// A keyword of the table by its name, found when the program is compiled (a name that
// is not in the table does not compile).
struct key_ref {
    int index;
    consteval key_ref(const char *name) : index(-1) {
        for (int k = 0; k < nkeys; ++k)
            if (std::string_view(defaults[k].name) == name) index = k;
        if (index < 0) throw "not a keyword of the table";
    }
};

keyword &entry(key_ref key) { return keytab[key.index]; }

bool is_space(char ch) { return ch == ' ' || ch == '\t'; }

// Converts the number at p for an integer or real entry and stores it; *end gets the
// first character after it.  A number beyond the int range, or outside the values the
// setting takes, is refused (false) rather than stored wrapped around or as given.
bool set_value(keyword &k, const char *p, const char **end) {
    char *stop = nullptr;
    double v;
    if (k.type != KEY_REAL) {  // an int, or a flag given a number
        errno = 0;
        const long long iv = std::strtoll(p, &stop, 10);
        if (errno == ERANGE || iv < INT_MIN || iv > INT_MAX) return false;
        v = static_cast<double>(iv);
    } else {
        v = std::strtod(p, &stop);
    }
    char why[120];
    if (!setting_in_range(k.name, v, why, sizeof why)) return false;
    if (k.type != KEY_REAL)
        k.ival = static_cast<int>(v);
    else
        k.rval = v;
    if (end) *end = stop;
    return true;
}

} // namespace

keyword *findkey(const char *word, const char **end) {
    int lo = 0, hi = nkeys - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        int len = 0;
        const int cmp = compare(word, keytab[mid].name, &len);
        if (cmp == 0) {
            if (end) *end = word + len;
            return &keytab[mid];
        }
        if (cmp < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return nullptr;
}

keyword *binsearch(const char **pos) {
    keyword *k = findkey(*pos, pos);
    if (!k) ++failures;
    return k;
}

int opns_failures() { return failures; }

void reset_opns() {
    keytab = defaults;
    failures = 0;
}

int rd_specs(const char *path) {
    std::FILE *fp = std::fopen(path, "r");
    if (!fp) return -1;
    char line[80];
    int lineno = 0;
    int stop = 0;
    bool cut = false;  // a line longer than 79 characters: its rest is not a line of its own
    while (read_text_line(fp, line, sizeof line, &cut) > 0) {
        ++lineno;
        const char *p = line;
        while (is_space(*p) || *p == '\n' || *p == '\r') ++p;
        if (*p == '\0') continue; // empty line
        if (*p == '*') continue;  // comment
        if (!std::isalpha(static_cast<unsigned char>(*p))) {
            stop = lineno;
            break;
        }
        keyword *k = binsearch(&p);
        if (!k || failures > 0) {
            stop = lineno;
            break;
        }
        // The value: one word of at most 14 characters (a longer one is refused rather
        // than read cut short).
        while (is_space(*p)) ++p;
        char value[15];
        std::size_t vlen = 0;
        while (p[vlen] && !std::isspace(static_cast<unsigned char>(p[vlen]))) ++vlen;
        if (vlen > sizeof value - 1) {
            stop = lineno;
            break;
        }
        std::memcpy(value, p, vlen);
        value[vlen] = '\0';
        const unsigned char v0 = static_cast<unsigned char>(value[0]);
        bool ok = true;
        switch (k->type) {
        case KEY_REAL:
            ok = std::isdigit(v0) && set_value(*k, value, nullptr);
            break;
        case KEY_INT:
            ok = (std::isdigit(v0) || (value[0] == '-' && value[1] <= '9')) && set_value(*k, value, nullptr);
            break;
        default:
            if (value[0] == 'T')
                k->ival = 1;
            else if (value[0] == 'F')
                k->ival = 0;
            else
                ok = false;
            break;
        }
        if (!ok) {
            stop = lineno;
            break;
        }
    }
    // A file that cannot be read (a folder, a failing device) is no file of settings.
    const bool unreadable = stop == 0 && std::ferror(fp);
    std::fclose(fp);
    return unreadable ? -1 : stop;
}

int rd_opns(const char *opns) {
    const char *p = opns;
    for (;;) {
        while (is_space(*p)) ++p;
        if (*p == '\0') return 1;
        if (!std::isalpha(static_cast<unsigned char>(*p))) return 0;
        keyword *k = binsearch(&p);
        if (!k || failures > 0) return 0;
        while (is_space(*p)) ++p;
        if (k->type == KEY_FLAG && *p != '=') {
            k->ival = 1;
            continue;
        }
        if (*p != '=') return 0;
        ++p;
        while (is_space(*p)) ++p;
        if (!std::isdigit(static_cast<unsigned char>(*p))) return 0;
        if (!set_value(*k, p, &p)) return 0;
    }
}

void set_opns(LP *lp) {
    lp->bndpush = entry("bndpush").rval;
    lp->convex = entry("convex").ival;
    lp->dense = entry("dense").ival;
    lp->epsdiag = entry("epsdiag").rval;
    lp->epsnum = entry("epsnum").rval;
    lp->epssol = entry("epssol").rval;
    lp->honor_bnds = entry("honor_bnds").ival;
    lp->honor_bnds_init = entry("honor_bnds_init").ival;
    lp->inftol = entry("inftol").rval;
    lp->inftol2 = entry("inftol2").rval;
    lp->lincons = entry("lincons").ival;
    lp->mufactor = entry("mufactor").rval;
    lp->pred_corr = entry("pred_corr").ival;
    lp->quadratic = entry("quadratic").ival;
    if (lp->quadratic) lp->lincons = 1;
    lp->sdp = entry("sdp").ival;
    lp->sf_req = entry("sigfig").ival;
    lp->stablty = entry("stablty").rval;
    lp->steplen = entry("steplen").rval;

    if (entry("min").ival || entry("minimize").ival)
        lp->max = 1;
    else if (entry("max").ival || entry("maximize").ival)
        lp->max = -1;
    else
        lp->max = 1;

    if (entry("noreord").ival)
        lp->method = 0;
    else if (entry("minlocfil").ival)
        lp->method = 2;
    else if (entry("amd").ival)
        lp->method = 3;
    else if (entry("nesdis").ival)
        lp->method = 4;
    else if (entry("autoord").ival)
        lp->method = 5;
    else
        lp->method = 1;

    if (entry("lsqinit").ival) lp->init = lsq_init;
    if (entry("lsqrows").ival) lp->init = lsq_rows_init;

    if (entry("lessfill").ival)
        lp->pdf = 3;
    else if (entry("dual").ival)
        lp->pdf = 2;
    else if (entry("primal").ival)
        lp->pdf = 1;
    else
        lp->pdf = 0;

    const int iterlim = entry("iterlim").ival;
    lp->itnlim = iterlim == 200 ? entry("maxit").ival : iterlim;
    const int outlev = entry("outlev").ival;
    lp->verbose = outlev != 0 ? outlev : entry("verbose").ival;
    const double timlim = entry("timlim").rval;
    if (timlim != -1.0) lp->timlim = timlim;
}

} // namespace orva
