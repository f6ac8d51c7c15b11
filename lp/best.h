// The library's best settings: the described method with the improvements that pay on
// large problems.  orva-mps (and any other program built on the library, such as the
// Python module) starts from them; the AMPL driver keeps the described defaults, where
// each improvement is a keyword.
#pragma once

namespace orva {

struct LP;

// The settings that best_settings changes, so that a program can keep the ones its user
// chose: the ordering (`method`), the ordering priority (`pdf`) and the start (`init`).
// The corrector depends on the problem and is chosen after reading (best_corrector).
struct best_choice {
    bool ordering = true;  // method: minimum degree or nested dissection (5)
    bool priority = true;  // pdf: primal or dual by the operations they need (3)
    bool start = true;     // init: the least-squares start at the rows' scale (lsq_rows_init)
};

// Writes the best settings into the record, those marked in `which`.
void best_settings(LP *lp, best_choice which = {});

// The corrector of the best settings, for a problem already in the record (its quadratic
// part known): pred_corr=3 (adaptive centering and one centrality corrector) where there
// is a quadratic part, the described corrector (1) for a linear program.
void best_corrector(LP *lp);

} // namespace orva
