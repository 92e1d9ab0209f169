#include "ReportFormat.h"

#include "DifferenceLines.h"
#include "Summary.h"

namespace compare {

QString CsvText(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

QString JsonText(QStringView text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        switch (u) {
            case u'"':
                out += QStringLiteral("\\\"");
                break;
            case u'\\':
                out += QStringLiteral("\\\\");
                break;
            case u'\n':
                out += QStringLiteral("\\n");
                break;
            case u'\r':
                out += QStringLiteral("\\r");
                break;
            case u'\t':
                out += QStringLiteral("\\t");
                break;
            default:
                // U+0085, U+2028 and U+2029 end a line for some readers: escaped,
                // a record stays on its line.
                if (u < 0x20 || u == 0x85 || u == 0x2028 || u == 0x2029) {
                    out +=
                        QStringLiteral("\\u%1").arg(static_cast<int>(u), 4, 16, QLatin1Char('0'));
                } else {
                    out += c;
                }
        }
    }
    out += QLatin1Char('"');
    return out;
}

namespace {

QString KindName(Difference::Kind kind) {
    switch (kind) {
        case Difference::Kind::Changed:
            return QStringLiteral("changed");
        case Difference::Kind::Added:
            return QStringLiteral("added");
        case Difference::Kind::Deleted:
            return QStringLiteral("deleted");
        case Difference::Kind::FieldOnly:
            return QStringLiteral("field-only");
        case Difference::Kind::NotUnique:
            return QStringLiteral("not-unique");
        case Difference::Kind::Line:
            break;
    }
    return QStringLiteral("line");
}

QString CsvValue(const std::optional<QString>& value) {
    return value ? CsvText(*value) : QString();
}

QString JsonValue(const std::optional<QString>& value) {
    return value ? JsonText(*value) : QStringLiteral("null");
}

// A value with its type after it, in the words of the text line, where the
// text alone would not tell it from the other value.
std::optional<QString> Typed(const std::optional<QString>& value, const QString& type) {
    if (!value || type.isEmpty()) return value;
    return *value + QStringLiteral(" (") + type + u')';
}

// A record's number as a number, its key as a text.
QString CsvRecord(const RecordName& record) {
    return record.byKey() ? CsvText(record.text()) : record.text();
}
QString JsonRecord(const RecordName& record) {
    return record.byKey() ? JsonText(record.text()) : record.text();
}

}  // namespace

std::optional<ReportFormat> ReportFormatNamed(QStringView name) {
    if (name == u"text") return ReportFormat::Text;
    if (name == u"csv") return ReportFormat::Csv;
    if (name == u"json") return ReportFormat::Json;
    if (name == u"html") return ReportFormat::Html;
    return std::nullopt;
}

ReportFormat ReportFormatForFile(const QString& path) {
    if (path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) return ReportFormat::Csv;
    if (path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive)) return ReportFormat::Json;
    if (path.endsWith(QStringLiteral(".html"), Qt::CaseInsensitive) ||
        path.endsWith(QStringLiteral(".htm"), Qt::CaseInsensitive)) {
        return ReportFormat::Html;
    }
    return ReportFormat::Text;
}

std::optional<QString> ReportHeader(ReportFormat format) {
    if (format == ReportFormat::Csv) return QStringLiteral("kind,record,field,from,to");
    return std::nullopt;
}

QString FormatDifference(const Difference& d, ReportFormat format) {
    switch (format) {
        case ReportFormat::Text:
        case ReportFormat::Html:
            switch (d.kind) {
                case Difference::Kind::Changed:
                    return FieldChangedLine(d.record, d.field, d.from, d.to, d.fromType, d.toType);
                case Difference::Kind::Added:
                    return RecordAddedLine(d.record, d.table);
                case Difference::Kind::Deleted:
                    return RecordDeletedLine(d.record, d.table);
                case Difference::Kind::FieldOnly:
                    return FieldOnlyInLine(d.field, d.table);
                case Difference::Kind::NotUnique:
                    return RecordNotUniqueLine(d.record, d.table);
                case Difference::Kind::Line:
                    return d.line;
            }
            break;
        case ReportFormat::Csv:
            if (d.kind == Difference::Kind::Line) return CsvText(d.line);
            if (d.kind == Difference::Kind::FieldOnly) {
                return QStringLiteral("field-only,,") + CsvText(d.field) + QLatin1Char(',') +
                       (d.inFirstTable ? CsvText(d.table) : QString()) + QLatin1Char(',') +
                       (d.inFirstTable ? QString() : CsvText(d.table));
            }
            if (d.kind == Difference::Kind::NotUnique) {
                return QStringLiteral("not-unique,") + CsvRecord(d.record) + QStringLiteral(",,") +
                       (d.inFirstTable ? CsvText(d.table) : QString()) + QLatin1Char(',') +
                       (d.inFirstTable ? QString() : CsvText(d.table));
            }
            return KindName(d.kind) + QLatin1Char(',') + CsvRecord(d.record) + QLatin1Char(',') +
                   (d.kind == Difference::Kind::Changed ? CsvText(d.field) : QString()) +
                   QLatin1Char(',') + CsvValue(Typed(d.from, d.fromType)) + QLatin1Char(',') +
                   CsvValue(Typed(d.to, d.toType));
        case ReportFormat::Json: {
            if (d.kind == Difference::Kind::Line) {
                return QStringLiteral("{\"kind\":\"line\",\"line\":") + JsonText(d.line) +
                       QLatin1Char('}');
            }
            if (d.kind == Difference::Kind::FieldOnly) {
                return QStringLiteral("{\"kind\":\"field-only\",\"field\":") + JsonText(d.field) +
                       QStringLiteral(",\"table\":") + JsonText(d.table) + QLatin1Char('}');
            }
            QString out = QStringLiteral("{\"kind\":\"") + KindName(d.kind) +
                          QStringLiteral("\",\"record\":") + JsonRecord(d.record);
            if (d.kind == Difference::Kind::Changed) {
                out += QStringLiteral(",\"field\":") + JsonText(d.field) +
                       QStringLiteral(",\"from\":") + JsonValue(Typed(d.from, d.fromType)) +
                       QStringLiteral(",\"to\":") + JsonValue(Typed(d.to, d.toType));
            } else {
                out += QStringLiteral(",\"table\":") + JsonText(d.table);
            }
            return out + QLatin1Char('}');
        }
    }
    return QString();
}

namespace {

QString ChecksumJson(const ChecksumCount& c) {
    return QStringLiteral(
               ",\"checksums\":{\"verified\":%1,\"ranges\":%2,\"firstRanges\":%3,"
               "\"differingFirstRanges\":%4,\"stoppedEarly\":%6,\"readWhole\":%5}")
        .arg(QString::number(c.verified), QString::number(c.segments),
             QString::number(c.firstSegments), QString::number(c.differingSegments),
             c.readWhole ? QStringLiteral("true") : QStringLiteral("false"),
             c.stoppedEarly ? QStringLiteral("true") : QStringLiteral("false"));
}

}  // namespace

QStringList FormatEnd(const RunSummary& s, const QString& firstTable, const QString& secondTable,
                      ReportFormat format, bool withSummary) {
    QStringList lines;
    const QString seconds = QString::number(static_cast<double>(s.elapsedMs) / 1000.0, 'f', 3);
    switch (format) {
        case ReportFormat::Text:
            if (s.stoppedAtLimit) lines << StoppedAtLimitText(s.limit);
            if (withSummary) lines << SummaryText(s, firstTable, secondTable);
            break;
        case ReportFormat::Csv: {
            if (s.stoppedAtLimit) lines << QStringLiteral("stopped,,limit,,%1").arg(s.limit);
            if (!withSummary) break;
            const auto row = [&](const char* measure, const QString& value) {
                lines << QStringLiteral("summary,,") + QLatin1String(measure) +
                             QStringLiteral(",,") + value;
            };
            row("first-table", CsvText(firstTable));
            row("second-table", CsvText(secondTable));
            row("first-read", QString::number(s.firstRead));
            row("second-read", QString::number(s.secondRead));
            row("compared", QString::number(s.compared));
            row("changed-records", QString::number(s.changedRecords));
            row("changed-fields", QString::number(s.changedFields));
            row("added", QString::number(s.added));
            row("deleted", QString::number(s.deleted));
            row("not-unique", QString::number(s.notUnique));
            // Only where there are any: the rows of every other report stay as they were.
            if (s.fieldsOnlyInOne > 0)
                row("columns-only-in-one", QString::number(s.fieldsOnlyInOne));
            row("stopped-at-limit",
                s.stoppedAtLimit ? QStringLiteral("true") : QStringLiteral("false"));
            row("seconds", seconds);
            row("options", CsvText(s.options));
            if (const std::optional<ChecksumCount>& c = s.checksums) {
                row("checksum-verified", QString::number(c->verified));
                row("checksum-ranges", QString::number(c->segments));
                row("checksum-first-ranges", QString::number(c->firstSegments));
                row("checksum-differing-first-ranges", QString::number(c->differingSegments));
                row("checksum-stopped-early",
                    c->stoppedEarly ? QStringLiteral("true") : QStringLiteral("false"));
                row("checksum-read-whole",
                    c->readWhole ? QStringLiteral("true") : QStringLiteral("false"));
            }
            break;
        }
        case ReportFormat::Json:
            if (s.stoppedAtLimit)
                lines << QStringLiteral("{\"kind\":\"stopped\",\"limit\":%1}").arg(s.limit);
            if (!withSummary) break;
            lines << QStringLiteral("{\"kind\":\"summary\",\"firstTable\":") +
                         JsonText(firstTable) + QStringLiteral(",\"secondTable\":") +
                         JsonText(secondTable) +
                         QStringLiteral(
                             ",\"firstRead\":%1,\"secondRead\":%2,\"compared\":%3,"
                             "\"changedRecords\":%4,\"changedFields\":%5,\"added\":%6,"
                             "\"deleted\":%7,\"notUnique\":%8,\"stoppedAtLimit\":%9,")
                             .arg(s.firstRead)
                             .arg(s.secondRead)
                             .arg(s.compared)
                             .arg(s.changedRecords)
                             .arg(s.changedFields)
                             .arg(s.added)
                             .arg(s.deleted)
                             .arg(s.notUnique)
                             .arg(s.stoppedAtLimit ? QStringLiteral("true")
                                                   : QStringLiteral("false")) +
                         QStringLiteral("\"seconds\":") + seconds +
                         QStringLiteral(",\"options\":") + JsonText(s.options) +
                         (s.fieldsOnlyInOne > 0
                              ? QStringLiteral(",\"columnsOnlyInOne\":%1").arg(s.fieldsOnlyInOne)
                              : QString()) +
                         (s.checksums ? ChecksumJson(*s.checksums) : QString()) + QLatin1Char('}');
            break;
        case ReportFormat::Html:
            break;
    }
    return lines;
}

}  // namespace compare
