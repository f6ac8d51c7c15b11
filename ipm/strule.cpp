// Default stopping rule and the SIGINT handler.
#include <cstdio>

#include "ipm/ipm.h"
#include "lp/lp.h"

namespace orva {

volatile std::sig_atomic_t interrupted = 0;

void handler(int sig) {
    if (sig == SIGINT) interrupted = 1;
}

namespace {
// Relative infeasibilities seen at the previous call; reset at iteration 1.
double prev_primal = 1e30;
double prev_dual = 1e30;

// Reads one whitespace-delimited word of at most 9 characters from standard input and
// tells whether it is exactly "y".  The rest of a longer word is consumed; end of input
// counts as "no".
bool answer_is_yes() {
    char word[10];
    if (std::scanf("%9s", word) != 1) return false;
    int ch;
    bool longer = false;
    while ((ch = std::getchar()) != EOF && ch != ' ' && ch != '\t' && ch != '\n' && ch != '\r' &&
           ch != '\v' && ch != '\f')
        longer = true;
    if (ch != EOF && !longer) std::ungetc(ch, stdin);
    return !longer && word[0] == 'y' && word[1] == '\0';
}
} // namespace

int st_verdict(LP *lp) {
    if (lp->iter == 1) prev_primal = prev_dual = 1e30;
    const double P = lp->primal_inf, D = lp->dual_inf;
    int code;
    if (P <= lp->inftol && D <= lp->inftol && lp->sigfig >= lp->sf_req) {
        code = 0;
    } else if (P > lp->inftol2 + prev_primal || D > lp->inftol2 + prev_dual) {
        const bool pf = prev_primal <= lp->inftol, df = prev_dual <= lp->inftol;
        code = pf && df ? 1 : pf ? 4 : df ? 3 : -1;
    } else {
        code = -1;
    }
    prev_primal = P;
    prev_dual = D;
    return code;
}

int deflt_st_rule(LP *lp) {
    int code = st_verdict(lp);
    if (interrupted == 1) {
        std::printf("ORVA: Do you want to stop now? (y/n) ");
        std::fflush(stdout);
        if (answer_is_yes())
            code = 6;
        else
            interrupted = 0;
    }
    return code;
}

} // namespace orva
