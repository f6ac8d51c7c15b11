#include "aslprobe.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "asl_pfgh.h"
#undef exit

namespace orva::testing {

double *asl_x0(ASL *asl) { return X0; }
double *asl_pi0(ASL *asl) { return pi0; }
int asl_obj_no(ASL *asl) { return obj_no; }
ASL *asl_current() { return cur_ASL; }

nl_counts asl_counts(ASL *asl) {
    return {n_var, n_con, n_obj, n_lcon, nlc,  nlo,  nlvc,  nlvo, nlvb,  nwv,   nfunc, nbv,
            niv,   nlvbi, nlvci, nlvoi, nzc,  nzo,  comb,  comc, como,  comc1, como1};
}
void asl_free(ASL *&asl) { ASL_free(&asl); }

bool asl_conval(ASL *asl, double *x, double *body) {
    fint ne = 0;
    n_conjac[0] = 0;
    n_conjac[1] = n_con;
    conval(x, body, &ne);
    return ne == 0;
}

double asl_objval(ASL *asl, int o, double *x) {
    fint ne = 0;
    return objval(o, x, &ne);
}

sol_file read_sol(const std::string &stem) {
    sol_file s;
    if (!std::ifstream(stem + ".sol")) return s;
    ASL *keep = cur_ASL;
    ASL *asl = ASL_alloc(ASL_read_fg);
    FILE *nl = jac0dim_ASL(asl, stem.c_str(), static_cast<ftnlen>(stem.size()));
    if (nl) {
        std::fclose(nl);
        real *x = nullptr, *y = nullptr;
        char *msg = read_sol_ASL(asl, &x, &y);
        if (msg) {
            s.ok = true;
            s.message = msg;
            // The result code stands on the file's "objno <objective> <code>" line.
            std::ifstream f(stem + ".sol");
            std::string line;
            while (std::getline(f, line))
                if (line.rfind("objno ", 0) == 0) {
                    std::istringstream ls(line.substr(6));
                    int o = 0;
                    ls >> o >> s.code;
                }
            if (x) s.x.assign(x, x + n_var);
            if (y) s.y.assign(y, y + n_con);
            std::free(msg);
            std::free(x);
            std::free(y);
        }
    }
    ASL_free(&asl);
    if (keep) set_cur_ASL(keep);
    return s;
}

} // namespace orva::testing
