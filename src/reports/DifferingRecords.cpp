#include "DifferingRecords.h"

namespace compare {

RecordLayout::RecordLayout(std::vector<FieldPairing> pairs, const std::optional<RecordKey>& key)
    : fields(std::move(pairs)) {
    if (key) {
        keyNames = key->names;
        keyFirst = key->first;
        keySecond = key->second;
    }
}

QString KindWord(DifferingRecord::Kind kind) {
    switch (kind) {
        case DifferingRecord::Kind::Changed:
            return QStringLiteral("Changed");
        case DifferingRecord::Kind::OnlyInFirst:
            return QStringLiteral("Only in the first table");
        case DifferingRecord::Kind::OnlyInSecond:
            return QStringLiteral("Only in the second table");
    }
    return {};
}

DifferingRecordSink::DifferingRecordSink(RecordLayout layout, RecordConsumer& out)
    : layout_(std::move(layout)), out_(out) {
    for (int k = 0; k < layout_.fieldCount(); ++k) {
        fieldIndex_.insert(layout_.fields[static_cast<std::size_t>(k)].name, k);
    }
    record_.differs.assign(layout_.fields.size(), false);
}

void DifferingRecordSink::FieldChanged(const RecordName& record, const QString& fieldName,
                                       const data::FieldValue&, const data::FieldValue&) {
    if (!named_) {
        record_.kind = DifferingRecord::Kind::Changed;
        record_.name = record.text();
        named_ = true;
    }
    const auto at = fieldIndex_.constFind(fieldName);
    if (at != fieldIndex_.constEnd()) record_.differs[static_cast<std::size_t>(*at)] = true;
}

void DifferingRecordSink::RecordDeleted(const RecordName& record) {
    record_.kind = DifferingRecord::Kind::OnlyInFirst;
    record_.name = record.text();
}

void DifferingRecordSink::RecordAdded(const RecordName& record) {
    record_.kind = DifferingRecord::Kind::OnlyInSecond;
    record_.name = record.text();
}

ValueCell DifferingRecordSink::cell(const RecordRow& row, int field) const {
    const data::FieldValue value = row.value(field);
    if (value.isNull()) return std::nullopt;
    return formatter_.text(value);
}

void DifferingRecordSink::RecordsDiffer(const RecordRow& first, const RecordRow& second) {
    const auto values = [&](const RecordRow& row, bool firstSide) {
        std::vector<ValueCell> cells;
        if (!row) return cells;
        cells.reserve(layout_.fields.size());
        for (const FieldPairing& f : layout_.fields) {
            cells.push_back(cell(row, firstSide ? f.first : f.second));
        }
        return cells;
    };
    record_.first = values(first, true);
    record_.second = values(second, false);
    record_.key.clear();
    const bool fromFirst = static_cast<bool>(first);
    const std::vector<int>& keyFields = fromFirst ? layout_.keyFirst : layout_.keySecond;
    for (int field : keyFields) record_.key.push_back(cell(fromFirst ? first : second, field));
    // Ready for the next record before Take, which may throw.
    named_ = false;
    DifferingRecord taken = std::move(record_);
    record_.differs.assign(layout_.fields.size(), false);
    out_.Take(taken);
}

}  // namespace compare
