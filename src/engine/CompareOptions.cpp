#include "CompareOptions.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <tuple>

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

namespace {

// One name from text at i, blanks around it dropped: to the "]" that is not
// doubled when it starts with "[", as T-SQL quotes a name; else to the first
// of stops or the end. Leaves i at that stop (or the end); nothing for an
// empty name, a bracket not closed, or anything but a stop after one.
std::optional<QString> NameAt(const QString& text, qsizetype& i, QStringView stops) {
    const auto blanks = [&] {
        while (i < text.size() && text[i].isSpace()) ++i;
    };
    blanks();
    QString name;
    if (i < text.size() && text[i] == u'[') {
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
        if (i < text.size() && !stops.contains(text[i])) return std::nullopt;
    } else {
        const qsizetype start = i;
        while (i < text.size() && !stops.contains(text[i])) ++i;
        name = text.mid(start, i - start).trimmed();
    }
    if (name.isEmpty()) return std::nullopt;
    return name;
}

}  // namespace

std::optional<QStringList> ColumnNamesFromText(const QString& text) {
    QStringList names;
    qsizetype i = 0;
    for (;;) {
        const std::optional<QString> name = NameAt(text, i, u",");
        if (!name) return std::nullopt;
        names << *name;
        if (i >= text.size()) return names;
        ++i;  // the comma
    }
}

std::optional<ColumnMapping> ColumnMapping::FromText(const QString& text) {
    // A plain name holds neither "=" nor ",": "a=b=c" is no pair, and a list
    // of pairs in one option is left free for later.
    qsizetype i = 0;
    const std::optional<QString> first = NameAt(text, i, u"=,");
    if (!first || i >= text.size() || text[i] != u'=') return std::nullopt;
    ++i;
    const std::optional<QString> second = NameAt(text, i, u"=,");
    if (!second || i < text.size()) return std::nullopt;
    return ColumnMapping{*first, *second};
}

QString SecondColumnOf(const std::vector<ColumnMapping>& map, const QString& firstColumn) {
    QStringList firsts;
    for (const ColumnMapping& m : map) firsts << m.first;
    const int k = data::FindName(firsts, firstColumn);
    return k >= 0 ? map[static_cast<std::size_t>(k)].second : firstColumn;
}

bool IsLeftOut(const QStringList& ignore, const QStringList& names, qsizetype k) {
    return std::any_of(ignore.begin(), ignore.end(), [&](const QString& name) {
        const int found = data::FindName(names, name);
        return found == k || (found == data::kNameDiffersOnlyByCase &&
                              names[k].compare(name, Qt::CaseInsensitive) == 0);
    });
}

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

QString RowConditionProblem(QStringView condition) {
    int depth = 0;
    for (qsizetype i = 0; i < condition.size(); ++i) {
        const QChar c = condition[i];
        const QChar next = i + 1 < condition.size() ? condition[i + 1] : QChar();
        if (c == u'\'' || c == u'"' || c == u'[') {
            // A quoted text or name runs to its closing mark; a doubled
            // closing mark stands for itself.
            const QChar close = c == u'[' ? QChar(u']') : c;
            qsizetype j = i + 1;
            for (;; ++j) {
                if (j >= condition.size()) {
                    return c == u'[' ? QStringLiteral("a name in [ ] is not closed")
                                     : QStringLiteral("a quoted text or name is not closed");
                }
                if (condition[j] != close) continue;
                if (j + 1 < condition.size() && condition[j + 1] == close) {
                    ++j;
                    continue;
                }
                break;
            }
            i = j;
        } else if (c == u'(') {
            ++depth;
        } else if (c == u')') {
            if (--depth < 0) return QStringLiteral("a \")\" closes more than was opened");
        } else if (c == u';') {
            return QStringLiteral("\";\" would end the statement");
        } else if (c == u'{' || c == u'}') {
            // The driver turns "{call p}" into "exec p" whatever the
            // statement's escape setting says.
            return QStringLiteral("\"%1\" would be read by the driver as an escape").arg(c);
        } else if (c == u'-' && next == u'-') {
            return QStringLiteral("\"--\" would start a comment");
        } else if (c == u'/' && next == u'*') {
            return QStringLiteral("\"/*\" would start a comment");
        }
    }
    if (depth > 0) return QStringLiteral("a \"(\" is not closed");
    return QString();
}

std::optional<OptionChoices::Problem> OptionChoices::mapProblem() const {
    const auto problem = [](const QString& reason) {
        QString text = reason;
        text[0] = text[0].toUpper();
        return Problem{Choice::Map, text + u'.', reason};
    };
    // Names compare without case here, where the database's collation is
    // not known: in a case-insensitive one "Total" and "TOTAL" are one.
    QStringList firsts, seconds;
    for (const ColumnMapping& m : map) {
        for (const auto& [name, seen, whose] :
             {std::tuple{&m.first, &firsts, QStringLiteral("first")},
              std::tuple{&m.second, &seconds, QStringLiteral("second")}}) {
            if (seen->contains(*name, Qt::CaseInsensitive)) {
                return problem(QStringLiteral("the %1 table's column \"%2\" is mapped twice")
                                   .arg(whose, *name));
            }
            *seen << *name;
            // Left out of both tables, one side of the pair would be missing.
            if (leaveOut.contains(*name, Qt::CaseInsensitive)) {
                return problem(QStringLiteral("the column \"%1\" is mapped: it cannot be left out")
                                   .arg(*name));
            }
        }
    }
    return std::nullopt;
}

std::optional<OptionChoices::Problem> OptionChoices::Check(bool byKey) const {
    for (const QString& name : byKey ? key : QStringList()) {
        if (leaveOut.contains(name)) {
            return Problem{Choice::LeaveOut,
                           QStringLiteral("%1 is a key column: it cannot be left out.").arg(name),
                           QStringLiteral("a key column cannot be left out")};
        }
    }
    if (std::optional<Problem> p = mapProblem()) return p;
    if (const QString p = RowConditionProblem(firstWhere); !p.isEmpty()) {
        return Problem{Choice::FirstWhere,
                       QStringLiteral("The first table's condition cannot be used: %1.").arg(p), p};
    }
    if (!sameWhere) {
        if (const QString p = RowConditionProblem(secondWhere); !p.isEmpty()) {
            return Problem{
                Choice::SecondWhere,
                QStringLiteral("The second table's condition cannot be used: %1.").arg(p), p};
        }
    }
    if (!tolerance.isEmpty() && !Tolerance::FromText(tolerance)) {
        return Problem{
            Choice::Tolerance,
            QStringLiteral("\"%1\" is no number of 0 or more, such as 0.01.").arg(tolerance),
            QStringLiteral("no number of 0 or more")};
    }
    if (!limit.isEmpty() && !RecordCountFromText(limit)) {
        return Problem{
            Choice::Limit,
            QStringLiteral("\"%1\" is no whole number of records (empty: no limit).").arg(limit),
            QStringLiteral("no whole number of records")};
    }
    return std::nullopt;
}

void OptionChoices::ApplyTo(RunOptions& options) const {
    if (const std::optional<Problem> p = Check(options.key.pairsByKey())) {
        throw OptionProblem(p->text);
    }
    options.ignore = leaveOut;
    options.where = firstWhere;
    if (!sameWhere) options.rightWhere = secondWhere;
    options.values.trim = trim;
    options.values.ignoreCase = ignoreCase;
    options.values.nullEqualsEmpty = nullEqualsEmpty;
    if (!tolerance.isEmpty()) options.values.tolerance = Tolerance::FromText(tolerance);
    options.limit = limit.isEmpty() ? 0 : *RecordCountFromText(limit);
    options.map = map;
    // Checksums range over keys: records by position are read whole, as ever.
    options.checksums = checksums && options.key.pairsByKey();
    options.snapshot = snapshot;
    if (options.key.pairsByKey() && !key.isEmpty()) {
        options.key.automatic = false;
        options.key.columns = key;
    }
}

}  // namespace compare
