#include <gtest/gtest.h>

#include "FixScript.h"

namespace {

data::ResultTable Columns(const QStringList& names) {
    data::ResultTable t;
    for (const QString& n : names) t.addColumn(n, data::ValueKind::Integer);
    return t;
}

// A script's plan from plain values: what it writes, and every reason it
// refuses to be made, before anything is read.
TEST(ScriptPlan, WritesThePairedColumnsOrRefusesWhatNoScriptCouldMend) {
    const data::ResultTable first = Columns({"Id", "V", "T"});
    const data::ResultTable second = Columns({"Id", "V", "T", "Stamp"});
    const compare::RecordKey key{{0}, {0}, {QStringLiteral("Id")}};
    const std::vector<compare::FieldPairing> pairs{
        {0, 0, QStringLiteral("Id")}, {1, 1, QStringLiteral("V")}, {2, 2, QStringLiteral("T")}};
    const std::vector<compare::ColumnFill> fills{{QStringLiteral("Id"), true, false, false},
                                                 {QStringLiteral("V"), false, false, false},
                                                 {QStringLiteral("T"), false, true, false},
                                                 {QStringLiteral("Stamp"), false, false, false}};
    const catalogue::TableName table{QStringLiteral("dbo"), QStringLiteral("B")};
    const auto plan = [&](compare::ScriptSource source) {
        return compare::ScriptPlan::For(source, table, QStringLiteral("Db"), QStringLiteral("A"),
                                        QStringLiteral("B"));
    };
    const auto refused = [&](const compare::ScriptSource& source, const QString& said) {
        try {
            plan(source);
            ADD_FAILURE() << "not refused: " << said.toStdString();
        } catch (const compare::OptionProblem& p) {
            EXPECT_TRUE(p.message().contains(said)) << p.message().toStdString();
        }
    };

    // Stamp is read but paired with nothing: a column only B has.
    refused({first, second, &key, pairs, fills, false}, QStringLiteral("\"Stamp\" is only in B"));
    const data::ResultTable same = Columns({"Id", "V", "T"});
    const compare::ScriptPlan p = plan({first, same, &key, pairs, fills, false});
    EXPECT_EQ(p.keyNames, QStringList{QStringLiteral("Id")});
    EXPECT_TRUE(p.identityInserts);
    EXPECT_EQ(p.computed, QStringList{QStringLiteral("T")});
    EXPECT_EQ(p.notWritten, QStringList{QStringLiteral("Stamp")});  // left out, so not read

    refused({first, same, nullptr, pairs, fills, false}, QStringLiteral("paired by position"));
    refused({first, same, &key, pairs, fills, true}, QStringLiteral("row condition"));
    const std::vector<compare::FieldPairing> fewer(pairs.begin(), pairs.end() - 1);
    refused({first, same, &key, fewer, fills, false}, QStringLiteral("\"T\" is only in A"));
    std::vector<compare::ColumnFill> rowVersion = fills;
    rowVersion[1].rowVersion = true;
    refused({first, same, &key, pairs, rowVersion, false}, QStringLiteral("rowversion"));
}

}  // namespace
