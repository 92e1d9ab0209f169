// The per-user settings file as anyone may have edited it: the fuzz input
// (after a key number and a text) is written as the file in a fresh config
// folder (XDG_CONFIG_HOME), and every key is read through the settings store,
// as text. Then the program saves the text under the one key: a new store
// reads it back exactly, and every other key as before.
#include <fuzzer/FuzzedDataProvider.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "Settings.h"

namespace {

using connection::SettingKey;

const SettingKey* const kKeys[] = {
    &connection::kServerSetting,   &connection::kUserSetting, &connection::kPasswordSetting,
    &connection::kDatabaseSetting, &connection::kPortSetting, &connection::kLocalConnectionSetting};
constexpr std::size_t kKeyCount = std::size(kKeys);

[[noreturn]] void fail(const char* what, const SettingKey& key) {
    std::fprintf(stderr, "settings_fuzz: %s (key %s)\n", what, key.key);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir root;
    static unsigned long run = 0;
    if (!root.isValid()) std::abort();

    FuzzedDataProvider in(data, size);
    const SettingKey& saved = *kKeys[in.ConsumeIntegralInRange<std::size_t>(0, kKeyCount - 1)];
    const QString text = QString::fromUtf8(in.ConsumeRandomLengthString(64));
    const std::string file = in.ConsumeRemainingBytesAsString();

    // A folder of its own each run: QSettings keeps parsed files by name.
    const QString home = root.path() + QStringLiteral("/%1").arg(++run);
    QDir().mkpath(home + QStringLiteral("/Veltrane"));
    {
        QFile f(home + QStringLiteral("/Veltrane/Dorvantis.conf"));
        if (!f.open(QIODevice::WriteOnly)) std::abort();
        f.write(file.data(), qint64(file.size()));
    }
    qputenv("XDG_CONFIG_HOME", home.toUtf8());

    QString before[kKeyCount];
    {
        connection::SettingsStore store;
        for (std::size_t k = 0; k < kKeyCount; ++k) before[k] = store.read(*kKeys[k]);
        store.write(saved, text);
    }
    {
        connection::SettingsStore store;
        for (std::size_t k = 0; k < kKeyCount; ++k) {
            const QString now = store.read(*kKeys[k]);
            if (kKeys[k] == &saved) {
                if (now != text) fail("a saved text read back changed", saved);
            } else if (now != before[k]) {
                fail("saving one key changed another", *kKeys[k]);
            }
        }
    }
    QDir(home).removeRecursively();
    return 0;
}
