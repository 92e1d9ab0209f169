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

}  // namespace

ComparisonOptionsDialog::ComparisonOptionsDialog(const TablePair& pair, const QStringList& columns,
                                                 bool keyed, const OptionChoices& options,
                                                 QWidget* parent)
    : QDialog(parent), keyed_(keyed) {
    setObjectName(QStringLiteral("ComparisonOptions"));
    setWindowTitle(QStringLiteral("Comparison options"));
    setFont(ArialFont(9, true));
    ApplyClassicColours(*this);

    auto* heading = new QLabel(QStringLiteral("%1 against %2").arg(pair.first, pair.second), this);
    heading->setWordWrap(true);
    heading->setTextFormat(Qt::PlainText);

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
    columns_->setColumnHidden(KeyColumn, !keyed);
    if (!keyed) hiddenKey_ = ticked(KeyColumn);
    auto* keyNote = new QLabel(
        keyed ? QStringLiteral("No key column ticked: the first table's primary key.")
              : QStringLiteral("Tick \"Pair records by key\" to pick the key's columns."),
        this);
    keyNote->setWordWrap(true);

    firstWhere_ = new QLineEdit(options.firstWhere, this);
    firstWhere_->setObjectName(QStringLiteral("FirstWhere"));
    firstWhere_->setPlaceholderText(QStringLiteral("all rows"));
    sameWhere_ = new QCheckBox(QStringLiteral("The same condition for the second table"), this);
    sameWhere_->setObjectName(QStringLiteral("SameWhere"));
    sameWhere_->setChecked(options.sameWhere);
    secondWhere_ = new QLineEdit(options.secondWhere, this);
    secondWhere_->setObjectName(QStringLiteral("SecondWhere"));
    secondWhere_->setPlaceholderText(QStringLiteral("all rows"));
    secondWhere_->setEnabled(!options.sameWhere);
    connect(sameWhere_, &QCheckBox::toggled, secondWhere_, &QWidget::setDisabled);

    trim_ = new QCheckBox(QStringLiteral("Ignore trailing blanks"), this);
    trim_->setObjectName(QStringLiteral("Trim"));
    trim_->setChecked(options.trim);
    ignoreCase_ = new QCheckBox(QStringLiteral("Ignore case"), this);
    ignoreCase_->setObjectName(QStringLiteral("IgnoreCase"));
    ignoreCase_->setChecked(options.ignoreCase);
    nullEqualsEmpty_ = new QCheckBox(QStringLiteral("NULL equals empty text"), this);
    nullEqualsEmpty_->setObjectName(QStringLiteral("NullEqualsEmpty"));
    nullEqualsEmpty_->setChecked(options.nullEqualsEmpty);
    tolerance_ = new QLineEdit(options.tolerance, this);
    tolerance_->setObjectName(QStringLiteral("Tolerance"));
    tolerance_->setPlaceholderText(QStringLiteral("exactly"));
    limit_ = new QLineEdit(options.limit, this);
    limit_->setObjectName(QStringLiteral("Limit"));
    limit_->setPlaceholderText(QStringLiteral("no limit"));

    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("Problem"));
    problem_->setWordWrap(true);
    problem_->setTextFormat(Qt::PlainText);
    problem_->setStyleSheet(QStringLiteral("color: #a00000"));
    // Room kept for it, so that nothing moves under the pointer when it shows.
    problem_->setMinimumHeight(2 * problem_->fontMetrics().lineSpacing());
    problem_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

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

    setTabOrder(columns_, firstWhere_);
    setTabOrder(firstWhere_, sameWhere_);
    setTabOrder(sameWhere_, secondWhere_);
    setTabOrder(secondWhere_, trim_);
    setTabOrder(trim_, ignoreCase_);
    setTabOrder(ignoreCase_, nullEqualsEmpty_);
    setTabOrder(nullEqualsEmpty_, tolerance_);
    setTabOrder(tolerance_, limit_);
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
