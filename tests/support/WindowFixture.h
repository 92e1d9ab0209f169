#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <memory>

#include "LoginWindow.h"
#include "MemoryDataAccess.h"
#include "RecordingMessageBoxes.h"
#include "ResultsWindow.h"
#include "Settings.h"
#include "TableSelectionWindow.h"
#include "WindowRegistry.h"

namespace testing_support {

// A fresh registry per test: recorded message boxes, a recorded shell, the
// in-memory data-access layer, a private settings file and program folder,
// and ending the program recorded instead of done.
class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config_.isValid());
        ASSERT_TRUE(programFolder_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    }

    void TearDown() override { registry_.reset(); }

    windows::WindowRegistry& registry() {
        if (!registry_) {
            registry_ = std::make_unique<windows::WindowRegistry>(windows::Services{
                boxes, shell, data, programFolder_.path(), [this] { ++endCalls; }});
        }
        return *registry_;
    }

    // The stored login of a user who logged in before.
    void storeLogin(const QString& password = QStringLiteral("secret")) {
        connection::SettingsStore store;
        store.write(connection::kServerSetting, QStringLiteral("db.example"));
        store.write(connection::kUserSetting, QStringLiteral("tester"));
        store.write(connection::kPasswordSetting, password);
        store.write(connection::kDatabaseSetting, QStringLiteral("testdb"));
        store.write(connection::kPortSetting, QStringLiteral("1433"));
    }

    QString programFolder() const { return programFolder_.path(); }
    // The program ended: the next registry() starts it again over the same settings.
    void endProgram() { registry_.reset(); }

    // Texts of the list items, in order.
    static QStringList items(const windows::TableListView& list) {
        QStringList out;
        for (int i = 0; i < list.topLevelItemCount(); ++i) out << list.topLevelItem(i)->text(0);
        return out;
    }

    RecordingMessageBoxes boxes;
    RecordingShell shell;
    data::MemoryDataAccess data;
    int endCalls = 0;

private:
    QTemporaryDir config_;
    QTemporaryDir programFolder_;
    std::unique_ptr<windows::WindowRegistry> registry_;
};

}  // namespace testing_support
