#include "FixScriptSession.h"

#include "RecordKey.h"

namespace compare {

namespace {

ScriptPlan PlanFor(const ComparisonRun& run, const FieldPlan& fields, const SideTable& second,
                   const SideNames& names, bool allowCascades) {
    // Statements against a view would change the tables under it, if the
    // server took them at all: only a table is mended.
    if (second.table.view) {
        throw OptionProblem(
            QStringLiteral("No script can mend %1: it is a view, not a table.").arg(names.second));
    }
    if (second.table.isQuery()) {
        throw OptionProblem(
            QStringLiteral("No script can mend %1: it is a query, not a table.").arg(names.second));
    }
    // A mapped column taken out of the positions shifts the columns after
    // it: a script would write what a surprising pairing compared.
    if (!run.options().map.empty() && !run.options().fieldsByName) {
        throw OptionProblem(QStringLiteral(
            "No script is written when columns are mapped and the others paired by position: "
            "a mapped column moves the others' positions. Pair fields by name for a script."));
    }
    const ScriptSource source{
        .firstColumns = run.Columns(Side::First),
        .secondColumns = run.Columns(Side::Second),
        .key = run.Key() ? &*run.Key() : nullptr,
        .pairs = run.FieldPairs(fields),
        .secondFills = run.SecondColumnFills(),
        .filtered = !run.condition(Side::First).isEmpty() || !run.condition(Side::Second).isEmpty(),
        .firstGuards = run.Guards(Side::First),
        .secondGuards = run.Guards(Side::Second),
        .allowCascades = allowCascades};
    return ScriptPlan::For(source, second.table, second.login.database, names.first, names.second);
}

}  // namespace

QString ScriptFromQueryRefusal(const QString& queryName) {
    return QStringLiteral(
               "No script is written from a query: %1 is a query, and a script mends a table "
               "from a table.")
        .arg(queryName);
}

FixScriptSession::FixScriptSession(const ComparisonRun& run, const FieldPlan& fields,
                                   const SideTable& second, const SideNames& names, QIODevice& out,
                                   bool allowCascades)
    : names_(names),
      sink_(out, PlanFor(run, fields, second, names, allowCascades),
            ScriptOrigin::Now(run.options(), names.first, names.second, second.login,
                              QStringLiteral("dorvantis " DORVANTIS_VERSION))) {}

QString FixScriptSession::refusal() const {
    if (sink_.problems().isEmpty()) return QString();
    return QStringLiteral("The script would not make %1 hold what %2 holds: %3")
        .arg(names_.second, names_.first, sink_.problems().constFirst());
}

QString FixScriptSession::cascadeQuestion() const {
    if (sink_.cascadingDeletes() == 0) return QString();
    return QStringLiteral(
               "The script deletes %1 of %2, and each DELETE acts on %3 too: records there are "
               "deleted or changed, and the script's INSERTs do not bring them back. Save it all "
               "the same?")
        .arg(sink_.cascadingDeletes() == 1
                 ? QStringLiteral("a record")
                 : QStringLiteral("%1 records").arg(sink_.cascadingDeletes()),
             names_.second, sink_.cascades());
}

}  // namespace compare
