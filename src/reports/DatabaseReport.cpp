#include "DatabaseReport.h"

#include "DifferenceLines.h"
#include "Summary.h"

namespace compare {

QString DatabaseLabel(const connection::LoginDetails& login, const QString& side) {
    return login.database.isEmpty() ? QStringLiteral("the %1 database").arg(side) : login.database;
}

QString ResultText(const PairOutcome& o) {
    using Kind = PairOutcome::Kind;
    switch (o.kind) {
        case Kind::Same:
            if (o.bothEmpty) return QStringLiteral("same (both empty)");
            return o.note.isEmpty() ? QStringLiteral("same")
                                    : QStringLiteral("same: ") + WithVisibleControls(o.note);
        case Kind::Differ: {
            const RunSummary& s = o.summary;
            QString text = QStringLiteral("differ: %1 changed (%2), %3 added, %4 deleted")
                               .arg(s.changedRecords)
                               .arg(Counted(s.changedFields, u"field"))
                               .arg(s.added)
                               .arg(s.deleted);
            if (s.notUnique > 0) text += QStringLiteral(", %1 not unique").arg(s.notUnique);
            if (o.columnsOnlyInOne > 0) {
                text += QStringLiteral(", %1 only in one table")
                            .arg(Counted(o.columnsOnlyInOne, u"column"));
            }
            if (s.stoppedAtLimit) text += QStringLiteral("; stopped at the limit");
            return text;
        }
        case Kind::NotCompared:
            return QStringLiteral("not compared: ") + WithVisibleControls(o.note);
        case Kind::OnlyInFirst:
        case Kind::OnlyInSecond:
            return QStringLiteral("only in ") + WithVisibleControls(o.note);
    }
    return QString();
}

QString PairingText(const PairOutcome& o) {
    // A table alone was paired with nothing.
    if (o.kind == PairOutcome::Kind::OnlyInFirst || o.kind == PairOutcome::Kind::OnlyInSecond) {
        return QString();
    }
    return o.byKey ? QStringLiteral("by key") : QStringLiteral("by position");
}

QString PairRow(const QString& table, const QString& pairing, const QString& result,
                qsizetype width) {
    return table.leftJustified(width) + QStringLiteral("  ") + pairing.leftJustified(11) +
           QStringLiteral("  ") + result;
}

QString PairHeaderRow(qsizetype width) {
    return PairRow(QStringLiteral("Table"), QStringLiteral("Pairing"), QStringLiteral("Result"),
                   width);
}

QString PairLine(const PairOutcome& o, qsizetype width) {
    const QString pairing = PairingText(o);
    return PairRow(WithVisibleControls(o.table), pairing.isEmpty() ? QStringLiteral("-") : pairing,
                   ResultText(o), width);
}

qsizetype TableColumnWidth(const std::vector<TableEntry>& entries) {
    qsizetype width = 5;  // "Table"
    for (const TableEntry& e : entries) {
        width = std::max(width, WithVisibleControls(e.listed()).size());
    }
    return width;
}

void PairTotals::count(PairOutcome::Kind kind) {
    using Kind = PairOutcome::Kind;
    switch (kind) {
        case Kind::Same:
            ++same;
            break;
        case Kind::Differ:
            ++differ;
            break;
        case Kind::NotCompared:
            ++notCompared;
            break;
        case Kind::OnlyInFirst:
            ++onlyInFirst;
            break;
        case Kind::OnlyInSecond:
            ++onlyInSecond;
            break;
    }
}

QString TotalsText(const PairTotals& totals, const connection::LoginDetails& first,
                   const connection::LoginDetails& second) {
    // In one pass: a % in a database's name is no place for the counts.
    return QStringLiteral("%1: %2 the same, %3, %4 not compared, %5 only in %6, %7 only in %8.")
        .arg(Counted(totals.tables(), u"table"), QString::number(totals.same),
             QString::number(totals.differ) +
                 (totals.differ == 1 ? QStringLiteral(" differs") : QStringLiteral(" differ")),
             QString::number(totals.notCompared), QString::number(totals.onlyInFirst),
             DatabaseLabel(first, QStringLiteral("first")), QString::number(totals.onlyInSecond),
             DatabaseLabel(second, QStringLiteral("second")));
}

QString TotalsLine(const PairTotals& totals, const connection::LoginDetails& first,
                   const connection::LoginDetails& second) {
    return QStringLiteral("Total: ") + WithVisibleControls(TotalsText(totals, first, second));
}

}  // namespace compare
