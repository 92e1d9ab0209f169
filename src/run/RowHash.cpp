#include "RowHash.h"

#include "SqlNames.h"

namespace compare {

namespace {

// The ODBC types read as texts that the encoding covers: chars, wide chars
// and their long forms, and uniqueidentifier.
constexpr int kChar = 1, kVarChar = 12, kLongVarChar = -1, kWChar = -8, kWVarChar = -9,
              kWLongVarChar = -10, kGuid = -11;
// A date and time, and its size with three digits of a second ("yyyy-mm-dd
// hh:mm:ss.fff").
constexpr int kTimestamp = 93;
constexpr std::int64_t kMillisecondsSize = 23;

QString typed(const HashedColumn& c) {
    const QString n = QuotedIdentifier(c.name);
    switch (c.kind) {
        case data::ValueKind::Integer:
        case data::ValueKind::Bit:
            // Through bigint first: a narrower binary cast pads on the left,
            // so an int and a bigint of one value would differ.
            return QStringLiteral("cast(cast(%1 as bigint) as binary(8))").arg(n);
        case data::ValueKind::Float:
            return QStringLiteral("cast(cast(%1 as float) as binary(8))").arg(n);
        case data::ValueKind::Decimal:
        case data::ValueKind::Currency:
            // As text: the binary form of a decimal depends on the server's version.
            return QStringLiteral(
                       "cast(convert(varchar(41), cast(%1 as decimal(38, %2))) as varbinary(41)) "
                       "+ 0x00")
                .arg(n, QString::number(c.scale));
        case data::ValueKind::DateTime:
            // A datetime holds 1/300 s, which the driver reads rounded to
            // milliseconds, and which converts to datetime2(7) rounded or not
            // by the database's compatibility level: hashed at milliseconds,
            // whatever the level, and alike with a datetime2 of that value.
            // Columns of 3 digits or fewer (23 characters) lose nothing by it.
            if (c.sqlType == kTimestamp && c.declaredSize > 0 &&
                c.declaredSize <= kMillisecondsSize) {
                return QStringLiteral(
                           "cast(convert(varchar(27), cast(cast(%1 as datetime2(3)) as "
                           "datetime2(7)), 121) as varbinary(27)) + 0x00")
                    .arg(n);
            }
            return QStringLiteral(
                       "cast(convert(varchar(27), cast(%1 as datetime2(7)), 121) as varbinary(27)) "
                       "+ 0x00")
                .arg(n);
        case data::ValueKind::Bytes:
            return QStringLiteral("cast(datalength(%1) as binary(4)) + cast(%1 as varbinary(max))")
                .arg(n);
        case data::ValueKind::Text:
            if (c.sqlType == kGuid) return QStringLiteral("cast(%1 as binary(16))").arg(n);
            // Never through varchar: a character outside its code page would become '?'.
            return QStringLiteral(
                       "cast(datalength(cast(%1 as nvarchar(max))) as binary(4)) + "
                       "cast(cast(%1 as nvarchar(max)) as varbinary(max))")
                .arg(n);
        case data::ValueKind::Null:
            break;
    }
    return QString();
}

QString listOf(const QStringList& columns) {
    QStringList quoted;
    for (const QString& c : columns) quoted << QuotedIdentifier(c);
    return quoted.join(QStringLiteral(", "));
}

// "key > bound" (above) or "key <= bound", column by column: the first
// column decides, an equal one hands over to the next.
QString compared(const QStringList& keyColumns, const QStringList& bound, bool above,
                 qsizetype from = 0) {
    const QString column = QuotedIdentifier(keyColumns[from]);
    const bool last = from + 1 == keyColumns.size();
    const QString strict = above ? QStringLiteral(">") : QStringLiteral("<");
    if (last) {
        return QStringLiteral("%1 %2 %3")
            .arg(column, above ? strict : QStringLiteral("<="), bound[from]);
    }
    return QStringLiteral("(%1 %2 %3 or (%1 = %3 and %4))")
        .arg(column, strict, bound[from], compared(keyColumns, bound, above, from + 1));
}

QString objectLiteral(const catalogue::TableName& table) {
    QString name = QualifiedName(table);
    name.replace(QStringLiteral("'"), QStringLiteral("''"));
    return QStringLiteral("N'") + name + QLatin1Char('\'');
}

QString where(const QStringList& keyColumns, const KeyRange& range, const QString& condition) {
    QString sql = QStringLiteral(" where (") + RangeCondition(keyColumns, range) + u')';
    if (!condition.isEmpty()) sql += QStringLiteral(" and (") + condition + u')';
    return sql;
}

}  // namespace

QString UnhashableColumnProblem(const HashedColumn& column) {
    if (column.kind != data::ValueKind::Text) return QString();
    for (const int t : {kChar, kVarChar, kLongVarChar, kWChar, kWVarChar, kWLongVarChar, kGuid}) {
        if (column.sqlType == t) return QString();
    }
    return QStringLiteral("the column \"%1\" is of a type the checksums do not cover")
        .arg(column.name);
}

QString RowEncoding(const std::vector<HashedColumn>& columns) {
    QString sql = QStringLiteral("cast(0x as varbinary(max))");
    for (const HashedColumn& c : columns) {
        sql += QStringLiteral(" + case when %1 is null then 0x00 else 0x01 + %2 end")
                   .arg(QuotedIdentifier(c.name), typed(c));
    }
    return sql;
}

QString RangeCondition(const QStringList& keyColumns, const KeyRange& range) {
    QStringList parts;
    for (const QString& c : keyColumns) {
        parts << QStringLiteral("%1 is %2null")
                     .arg(QuotedIdentifier(c), range.nullKeys ? QString() : QStringLiteral("not "));
    }
    if (range.nullKeys) return parts.join(QStringLiteral(" or "));
    if (!range.after.isEmpty()) parts << compared(keyColumns, range.after, true);
    if (!range.upTo.isEmpty()) parts << compared(keyColumns, range.upTo, false);
    return parts.join(QStringLiteral(" and "));
}

QString SegmentHashQuery(const catalogue::TableName& table,
                         const std::vector<HashedColumn>& columns, const QStringList& keyColumns,
                         const KeyRange& range, const QString& condition) {
    return QStringLiteral(
               "select count_big(*), sum(cast(cast(substring(h, 1, 4) as int) as bigint)), "
               "sum(cast(cast(substring(h, 5, 4) as int) as bigint)) from (select "
               "hashbytes('SHA2_256', %1) as h from %2%3) as [s]")
        .arg(RowEncoding(columns), QualifiedName(table), where(keyColumns, range, condition));
}

QString SegmentBoundsQuery(const catalogue::TableName& table, const QStringList& keyColumns,
                           const KeyRange& range, const QString& condition, qint64 step) {
    const QString keys = listOf(keyColumns);
    return QStringLiteral(
               "select %1 from (select %1, row_number() over (order by %1) as rn from %2%3) as "
               "[s] where rn % %4 = 0 order by rn")
        .arg(keys, QualifiedName(table), where(keyColumns, range, condition),
             QString::number(step));
}

QString EdgeBoundQuery(const catalogue::TableName& table, const QStringList& keyColumns,
                       const KeyRange& range, const QString& condition, qint64 rows, bool fromEnd) {
    QStringList ascending, descending;
    for (const QString& c : keyColumns) {
        ascending << QuotedIdentifier(c);
        descending << QuotedIdentifier(c) + QStringLiteral(" desc");
    }
    const QString inward = (fromEnd ? descending : ascending).join(QStringLiteral(", "));
    const QString outward = (fromEnd ? ascending : descending).join(QStringLiteral(", "));
    return QStringLiteral(
               "select top 1 %1 from (select top (%4) %1 from %2%3 order by %5) as [s] order by "
               "%6")
        .arg(listOf(keyColumns), QualifiedName(table), where(keyColumns, range, condition),
             QString::number(rows), inward, outward);
}

QString IndexColumnsQuery(const catalogue::TableName& table) {
    return QStringLiteral(
               "select i.is_unique, ic.key_ordinal, col_name(ic.object_id, ic.column_id) from "
               "sys.indexes as i join sys.index_columns as ic on ic.object_id = i.object_id and "
               "ic.index_id = i.index_id where i.object_id = object_id(%1) and ic.key_ordinal > 0 "
               "order by i.index_id, ic.key_ordinal")
        .arg(objectLiteral(table));
}

QString ColumnCollationsQuery(const catalogue::TableName& table) {
    return QStringLiteral(
               "select name, collation_name, scale from sys.columns where object_id = "
               "object_id(%1) order by column_id")
        .arg(objectLiteral(table));
}

}  // namespace compare
