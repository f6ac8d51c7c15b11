#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "files/labels.h"
#include "files/mps.h"
#include "lp/lp.h"
#include "mps_lines.h"
#include "testlp.h"

using namespace orva;
using mpstest::entry;
using mpstest::line;
using mpstest::qentry;
using mpstest::read_text;

namespace {

constexpr double inf = orva::testing::inf;

// A small problem with every row type and a second N row:
//   min x1 + 2 x2   s.t.  LIM: 2 x1 + 3 x2 <= 4,  EQ: x1 - x2 = 1,  GE: x2 >= 0.5
const std::string small_rows = "NAME          SMALL\n"
                               "ROWS\n" +
                               line("N", "COST") + line("L", "LIM") + line("E", "EQ") +
                               line(" G", "GE") + line("N", "OTHER");

const std::string small_columns = "COLUMNS\n" + line("", "X1", "COST", "1.", "LIM", "2.") +
                                  line("", "X1", "EQ", "1.", "OTHER", "7.") +
                                  line("", "X2", "COST", "2.", "LIM", "3.") +
                                  line("", "X2", "EQ", "-1.", "GE", "1.");

const std::string small_rhs = "RHS\n" + line("", "RHS", "LIM", "4.", "EQ", "1.") + line("", "RHS", "GE", ".5");

// A label made of a prefix and a number.
std::string lab(const char *prefix, int i) {
    std::string s(prefix);
    s += std::to_string(i);
    return s;
}

} // namespace

TEST(MpsReader, MinimalFileGivesAnEmptyProblemSilently) {
    std::string out;
    LP *lp = read_text("NAME          EMPTY\nROWS\n" + line("N", "COST") + "COLUMNS\nENDATA\n", &out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(lp->m, 0);
    EXPECT_EQ(lp->n, 0);
    EXPECT_EQ(lp->nz, 0);
    EXPECT_EQ(lp->qnz, 0);
    EXPECT_STREQ(lp->name, "EMPTY");
    EXPECT_STREQ(lp->obj, "COST    ");
    ASSERT_NE(lp->kA, nullptr);
    EXPECT_EQ(lp->kA[0], 0);
    closelp(lp);
}

TEST(MpsReader, MissingEndataIsReportedAndTheProblemKept) {
    std::string out;
    LP *lp = read_text(small_rows + small_columns + small_rhs, &out);
    EXPECT_EQ(out, "ENDATA not found \n");
    EXPECT_EQ(lp->m, 3);
    EXPECT_EQ(lp->n, 2);
    closelp(lp);

    // Input that stops inside ROWS still gives a complete (empty-column) problem.
    lp = read_text(small_rows, &out);
    EXPECT_EQ(out, "ENDATA not found \n");
    EXPECT_EQ(lp->m, 3);
    EXPECT_EQ(lp->n, 0);
    ASSERT_NE(lp->b, nullptr);
    EXPECT_EQ(lp->b[0], 0.0);
    closelp(lp);
}

TEST(MpsReader, RowTypesSignsAndObjective) {
    std::string out;
    LP *lp = read_text(small_rows + small_columns + small_rhs + "ENDATA\n", &out);
    EXPECT_EQ(out, "");
    ASSERT_EQ(lp->m, 3);  // COST and OTHER are gone
    ASSERT_EQ(lp->n, 2);
    EXPECT_STREQ(lp->rowlab[0], "LIM     ");
    EXPECT_STREQ(lp->rowlab[1], "EQ      ");
    EXPECT_STREQ(lp->rowlab[2], "GE      ");
    EXPECT_STREQ(lp->collab[1], "X2      ");
    // L row negated into G form: -2 x1 - 3 x2 >= -4.
    EXPECT_EQ(entry(lp, 0, 0), -2.0);
    EXPECT_EQ(entry(lp, 0, 1), -3.0);
    EXPECT_EQ(lp->b[0], -4.0);
    EXPECT_EQ(lp->r[0], inf);
    EXPECT_EQ(lp->b[1], 1.0);
    EXPECT_EQ(lp->r[1], 0.0);
    EXPECT_EQ(lp->b[2], 0.5);
    EXPECT_EQ(lp->r[2], inf);
    // The other N row's entry is dropped; the objective's become c.
    EXPECT_EQ(lp->nz, 5);
    EXPECT_EQ(lp->c[0], 1.0);
    EXPECT_EQ(lp->c[1], 2.0);
    EXPECT_EQ(lp->f, 0.0);
    EXPECT_EQ(lp->l[0], 0.0);
    EXPECT_EQ(lp->u[0], inf);
    EXPECT_EQ(lp->varsgn[0], 1);
    EXPECT_STREQ(lp->rhs, "RHS     ");
    // Settings the reader gives every problem.
    EXPECT_EQ(lp->convex, 1);
    EXPECT_EQ(lp->quadratic, 1);
    EXPECT_EQ(lp->honor_bnds, 0);
    EXPECT_EQ(lp->pred_corr, 1);
    EXPECT_EQ(lp->mufactor, 0.0);
    EXPECT_EQ(lp->bndpush, 100.0);
    // Labels stay in the table for later lookups.
    EXPECT_EQ(getindex("X2      C"), 1);
    EXPECT_EQ(getindex("EQ      R"), 2);  // row numbers as read, N rows counted
    closelp(lp);
}

TEST(MpsReader, ColumnsAreSortedInRowOrderAndKeepExplicitZeros) {
    std::string out;
    LP *lp = read_text("NAME          Z\nROWS\n" + line("N", "OBJ") + line("E", "R1") + line("E", "R2") +
                           "COLUMNS\n" + line("", "X", "R2", "5.", "R1", "0.") + line("", "Y", "OBJ", "0.") +
                           "ENDATA\n",
                       &out);
    EXPECT_EQ(out, "");
    ASSERT_EQ(lp->n, 2);
    EXPECT_EQ(lp->nz, 2);  // the explicit zero is kept; Y has only an objective entry
    EXPECT_EQ(lp->kA[1], 2);
    EXPECT_EQ(lp->kA[2], 2);
    EXPECT_EQ(entry(lp, 1, 0), 5.0);
    closelp(lp);
}

TEST(MpsReader, ObjectiveRightHandSideIsTheNegatedConstant) {
    LP *lp = read_text(small_rows + small_columns + small_rhs + line("", "RHS", "COST", "-7.113") + "ENDATA\n");
    EXPECT_EQ(lp->f, 7.113);
    EXPECT_EQ(lp->m, 3);
    closelp(lp);
}

TEST(MpsReader, RangesFollowTheRowType) {
    const std::string text =
        "NAME          RNG\nROWS\n" + line("N", "OBJ") + line("E", "EPOS") + line("E", "ENEG") +
        line("L", "LROW") + line("L", "LNEG") + line("G", "GROW") + line("G", "GNEG") + line("L", "LZERO") +
        "COLUMNS\n" + line("", "X", "EPOS", "1.", "ENEG", "1.") + line("", "X", "LROW", "1.", "LNEG", "1.") +
        line("", "X", "GROW", "1.", "GNEG", "1.") + line("", "X", "LZERO", "1.") + "RHS\n" +
        line("", "B", "EPOS", "10.", "ENEG", "10.") + line("", "B", "LROW", "10.", "LNEG", "10.") +
        line("", "B", "GROW", "10.", "GNEG", "10.") + line("", "B", "LZERO", "10.") + "RANGES\n" +
        line("", "RG", "EPOS", "4.", "ENEG", "-4.") + line("", "RG", "LROW", "4.", "LNEG", "-4.") +
        line("", "RG", "GROW", "4.", "GNEG", "-4.") + line("", "RG", "LZERO", "0.") + "ENDATA\n";
    std::string out;
    LP *lp = read_text(text, &out);
    EXPECT_EQ(out, "");
    ASSERT_EQ(lp->m, 7);
    // E, R > 0: 10 <= x <= 14.   E, R < 0: 6 <= x <= 10.
    EXPECT_EQ(lp->b[0], 10.0);
    EXPECT_EQ(lp->r[0], 4.0);
    EXPECT_EQ(lp->b[1], 6.0);
    EXPECT_EQ(lp->r[1], 4.0);
    // L: 6 <= x <= 10, held as -10 <= -x <= -6, whatever the sign of R.
    for (int i : {2, 3}) {
        EXPECT_EQ(lp->b[i], -10.0) << i;
        EXPECT_EQ(lp->r[i], 4.0) << i;
        EXPECT_EQ(entry(lp, i, 0), -1.0) << i;
    }
    // G: 10 <= x <= 14 whatever the sign of R.
    for (int i : {4, 5}) {
        EXPECT_EQ(lp->b[i], 10.0) << i;
        EXPECT_EQ(lp->r[i], 4.0) << i;
    }
    // A zero range makes the row an equality.
    EXPECT_EQ(lp->b[6], -10.0);
    EXPECT_EQ(lp->r[6], 0.0);
    EXPECT_STREQ(lp->ranges, "RG      ");
    closelp(lp);
}

TEST(MpsReader, OnlyTheFirstSetOfEachKindIsUsed) {
    const std::string text =
        "NAME          SETS\nROWS\n" + line("N", "OBJ") + line("G", "R1") + line("G", "R2") + "COLUMNS\n" +
        line("", "X", "R1", "1.", "R2", "1.") + "RHS\n" + line("", "RHS1", "R1", "1.") +
        line("", "RHS2", "R1", "5.", "R2", "6.") + line("", "RHS1", "R2", "2.") + "RANGES\n" +
        line("", "RNG1", "R1", "3.") + line("", "RNG2", "R2", "3.") + "BOUNDS\n" + line("UP", "BND1", "X", "8.") +
        line("UP", "BND2", "X", "9.") + line("LO", "BND2", "X", "1.") + "ENDATA\n";
    std::string out;
    LP *lp = read_text(text, &out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(lp->b[0], 1.0);
    EXPECT_EQ(lp->b[1], 2.0);
    EXPECT_EQ(lp->r[0], 3.0);
    EXPECT_EQ(lp->r[1], inf);
    EXPECT_EQ(lp->u[0], 8.0);
    EXPECT_EQ(lp->l[0], 0.0);
    EXPECT_STREQ(lp->bounds, "BND1    ");
    closelp(lp);

    // Blank set names (columns 5-12 empty) are a set like any other.
    lp = read_text("NAME          BLANK\nROWS\n" + line("N", "OBJ") + line("G", "R1") + "COLUMNS\n" +
                   line("", "X", "R1", "1.") + "RHS\n" + line("", "", "R1", "2.") + "BOUNDS\n" +
                   line("UP", "", "X", "3.") + "ENDATA\n");
    EXPECT_EQ(lp->b[0], 2.0);
    EXPECT_EQ(lp->u[0], 3.0);
    closelp(lp);
}

TEST(MpsReader, BoundTypes) {
    std::string text = "NAME          BOUNDS\nROWS\n" + line("N", "OBJ") + "COLUMNS\n";
    const char *cols[] = {"LO", "UP", "FX", "FR", "PL", "MI", "MIUP", "LOMI", "BV", "LI", "UI", "SC", "NEGUP"};
    for (const char *c : cols) text += line("", c, "OBJ", "1.");
    text += "BOUNDS\n" + line("LO", "B", "LO", "-2.5") + line("UP", "B", "UP", "7.") + line("FX", "B", "FX", "3.") +
            line("FR", "B", "FR") + line("UP", "B", "PL", "4.") + line("PL", "B", "PL") + line("MI", "B", "MI") +
            line("MI", "B", "MIUP") + line("UP", "B", "MIUP", "5.") + line("LO", "B", "LOMI", "2.") +
            line("MI", "B", "LOMI") + line("BV", "B", "BV") + line("LI", "B", "LI", "-3.") +
            line("UI", "B", "UI", "9.") + line("SC", "B", "SC", "6.") + line("UP", "B", "NEGUP", "-1.") +
            line("XX", "B", "LO", "1.") + line("UP", "B", "NOCOL", "1.") + "ENDATA\n";
    std::string out;
    LP *lp = read_text(text, &out);
    EXPECT_EQ(out, "unrecognized bound type XX \n"
                   "col label NOCOL    from BOUNDS section missing in COLUMNS section\n");
    ASSERT_EQ(lp->n, 13);
    struct expect {
        double l, u;
        int sgn;
    } want[] = {{-2.5, inf, 1}, {0, 7, 1},   {3, 3, 1},    {-inf, inf, 1}, {0, inf, 1},
                {-inf, 0, 1},   {-inf, 5, 1}, {-inf, 2, 1}, {0, 1, 2},      {-3, inf, 2},
                {0, 9, 2},      {0, 6, 3},    {0, -1, 1}};
    for (int j = 0; j < lp->n; ++j) {
        EXPECT_EQ(lp->l[j], want[j].l) << cols[j];
        EXPECT_EQ(lp->u[j], want[j].u) << cols[j];
        EXPECT_EQ(lp->varsgn[j], want[j].sgn) << cols[j];
    }
    closelp(lp);
}

TEST(MpsReader, MarkerLinesSwitchIntegerColumns) {
    std::string out;
    LP *lp = read_text("NAME          MARK\nROWS\n" + line("N", "OBJ") + line("G", "R") + "COLUMNS\n" +
                           line("", "A", "R", "1.") + line("", "MARKER", "'MARKER'", "", "'INTORG'") +
                           line("", "B", "R", "1.") + line("", "C", "R", "1.") +
                           line("", "MARKER", "'MARKER'", "", "'INTEND'") + line("", "D", "R", "1.") + "ENDATA\n",
                       &out);
    EXPECT_EQ(out, "");
    ASSERT_EQ(lp->n, 4);
    EXPECT_EQ(lp->nz, 4);
    EXPECT_EQ(lp->varsgn[0], 1);
    EXPECT_EQ(lp->varsgn[1], 2);
    EXPECT_EQ(lp->varsgn[2], 2);
    EXPECT_EQ(lp->varsgn[3], 1);
    closelp(lp);
}

TEST(MpsReader, QuadsBuildsTheSymmetricMatrix) {
    // QUADOBJ is read as QUADS (headers count by their first three characters).
    for (const char *header : {"QUADS\n", "QUADOBJ\n"}) {
        std::string out;
        LP *lp = read_text("NAME          QP\nROWS\n" + line("N", "OBJ") + line("G", "R") + "COLUMNS\n" +
                               line("", "X1", "R", "1.") + line("", "X2", "R", "1.") + line("", "X3", "R", "1.") +
                               header + line("", "X1", "X1", "2.", "X2", "1.") + line("", "X1", "X3", "-1.") +
                               line("", "X2", "X1", "9.") + line("", "X3", "X3", "4.") + "ENDATA\n",
                           &out);
        EXPECT_EQ(out, "QUADS section contains entry from upper triangle\n") << header;
        ASSERT_EQ(lp->n, 3);
        EXPECT_EQ(lp->qnz, 6);  // two below the diagonal, mirrored, and two diagonals
        EXPECT_EQ(qentry(lp, 0, 0), 2.0);
        EXPECT_EQ(qentry(lp, 1, 0), 1.0);
        EXPECT_EQ(qentry(lp, 0, 1), 1.0);
        EXPECT_EQ(qentry(lp, 2, 0), -1.0);
        EXPECT_EQ(qentry(lp, 0, 2), -1.0);
        EXPECT_EQ(qentry(lp, 1, 1), 0.0);
        EXPECT_EQ(qentry(lp, 2, 2), 4.0);
        for (int j = 0; j < 3; ++j)
            for (int k = lp->kQ[j] + 1; k < lp->kQ[j + 1]; ++k) EXPECT_LT(lp->iQ[k - 1], lp->iQ[k]);
        closelp(lp);
    }
}

TEST(MpsReader, FittingRowGetsAFreeColumn) {
    std::string out;
    LP *lp = read_text("NAME          FIT\nROWS\n" + line("N", "OBJ") + line("F", "R1") + line("G", "R2") +
                           "COLUMNS\n" + line("", "X", "R1", "2.", "R2", "1.") + "RHS\n" +
                           line("", "RHS", "R1", "3.") + "ENDATA\n",
                       &out);
    EXPECT_EQ(out, "");
    ASSERT_EQ(lp->n, 2);
    ASSERT_EQ(lp->m, 2);
    EXPECT_STREQ(lp->collab[1], "f.R1      ");
    EXPECT_EQ(entry(lp, 0, 1), -1.0);
    EXPECT_EQ(lp->kA[2] - lp->kA[1], 1);
    EXPECT_EQ(lp->l[1], -inf);
    EXPECT_EQ(lp->u[1], inf);
    EXPECT_EQ(lp->c[1], 0.0);
    EXPECT_EQ(lp->varsgn[1], 1);
    EXPECT_EQ(lp->b[0], 3.0);
    EXPECT_EQ(lp->r[0], 0.0);
    EXPECT_EQ(lp->qnz, 1);
    EXPECT_EQ(qentry(lp, 1, 1), 1.0);
    closelp(lp);
}

TEST(MpsReader, ParameterLinesBeforeNameAndAfterEndata) {
    std::string out;
    LP *lp = read_text("eps 1e-6\nMAX\n" + small_rows + small_columns + "ENDATA\nafter   value2  extra\n", &out);
    EXPECT_EQ(out, "");
    ASSERT_EQ(lp->np, 3);
    ASSERT_GE(getparam("eps"), 0);
    EXPECT_STREQ(lp->param[getparam("eps")], "1e-6");
    EXPECT_STREQ(lp->param[getparam("MAX")], "");
    EXPECT_STREQ(lp->param[getparam("after")], "value2");
    EXPECT_EQ(getparam("nothere"), -1);
    closelp(lp);
}

TEST(MpsReader, MisplacedLinesAndUnknownLabelsAreReportedAndSkipped) {
    const std::string text = "NAME          BAD\nstray line\nROWS\n" + line("N", "OBJ") + line("G", "R1") +
                             line("X", "ODD") + line("E", "R1") + "HEADER\n" + "COLUMNS\n" + line("", "X", "R1", "1.", "NOROW", "2.") + "RHS\n" +
                             line("", "RHS", "NOROW", "1.") + "RANGES\n" + line("", "RNG", "NOROW", "1.") +
                             "QUADS\n" + line("", "NOCOL", "X", "1.") + line("", "X", "NOCOL", "1.") + "ENDATA\n";
    std::string out;
    LP *lp = read_text(text, &out);
    EXPECT_EQ(out, "expected ROWS after NAME instead of stray line\n"
                   "unrecognized row type X of row ODD     : row ignored\n"
                   "row label R1       repeated in ROWS section\n"
                   "expected L, E, G, N, or COLUMNS instead of EADER\n"
                   "row label NOROW    from COLUMNS section missing in ROWS section\n"
                   "row label NOROW    from RHS section missing in ROWS section\n"
                   "row label NOROW    from RANGES section missing in ROWS section\n"
                   "col label NOCOL    from QUADS section missing in COLUMNS section\n"
                   "col label NOCOL    from QUADS section missing in COLUMNS section\n");
    EXPECT_EQ(lp->m, 2);  // the row of unknown type is left out
    EXPECT_EQ(lp->nz, 1);  // in the later row R1, which the label now names
    EXPECT_EQ(lp->r[1], 0.0);
    EXPECT_EQ(mpstest::entry(lp, 1, 0), 1.0);
    EXPECT_EQ(lp->qnz, 0);
    closelp(lp);
}

TEST(MpsReader, FixedFieldsKeepBlanksAndNumericNames) {
    // Names with inner blanks and names that look like numbers, as in real files.
    std::string out;
    LP *lp = read_text("NAME          FIXED    (some comment)\nROWS\n" + line("N", "COST") + line("L", "DEDO3 1R") +
                           line("E", "   12") + "COLUMNS\n" + line("", "       1", "DEDO3 1R", "1.", "   12", "2.") +
                           line("", "2 2", "   12", "-.13") + "RHS\n" + line("", "", "   12", "4862.") + "ENDATA\n",
                       &out);
    EXPECT_EQ(out, "");
    EXPECT_STREQ(lp->name, "FIXED");
    ASSERT_EQ(lp->m, 2);
    ASSERT_EQ(lp->n, 2);
    EXPECT_STREQ(lp->rowlab[0], "DEDO3 1R");
    EXPECT_STREQ(lp->collab[0], "       1");
    EXPECT_EQ(entry(lp, 1, 0), 2.0);
    EXPECT_EQ(entry(lp, 1, 1), -0.13);
    EXPECT_EQ(lp->b[1], 4862.0);
    closelp(lp);
}

TEST(MpsReader, CarriageReturnsAndLongLinesAreHandled) {
    // CR LF line ends read like LF ones.
    std::string text = small_rows + small_columns + small_rhs + "ENDATA\n", crlf;
    for (char ch : text) {
        if (ch == '\n') crlf += '\r';
        crlf += ch;
    }
    std::string out;
    LP *lp = read_text(crlf, &out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(lp->m, 3);
    EXPECT_EQ(lp->b[2], 0.5);
    EXPECT_STREQ(lp->rowlab[2], "GE      ");
    closelp(lp);

    // The part of a line beyond the read limit is skipped, not taken as a line (here it
    // would be an unknown section header).  Over-long names are cut to their fields.
    const std::string longline = line("", "X1", "COST", "1.", "LIM", "2.").substr(0, 61) +
                                 std::string(239 - 61, ' ') + "GARBAGE TAIL\n";
    lp = read_text("NAME          AVERYLONGPROBLEMNAME\nROWS\n" + line("N", "COST") + line("L", "LIM") +
                       "COLUMNS\n" + longline + "ENDATA\n",
                   &out);
    EXPECT_EQ(out.rfind("line longer than 239 characters, the rest is ignored: ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    EXPECT_STREQ(lp->name, "AVERYLONGPROBL");
    EXPECT_EQ(lp->nz, 1);
    EXPECT_EQ(lp->c[0], 1.0);
    closelp(lp);

    // A NUL byte in a line is a blank: the line keeps its length and the next line is read.
    const std::string rows = small_rows.substr(0, small_rows.find(" L")) + " L  LIM" + std::string(1, '\0') + "\n" +
                             small_rows.substr(small_rows.find(" E"));
    lp = read_text(rows + small_columns + small_rhs + "ENDATA\n", &out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(lp->m, 3);
    EXPECT_EQ(entry(lp, 0, 1), -3.0);  // LIM, negated into G form
    closelp(lp);
}

TEST(MpsReader, ObjectiveSenseSection) {
    // The free layout's OBJSENSE section, with its word on the header line or the next,
    // marks a maximisation as the writer's MAX line does.
    const std::string head = "NAME          SMALL\n", rest = small_rows.substr(head.size());
    for (const std::string sense : {"OBJSENSE\n    MAX\n", "OBJSENSE MAXIMIZE\n", "OBJSENSE\n    MIN\n"}) {
        std::string out;
        LP *lp = read_text(head + sense + rest + small_columns + "ENDATA\n", &out);
        EXPECT_EQ(out, "") << sense;
        EXPECT_EQ(lp->m, 3) << sense;
        EXPECT_EQ(getparam("MAX") >= 0, sense.find("MAX") != std::string::npos) << sense;
        closelp(lp);
    }
}

TEST(MpsReader, InvalidNumbersAreReportedNotReadAsZero) {
    std::string out;
    LP *lp = read_text("NAME          NUM\nROWS\n" + line("N", "OBJ") + line("G", "R") + "COLUMNS\n" +
                           line("", "X", "R", "1.5x", "OBJ", "2.") + "RHS\n" + line("", "RHS", "R", "abc") +
                           "ENDATA\n",
                       &out);
    EXPECT_EQ(out, "invalid number         1.5x in COLUMNS section, entry skipped\n"
                   "invalid number          abc in RHS section, entry skipped\n");
    EXPECT_EQ(lp->nz, 0);
    EXPECT_EQ(lp->c[0], 2.0);
    closelp(lp);
}

TEST(MpsReader, SeveralFilesAreOneInput) {
    const std::string dir = orva::testing::scratch_dir("mps-multi");
    const std::string a = mpstest::write_file(dir, "a.mps", small_rows);
    const std::string b = mpstest::write_file(dir, "b.mps", small_columns);
    const std::string c = mpstest::write_file(dir, "c.mps", small_rhs + "ENDATA\n");
    std::string out;
    LP *lp = mpstest::read_files({a, b, c}, &out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(lp->m, 3);
    EXPECT_EQ(lp->n, 2);
    EXPECT_EQ(lp->b[0], -4.0);
    closelp(lp);
}

TEST(MpsReaderDeathTest, StandardInputIsTheDash) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string dir = orva::testing::scratch_dir("mps-stdin");
    const std::string path = mpstest::write_file(dir, "p.mps", small_rows + small_columns + small_rhs + "ENDATA\n");
    EXPECT_EXIT(
        {
            if (!std::freopen(path.c_str(), "r", stdin)) std::exit(3);
            const char *args[] = {"-"};
            LP *lp = openlp();
            readlp(1, args, lp);
            std::exit(lp->m == 3 && lp->n == 2 && lp->b[2] == 0.5 ? 0 : 4);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(MpsReader, LargeProblemGrowsEveryArray) {
    // More rows, columns and entries than the first capacities (taken from the file size)
    // hold, so that each array doubles several times.
    const int N = 3000;
    std::string text = "NAME          BIG\nROWS\n" + line("N", "OBJ");
    for (int i = 0; i < N; ++i) text += line("E", lab("R", i));
    text += "COLUMNS\n";
    for (int j = 0; j < N; ++j) {
        const std::string c = lab("C", j);
        text += line("", c, "OBJ", std::to_string(j % 7) + ".", lab("R", j), "1.");
        text += line("", c, lab("R", (j + 1) % N), "-.5");
    }
    text += "RHS\n";
    for (int i = 0; i < N; ++i) text += line("", "RHS", lab("R", i), std::to_string(i) + ".");
    text += "QUADS\n";
    for (int j = 0; j + 1 < N; ++j)
        text += line("", lab("C", j), lab("C", j), "2.", lab("C", j + 1), "-1.");
    text += "ENDATA\n";
    std::string out;
    LP *lp = read_text(text, &out);
    EXPECT_EQ(out, "");
    ASSERT_EQ(lp->m, N);
    ASSERT_EQ(lp->n, N);
    EXPECT_EQ(lp->nz, 2 * N);
    EXPECT_EQ(lp->qnz, (N - 1) + 2 * (N - 1));
    bool ok = true;
    for (int j = 0; j < N && ok; ++j) {
        std::string label = lab("C", j);
        label.resize(8, ' ');
        ok = entry(lp, j, j) == 1.0 && entry(lp, (j + 1) % N, j) == -0.5 && lp->c[j] == j % 7 &&
             lp->b[j] == j && label == lp->collab[j];
        if (j + 1 < N) ok = ok && qentry(lp, j, j) == 2.0 && qentry(lp, j + 1, j) == -1.0 && qentry(lp, j, j + 1) == -1.0;
        EXPECT_TRUE(ok) << "column " << j;
    }
    closelp(lp);
}

TEST(MpsReader, RefusedFilesReturnTheirError) {
    // Each refusal comes back to the caller with its code and text; what the reader had
    // read is released on the way (the sanitizer build checks it) and the record, left
    // as it was, can be closed.
    const std::string dir = orva::testing::scratch_dir("mps-fatal");
    const struct {
        std::string text;
        int code;
        const char *output;
    } cases[] = {
        {small_columns + "ENDATA\n", 11, "ORVA ERROR(11): NAME not found\n"},
        {small_rows + small_columns + "BOGUS\nENDATA\n", 26, "ORVA ERROR(26): unrecognized section label: \n   BOGUS"},
        {small_rows + small_columns + line("", "X1", "EQ", "1.") + "ENDATA\n", 35,
         "ORVA ERROR(35): column X1       out of order in COLUMNS section\n"},
        {small_rows + small_columns + "QUADS\n" + line("", "X2", "X2", "1.") + line("", "X1", "X1", "1.") +
             "ENDATA\n",
         36, "ORVA ERROR(36): columns out of order in QUADS section\n"},
        {small_rows + small_columns + "ENDATA\n" + small_rows + small_columns + "ENDATA\n", 11,
         "ORVA ERROR(11): second NAME line"},
        // An input that ends before ROWS holds no problem.
        {"NAME          X\n", 11, "ORVA ERROR(11): ROWS not found\n"},
    };
    for (const auto &c : cases) {
        const std::string path = mpstest::write_file(dir, "p.mps", c.text);
        LP *lp = openlp();
        const char *args[] = {path.c_str()};
        const std::optional<error> e = orva::testing::thrown_by([&] { readlp(1, args, lp); });
        ASSERT_TRUE(e.has_value()) << c.output;
        EXPECT_EQ(e->code(), c.code);
        EXPECT_EQ(e->output().rfind(c.output, 0), 0u) << e->output();
        EXPECT_EQ(lp->m, 0);
        closelp(lp);
    }
    // A file that cannot be opened, and a folder, which cannot be read as a file.
    for (const char *path : {"/nonexistent/dir/p.mps", "/"}) {
        LP *lp = openlp();
        const char *args[] = {path};
        const std::optional<error> e = orva::testing::thrown_by([&] { readlp(1, args, lp); });
        ASSERT_TRUE(e.has_value());
        EXPECT_EQ(e->output(), std::string("ORVA ERROR(2): cannot ") + (path[1] ? "open" : "read") + " file " + path +
                                   "\n\n");
        closelp(lp);
    }
    hash_free();
}

TEST(LabelTable, KeysIndicesAndReplacement) {
    hash_init(0);  // raised to one bucket
    EXPECT_EQ(getindex("AR"), -1);
    install("AR", 3);
    install("AC", 4);
    EXPECT_EQ(getindex("AR"), 3);
    EXPECT_EQ(getindex("AC"), 4);
    install("AR", 7);
    EXPECT_EQ(getindex("AR"), 7);
    ASSERT_NE(lookup("AC"), nullptr);
    EXPECT_STREQ(lookup("AC")->name, "AC");
    hash_init(101);
    EXPECT_EQ(lookup("AR"), nullptr);
    for (int i = 0; i < 1000; ++i) install((lab("K", i)).c_str(), i);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(getindex((lab("K", i)).c_str()), i);
    // getparam counts the first 8 characters of the name.
    install("LONGNAMEP", 5);
    EXPECT_EQ(getparam("LONGNAMEISCUT"), 5);
    hash_free();
    EXPECT_EQ(getindex("K1"), -1);  // a lookup after release starts a new table
}
