#include "ComparisonOptionsDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QVBoxLayout>
#include <algorithm>

#include "ClassicLook.h"
#include "CompareOptions.h"
#include "Layout.h"
#include "TableComparison.h"
#include "TableQuery.h"

namespace windows {

namespace {

using compare::ColumnMapping;

bool containsName(const QStringList& names, const QString& name) {
    return names.contains(name, Qt::CaseInsensitive);
}

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// The map's pair for this column of the first table, if it has one.
const ColumnMapping* pairOf(const std::vector<ColumnMapping>& map, const QString& first) {
    const auto found = std::find_if(
        map.begin(), map.end(), [&](const ColumnMapping& m) { return sameName(m.first, first); });
    return found != map.end() ? &*found : nullptr;
}

std::vector<ColumnMapping> without(std::vector<ColumnMapping> map, std::ptrdiff_t index) {
    map.erase(map.begin() + index);
    return map;
}

QCheckBox* checkBox(QWidget* parent, const QString& objectName, const QString& text, bool checked) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(objectName);
    box->setChecked(checked);
    return box;
}

QLineEdit* lineEdit(QWidget* parent, const QString& objectName, const QString& text,
                    const QString& placeholder) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(objectName);
    edit->setPlaceholderText(placeholder);
    return edit;
}

}  // namespace

ComparisonOptionsDialog::ComparisonOptionsDialog(const TablePair& pair, const TableColumns& columns,
                                                 const Pairing& pairing,
                                                 const OptionChoices& options, QWidget* parent)
    : CheckedDialog(parent),
      keyed_(pairing.recordsByKey),
      byName_(pairing.fieldsByName),
      secondColumns_(columns.second),
      map_(options.map) {
    setObjectName(QStringLiteral("ComparisonOptions"));
    setWindowTitle(QStringLiteral("Comparison options"));
    setFont(ArialFont(9, true));
    ApplyClassicColours(*this);
    makeColumnList(columns, options);
    makeChoices(options);
    layOut(pair);
}

// The first table's columns, each with the second table's column it is
// paired with, a tick to leave it out and one to make it a key column (shown
// only when records are paired by key).
void ComparisonOptionsDialog::makeColumnList(const TableColumns& columns,
                                             const OptionChoices& options) {
    columns_ = new QTreeWidget(this);
    columns_->setObjectName(QStringLiteral("ColumnList"));
    columns_->setRootIsDecorated(false);
    columns_->setHeaderLabels({QStringLiteral("Column"), QStringLiteral("Leave out"),
                               QStringLiteral("Key"), QStringLiteral("Paired with")});
    QHeaderView* header = columns_->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(PairedColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(LeaveOutColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(KeyColumn, QHeaderView::ResizeToContents);
    // Each column beside its partner; the ticks after them.
    header->moveSection(header->visualIndex(PairedColumn), 1);
    for (const QString& name : columns.first) {
        auto* item = new QTreeWidgetItem(columns_, {name});
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(LeaveOutColumn,
                            containsName(options.leaveOut, name) ? Qt::Checked : Qt::Unchecked);
        item->setCheckState(KeyColumn,
                            containsName(options.key, name) ? Qt::Checked : Qt::Unchecked);
        addPairedBox(item, columns_->topLevelItemCount() - 1);
    }
    columns_->setColumnHidden(KeyColumn, !keyed_);
    if (!keyed_) hiddenKey_ = ticked(KeyColumn);
    showPairing();
    // Leaving a column out takes it from the pairing, which may move the rest.
    connect(columns_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*, int column) {
        if (column == LeaveOutColumn) showPairing();
    });
}

void ComparisonOptionsDialog::addPairedBox(QTreeWidgetItem* item, int row) {
    auto* box = new QComboBox(columns_);
    box->addItem(QStringLiteral("(none)"), QString());
    for (const QString& name : secondColumns_) box->addItem(name, name);
    // A stored pair the second table no longer has still shows, for the run
    // to refuse.
    if (const ColumnMapping* own = pairOf(map_, item->text(NameColumn));
        own && !containsName(secondColumns_, own->second)) {
        box->addItem(own->second, own->second);
    }
    columns_->setItemWidget(item, PairedColumn, box);
    connect(box, &QComboBox::currentIndexChanged, this, [this, row] { pick(row); });
}

QComboBox* ComparisonOptionsDialog::pairedBox(int row) const {
    return qobject_cast<QComboBox*>(
        columns_->itemWidget(columns_->topLevelItem(row), PairedColumn));
}

ComparisonOptionsDialog::Kept ComparisonOptionsDialog::kept() const {
    const QStringList leaveOut = ticked(LeaveOutColumn);
    Kept k;
    for (int i = 0; i < columns_->topLevelItemCount(); ++i) {
        const QString& name = columns_->topLevelItem(i)->text(NameColumn);
        if (containsName(leaveOut, name)) continue;
        k.first << name;
        k.rowOf.push_back(i);
    }
    for (const QString& name : secondColumns_) {
        if (!containsName(leaveOut, name)) k.second << name;
    }
    return k;
}

std::vector<QString> ComparisonOptionsDialog::pairedUnder(
    const Kept& kept, const std::vector<ColumnMapping>& map) const {
    // A pair naming a column the run does not read is refused before it
    // runs; until then the others pair as if it were not there.
    std::vector<ColumnMapping> usable;
    for (const ColumnMapping& m : map) {
        if (containsName(kept.first, m.first) && containsName(kept.second, m.second)) {
            usable.push_back(m);
        }
    }
    const std::vector<int> with = compare::PairColumns(kept.first, kept.second, usable, byName_);
    std::vector<QString> paired(static_cast<std::size_t>(columns_->topLevelItemCount()));
    for (std::size_t k = 0; k < with.size(); ++k) {
        if (with[k] >= 0) paired[static_cast<std::size_t>(kept.rowOf[k])] = kept.second[with[k]];
    }
    return paired;
}

std::vector<ColumnMapping> ComparisonOptionsDialog::mapBeyondDefault() const {
    const Kept k = kept();
    std::vector<ColumnMapping> map = map_;
    const std::vector<QString> paired = pairedUnder(k, map);
    const auto once = [&](const ColumnMapping& m) {
        return std::count_if(map.begin(), map.end(), [&](const ColumnMapping& o) {
                   return sameName(o.first, m.first) || sameName(o.second, m.second);
               }) == 1;
    };
    // A pair that changes nothing goes; one the run would refuse stays, to be
    // refused.
    for (std::size_t i = 0; i < map.size();) {
        const std::vector<ColumnMapping> rest = without(map, static_cast<std::ptrdiff_t>(i));
        if (once(map[i]) && containsName(k.first, map[i].first) &&
            containsName(k.second, map[i].second) && pairedUnder(k, rest) == paired) {
            map = rest;
        } else {
            ++i;
        }
    }
    return map;
}

// A column picked for a row: a pair of the map unless the run would pair
// them anyway.
void ComparisonOptionsDialog::pick(int row) {
    if (showing_) return;
    const QString name = columns_->topLevelItem(row)->text(NameColumn);
    const QString chosen = pairedBox(row)->currentData().toString();
    std::erase_if(map_, [&](const ColumnMapping& m) { return sameName(m.first, name); });
    const QString byDefault = pairedUnder(kept(), map_)[static_cast<std::size_t>(row)];
    if (!chosen.isEmpty() && !sameName(chosen, byDefault)) map_.push_back({name, chosen});
    showPairing();
}

// Each row's partner as the run would pair it; "(none)" can be picked only
// where the run would pair nothing anyway, since no pair says "nothing".
void ComparisonOptionsDialog::showPairing() {
    showing_ = true;
    const Kept k = kept();
    const std::vector<QString> paired = pairedUnder(k, map_);
    for (int i = 0; i < columns_->topLevelItemCount(); ++i) {
        const std::size_t at = static_cast<std::size_t>(i);
        QComboBox* box = pairedBox(i);
        const ColumnMapping* own = pairOf(map_, columns_->topLevelItem(i)->text(NameColumn));
        const QString shown = own ? own->second : paired[at];
        int index = 0;
        for (int j = 1; j < box->count() && !shown.isEmpty(); ++j) {
            if (sameName(box->itemData(j).toString(), shown)) {
                index = j;
                break;
            }
        }
        box->setCurrentIndex(index);
        const bool noneByDefault =
            own ? pairedUnder(k, without(map_, own - map_.data()))[at].isEmpty() : shown.isEmpty();
        static_cast<QStandardItemModel*>(box->model())->item(0)->setEnabled(noneByDefault);
    }
    showing_ = false;
}

// The rows taken, what counts as equal, when to stop; and the line that
// says what is wrong with them.
void ComparisonOptionsDialog::makeChoices(const OptionChoices& options) {
    const QString allRows = QStringLiteral("all rows");
    firstWhere_ = lineEdit(this, QStringLiteral("FirstWhere"), options.firstWhere, allRows);
    sameWhere_ =
        checkBox(this, QStringLiteral("SameWhere"),
                 QStringLiteral("The same condition for the second table"), options.sameWhere);
    secondWhere_ = lineEdit(this, QStringLiteral("SecondWhere"), options.secondWhere, allRows);
    secondWhere_->setEnabled(!options.sameWhere);
    connect(sameWhere_, &QCheckBox::toggled, secondWhere_, &QWidget::setDisabled);
    trim_ = checkBox(this, QStringLiteral("Trim"), QStringLiteral("Ignore trailing blanks"),
                     options.trim);
    ignoreCase_ = checkBox(this, QStringLiteral("IgnoreCase"), QStringLiteral("Ignore case"),
                           options.ignoreCase);
    nullEqualsEmpty_ = checkBox(this, QStringLiteral("NullEqualsEmpty"),
                                QStringLiteral("NULL equals empty text"), options.nullEqualsEmpty);
    tolerance_ =
        lineEdit(this, QStringLiteral("Tolerance"), options.tolerance, QStringLiteral("exactly"));
    limit_ = lineEdit(this, QStringLiteral("Limit"), options.limit, QStringLiteral("no limit"));
    checksums_ = checkBox(this, QStringLiteral("Checksums"),
                          QStringLiteral("Checksums computed by the servers: read only what "
                                         "differs (by key)"),
                          options.checksums);
    // A range of keys needs records paired by key; the choice is kept meanwhile.
    checksums_->setEnabled(keyed_);
    snapshot_ = checkBox(this, QStringLiteral("Snapshot"),
                         QStringLiteral("Read under snapshot isolation: no shared locks (the "
                                        "database must allow it)"),
                         options.snapshot);

    makeProblemLabel();
}

void ComparisonOptionsDialog::layOut(const TablePair& pair) {
    auto* heading = new QLabel(QStringLiteral("%1 against %2").arg(pair.first, pair.second), this);
    heading->setWordWrap(true);
    heading->setTextFormat(Qt::PlainText);
    auto* keyNote = new QLabel(
        keyed_ ? QStringLiteral("No key column ticked: the first table's primary key.")
               : QStringLiteral("Tick \"Pair records by key\" to pick the key's columns."),
        this);
    keyNote->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    cancel_ = buttons->button(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* stop = new QHBoxLayout;
    stop->addWidget(limit_);
    stop->addWidget(new QLabel(QStringLiteral("differing records"), this));
    stop->addStretch();
    // One form, so that the fields line up.
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Rows of the first table where:"), firstWhere_);
    form->addRow(QString(), sameWhere_);
    form->addRow(QStringLiteral("Rows of the second table where:"), secondWhere_);
    form->addRow(trim_);
    form->addRow(ignoreCase_);
    form->addRow(nullEqualsEmpty_);
    form->addRow(QStringLiteral("Numbers equal within:"), tolerance_);
    form->addRow(QStringLiteral("Stop after"), stop);
    form->addRow(checksums_);
    form->addRow(snapshot_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(columns_, 1);
    layout->addWidget(keyNote);
    layout->addLayout(form);
    layout->addWidget(problemLabel());
    layout->addWidget(buttons);
    resize(Twips(8400), Twips(8590));
    QWidget* order[] = {columns_, firstWhere_, sameWhere_,       secondWhere_,
                        trim_,    ignoreCase_, nullEqualsEmpty_, tolerance_,
                        limit_,   checksums_,  snapshot_};
    for (std::size_t k = 1; k < std::size(order); ++k) setTabOrder(order[k - 1], order[k]);
}

QStringList ComparisonOptionsDialog::ticked(Column column) const {
    QStringList out;
    for (int i = 0; i < columns_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = columns_->topLevelItem(i);
        if (item->checkState(column) == Qt::Checked) out << item->text(NameColumn);
    }
    return out;
}

OptionChoices ComparisonOptionsDialog::options() const {
    OptionChoices o;
    o.leaveOut = ticked(LeaveOutColumn);
    o.key = keyed_ ? ticked(KeyColumn) : hiddenKey_;
    o.firstWhere = firstWhere_->text().trimmed();
    o.sameWhere = sameWhere_->isChecked();
    if (!o.sameWhere) o.secondWhere = secondWhere_->text().trimmed();
    o.trim = trim_->isChecked();
    o.ignoreCase = ignoreCase_->isChecked();
    o.nullEqualsEmpty = nullEqualsEmpty_->isChecked();
    o.tolerance = tolerance_->text().trimmed();
    o.limit = limit_->text().trimmed();
    o.checksums = checksums_->isChecked();
    o.snapshot = snapshot_->isChecked();
    o.map = mapBeyondDefault();
    return o;
}

ComparisonOptionsDialog::Problem ComparisonOptionsDialog::check() const {
    const OptionChoices choices = options();
    if (columns_->topLevelItemCount() > 0 &&
        choices.leaveOut.size() == columns_->topLevelItemCount()) {
        return {QStringLiteral("At least one column must be compared."), columns_};
    }
    const std::optional<OptionChoices::Problem> p = choices.Check(keyed_);
    if (!p) return {};
    using Choice = OptionChoices::Choice;
    switch (p->choice) {
        case Choice::LeaveOut:
            return {p->text, columns_};
        case Choice::FirstWhere:
            return {p->text, firstWhere_};
        case Choice::SecondWhere:
            return {p->text, secondWhere_};
        case Choice::Tolerance:
            return {p->text, tolerance_};
        case Choice::Limit:
            return {p->text, limit_};
        case Choice::Map:
            return {p->text, columns_};
    }
    return {p->text, columns_};
}

}  // namespace windows
