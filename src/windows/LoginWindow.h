#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "LoginDetails.h"
#include "Settings.h"
#include "Side.h"
#include "Window.h"

namespace windows {

// The login window. Its fields are the working copy of the login details
// for the whole run; every change of a field is stored at once. The second
// table's login window has the same fields, rules and buttons, its own title
// and stored values, and its "Next >" fills only the second list.
class LoginWindow : public Window {
    Q_OBJECT

public:
    // side: whose login it holds, the program's own (the first table's, and
    // the second's within its server) or the second table's on another server.
    explicit LoginWindow(WindowRegistry& registry, compare::Side side = compare::Side::First);

    void Form_Load() override;

    compare::Side side() const { return side_; }

    // The login details as the fields hold them at this moment.
    connection::LoginDetails CurrentLoginDetails() const;

    // The controls by role, for whoever must name them from outside.
    QGroupBox* loginFrame() const { return Frame1; }
    QLabel* serverLabel() const { return Label2; }
    QLineEdit* serverEdit() const { return Text1; }
    QLineEdit* portEdit() const { return Text9; }
    QLineEdit* userEdit() const { return Text2; }
    QLineEdit* passwordEdit() const { return Text3; }
    QLineEdit* databaseEdit() const { return Text4; }
    QCheckBox* localConnectionBox() const { return Check7; }
    QCheckBox* encryptBox() const { return Check8; }
    QPushButton* testConnectionButton() const { return PushButton5; }
    QPushButton* helpButton() const { return PushButton2; }
    QPushButton* nextButton() const { return PushButton3; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The procedure tags of the window's handlers.
    struct Tags {
        const char* help;
        const char* next;
        const char* testConnection;
        const char* load;
    };
    static Tags TagsFor(compare::Side side);
    void PushButton5_Click();  // "Test Connection"
    // "Next >". The load's automatic "Next >" shows no box when the login fails.
    void PushButton3_Click(bool quietFailure = false);
    void PushButton2_Click();  // "Help"

    void connectControls();
    void storeOnChange(QLineEdit* field, const connection::SettingKey& key);
    void store(const connection::SettingKey& key, const QString& text);

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
    QCheckBox* Check8;  // "Encrypt the connection"
    QPushButton* PushButton5;
    QPushButton* PushButton2;
    QPushButton* PushButton3;

    const compare::Side side_;
    const connection::LoginSettingKeys& keys_;
    const Tags tags_;
    connection::SettingsStore settings_;
    bool loadingStored_ = false;
};

// The first text of "Help", with its lone carriage returns.
QString HelpText();

}  // namespace windows
