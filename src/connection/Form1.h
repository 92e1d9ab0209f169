#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "LoginDetails.h"
#include "Settings.h"
#include "Window.h"

namespace connection {

// The login window. Its fields are the working copy of the login details
// for the whole run; every change of a field is stored at once.
class Form1 : public app::Window {
    Q_OBJECT

public:
    explicit Form1(app::WindowRegistry& registry);

    void Form_Load() override;
    void PushButton5_Click();  // "Test Connection"
    void PushButton3_Click();  // "Next >"
    void PushButton2_Click();  // "Help"

    // The login details as the fields hold them at this moment.
    LoginDetails CurrentLoginDetails() const;

    QGroupBox* Frame1;
    QLabel* Label2;
    QLineEdit* Text1;  // server
    QLabel* Label9;
    QLineEdit* Text9;  // port
    QLabel* Label1;
    QLineEdit* Text2;  // user name
    QLabel* Label4;
    QLineEdit* Text3;  // password
    QLabel* Label3;
    QLineEdit* Text4;  // database
    QCheckBox* Check7;
    QPushButton* PushButton5;
    QPushButton* PushButton2;
    QPushButton* PushButton3;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void storeOnChange(QLineEdit* field, const SettingKey& key);

    SettingsStore settings_;
};

// The first text of "Help", with its lone carriage returns.
QString HelpText();

}  // namespace connection
