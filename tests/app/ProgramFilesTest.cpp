#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "ProgramFiles.h"

namespace {

// The layout a package installs: the program in usr/bin, its files in
// usr/share/dorvantis.
class ProgramFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("usr/bin")));
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("usr/share/dorvantis")));
    }

    static void touch(const QString& path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    QTemporaryDir root;
    const QString bin = root.path() + QStringLiteral("/usr/bin");
    const QString data = root.path() + QStringLiteral("/usr/share/dorvantis");
};

TEST_F(ProgramFiles, InstalledPointerAndHelpPictureAreFoundFromTheProgramsFolder) {
    // Neither anywhere: the place beside the program, where the callers find nothing.
    EXPECT_EQ(app::InstalledProgramFile(bin, app::kPointerFile),
              bin + QStringLiteral("/HAND-M.CUR"));

    touch(data + QStringLiteral("/HAND-M.CUR"));
    touch(data + QStringLiteral("/local-connection-example.jpg"));
    EXPECT_EQ(app::InstalledProgramFile(bin, app::kPointerFile),
              data + QStringLiteral("/HAND-M.CUR"));
    EXPECT_EQ(app::InstalledProgramFile(bin, app::kHelpPicture),
              data + QStringLiteral("/local-connection-example.jpg"));
}

TEST_F(ProgramFiles, BesideTheProgramComesFirst) {
    touch(data + QStringLiteral("/HAND-M.CUR"));
    touch(bin + QStringLiteral("/HAND-M.CUR"));
    EXPECT_EQ(app::InstalledProgramFile(bin, app::kPointerFile),
              bin + QStringLiteral("/HAND-M.CUR"));
}

}  // namespace
