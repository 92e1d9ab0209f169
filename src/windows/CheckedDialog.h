#pragma once

#include <QDialog>
#include <QLabel>
#include <QString>

namespace windows {

// A dialog whose OK checks what was entered: refused, it stays open with the
// reason in a red line under its controls and the control to put right
// focused.
class CheckedDialog : public QDialog {
    Q_OBJECT

public:
    using QDialog::QDialog;

    // Why OK would be refused, or empty.
    QString problem() const;

    void accept() override;

    QLabel* problemLabel() const { return problem_; }

protected:
    struct Problem {
        QString text;
        QWidget* where = nullptr;  // the control to put right
    };
    virtual Problem check() const = 0;

    // The line the reason shows in, made once the dialog has its font.
    QLabel* makeProblemLabel();

private:
    QLabel* problem_ = nullptr;
};

}  // namespace windows
