#include "CompareDatabases.h"

#include <QHash>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <algorithm>
#include <vector>

#include "CommandParts.h"
#include "ReportFile.h"
#include "ReportWriter.h"

namespace cli {

namespace {

// How one pair of tables (or a table alone) came out.
struct PairOutcome {
    enum class Kind { Same, Differ, NotCompared, OnlyInFirst, OnlyInSecond };
    Kind kind = Kind::Same;
    QString table;  // as the first database's list names it (the second's, alone there)
    bool byKey = false;
    compare::RunSummary summary;
    std::int64_t columnsOnlyInOne = 0;
    bool bothEmpty = false;
    QString note;  // why it was not compared; the database a table alone is in
};

// Counts what a run reports (a field only one table has apart: it is no
// record), and passes it on to the pair's lines when they are wanted.
class CountingSink final : public compare::DifferenceSink {
public:
    void FieldChanged(const compare::RecordName& r, const QString& f, const data::FieldValue& a,
                      const data::FieldValue& b) override {
        ++differences;
        if (also) also->FieldChanged(r, f, a, b);
    }
    void RecordDeleted(const compare::RecordName& r) override {
        ++differences;
        if (also) also->RecordDeleted(r);
    }
    void RecordAdded(const compare::RecordName& r) override {
        ++differences;
        if (also) also->RecordAdded(r);
    }
    void RecordNotUnique(const compare::RecordName& r, bool inFirst) override {
        ++differences;
        if (also) also->RecordNotUnique(r, inFirst);
    }
    void FieldOnlyIn(const QString& f, bool inFirst) override {
        ++differences;
        ++columnsOnlyInOne;
        if (also) also->FieldOnlyIn(f, inFirst);
    }
    std::int64_t differences = 0;
    std::int64_t columnsOnlyInOne = 0;
    compare::DifferenceSink* also = nullptr;
};

// Tables pair by schema and name without case, as SQL Server compares names.
QString PairKey(const catalogue::TableName& t) {
    return (t.schema.isEmpty() ? QStringLiteral("dbo") : t.schema).toLower() + u'.' +
           t.name.toLower();
}

// Whether a shell pattern of the list names the table: as the lists show it
// ("Orders", "sales.Orders") or with its schema ("dbo.Orders").
bool Named(const std::vector<QRegularExpression>& patterns, const catalogue::TableName& t) {
    const QString both = (t.schema.isEmpty() ? QStringLiteral("dbo") : t.schema) + u'.' + t.name;
    return std::any_of(patterns.begin(), patterns.end(), [&](const QRegularExpression& p) {
        return p.match(t.listed()).hasMatch() || p.match(both).hasMatch();
    });
}

std::vector<QRegularExpression> Patterns(const QStringList& texts) {
    std::vector<QRegularExpression> out;
    for (const QString& t : texts) {
        std::optional<QRegularExpression> p = ShellPattern(t);
        if (!p) fail(QStringLiteral("'%1' is no shell pattern: a [ is not closed").arg(t));
        out.push_back(*p);
    }
    return out;
}

QString ResultText(const PairOutcome& o) {
    using Kind = PairOutcome::Kind;
    switch (o.kind) {
        case Kind::Same:
            return o.bothEmpty ? QStringLiteral("same (both empty)") : QStringLiteral("same");
        case Kind::Differ: {
            const compare::RunSummary& s = o.summary;
            QString text = QStringLiteral("differ: %1 changed (%2 fields), %3 added, %4 deleted")
                               .arg(s.changedRecords)
                               .arg(s.changedFields)
                               .arg(s.added)
                               .arg(s.deleted);
            if (s.notUnique > 0) text += QStringLiteral(", %1 not unique").arg(s.notUnique);
            if (o.columnsOnlyInOne > 0) {
                text += QStringLiteral(", %1 columns only in one table").arg(o.columnsOnlyInOne);
            }
            if (s.stoppedAtLimit) text += QStringLiteral("; stopped at the limit");
            return text;
        }
        case Kind::NotCompared:
            return QStringLiteral("not compared: ") + o.note;
        case Kind::OnlyInFirst:
        case Kind::OnlyInSecond:
            return QStringLiteral("only in ") + o.note;
    }
    return QString();
}

QString KindName(PairOutcome::Kind kind) {
    using Kind = PairOutcome::Kind;
    switch (kind) {
        case Kind::Same:
            return QStringLiteral("same");
        case Kind::Differ:
            return QStringLiteral("differ");
        case Kind::NotCompared:
            return QStringLiteral("not-compared");
        case Kind::OnlyInFirst:
            return QStringLiteral("only-in-first");
        case Kind::OnlyInSecond:
            return QStringLiteral("only-in-second");
    }
    return QString();
}

// A database as the report names it; a login that names none reaches the
// server's default for its user.
QString DatabaseLabel(const connection::LoginDetails& login, const QString& side) {
    return login.database.isEmpty() ? QStringLiteral("the %1 database").arg(side) : login.database;
}

// The report: a line a pair as it is done (for a person: aligned columns;
// CSV and JSON for scripts), each pair's difference lines under it when
// asked for, the totals last.
class DatabasesReport {
public:
    DatabasesReport(QIODevice& out, compare::ReportFormat format, qsizetype nameWidth)
        : writer_(out, compare::ReportFormat::Text), format_(format), width_(nameWidth) {
        switch (format_) {
            case compare::ReportFormat::Text:
                writer_.writeLine(row(QStringLiteral("Table"), QStringLiteral("Pairing"),
                                      QStringLiteral("Result")));
                break;
            case compare::ReportFormat::Csv:
                writer_.writeLine(QStringLiteral(
                    "kind,table,pairing,changed-records,changed-fields,added,deleted,not-unique,"
                    "columns-only-in-one,note,record,field,from,to"));
                break;
            case compare::ReportFormat::Json:
                break;
        }
    }

    void pair(const PairOutcome& o) {
        // A table alone was paired with nothing.
        const bool alone =
            o.kind == PairOutcome::Kind::OnlyInFirst || o.kind == PairOutcome::Kind::OnlyInSecond;
        const QString pairing = alone     ? QString()
                                : o.byKey ? QStringLiteral("by key")
                                          : QStringLiteral("by position");
        switch (format_) {
            case compare::ReportFormat::Text:
                writer_.writeLine(
                    row(o.table, pairing.isEmpty() ? QStringLiteral("-") : pairing, ResultText(o)));
                break;
            case compare::ReportFormat::Csv: {
                const bool counted = o.kind == PairOutcome::Kind::Differ;
                const compare::RunSummary& s = o.summary;
                const auto count = [&](std::int64_t n) {
                    return counted ? QString::number(n) : QString();
                };
                QString note = o.note;
                if (o.bothEmpty) note = QStringLiteral("both empty");
                if (s.stoppedAtLimit) note = QStringLiteral("stopped at the limit");
                writer_.writeLine(QStringList{
                    KindName(o.kind), compare::CsvText(o.table),
                    pairing.isEmpty() ? QString() : pairing.mid(3), count(s.changedRecords),
                    count(s.changedFields), count(s.added), count(s.deleted), count(s.notUnique),
                    count(o.columnsOnlyInOne), note.isEmpty() ? QString() : compare::CsvText(note),
                    QString(), QString(), QString(), QString()}
                                      .join(u','));
                break;
            }
            case compare::ReportFormat::Json: {
                QString json = QStringLiteral("{\"kind\":\"%1\",\"table\":%2")
                                   .arg(KindName(o.kind), compare::JsonText(o.table));
                if (!pairing.isEmpty()) {
                    json += QStringLiteral(",\"pairing\":\"%1\"").arg(pairing.mid(3));
                }
                const compare::RunSummary& s = o.summary;
                if (o.kind == PairOutcome::Kind::Differ) {
                    json += QStringLiteral(
                                ",\"changedRecords\":%1,\"changedFields\":%2,\"added\":%3,"
                                "\"deleted\":%4,\"notUnique\":%5,\"columnsOnlyInOne\":%6,"
                                "\"stoppedAtLimit\":%7")
                                .arg(s.changedRecords)
                                .arg(s.changedFields)
                                .arg(s.added)
                                .arg(s.deleted)
                                .arg(s.notUnique)
                                .arg(o.columnsOnlyInOne)
                                .arg(s.stoppedAtLimit ? QStringLiteral("true")
                                                      : QStringLiteral("false"));
                }
                if (o.kind == PairOutcome::Kind::Same) {
                    json +=
                        QStringLiteral(",\"bothEmpty\":%1")
                            .arg(o.bothEmpty ? QStringLiteral("true") : QStringLiteral("false"));
                }
                if (o.kind == PairOutcome::Kind::NotCompared) {
                    json += QStringLiteral(",\"reason\":") + compare::JsonText(o.note);
                }
                if (o.kind == PairOutcome::Kind::OnlyInFirst ||
                    o.kind == PairOutcome::Kind::OnlyInSecond) {
                    json += QStringLiteral(",\"database\":") + compare::JsonText(o.note);
                }
                writer_.writeLine(json + u'}');
                break;
            }
        }
    }

    // A pair's difference lines as a report of the format wrote them (its
    // header aside), each naming the table.
    void details(QIODevice& lines, const QString& table) {
        lines.seek(0);
        bool header = format_ == compare::ReportFormat::Csv;
        while (!lines.atEnd()) {
            QString line = QString::fromUtf8(lines.readLine());
            if (line.endsWith(u'\n')) line.chop(1);
            if (std::exchange(header, false)) continue;
            switch (format_) {
                case compare::ReportFormat::Text:
                    writer_.writeLine(QStringLiteral("    ") + table + QStringLiteral(": ") + line);
                    break;
                case compare::ReportFormat::Csv: {
                    // kind,record,... -> kind,table,<eight empty>,record,...
                    const qsizetype comma = line.indexOf(u',');
                    writer_.writeLine(line.left(comma) + u',' + compare::CsvText(table) +
                                      QStringLiteral(",,,,,,,,") + line.mid(comma));
                    break;
                }
                case compare::ReportFormat::Json:
                    writer_.writeLine(QStringLiteral("{\"pair\":") + compare::JsonText(table) +
                                      u',' + line.mid(1));
                    break;
            }
        }
    }

    // Writes the totals; returns them as the text line says them.
    QString totals(const std::vector<std::int64_t>& counts, const QString& firstDatabase,
                   const QString& secondDatabase) {
        const std::int64_t tables = counts[0] + counts[1] + counts[2] + counts[3] + counts[4];
        const QString text = QStringLiteral(
                                 "%1 tables: %2 the same, %3 differ, %4 not compared, %5 only "
                                 "in %6, %7 only in %8.")
                                 .arg(tables)
                                 .arg(counts[0])
                                 .arg(counts[1])
                                 .arg(counts[2])
                                 .arg(counts[3])
                                 .arg(firstDatabase)
                                 .arg(counts[4])
                                 .arg(secondDatabase);
        switch (format_) {
            case compare::ReportFormat::Text:
                writer_.writeLine(QStringLiteral("Total: ") + text);
                break;
            case compare::ReportFormat::Csv:
                writer_.writeLine(
                    QStringLiteral("total,,,,,,,,,%1,,,,").arg(compare::CsvText(text)));
                break;
            case compare::ReportFormat::Json:
                writer_.writeLine(QStringLiteral("{\"kind\":\"total\",\"tables\":%1,\"same\":%2,"
                                                 "\"differ\":%3,\"notCompared\":%4,"
                                                 "\"onlyInFirst\":%5,\"onlyInSecond\":%6}")
                                      .arg(tables)
                                      .arg(counts[0])
                                      .arg(counts[1])
                                      .arg(counts[2])
                                      .arg(counts[3])
                                      .arg(counts[4]));
                break;
        }
        return text;
    }

private:
    QString row(const QString& table, const QString& pairing, const QString& result) const {
        return table.leftJustified(width_) + QStringLiteral("  ") + pairing.leftJustified(11) +
               QStringLiteral("  ") + result;
    }

    compare::ReportWriter writer_;
    compare::ReportFormat format_;
    qsizetype width_;
};

// A table pair of the two databases, or a table only one has.
struct Entry {
    std::optional<catalogue::TableName> first, second;
    QString listed() const { return first ? first->listed() : second->listed(); }
};

// One pair compared: by key where asked and the first table has a primary
// key, else by position; a failing pair ends only itself.
PairOutcome ComparePair(const DatabasesRequest& request, data::DataAccess& data, std::FILE* err,
                        const Entry& entry, const QString& progress, DatabasesReport& report) {
    PairOutcome outcome;
    outcome.table = entry.listed();
    compare::RunOptions options = request.options;
    options.ignoreWhereFound = true;
    Sides sides{{request.first, *entry.first}, {request.second, *entry.second}, {}};
    sides.names = compare::NameSides(sides.first, sides.second);
    for (;;) {
        outcome.byKey = options.key.pairsByKey();
        std::unique_ptr<QTemporaryFile> lines;
        CountingSink counts;
        try {
            const auto body = [&](compare::ComparisonRun& run, compare::Steps& steps,
                                  const Stage& stage) -> std::int64_t {
                if (!request.details) {
                    stage([&] { run.Compare(steps, counts, run.PositionalFields()); });
                    return counts.differences;
                }
                lines = std::make_unique<QTemporaryFile>();
                if (!lines->open()) fail(QStringLiteral("Cannot make a temporary file."));
                compare::ReportSink sink(*lines, request.format, sides.names.first,
                                         sides.names.second);
                counts.also = &sink;
                stage([&] {
                    run.Compare(steps, counts, run.PositionalFields());
                    sink.finish(run.Summary(), false);
                });
                return counts.differences;
            };
            const cli::Compared compared =
                runComparison(data, err, sides, options, false, body, progress);
            outcome.summary = compared.summary;
            outcome.columnsOnlyInOne = counts.columnsOnlyInOne;
            outcome.kind = compared.differences == 0 && !compared.summary.stoppedAtLimit
                               ? PairOutcome::Kind::Same
                               : PairOutcome::Kind::Differ;
        } catch (const WithoutPrimaryKey&) {
            options.key = compare::KeyChoice();
            continue;
        } catch (const NoRows& none) {
            outcome.kind = none.firstEmpty && none.secondEmpty ? PairOutcome::Kind::Same
                                                               : PairOutcome::Kind::NotCompared;
            outcome.bothEmpty = none.firstEmpty && none.secondEmpty;
            outcome.note = none.message;
        } catch (const Failure& failure) {
            outcome.kind = PairOutcome::Kind::NotCompared;
            outcome.note = failure.message.simplified();
        }
        report.pair(outcome);
        if (lines && outcome.kind == PairOutcome::Kind::Differ)
            report.details(*lines, outcome.table);
        return outcome;
    }
}

}  // namespace

std::optional<QRegularExpression> ShellPattern(const QString& pattern) {
    QString re;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'*') {
            re += QStringLiteral(".*");
        } else if (c == u'?') {
            re += u'.';
        } else if (c == u'[') {
            qsizetype j = i + 1;
            const bool negated = j < pattern.size() && (pattern[j] == u'!' || pattern[j] == u'^');
            if (negated) ++j;
            const qsizetype first = j;
            if (j < pattern.size() && pattern[j] == u']') ++j;  // a ] first is one of the set
            while (j < pattern.size() && pattern[j] != u']') ++j;
            if (j >= pattern.size()) return std::nullopt;
            QString set;
            for (const QChar m : pattern.mid(first, j - first)) {
                if (m == u'\\' || m == u'[' || m == u']' || m == u'^') set += u'\\';
                set += m;
            }
            re += u'[' + QString(negated ? QStringLiteral("^") : QString()) + set + u']';
            i = j;
        } else {
            re += QRegularExpression::escape(QString(c));
        }
    }
    QRegularExpression out(QRegularExpression::anchoredPattern(re),
                           QRegularExpression::CaseInsensitiveOption);
    if (!out.isValid()) return std::nullopt;  // a range backwards: [z-a]
    return out;
}

int CompareDatabases(const DatabasesRequest& request, data::DataAccess& data, std::FILE* out,
                     std::FILE* err) {
    const catalogue::CatalogueRead firstList =
        readCatalogue(data, request.first, QStringLiteral("First"));
    const catalogue::CatalogueRead secondList =
        readCatalogue(data, request.second, QStringLiteral("Second"));
    const std::vector<QRegularExpression> tables = Patterns(request.tables);
    const std::vector<QRegularExpression> exclude = Patterns(request.exclude);
    const auto chosen = [&](const catalogue::TableName& t) {
        return (tables.empty() || Named(tables, t)) && !Named(exclude, t);
    };
    QHash<QString, qsizetype> inSecond;
    for (qsizetype i = 0; i < qsizetype(secondList.tables.size()); ++i) {
        inSecond.insert(PairKey(secondList.tables[static_cast<std::size_t>(i)]), i);
    }
    std::vector<Entry> entries;
    std::vector<bool> paired(secondList.tables.size(), false);
    for (const catalogue::TableName& t : firstList.tables) {
        if (!chosen(t)) continue;
        Entry e;
        e.first = t;
        if (const auto it = inSecond.constFind(PairKey(t)); it != inSecond.constEnd()) {
            e.second = secondList.tables[static_cast<std::size_t>(*it)];
            paired[static_cast<std::size_t>(*it)] = true;
        }
        entries.push_back(e);
    }
    for (std::size_t i = 0; i < secondList.tables.size(); ++i) {
        if (paired[i] || !chosen(secondList.tables[i])) continue;
        Entry e;
        e.second = secondList.tables[i];
        entries.push_back(e);
    }
    // A pattern that names nothing is most likely mistyped: a run over no
    // table would pass for databases that hold the same data.
    for (qsizetype k = 0; k < request.tables.size(); ++k) {
        const auto names = [&](const catalogue::CatalogueRead& list) {
            return std::any_of(list.tables.begin(), list.tables.end(),
                               [&](const catalogue::TableName& t) {
                                   return Named({tables[static_cast<std::size_t>(k)]}, t);
                               });
        };
        if (!names(firstList) && !names(secondList)) {
            fail(QStringLiteral("--tables %1 names no table of either database")
                     .arg(request.tables[k]));
        }
    }
    qsizetype width = 5;  // "Table"
    for (const Entry& e : entries) width = std::max(width, e.listed().size());

    // As compare writes its report: a file replaced only when whole, else
    // standard output once the run is done.
    std::optional<compare::ReportFile> file;
    QTemporaryFile buffer;
    QIODevice* device = nullptr;
    if (request.output) {
        file.emplace(*request.output);
        if (!file->open()) {
            fail(QStringLiteral("Cannot write %1: %2").arg(*request.output, file->errorString()));
        }
        device = &file->device();
    } else {
        if (!buffer.open()) fail(QStringLiteral("Cannot make a temporary file for the report."));
        device = &buffer;
    }
    watching = 1;
    std::vector<std::int64_t> counts(5, 0);
    QString totalsText;
    try {
        DatabasesReport report(*device, request.format, width);
        for (std::size_t k = 0; k < entries.size(); ++k) {
            if (stopSignal != 0) throw Stopped{stopSignal};
            const Entry& e = entries[k];
            PairOutcome outcome;
            if (!e.second) {
                outcome.kind = PairOutcome::Kind::OnlyInFirst;
                outcome.table = e.listed();
                outcome.note = DatabaseLabel(request.first, QStringLiteral("first"));
                report.pair(outcome);
            } else if (!e.first) {
                outcome.kind = PairOutcome::Kind::OnlyInSecond;
                outcome.table = e.listed();
                outcome.note = DatabaseLabel(request.second, QStringLiteral("second"));
                report.pair(outcome);
            } else {
                const QString progress =
                    QStringLiteral("%1 (%2 of %3)").arg(e.listed()).arg(k + 1).arg(entries.size());
                outcome = ComparePair(request, data, err, e, progress, report);
            }
            ++counts[static_cast<std::size_t>(outcome.kind)];
        }
        totalsText = report.totals(counts, DatabaseLabel(request.first, QStringLiteral("first")),
                                   DatabaseLabel(request.second, QStringLiteral("second")));
    } catch (const compare::ReportWriteError& e) {
        fail(request.output ? QStringLiteral("Cannot write %1: %2").arg(*request.output, e.reason())
                            : e.what());
    }
    if (file) {
        if (!file->commit()) {
            fail(QStringLiteral("Cannot write %1: %2").arg(*request.output, file->errorString()));
        }
    } else {
        writeAll(out, buffer);
    }
    if (request.summary) {
        std::fprintf(err, "Total: %s\n", totalsText.toLocal8Bit().constData());
    }
    using Kind = PairOutcome::Kind;
    if (counts[static_cast<std::size_t>(Kind::NotCompared)] > 0) return 2;
    return counts[static_cast<std::size_t>(Kind::Same)] == std::int64_t(entries.size()) ? 0 : 1;
}

}  // namespace cli
