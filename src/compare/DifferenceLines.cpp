#include "DifferenceLines.h"

#include <stdexcept>

namespace compare {
namespace {

QString RecordNumber(std::int64_t record) {
    if (record < 1) throw std::invalid_argument("record numbers start at 1");
    return QString::number(record);
}

void AppendQuoted(QString& out, const data::FieldValue& v, const ValueFormatter& formatter) {
    if (v.isNull()) {
        out += u"NULL";
        return;
    }
    out += u'"';
    out += formatter.text(v);
    out += u'"';
}

void AppendQuoted(QString& out, const std::optional<QString>& text) {
    if (!text) {
        out += u"NULL";
        return;
    }
    out += u'"';
    out += *text;
    out += u'"';
}

QString RecordLine(std::int64_t record, QStringView verb, QStringView tableName) {
    QString out = QStringLiteral("Record ");
    out += RecordNumber(record);
    out += verb;
    out += tableName;
    return out;
}

}  // namespace

QString FieldChangedLine(std::int64_t record, QStringView fieldName, const data::FieldValue& before,
                         const data::FieldValue& after, const ValueFormatter& formatter) {
    QString out = QStringLiteral("Record ");
    out += RecordNumber(record);
    out += u",Field \"";
    out += fieldName;
    out += u"\" has changed from ";
    AppendQuoted(out, before, formatter);
    out += u" to ";
    AppendQuoted(out, after, formatter);
    return out;
}

QString FieldChangedLine(std::int64_t record, QStringView fieldName, const data::FieldValue& before,
                         const data::FieldValue& after) {
    return FieldChangedLine(record, fieldName, before, after, ValueFormatter());
}

QString FieldChangedLine(std::int64_t record, QStringView fieldName,
                         const std::optional<QString>& before, const std::optional<QString>& after) {
    QString out = QStringLiteral("Record ");
    out += RecordNumber(record);
    out += u",Field \"";
    out += fieldName;
    out += u"\" has changed from ";
    AppendQuoted(out, before);
    out += u" to ";
    AppendQuoted(out, after);
    return out;
}

QString RecordDeletedLine(std::int64_t record, QStringView tableName) {
    return RecordLine(record, u" deleted from ", tableName);
}

QString RecordAddedLine(std::int64_t record, QStringView tableName) {
    return RecordLine(record, u" added from ", tableName);
}

}  // namespace compare
