#pragma once

#include <QString>

namespace compare {

// A query a user gives in place of a table, as it is sent: checked to be one
// select that only reads -- a SELECT, or WITH ... SELECT -- and with its
// comments taken out, so that what reaches the server is what was checked.
// It always runs inside a derived table ("select ... from (SELECT) as [q]"),
// so that the server itself refuses what is not one select.
class UserQuery {
public:
    // The query read from text; problem() says why it is refused, if it is.
    static UserQuery Read(const QString& sql);

    // Why the query cannot be run (one clause, without a full stop), or empty.
    const QString& problem() const { return problem_; }
    // Whether its main select has an ORDER BY of its own: the order of a
    // run by position.
    bool ordered() const { return ordered_; }
    // Why its ORDER BY cannot order the select around it (one clause), or
    // empty: by position such a query cannot be read in its order.
    const QString& orderProblem() const { return orderProblem_; }

    // "select * from (SELECT) as [q] order by ITEMS": all its columns in the
    // order of its own ORDER BY, which a derived table would not keep.
    QString InItsOrder() const;
    // "select COLUMNS from (SELECT) as [q] TAIL", the query's common table
    // expressions before it. Its ORDER BY stays inside only with TOP or
    // OFFSET, where it picks the rows, or (with "offset 0 rows") when it does
    // not read as one that InItsOrder could take outside.
    QString Around(const QString& columns, const QString& tail) const;

private:
    QString problem_;
    QString orderProblem_;
    QString with_;    // "with a as (...), b as (...)" or empty
    QString select_;  // the main select, its ORDER BY gone where Around says
    QString order_;   // the ORDER BY's items, for the select around it
    bool ordered_ = false;
    bool limited_ = false;  // TOP or OFFSET: the ORDER BY picks rows
};

}  // namespace compare
