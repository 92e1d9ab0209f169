#pragma once

#include <QString>

namespace compare {

// A query a user gives in place of a table, as it is sent: checked to be one
// statement that only reads -- a SELECT, or WITH ... SELECT -- and with its
// comments taken out, so that what reaches the server is what was checked.
// It runs inside a derived table ("select ... from (SELECT) as [q]"), so
// that the server itself refuses what is not one select.
class UserQuery {
public:
    // The query read from text; problem() says why it is refused, if it is.
    static UserQuery Read(const QString& sql);

    // Why the query cannot be run (one clause, without a full stop), or empty.
    const QString& problem() const { return problem_; }
    // Whether its main select has an ORDER BY of its own: the order of a
    // run by position, which only the query run alone keeps.
    bool ordered() const { return ordered_; }

    // The query as it is, comments gone: its own order kept.
    QString Alone() const;
    // "select COLUMNS from (SELECT) as [q] TAIL", the query's common table
    // expressions before it; an own ORDER BY gets "offset 0 rows", without
    // which a derived table may not hold one.
    QString Around(const QString& columns, const QString& tail) const;

private:
    QString problem_;
    QString with_;    // "with a as (...), b as (...)" or empty
    QString select_;  // the main select
    bool ordered_ = false;
    bool limited_ = false;  // TOP or OFFSET: the ORDER BY picks rows
};

}  // namespace compare
