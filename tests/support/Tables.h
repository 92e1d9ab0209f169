#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

#include "ResultTable.h"

namespace testing_support {

struct SchemaRow {
    QString schema;
    QString name;
    QString type;
};

// A tables schema rowset as the driver gives it: one row per (schema, name,
// type), in the order given.
inline data::ResultTable QualifiedSchemaRowset(const std::vector<SchemaRow>& rows) {
    data::ResultTable t;
    t.addColumn(QStringLiteral("TABLE_CAT"), data::ValueKind::Text);
    t.addColumn(QStringLiteral("TABLE_SCHEM"), data::ValueKind::Text);
    t.addColumn(QStringLiteral("TABLE_NAME"), data::ValueKind::Text);
    t.addColumn(QStringLiteral("TABLE_TYPE"), data::ValueKind::Text);
    t.addColumn(QStringLiteral("REMARKS"), data::ValueKind::Text);
    for (const SchemaRow& row : rows) {
        t.column(0).append(data::FieldValue::text(QStringLiteral("testdb")));
        t.column(1).append(data::FieldValue::text(row.schema));
        t.column(2).append(data::FieldValue::text(row.name));
        t.column(3).append(data::FieldValue::text(row.type));
        t.column(4).append(data::FieldValue());
    }
    return t;
}

// The same with every table in the default schema "dbo": one row per (name, type).
inline data::ResultTable SchemaRowset(const std::vector<std::pair<QString, QString>>& rows) {
    std::vector<SchemaRow> qualified;
    for (const auto& [name, type] : rows) qualified.push_back({QStringLiteral("dbo"), name, type});
    return QualifiedSchemaRowset(qualified);
}

// A table whose columns all hold texts; an empty QString() cell is NULL.
inline data::ResultTable TextTable(const QStringList& columns,
                                   const std::vector<QStringList>& rows) {
    data::ResultTable t;
    for (const QString& c : columns) t.addColumn(c, data::ValueKind::Text);
    for (const QStringList& row : rows) {
        for (int f = 0; f < columns.size(); ++f) {
            const QString& v = row.at(f);
            t.column(f).append(v.isNull() ? data::FieldValue() : data::FieldValue::text(v));
        }
    }
    return t;
}

}  // namespace testing_support
