#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "RecordKey.h"

namespace compare {

// The largest difference at which two numbers still count as equal, as the
// user wrote it: exact when it is a plain decimal ("0.005"), so that exact
// numbers are held to it digit for digit; as a double for floats.
struct Tolerance {
    __int128 unscaled = 0;
    int scale = 0;
    bool exact = true;  // false: only `value` holds it (too many digits, an exponent)
    double value = 0;
    QString text;  // as written, for what the reports say

    // A number of at least 0: digits with an optional point ("0.01", "5",
    // ".5") or a floating-point form ("1e-6"); nothing for anything else
    // (a sign, a blank, "nan", "inf").
    static std::optional<Tolerance> FromText(const QString& text);
};

// What counts as equal beyond the value rules' own; all off by default.
struct ValueOptions {
    bool trim = false;                   // trailing blanks (U+0020) of texts ignored
    bool ignoreCase = false;             // texts compared by Unicode simple case folding
    bool nullEqualsEmpty = false;        // NULL and the empty text equal
    std::optional<Tolerance> tolerance;  // numbers of any kinds equal within it

    bool any() const { return trim || ignoreCase || nullEqualsEmpty || tolerance.has_value(); }
};

// A column of the first table paired with one of the second whatever their
// names; the lines name the field by the first's.
struct ColumnMapping {
    QString first;
    QString second;

    bool operator==(const ColumnMapping&) const = default;
    // "FIRST=SECOND", blanks around either dropped; a name holding "=" or ","
    // in brackets as ColumnNamesFromText reads them ("[a=b]=c"). Nothing for
    // no "=", an empty name or a bracket not closed.
    static std::optional<ColumnMapping> FromText(const QString& text);
};

// What a run compares and how.
struct RunOptions {
    bool fieldsByName = false;  // fields by name (without case), else by position
    KeyChoice key;              // records by key, else by position
    QStringList ignore;         // columns left out of both tables (names without case)
    // Columns to leave out that neither table has are passed over, not refused
    // (a whole database's tables: not every table has them).
    bool ignoreWhereFound = false;
    QString where;                      // a condition on both tables' rows; empty: all rows
    std::optional<QString> rightWhere;  // the second table's condition, when it differs
    ValueOptions values;
    std::int64_t limit = 0;  // stop after this many differing records; 0: no limit
    // Columns paired whatever their names; the others as fieldsByName says.
    std::vector<ColumnMapping> map;
    // By key: both servers hash ranges of keys, and only the ranges whose
    // checksums differ are read; segmentRows: the records of a first range
    // (0: a sixteenth of the first table, from 100,000 to 1,000,000).
    bool checksums = false;
    std::int64_t segmentRows = 0;
    // Both tables read under snapshot isolation: no shared locks on a busy
    // database; a database that does not allow it stops the run.
    bool snapshot = false;

    // The second table's condition.
    const QString& secondWhere() const { return rightWhere ? *rightWhere : where; }
};

// Column names as the user lists them: separated by commas, blanks around
// them dropped; a name holding a comma in brackets as T-SQL quotes it
// ("[a,b]", "]]" for a "]" inside). Nothing for an empty name or a bracket
// not closed.
std::optional<QStringList> ColumnNamesFromText(const QString& text);

// The second table's column paired with the first table's column of this
// name (found by data::FindName): the one the map gives it, else the same name.
QString SecondColumnOf(const std::vector<ColumnMapping>& map, const QString& firstColumn);

// Whether a list of names to leave out names the column at k of names: by
// data::FindName, and a name several columns match only without case
// leaves out each of them (a run that can refuse it does so first).
bool IsLeftOut(const QStringList& ignore, const QStringList& names, qsizetype k);

// A count of records as the user typed it: digits alone (no sign, no
// blank), within 64 bits; nothing for anything else.
std::optional<std::int64_t> RecordCountFromText(const QString& text);

// The options a person sets for one comparison of two tables, as given:
// ticked and typed in the options dialog, stored with the settings, or on
// the command line. Texts are as typed, not yet checked: Check is the one
// place that says what is wrong with them and ApplyTo the one translator
// into a run's options, whichever way they came.
struct OptionChoices {
    QStringList leaveOut;   // the first table's columns, left out of both tables
    QStringList key;        // the key's columns by key; none: the first table's primary key
    QString firstWhere;     // the first table's rows; empty: all
    bool sameWhere = true;  // the second table's rows by the first table's condition,
    QString secondWhere;    // else by this one (empty: all)
    bool trim = false;      // trailing blanks ignored
    bool ignoreCase = false;
    bool nullEqualsEmpty = false;
    QString tolerance;               // numbers equal within it; empty: exactly
    QString limit;                   // stop after this many differing records; empty or 0: no limit
    std::vector<ColumnMapping> map;  // columns paired whatever their names
    bool checksums = false;          // by key: the servers hash ranges, only those that differ read
    bool snapshot = false;           // both tables read under snapshot isolation

    bool operator==(const OptionChoices&) const = default;

    // Which choice a problem is about, for whoever shows where to mend it.
    enum class Choice { LeaveOut, FirstWhere, SecondWhere, Tolerance, Limit, Map };
    struct Problem {
        Choice choice;
        QString text;    // a sentence for a person
        QString reason;  // the bare reason, for an entry point to word its own way
    };
    // The first choice that cannot be had, or none; byKey: the records are
    // paired by key (only then do the key's columns matter).
    std::optional<Problem> Check(bool byKey) const;
    // Adds them to a run's options (the key's columns only when the run
    // pairs records by key). Throws OptionProblem, with Check's words, when
    // a choice cannot be had: never a choice dropped without a word.
    void ApplyTo(RunOptions& options) const;

private:
    std::optional<Problem> mapProblem() const;
};

// What checksums computed by the servers proved: the ranges of keys hashed
// (at every level), those whose checksums differed at the first level, the
// records found equal by checksum (never read), and whether the hashing
// stopped early because too many ranges differed, the rest read (or the
// tables read whole, when nothing was verified by then).
struct ChecksumCount {
    std::int64_t segments = 0;
    std::int64_t differingSegments = 0;
    std::int64_t firstSegments = 0;
    std::int64_t verified = 0;
    bool stoppedEarly = false;
    bool readWhole = false;
};

// What a run found, counted as it went.
struct RunSummary {
    std::int64_t firstRead = 0;       // records taken from the first table
    std::int64_t secondRead = 0;      // and from the second
    std::int64_t compared = 0;        // pairs of records compared field by field
    std::int64_t changedRecords = 0;  // pairs with at least one changed field
    std::int64_t changedFields = 0;
    std::int64_t added = 0;
    std::int64_t deleted = 0;
    std::int64_t notUnique = 0;              // keys reported as not unique
    std::int64_t fieldsOnlyInOne = 0;        // columns only one table has
    std::int64_t limit = 0;                  // the run's limit; 0: none
    bool stoppedAtLimit = false;             // the run stopped at its limit: there may be more
    std::int64_t elapsedMs = 0;              // from connecting to the last difference
    QString options;                         // OptionsText of the run's options
    std::optional<ChecksumCount> checksums;  // a run by checksums
    // What the server kept from the comparing logins: a security policy
    // that hides rows, columns masked (known when a script was asked for).
    bool firstRowsFiltered = false;
    bool secondRowsFiltered = false;
    QStringList firstMasked;
    QStringList secondMasked;

    // Records the limit counts: changed, added and deleted.
    std::int64_t differingRecords() const { return changedRecords + added + deleted; }
};

// Why a row condition typed by the user cannot go into a query's WHERE, or
// nothing when it can. It must stay one condition of that one statement:
// outside quoted texts ('...'), quoted names ("..." and [...]) its
// parentheses balance and it holds no ";" (a second statement), "--" or "/*"
// (a comment that would cut off the rest of the query), nor a brace (the
// driver's escapes, "{call p}", become statements); a quote left open is
// refused too.
QString RowConditionProblem(QStringView condition);

}  // namespace compare
