#include "CheckedDialog.h"

namespace windows {

QString CheckedDialog::problem() const { return check().text; }

void CheckedDialog::accept() {
    const Problem p = check();
    if (p.text.isEmpty()) {
        QDialog::accept();
        return;
    }
    problem_->setText(p.text);
    p.where->setFocus();
}

QLabel* CheckedDialog::makeProblemLabel() {
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("Problem"));
    problem_->setWordWrap(true);
    problem_->setTextFormat(Qt::PlainText);
    problem_->setStyleSheet(QStringLiteral("color: #a00000"));
    // Room kept for it, so that nothing moves under the pointer when it shows.
    problem_->setMinimumHeight(2 * problem_->fontMetrics().lineSpacing());
    problem_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return problem_;
}

}  // namespace windows
