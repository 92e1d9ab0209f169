#include <gtest/gtest.h>

#include <QStringList>
#include <tuple>

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

// The one check of the options a person sets, for the dialog and the run:
// the first choice that cannot be had, named; the key's columns only matter
// by key; what passes is handed to the run as given.
TEST(OptionChoices, TheOneCheckNamesTheFirstChoiceThatCannotBeHad) {
    compare::OptionChoices choices;
    choices.leaveOut = {QStringLiteral("Id")};
    choices.key = {QStringLiteral("Id")};
    EXPECT_FALSE(choices.Check(false));
    ASSERT_TRUE(choices.Check(true));
    EXPECT_EQ(choices.Check(true)->choice, compare::OptionChoices::Choice::LeaveOut);
    choices.leaveOut.clear();
    for (const auto& [tolerance, limit, sameWhere, choice] :
         {std::tuple{"x", "", true, compare::OptionChoices::Choice::Tolerance},
          std::tuple{"", "-3", true, compare::OptionChoices::Choice::Limit},
          std::tuple{"", "", false, compare::OptionChoices::Choice::SecondWhere}}) {
        compare::OptionChoices wrong = choices;
        wrong.tolerance = QString::fromUtf8(tolerance);
        wrong.limit = QString::fromUtf8(limit);
        wrong.sameWhere = sameWhere;
        wrong.secondWhere = QStringLiteral("a = 'open");
        ASSERT_TRUE(wrong.Check(true)) << tolerance << limit;
        EXPECT_EQ(wrong.Check(true)->choice, choice);
        compare::RunOptions options;
        EXPECT_THROW(wrong.ApplyTo(options), compare::OptionProblem);
    }
    choices.tolerance = QStringLiteral("0.5");
    choices.limit = QStringLiteral("7");
    compare::RunOptions options;
    options.key.automatic = true;
    choices.ApplyTo(options);
    EXPECT_EQ(options.values.tolerance->text, QStringLiteral("0.5"));
    EXPECT_EQ(options.limit, 7);
    EXPECT_EQ(options.key.columns, QStringList{QStringLiteral("Id")});
    EXPECT_FALSE(options.key.automatic);
}

}  // namespace
