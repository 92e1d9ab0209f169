#include "ComparisonOptionsDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "ClassicLook.h"
#include "CompareOptions.h"
#include "Layout.h"
#include "TableQuery.h"

namespace windows {

namespace {

bool containsName(const QStringList& names, const QString& name) {
    return names.contains(name, Qt::CaseInsensitive);
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

ComparisonOptionsDialog::ComparisonOptionsDialog(const TablePair& pair, const QStringList& columns,
                                                 bool keyed, const OptionChoices& options,
                                                 QWidget* parent)
    : QDialog(parent), keyed_(keyed) {
    setObjectName(QStringLiteral("ComparisonOptions"));
    setWindowTitle(QStringLiteral("Comparison options"));
    setFont(ArialFont(9, true));
    ApplyClassicColours(*this);
    makeColumnList(columns, options);
    makeChoices(options);
    layOut(pair);
}

// The first table's columns, each with a tick to leave it out and one to
// make it a key column (shown only when records are paired by key).
void ComparisonOptionsDialog::makeColumnList(const QStringList& columns,
                                             const OptionChoices& options) {
    columns_ = new QTreeWidget(this);
    columns_->setObjectName(QStringLiteral("ColumnList"));
    columns_->setRootIsDecorated(false);
    columns_->setHeaderLabels(
        {QStringLiteral("Column"), QStringLiteral("Leave out"), QStringLiteral("Key")});
    columns_->header()->setStretchLastSection(false);
    columns_->header()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    columns_->header()->setSectionResizeMode(LeaveOutColumn, QHeaderView::ResizeToContents);
    columns_->header()->setSectionResizeMode(KeyColumn, QHeaderView::ResizeToContents);
    for (const QString& name : columns) {
        auto* item = new QTreeWidgetItem(columns_, {name});
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(LeaveOutColumn,
                            containsName(options.leaveOut, name) ? Qt::Checked : Qt::Unchecked);
        item->setCheckState(KeyColumn,
                            containsName(options.key, name) ? Qt::Checked : Qt::Unchecked);
    }
    columns_->setColumnHidden(KeyColumn, !keyed_);
    if (!keyed_) hiddenKey_ = ticked(KeyColumn);
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

    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("Problem"));
    problem_->setWordWrap(true);
    problem_->setTextFormat(Qt::PlainText);
    problem_->setStyleSheet(QStringLiteral("color: #a00000"));
    // Room kept for it, so that nothing moves under the pointer when it shows.
    problem_->setMinimumHeight(2 * problem_->fontMetrics().lineSpacing());
    problem_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
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

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(columns_, 1);
    layout->addWidget(keyNote);
    layout->addLayout(form);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
    resize(Twips(6600), Twips(7800));
    QWidget* order[] = {columns_,    firstWhere_,      sameWhere_, secondWhere_, trim_,
                        ignoreCase_, nullEqualsEmpty_, tolerance_, limit_};
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
        case Choice::Map:  // no map is set here yet
            break;
    }
    return {p->text, nullptr};
}

QString ComparisonOptionsDialog::problem() const { return check().text; }

void ComparisonOptionsDialog::accept() {
    const Problem p = check();
    if (p.text.isEmpty()) {
        QDialog::accept();
        return;
    }
    problem_->setText(p.text);
    p.where->setFocus();
}

}  // namespace windows
