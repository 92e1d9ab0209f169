#include <gtest/gtest.h>

#include <QStringList>

#include "CompareOptions.h"

namespace {

// A condition the user types goes into a query's WHERE only when it stays
// one condition of that statement: quoted texts and names may hold
// anything, but outside them nothing may end the statement, comment out the
// rest, or close the parentheses the query puts around it.
TEST(RowCondition, StaysOneConditionOfOneStatement) {
    for (const char* accepted : {"a = 1", "name = N'x; y -- z'", "[we;ird] > 0", "\"a\"\"b\" = 1",
                                 "(a=1) or (b=2)", "[a]]b] = 'it''s'"}) {
        EXPECT_EQ(compare::RowConditionProblem(QString::fromUtf8(accepted)), QString()) << accepted;
    }
    for (const char* refused : {"1=1; drop table T", "1=1) or (1=1", "x = 1 --", "x /* y", "(a = 1",
                                "'open", "[open", "a = 'x''"}) {
        EXPECT_FALSE(compare::RowConditionProblem(QString::fromUtf8(refused)).isEmpty()) << refused;
    }
}

}  // namespace
