// The differing records of a comparison kept whole, both sides' values of
// every compared field, for whoever shows or writes them record by record
// (the records side by side, the HTML report).
#pragma once

#include <QHash>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "DifferenceSink.h"
#include "RecordKey.h"
#include "TableComparison.h"
#include "ValueText.h"

namespace compare {

// The columns a comparison's records are shown in: the key's columns (none
// by position, where the record number names a record), then each compared
// field, named as the lines name it.
struct RecordLayout {
    std::vector<QString> keyNames;
    std::vector<int> keyFirst, keySecond;  // the key's fields in each side's rows
    std::vector<FieldPairing> fields;

    RecordLayout() = default;
    RecordLayout(std::vector<FieldPairing> pairs, const std::optional<RecordKey>& key);
    bool byKey() const { return !keyNames.empty(); }
    int fieldCount() const { return static_cast<int>(fields.size()); }
};

// A value as text; none: NULL, or the side has no such record.
using ValueCell = std::optional<QString>;

// One record that differs: changed (both sides), or only one side has it.
struct DifferingRecord {
    enum class Kind : std::uint8_t { Changed = 0, OnlyInFirst = 1, OnlyInSecond = 2 };
    Kind kind = Kind::Changed;
    QString name;                          // as the lines name it: "3", "OrderID=1004"
    std::vector<ValueCell> key;            // by key: the key's values
    std::vector<ValueCell> first, second;  // a cell per field; empty: no such record
    std::vector<bool> differs;             // per field: the comparison found it changed (never
                                           // set in a record only one side has)

    bool has(bool firstSide) const { return !(firstSide ? first : second).empty(); }
};

// The three kinds, and their words ("Changed", "Only in the first table",
// "Only in the second table").
QString KindWord(DifferingRecord::Kind kind);

// Where whole differing records go, in the order they are found.
class RecordConsumer {
public:
    virtual ~RecordConsumer() = default;
    virtual void Take(const DifferingRecord& record) = 0;
};

// A sink that puts the engine's calls together into whole records: the
// fields FieldChanged names are the record's differing fields (a difference
// within a tolerance never reaches it), RecordsDiffer gives both rows.
// Values become texts as the lines write them.
class DifferingRecordSink : public DifferenceSink {
public:
    DifferingRecordSink(RecordLayout layout, RecordConsumer& out);

    void FieldChanged(const RecordName& record, const QString& fieldName,
                      const data::FieldValue& first, const data::FieldValue& second) override;
    void RecordDeleted(const RecordName& record) override;
    void RecordAdded(const RecordName& record) override;
    void RecordNotUnique(const RecordName&, bool) override {}
    void FieldOnlyIn(const QString&, bool) override {}
    void RecordsDiffer(const RecordRow& first, const RecordRow& second) override;

    const RecordLayout& layout() const { return layout_; }

private:
    ValueCell cell(const RecordRow& row, int field) const;

    RecordLayout layout_;
    RecordConsumer& out_;
    const ValueFormatter formatter_;
    QHash<QString, int> fieldIndex_;
    DifferingRecord record_;  // the one being put together
    bool named_ = false;      // record_ has its name and kind
};

}  // namespace compare
