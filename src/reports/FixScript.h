#pragma once

#include <QDateTime>
#include <QHash>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <cstdint>
#include <vector>

#include "CompareOptions.h"
#include "DifferenceSink.h"
#include "LoginDetails.h"
#include "RecordKey.h"
#include "ReportWriter.h"
#include "SqlLiteral.h"
#include "TableCatalogue.h"
#include "TableComparison.h"

namespace compare {

// One field the comparison pairs, as a script writes it into the second table.
struct ScriptColumn {
    QString field;  // the name the lines give it
    int first = -1;
    int second = -1;  // -1: a key column the comparison does not pair as a field
    int firstKey = -1;
    QString name;  // the second table's column
    bool identity = false;
    bool computed = false;
    bool rowVersion = false;
    bool variant = false;
    // A date and time column's unit, in 100-ns ticks: a value between two
    // of them cannot be stored (datetime counts 1/300 s; 0: any value).
    std::int64_t timeUnit = 0;
    bool threeHundredths = false;  // datetime
};

// What a script is made from: a comparison's two tables as they answered,
// how it pairs their records and fields, and how the server fills the second
// table's columns.
struct ScriptSource {
    const data::ResultTable& firstColumns;
    const data::ResultTable& secondColumns;
    const RecordKey* key = nullptr;  // none: records paired by position
    std::vector<FieldPairing> pairs;
    std::vector<ColumnFill> secondFills;
    bool filtered = false;       // a row condition on either side
    TableGuards firstGuards{};   // what the server keeps from the first login
    TableGuards secondGuards{};  // and the second's, and what writing sets off there
    bool allowCascades = false;  // DELETEs may act on other tables through their keys
};

// What a script that makes the second table hold the first table's rows
// writes.
struct ScriptPlan {
    catalogue::TableName table;  // the second table
    QString database;            // the second table's database; empty: the session's
    std::vector<ScriptColumn> columns;
    std::vector<int> key;                   // the key's fields among the second table's
    QStringList keyNames;                   // and its columns there
    std::vector<data::ValueKind> keyKinds;  // and what they hold
    std::vector<KeyText> keyTexts;          // and how they hold texts (from the fills)
    QStringList notWritten;                 // the second table's columns no field pairs with
    QStringList computed;                   // compared, but the server computes them
    bool identityInserts = false;           // some written column is an identity
    QStringList periodColumns;              // set by the server, neither compared nor written
    QStringList triggers;                   // fire on the script's statements
    std::vector<Reference> references;      // other tables' keys naming the second table
    bool allowCascades = false;             // a DELETE may cascade (else the script undoes itself)

    // Throws OptionProblem when no script could make the tables equal, or
    // could reach records the comparison did not see: records paired by
    // position (a record has no name in SQL), a row condition on either side,
    // a column only one table has, a rowversion compared (the server sets it),
    // a sql_variant compared (read as text), rows or values the server keeps
    // from either login, a memory-optimized second table.
    static ScriptPlan For(const ScriptSource& run, const catalogue::TableName& secondTable,
                          const QString& database, const QString& firstName,
                          const QString& secondName);
};

// What a script says at its top about how it was made.
struct ScriptOrigin {
    QString firstName;  // the tables as the lines name them
    QString secondName;
    QString secondPlace;  // "database D on server S" of the second table
    QString madeBy;       // the program and its version
    QDateTime madeAt;
    QString options;  // OptionsText of the run

    // A script made now by madeBy ("dorvantis 1.2") from a run with these
    // options, the second table read through secondLogin.
    static ScriptOrigin Now(const RunOptions& options, const QString& firstName,
                            const QString& secondName, const connection::LoginDetails& secondLogin,
                            const QString& madeBy);
};

// A T-SQL script that makes the second table hold what the first holds,
// written as the comparison finds the differences (records paired by key):
// an UPDATE of the changed fields for a pair, a DELETE for a record only the
// second table has, and after all of these an INSERT for each record only
// the first has (kept in a temporary file meanwhile), so that a key the
// server takes for one just deleted ('a' for 'A' under a collation without
// case) is free again. A WHERE matches its key exactly, whatever the
// column's collation and SQL Server's trailing-blank rule say. One
// transaction under XACT_ABORT over batches of bounded size (GO lines); each
// batch runs only when the one before ran to its end (a mark in
// CONTEXT_INFO), so that an error -- one that stopped a batch from compiling
// too -- rolls back what ran and stops the rest. A key that is not unique or
// an identity value that differs makes the script end in ROLLBACK, with the
// reasons in comments (problems()). Memory does not grow with the
// differences.
class FixScriptSink : public DifferenceSink {
public:
    FixScriptSink(QIODevice& out, ScriptPlan plan, const ScriptOrigin& origin);

    void FieldChanged(const RecordName& record, const QString& fieldName,
                      const data::FieldValue& first, const data::FieldValue& second) override;
    void RecordDeleted(const RecordName& record) override;
    void RecordAdded(const RecordName& record) override;
    void RecordNotUnique(const RecordName& record, bool inFirstTable) override;
    void FieldOnlyIn(const QString& fieldName, bool inFirstTable) override;
    void RecordsDiffer(const RecordRow& first, const RecordRow& second) override;

    // The script's end: COMMIT, or ROLLBACK when problems() is not empty.
    // Throws ReportWriteError when any of the script could not be written.
    void finish(const RunSummary& summary);
    // Why the script would not make the tables equal; empty when it would.
    const QStringList& problems() const { return problems_; }
    std::int64_t differences() const { return differences_; }
    // DELETEs written that another table's foreign key acts on (cascade,
    // set null, set default).
    std::int64_t cascadingDeletes() const { return cascadingDeletes_; }
    // The tables those foreign keys are in, with what each does.
    const QString& cascades() const { return cascades_; }

private:
    void problem(const QString& text);
    void line(const QString& text);
    void statement(const QString& text);
    void endBatch();
    QString whereKey(const RecordRow& row, bool fromFirst = false) const;
    QString asCompared(const RecordRow& second) const;
    QString touchedOnce(const RecordRow& row, bool fromFirst, const QString& otherwise) const;
    QString recordText(const RecordRow& row, bool fromFirst) const;
    QString written(const ScriptColumn& column, const data::FieldValue& v, const RecordRow& first);

    ReportWriter writer_;
    ScriptPlan plan_;
    QString target_;  // the second table's name in statements
    QString insertHead_;
    QHash<QString, int> columnOfField_;
    std::vector<int> firstKey_;  // the key's fields among the first table's
    std::vector<int> changed_;   // of the current record, into plan_.columns
    int computedChanged_ = -1;   // a computed column of the current record that differs
    RecordName computedRecord_;
    QStringList problems_;
    std::int64_t problemsUnnamed_ = 0;
    std::int64_t differences_ = 0;
    std::int64_t updates_ = 0, inserts_ = 0, deletes_ = 0;
    std::int64_t cascadingDeletes_ = 0;
    QString cascades_;  // the keys that act on a DELETE, in words; empty: none
    int batchStatements_ = 0;
    qint64 batchCharacters_ = 0;
    std::uint32_t batch_ = 1;      // the batch being written, from 1
    QTemporaryFile insertsLater_;  // written at the end, one statement a line
    QString firstName_, secondName_;
};

}  // namespace compare
