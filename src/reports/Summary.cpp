#include "Summary.h"

#include "DifferenceLines.h"
#include "SqlNames.h"

namespace compare {

QString Counted(std::int64_t n, QStringView noun) {
    return QString::number(n) + u' ' + noun.toString() + (n == 1 ? QString() : QStringLiteral("s"));
}

namespace {

QString Records(std::int64_t n) {
    return n == 1 ? QStringLiteral("record") : QStringLiteral("records");
}

// A column as the options read it back: bracketed when a comma, or a
// bracket first, would not read as one plain name.
QString ColumnInList(const QString& name) {
    return name.contains(u',') || name.trimmed() != name || name.startsWith(u'[')
               ? QuotedIdentifier(name)
               : name;
}

QString ColumnList(const QStringList& names) {
    QStringList out;
    for (const QString& n : names) out << ColumnInList(n);
    return out.join(QStringLiteral(", "));
}

// A pair as --map reads it back: "=" in a name needs the brackets too.
QString MappingText(const ColumnMapping& m) {
    const auto side = [](const QString& name) {
        return name.contains(u'=') ? QuotedIdentifier(name) : ColumnInList(name);
    };
    return side(m.first) + u'=' + side(m.second);
}

}  // namespace

QString OptionsText(const RunOptions& options) {
    QStringList parts;
    if (!options.key.columns.isEmpty()) {
        parts << QStringLiteral("records paired by %1").arg(ColumnList(options.key.columns));
    }
    if (!options.map.empty()) {
        QStringList pairs;
        for (const ColumnMapping& m : options.map) pairs << MappingText(m);
        parts << QStringLiteral("columns mapped: %1").arg(pairs.join(QStringLiteral(", ")));
    }
    if (!options.ignore.isEmpty()) {
        parts << QStringLiteral("columns left out: %1").arg(ColumnList(options.ignore));
    }
    if (options.rightWhere) {
        if (!options.where.isEmpty()) {
            parts << QStringLiteral("first table's rows where %1").arg(options.where);
        }
        if (!options.rightWhere->isEmpty()) {
            parts << QStringLiteral("second table's rows where %1").arg(*options.rightWhere);
        }
    } else if (!options.where.isEmpty()) {
        parts << QStringLiteral("rows where %1").arg(options.where);
    }
    if (options.values.trim) parts << QStringLiteral("trailing blanks ignored");
    if (options.values.ignoreCase) parts << QStringLiteral("case ignored");
    if (options.values.tolerance) {
        parts << QStringLiteral("numbers within %1 equal").arg(options.values.tolerance->text);
    }
    if (options.values.nullEqualsEmpty) parts << QStringLiteral("NULL equal to empty texts");
    if (options.limit > 0) {
        parts << QStringLiteral("at most %1 differing %2")
                     .arg(QString::number(options.limit), Records(options.limit));
    }
    return parts.join(QStringLiteral("; "));
}

QString StoppedAtLimitText(std::int64_t limit) {
    return QStringLiteral("The comparison stopped after %1 differing %2; there may be more.")
        .arg(QString::number(limit), Records(limit));
}

QString ChecksumText(const ChecksumCount& c) {
    if (c.readWhole) {
        // No first ranges counted: the first and the last both differed
        // before the bounds between them were read.
        const QString which = c.firstSegments > 0
                                  ? QStringLiteral("of %1 first ranges").arg(c.firstSegments)
                                  : QStringLiteral("the first and the last");
        return QStringLiteral(
                   "checksums: %1 of the %2 ranges of keys hashed differed (%3), too many for "
                   "checksums to pay: the tables were read whole")
            .arg(QString::number(c.differingSegments), QString::number(c.segments), which);
    }
    // Two independent 32-bit sums a range: a difference passes them with a
    // chance of at most 2^-64 in each range hashed.
    return QStringLiteral(
               "checksums: %1 verified by checksum in %2 ranges of keys hashed (%3 of %4 first "
               "ranges differed%6), the rest read; chance that a difference went unseen at most "
               "%2 x 2^-64 (%5)")
        .arg(Counted(c.verified, u"record"), QString::number(c.segments),
             QString::number(c.differingSegments), QString::number(c.firstSegments),
             QString::number(static_cast<double>(c.segments) / 18446744073709551616.0, 'g', 2),
             c.stoppedEarly ? QStringLiteral(", too many: hashing stopped there") : QString());
}

QString SummaryText(const RunSummary& s, const QString& firstTable, const QString& secondTable) {
    // In one pass: a % in a table's name is no place for the counts.
    QString line =
        QStringLiteral(
            "Summary: %1 read from %2 and %3 from %4; %5 compared, %6 with changed fields (%7); "
            "%8 added, %9 deleted, %10 not unique%11; %12 s")
            .arg(Counted(s.firstRead, u"record"), firstTable, QString::number(s.secondRead),
                 secondTable, QString::number(s.compared), QString::number(s.changedRecords),
                 Counted(s.changedFields, u"field"), QString::number(s.added),
                 QString::number(s.deleted), QString::number(s.notUnique),
                 // Said where there are any, in the words of compare-databases.
                 s.fieldsOnlyInOne > 0 ? QStringLiteral(", %1 only in one table")
                                             .arg(Counted(s.fieldsOnlyInOne, u"column"))
                                       : QString(),
                 QString::number(static_cast<double>(s.elapsedMs) / 1000.0, 'f', 3));
    if (!s.options.isEmpty()) line += QStringLiteral("; options: ") + s.options;
    if (s.checksums) line += QStringLiteral("; ") + ChecksumText(*s.checksums);
    // Equal values may be masks, and records "only in" one table hidden from
    // the other's login.
    for (const auto& [filtered, table] : {std::pair{s.firstRowsFiltered, &firstTable},
                                          std::pair{s.secondRowsFiltered, &secondTable}}) {
        if (filtered) {
            line += QStringLiteral("; a security policy shows the login only some records of ") +
                    *table;
        }
    }
    for (const auto& [masked, table] :
         {std::pair{&s.firstMasked, &firstTable}, std::pair{&s.secondMasked, &secondTable}}) {
        if (!masked->isEmpty()) {
            line += QStringLiteral("; %1 masks %2 from the login")
                        .arg(*table, masked->join(QStringLiteral(", ")));
        }
    }
    // One line, as the report's other lines: names and conditions may hold
    // line breaks.
    return WithVisibleControls(line + u'.');
}

}  // namespace compare
