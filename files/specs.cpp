#include "files/specs.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lp/lp.h"
#include "presolve/presolve.h"

namespace orva {

namespace {

constexpr int nkeys = 33;

// Sorted by name for the bisection.
constexpr std::array<keyword, nkeys> defaults = {{
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
    {"lincons", KEY_INT, 0, 0.0},
    {"max", KEY_FLAG, 0, 0.0},
    {"maximize", KEY_FLAG, 0, 0.0},
    {"maxit", KEY_INT, 200, 0.0},
    {"min", KEY_FLAG, 0, 0.0},
    {"mindeg", KEY_FLAG, 0, 0.0},
    {"minimize", KEY_FLAG, 0, 0.0},
    {"minlocfil", KEY_FLAG, 0, 0.0},
    {"mufactor", KEY_REAL, 0, -1.0},
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

keyword &entry(const char *name) {
    for (auto &k : keytab)
        if (std::strcmp(k.name, name) == 0) return k;
    std::abort(); // every name used below is in the table
}

bool is_space(char ch) { return ch == ' ' || ch == '\t'; }

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
    while (std::fgets(line, sizeof line, fp)) {
        ++lineno;
        const std::size_t len = std::strlen(line);
        if (len > 0 && line[len - 1] != '\n') {
            // A line longer than 79 characters: its rest is not a line of its own.
            int ch = std::fgetc(fp);
            while (ch != EOF && ch != '\n') ch = std::fgetc(fp);
        }
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
            ok = std::isdigit(v0);
            if (ok) k->rval = std::strtod(value, nullptr);
            break;
        case KEY_INT:
            ok = std::isdigit(v0) || (value[0] == '-' && value[1] <= '9');
            if (ok) k->ival = static_cast<int>(std::strtol(value, nullptr, 10));
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
    std::fclose(fp);
    return stop;
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
        if (k->type == KEY_FLAG) {
            k->ival = 1;
            continue;
        }
        if (*p != '=') return 0;
        ++p;
        while (is_space(*p)) ++p;
        if (!std::isdigit(static_cast<unsigned char>(*p))) return 0;
        char *end = nullptr;
        if (k->type == KEY_INT)
            k->ival = static_cast<int>(std::strtol(p, &end, 10));
        else
            k->rval = std::strtod(p, &end);
        p = end;
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
    else
        lp->method = 1;

    if (entry("dual").ival)
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
