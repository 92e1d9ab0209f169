#include "TableComparison.h"

#include <stdexcept>

#include "ValueRules.h"

namespace compare {

namespace {

// The value at field f, row r of a table's rows, or a failure when the rows
// hold no such cell (rows that could not be read, a field the table lacks).
data::FieldValue cell(const data::ResultTable& rows, int f, std::int64_t r) {
    if (f < 0 || f >= rows.fieldCount() || r < 0 ||
        static_cast<std::size_t>(r) >= rows.rowCount()) {
        throw std::out_of_range("Subscript out of range");
    }
    return rows.value(f, static_cast<std::size_t>(r));
}

// The highest row position of the rows; a failure when there are none.
int upperRow(const data::ResultTable& rows) {
    if (rows.fieldCount() == 0 || rows.rowCount() == 0) {
        throw std::out_of_range("Subscript out of range");
    }
    return static_cast<int>(rows.rowCount() - 1);
}

}  // namespace

TableComparison::TableComparison(const data::ResultTable& firstRows,
                                 const data::ResultTable& secondRows, int lastField,
                                 const std::vector<QString>& fieldNames)
    : first_(firstRows), second_(secondRows), lastField_(lastField), fieldNames_(fieldNames) {}

void TableComparison::Run(app::ErrorTrap& trap, DifferenceSink& sink) const {
    int lastFirstRow = 0;
    int lastSecondRow = 0;
    trap.step(198, [&] { lastFirstRow = upperRow(first_); });
    trap.step(204, [&] { lastSecondRow = upperRow(second_); });

    int j = 0;
    trap.step(208, [&] { j = 0; });
    for (int r = 0; r <= lastFirstRow; ++r) {
        if (trap.test(212, [&] { return j > lastSecondRow; })) {
            trap.step(214, [&] { sink.RecordDeleted(std::int64_t{r} + 1); });
        } else {
            for (int f = 0; f <= lastField_; ++f) {
                if (trap.test(218, [&] {
                        return ValuesDiffer(cell(first_, f, r), cell(second_, f, j));
                    })) {
                    trap.step(220, [&] {
                        sink.FieldChanged(std::int64_t{r} + 1,
                                          fieldNames_.at(static_cast<std::size_t>(f)),
                                          cell(first_, f, r), cell(second_, f, j));
                    });
                }
            }
        }
        trap.step(224, [&] { ++j; });
    }
    while (trap.test(228, [&] { return j <= lastSecondRow; })) {
        trap.step(230, [&] { sink.RecordAdded(std::int64_t{j} + 1); });
        trap.step(232, [&] { ++j; });
    }
}

}  // namespace compare
