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

DifferingRecord RecordRows::whole(const RecordLayout& layout,
                                  const ValueFormatter& formatter) const {
    const auto cell = [&](const RecordRow& row, int field) -> ValueCell {
        const data::FieldValue value = row.value(field);
        if (value.isNull()) return std::nullopt;
        return formatter.text(value);
    };
    const auto values = [&](const RecordRow& row, bool firstSide) {
        std::vector<ValueCell> cells;
        if (!row) return cells;
        cells.reserve(layout.fields.size());
        for (const FieldPairing& f : layout.fields) {
            cells.push_back(cell(row, firstSide ? f.first : f.second));
        }
        return cells;
    };
    DifferingRecord r;
    r.kind = kind;
    r.name = name;
    r.first = values(first, true);
    r.second = values(second, false);
    const bool fromFirst = static_cast<bool>(first);
    for (int field : fromFirst ? layout.keyFirst : layout.keySecond) {
        r.key.push_back(cell(fromFirst ? first : second, field));
    }
    r.differs = differs;
    return r;
}

DifferingRecordSink::DifferingRecordSink(RecordLayout layout, RecordConsumer& out)
    : layout_(std::move(layout)), out_(out) {
    for (int k = 0; k < layout_.fieldCount(); ++k) {
        fieldIndex_.insert(layout_.fields[static_cast<std::size_t>(k)].name, k);
    }
    differs_.assign(layout_.fields.size(), false);
}

void DifferingRecordSink::name(DifferingRecord::Kind kind, const RecordName& record) {
    kind_ = kind;
    name_ = record.text();
    named_ = true;
}

void DifferingRecordSink::FieldChanged(const RecordName& record, const QString& fieldName,
                                       const data::FieldValue&, const data::FieldValue&) {
    if (!named_) name(DifferingRecord::Kind::Changed, record);
    ++fieldLines_;
    ++linesOfRecord_;
    // The engine names a field with the same shared text each time: its
    // address finds the field without hashing the name.
    auto at = fieldAt_.constFind(fieldName.constData());
    if (at == fieldAt_.constEnd()) {
        const auto named = fieldIndex_.constFind(fieldName);
        if (named == fieldIndex_.constEnd()) return;
        at = fieldAt_.insert(fieldName.constData(), *named);
    }
    differs_[static_cast<std::size_t>(*at)] = true;
}

void DifferingRecordSink::RecordDeleted(const RecordName& record) {
    name(DifferingRecord::Kind::OnlyInFirst, record);
    ++recordLines_;
    ++linesOfRecord_;
}

void DifferingRecordSink::RecordAdded(const RecordName& record) {
    name(DifferingRecord::Kind::OnlyInSecond, record);
    ++recordLines_;
    ++linesOfRecord_;
}

void DifferingRecordSink::RecordsDiffer(const RecordRow& first, const RecordRow& second) {
    const bool changed = kind_ == DifferingRecord::Kind::Changed;
    const RecordRows rows{kind_,
                          name_,
                          first,
                          second,
                          differs_,
                          fieldLines_ - (changed ? linesOfRecord_ : 0),
                          recordLines_ - (changed ? 0 : linesOfRecord_)};
    // Ready for the next record before the consumer, which may throw.
    named_ = false;
    linesOfRecord_ = 0;
    struct Reset {
        std::vector<bool>& differs;
        ~Reset() { std::fill(differs.begin(), differs.end(), false); }
    } reset{differs_};
    out_.TakeRows(rows, layout_, formatter_);
}

}  // namespace compare
