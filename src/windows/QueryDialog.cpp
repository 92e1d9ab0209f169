#include "QueryDialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QVBoxLayout>

#include "ClassicLook.h"
#include "CompareOptions.h"
#include "Layout.h"
#include "RecordKey.h"
#include "TableQuery.h"

namespace windows {

QueryDialog::QueryDialog(compare::Side side, const QueryChoice& query, QWidget* parent)
    : CheckedDialog(parent), side_(side) {
    setObjectName(QStringLiteral("QueryEditor"));
    setWindowTitle(QStringLiteral("Query in place of the %1 table").arg(compare::SideWord(side)));
    setFont(ArialFont(9, true));
    ApplyClassicColours(*this);

    sql_ = new QPlainTextEdit(query.sql, this);
    sql_->setObjectName(QStringLiteral("QueryText"));
    // Columns of SQL line up as their writer laid them out.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(10);
    fixed.setBold(false);
    sql_->setFont(fixed);
    sql_->setLineWrapMode(QPlainTextEdit::NoWrap);
    sql_->setTabChangesFocus(true);
    sql_->setPlaceholderText(QStringLiteral("select ... from ... where ... order by ..."));
    key_ = new QLineEdit(query.key, this);
    key_->setObjectName(QStringLiteral("QueryKey"));
    key_->setPlaceholderText(QStringLiteral("e.g. CustomerID, OrderID"));
    const QString defaultName = QueryChoice::DefaultName(side);
    name_ = new QLineEdit(query.name == defaultName ? QString() : query.name, this);
    name_->setObjectName(QStringLiteral("QueryName"));
    name_->setPlaceholderText(defaultName);

    makeProblemLabel();
    layOut(!query.sql.isEmpty());
}

void QueryDialog::layOut(bool hasQuery) {
    auto* heading =
        new QLabel(QStringLiteral("The records this SELECT returns are compared in place of a "
                                  "table of the %1 list.")
                       .arg(compare::SideWord(side_)),
                   this);
    heading->setWordWrap(true);
    auto* note = new QLabel(
        QStringLiteral("One SELECT (or WITH \u2026 SELECT) that only reads. By position, records "
                       "are paired in the order of its ORDER BY; without one, in whatever order "
                       "the server chooses."),
        this);
    note->setWordWrap(true);
    auto* keyNote =
        new QLabel(QStringLiteral("Used when \"Pair records by key\" is ticked: a query has no "
                                  "primary key."),
                   this);
    keyNote->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    cancel_ = buttons->button(QDialogButtonBox::Cancel);
    remove_ = buttons->addButton(QStringLiteral("Remove Query"), QDialogButtonBox::ResetRole);
    remove_->setObjectName(QStringLiteral("RemoveQuery"));
    remove_->setVisible(hasQuery);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(remove_, &QPushButton::clicked, this, [this] { done(Removed); });

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Key columns:"), key_);
    form->addRow(QString(), keyNote);
    form->addRow(QStringLiteral("Name in the results:"), name_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(sql_, 1);
    layout->addWidget(note);
    layout->addLayout(form);
    layout->addWidget(problemLabel());
    layout->addWidget(buttons);
    resize(Twips(7800), Twips(6600));
    setTabOrder(sql_, key_);
    setTabOrder(key_, name_);
    sql_->setFocus();
}

QueryChoice QueryDialog::query() const {
    QueryChoice q;
    q.sql = sql_->toPlainText();
    q.key = key_->text().trimmed();
    q.name = name_->text().trimmed();
    if (q.name.isEmpty()) q.name = QueryChoice::DefaultName(side_);
    return q;
}

QueryDialog::Problem QueryDialog::check() const {
    const QueryChoice q = query();
    if (q.sql.trimmed().isEmpty()) {
        return {QStringLiteral("Type the SELECT whose records are compared."), sql_};
    }
    try {
        compare::CheckedQuery(q.table());
    } catch (const compare::OptionProblem& refused) {
        return {refused.message(), sql_};
    }
    if (!q.key.isEmpty() && !compare::ColumnNamesFromText(q.key)) {
        return {QStringLiteral("The key columns cannot be read: name them separated by commas, a "
                               "name that holds a comma in brackets."),
                key_};
    }
    return {};
}

}  // namespace windows
