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

// A differing record as the engine hands it over, before its values become
// texts: the rows are valid during the call only. Where its lines stand in
// the results' two lists: how many field lines (fields only one table has,
// field changes) and record lines (deleted, added, not unique) came before
// its own.
struct RecordRows {
    DifferingRecord::Kind kind;
    const QString& name;
    RecordRow first, second;
    const std::vector<bool>& differs;
    std::int64_t fieldLinesBefore;
    std::int64_t recordLinesBefore;

    // The record with its values as the lines write them.
    DifferingRecord whole(const RecordLayout& layout, const ValueFormatter& formatter) const;
};

// Where whole differing records go, in the order they are found.
class RecordConsumer {
public:
    virtual ~RecordConsumer() = default;
    virtual void Take(const DifferingRecord& record) = 0;
    // The same before its values became texts (a store keeps them as they
    // are, which costs far less); by default made whole and taken.
    virtual void TakeRows(const RecordRows& rows, const RecordLayout& layout,
                          const ValueFormatter& formatter) {
        Take(rows.whole(layout, formatter));
    }
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
    void RecordNotUnique(const RecordName&, bool) override { ++recordLines_; }
    void FieldOnlyIn(const QString&, bool) override { ++fieldLines_; }
    void RecordsDiffer(const RecordRow& first, const RecordRow& second) override;

    const RecordLayout& layout() const { return layout_; }

private:
    void name(DifferingRecord::Kind kind, const RecordName& record);

    RecordLayout layout_;
    RecordConsumer& out_;
    const ValueFormatter formatter_;
    QHash<QString, int> fieldIndex_;
    QHash<const QChar*, int> fieldAt_;  // by the address of a name's text
    // The record being put together.
    DifferingRecord::Kind kind_ = DifferingRecord::Kind::Changed;
    QString name_;
    std::vector<bool> differs_;
    bool named_ = false;
    std::int64_t linesOfRecord_ = 0;
    std::int64_t fieldLines_ = 0;   // lines of the field list so far
    std::int64_t recordLines_ = 0;  // lines of the record list so far
};

}  // namespace compare
