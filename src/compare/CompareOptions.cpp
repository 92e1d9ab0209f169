#include "CompareOptions.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

#include "DifferenceLines.h"
#include "TableQuery.h"

namespace compare {

std::optional<Tolerance> Tolerance::FromText(const QString& text) {
    static const QRegularExpression plain(QStringLiteral("^(\\d*)(?:\\.(\\d*))?$"));
    static const QRegularExpression scientific(
        QStringLiteral("^(?:\\d+\\.?\\d*|\\.\\d+)[eE][+-]?\\d+$"));
    Tolerance t;
    t.text = text;
    const QRegularExpressionMatch m = plain.match(text);
    if (m.hasMatch()) {
        const QString whole = m.captured(1);
        const QString fraction = m.captured(2);
        if (whole.isEmpty() && fraction.isEmpty()) return std::nullopt;  // "", "."
        QString digits = whole + fraction;
        while (digits.size() > 1 && digits.front() == u'0') digits.remove(0, 1);
        t.scale = static_cast<int>(fraction.size());
        // Beyond 38 digits neither an __int128 nor any SQL Server number holds it.
        t.exact = digits.size() <= 38 && t.scale <= 38;
        if (t.exact) {
            for (const QChar c : digits) t.unscaled = t.unscaled * 10 + (c.unicode() - u'0');
        }
    } else if (!scientific.match(text).hasMatch()) {
        return std::nullopt;
    } else {
        t.exact = false;
    }
    bool ok = false;
    t.value = text.toDouble(&ok);
    if (!ok || !std::isfinite(t.value)) return std::nullopt;
    return t;
}

QString Counted(std::int64_t n, QStringView noun) {
    return QString::number(n) + u' ' + noun.toString() + (n == 1 ? QString() : QStringLiteral("s"));
}

std::optional<QStringList> ColumnNamesFromText(const QString& text) {
    QStringList names;
    qsizetype i = 0;
    const auto blanks = [&] {
        while (i < text.size() && text[i].isSpace()) ++i;
    };
    for (;;) {
        blanks();
        QString name;
        if (i < text.size() && text[i] == u'[') {
            // As T-SQL quotes a name: to the "]" that is not doubled.
            for (++i;; ++i) {
                if (i >= text.size()) return std::nullopt;
                if (text[i] != u']') {
                    name += text[i];
                } else if (i + 1 < text.size() && text[i + 1] == u']') {
                    name += u']';
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
            blanks();
            if (i < text.size() && text[i] != u',') return std::nullopt;
        } else {
            const qsizetype comma = text.indexOf(u',', i);
            name = text.mid(i, comma < 0 ? -1 : comma - i).trimmed();
            i = comma < 0 ? text.size() : comma;
        }
        if (name.isEmpty()) return std::nullopt;
        names << name;
        if (i >= text.size()) return names;
        ++i;  // the comma
    }
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

}  // namespace

std::optional<std::int64_t> RecordCountFromText(const QString& text) {
    if (text.isEmpty() ||
        !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; })) {
        return std::nullopt;
    }
    bool ok = false;
    const qlonglong n = text.toLongLong(&ok, 10);
    if (!ok) return std::nullopt;
    return n;
}

QString OptionsText(const RunOptions& options) {
    QStringList parts;
    if (!options.key.columns.isEmpty()) {
        parts << QStringLiteral("records paired by %1").arg(ColumnList(options.key.columns));
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

QString SummaryText(const RunSummary& s, const QString& firstTable, const QString& secondTable) {
    // In one pass: a % in a table's name is no place for the counts.
    QString line =
        QStringLiteral(
            "Summary: %1 read from %2 and %3 from %4; %5 compared, %6 with changed fields (%7); "
            "%8 added, %9 deleted, %10 not unique; %11 s")
            .arg(Counted(s.firstRead, u"record"), firstTable, QString::number(s.secondRead),
                 secondTable, QString::number(s.compared), QString::number(s.changedRecords),
                 Counted(s.changedFields, u"field"), QString::number(s.added),
                 QString::number(s.deleted), QString::number(s.notUnique),
                 QString::number(static_cast<double>(s.elapsedMs) / 1000.0, 'f', 3));
    if (!s.options.isEmpty()) line += QStringLiteral("; options: ") + s.options;
    // One line, as the report's other lines: names and conditions may hold
    // line breaks.
    return WithVisibleControls(line + u'.');
}

}  // namespace compare
