#pragma once

#include <QString>

#include "DifferenceSink.h"
#include "FieldValue.h"
#include "RecordName.h"

// Sequences of calls a comparison makes on its sink, for the tests of what
// the sinks make of them. The first table is dbo.A, the second dbo.B.
namespace testing_support {

// Records paired by position, fields by name: the fields only one table has,
// then the field changes record by record, then the records beyond the end of
// the first table.
inline void CallsByPosition(compare::DifferenceSink& sink) {
    static const QString longText = QString(3000, u'w') + QStringLiteral("\tend");
    static const QByteArray bytes("\x00\x7F\xFF", 3);
    using data::FieldValue;
    sink.FieldOnlyIn(QStringLiteral("Region"), false);
    sink.FieldChanged(1, QStringLiteral("Note"), FieldValue::text(u"x \"q\", y"), FieldValue());
    sink.FieldChanged(1, QStringLiteral("Price"), FieldValue::decimal(1250, 2),
                      FieldValue::floating(0.1));
    sink.FieldChanged(2, QStringLiteral("Data"), FieldValue::bytes(bytes), FieldValue::text(u""));
    sink.FieldChanged(3, QStringLiteral("Note"), FieldValue::text(longText), FieldValue::bit(true));
    sink.FieldChanged(9'000'000'000, QStringLiteral("Price"), FieldValue(),
                      FieldValue::integer(-7));
    sink.RecordAdded(9'000'000'001);
    sink.RecordAdded(9'000'000'002);
}

// Records paired by key: changes, added, deleted and not unique records
// interleaved in key order.
inline void CallsByKey(compare::DifferenceSink& sink) {
    using compare::RecordName;
    using data::FieldValue;
    static const QByteArray bytes("\x00\xFF", 2);
    sink.FieldOnlyIn(QStringLiteral("Region"), false);
    sink.FieldOnlyIn(QStringLiteral("Old"), true);
    sink.RecordNotUnique(RecordName::Keyed(QStringLiteral("Id=2")), true);
    sink.FieldChanged(RecordName::Keyed(QStringLiteral("Id=1")), QStringLiteral("Note"),
                      FieldValue::text(u"a \"q\""), FieldValue());
    sink.RecordDeleted(RecordName::Keyed(QStringLiteral("Id=3")));
    sink.FieldChanged(RecordName::Keyed(QStringLiteral("Id=4")), QStringLiteral("Amount"),
                      FieldValue::integer(10), FieldValue::integer(12));
    sink.RecordAdded(RecordName::Keyed(QStringLiteral("Id=5")));
    sink.FieldChanged(RecordName::Keyed(QStringLiteral("(Id=6,Name=\"b\")")),
                      QStringLiteral("Data"), FieldValue::bytes(bytes), FieldValue::text(u"x\ny"));
    sink.RecordNotUnique(RecordName::Keyed(QStringLiteral("Id=7")), false);
    sink.RecordAdded(RecordName::Keyed(QStringLiteral("Id=8")));
}

}  // namespace testing_support
