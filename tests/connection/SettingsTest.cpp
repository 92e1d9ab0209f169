#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include "Settings.h"

namespace {

using namespace connection;

// Each test gets its own settings folder through XDG_CONFIG_HOME.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8());
    }
    QString storeFile() const { return dir_.path() + QStringLiteral("/Veltrane/Dorvantis.conf"); }
    void writeRaw(const QString& content) {
        QDir().mkpath(QFileInfo(storeFile()).absolutePath());
        QFile f(storeFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content.toUtf8());
    }
    QTemporaryDir dir_;
};

TEST_F(SettingsTest, EmptyStoreGivesTheDefaults) {
    SettingsStore store;
    EXPECT_EQ(store.fileName(), storeFile());
    EXPECT_EQ(store.read(kServerSetting), QString());
    EXPECT_EQ(store.read(kUserSetting), QString());
    EXPECT_EQ(store.read(kPasswordSetting), QString());
    EXPECT_EQ(store.read(kDatabaseSetting), QString());
    EXPECT_EQ(store.read(kPortSetting), QStringLiteral("1433"));
    EXPECT_FALSE(IsTicked(store.read(kLocalConnectionSetting)));
}

TEST_F(SettingsTest, FlagIsTickedUnlessExactlyZero) {
    for (const auto& [stored, ticked] : std::vector<std::pair<QString, bool>>{
             {"1", true}, {"0", false}, {"", true}, {"x", true}, {" 0", true}}) {
        SettingsStore store;
        store.write(kLocalConnectionSetting, stored);
        SettingsStore reread;
        EXPECT_EQ(IsTicked(reread.read(kLocalConnectionSetting)), ticked) << stored.toStdString();
    }
}

TEST_F(SettingsTest, EveryWriteIsStoredAtOnceAndReadBackExactly) {
    SettingsStore store;
    store.write(kServerSetting, QStringLiteral(" my server "));
    store.write(kPasswordSetting, QStringLiteral("p;a}s{s,word=\"x\""));
    SettingsStore other;  // a second reader sees the file, not a cache
    EXPECT_EQ(other.read(kServerSetting), QStringLiteral(" my server "));
    EXPECT_EQ(other.read(kPasswordSetting), QStringLiteral("p;a}s{s,word=\"x\""));
    QFile f(storeFile());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(content.contains(QStringLiteral("[Dorvantis]")));
    EXPECT_TRUE(content.contains(QStringLiteral("MSServer=")));
}

TEST_F(SettingsTest, FileStaysReadableByItsOwnerOnly) {
    SettingsStore store;
    store.write(kPasswordSetting, QStringLiteral("secret"));
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther |
                        QFile::WriteOther | QFile::ExeGroup | QFile::ExeOther;
    for (int i = 0; i < 3; ++i) {
        store.write(kServerSetting, QStringLiteral("server %1").arg(i));
        const QFileInfo file(storeFile());
        EXPECT_EQ(file.permissions() & (ownerOnly | others), ownerOnly);
        EXPECT_EQ(QFileInfo(file.absolutePath()).permissions() & others, QFile::Permissions());
    }
}

QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What the store cannot read or may not write it leaves as it is: a file its
// owner made read-only is never written (nor made writable), one that cannot
// be read reads as the defaults and is only replaced by a write of the user's.
// Decided by the owner's permission bits, so the tests hold when run as root.
TEST_F(SettingsTest, FilesThatCannotBeReadOrWrittenAreNeverDestroyed) {
    const QString stored = QStringLiteral("[Dorvantis]\nMSServer=db.example\nPort=46719\n");
    writeRaw(stored);
    QFile::setPermissions(storeFile(), QFile::ReadOwner | QFile::ReadGroup);
    {
        SettingsStore store;
        EXPECT_EQ(store.access(), SettingsStore::Access::ReadOnly);
        EXPECT_EQ(store.read(kPortSetting), QStringLiteral("46719"));
        EXPECT_FALSE(store.write(kPortSetting, QStringLiteral("1433")));
    }
    EXPECT_EQ(Contents(storeFile()), stored.toUtf8());
    // Owner, group and other bits (the "user" bits say what this process may do).
    EXPECT_EQ(QFileInfo(storeFile()).permissions() & QFile::Permissions(0x7077),
              QFile::ReadOwner | QFile::ReadGroup);

    QFile::setPermissions(storeFile(), QFile::Permissions());
    {
        SettingsStore store;
        EXPECT_EQ(store.access(), SettingsStore::Access::Unreadable);
        EXPECT_EQ(store.read(kPortSetting), QStringLiteral("1433"));  // the default
        EXPECT_EQ(store.read(kServerSetting), QString());
    }
    QFile::setPermissions(storeFile(), QFile::ReadOwner);
    EXPECT_EQ(Contents(storeFile()), stored.toUtf8());
    QFile::setPermissions(storeFile(), QFile::Permissions());
    {
        SettingsStore store;
        EXPECT_TRUE(store.write(kUserSetting, QStringLiteral("sa")));
        EXPECT_EQ(store.access(), SettingsStore::Access::Usable);
    }
    QFile::setPermissions(storeFile(), QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(SettingsStore().read(kUserSetting), QStringLiteral("sa"));
}

// Only a file the store creates is made owner-only; one that was there keeps
// the mode its owner chose.
TEST_F(SettingsTest, AnExistingFileKeepsItsMode) {
    writeRaw(QStringLiteral("[Dorvantis]\nMSServer=a\n"));
    const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    QFile::setPermissions(storeFile(), mode);
    SettingsStore store;
    EXPECT_TRUE(store.write(kServerSetting, QStringLiteral("b")));
    EXPECT_EQ(QFileInfo(storeFile()).permissions() & (mode | QFile::WriteGroup | QFile::WriteOther),
              mode);
    EXPECT_EQ(SettingsStore().read(kServerSetting), QStringLiteral("b"));
}

TEST_F(SettingsTest, HandEditedValueWithCommaReadsAsOneText) {
    writeRaw(QStringLiteral("[Dorvantis]\nMSServer=host,1433\n"));
    SettingsStore store;
    EXPECT_EQ(store.read(kServerSetting), QStringLiteral("host,1433"));
}

}  // namespace
