#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <stdexcept>
#include <vector>

#include "ResultTable.h"

namespace compare {

struct ColumnMapping;

// Which columns pair the records of two tables: none (by position), the
// first table's primary key, or columns the user names.
struct KeyChoice {
    bool automatic = false;
    QStringList columns;

    bool pairsByKey() const { return automatic || !columns.isEmpty(); }
    // "auto", or column names separated by commas ("CustomerID,OrderID",
    // "[a,b]" as ColumnNamesFromText reads them); nothing for an empty name.
    static std::optional<KeyChoice> FromOption(const QString& text);
};

// Records paired by key: the key's columns as fields of each table, and the
// names the lines give them (the first table's).
struct RecordKey {
    std::vector<int> first;
    std::vector<int> second;
    std::vector<QString> names;
};

// How the server fills one of a table's columns: what a script that writes
// the table's rows must know (an identity column takes a value only under
// SET IDENTITY_INSERT; computed and rowversion columns take none).
struct ColumnFill {
    QString name;
    bool identity = false;
    bool computed = false;
    bool rowVersion = false;
    bool narrowText = false;   // char, varchar or text: a code page's bytes
    QString collation = {};    // a text column's
    bool variant = false;      // sql_variant: read as the text of its value
    std::int64_t typeId = -1;  // sys.columns' system_type_id
};

// A foreign key of some table that references this one: what deleting one
// of this table's rows sets off there.
struct Reference {
    QString name;
    QString table;     // the referencing table, schema.name
    int onDelete = 0;  // 0 none (the DELETE fails), 1 cascade, 2 set null, 3 set default
    int onUpdate = 0;
};

// What the server does beside storing the rows a script writes, and what it
// keeps from the login that compares: read with the fills.
struct TableGuards {
    QStringList triggers;  // enabled ones
    std::vector<Reference> references;
    QStringList periodColumns;  // GENERATED ALWAYS (temporal periods, ledger)
    bool memoryOptimized = false;
    bool rowFilter = false;  // a security policy's predicate filters its rows
    QStringList masked;      // columns masked from this login
};

// What pairing by key needs to know of a table before reading it: its
// columns (no rows) and, when asked for, its primary key's columns in key
// order and how the server fills its columns (all of them, in column order).
struct TableShape {
    data::ResultTable columns;
    QStringList primaryKey;
    std::vector<ColumnFill> fills;
    TableGuards guards;  // with the fills
};

// Why records cannot be paired by key, as the user is told it.
class KeyProblem : public std::runtime_error {
public:
    explicit KeyProblem(QString message)
        : std::runtime_error(message.toStdString()), message_(std::move(message)) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// The key is the first table's primary key, and it has none.
class NoPrimaryKey : public KeyProblem {
public:
    using KeyProblem::KeyProblem;
};

// Why the run cannot go as its other options ask (a column to leave out that
// neither table has, a row condition that would not stay one condition), as
// the user is told it. A KeyProblem too, so that every caller that shows a
// refused key as it is shows these the same way, before anything is read.
class OptionProblem : public KeyProblem {
public:
    using KeyProblem::KeyProblem;
};

// The key's columns in both tables (names compare without case, as SQL
// Server's do): the first table's by the key's names, the second's by the
// same names or, for a column the map pairs, by the name mapped to it. Throws KeyProblem when the
// first table has no primary key to take, when either table lacks one of the key's columns, or when
// a key column holds numbers, dates, texts or bytes in one table and another of these in the other
// (numbers of any type pair with each other).
RecordKey ResolveRecordKey(const KeyChoice& choice, const QString& firstName,
                           const TableShape& first, const QString& secondName,
                           const TableShape& second, const std::vector<ColumnMapping>& map = {});

}  // namespace compare
