#pragma once

#include <QString>
#include <memory>

class QSettings;

namespace connection {

// One stored login value: its key and the value a missing key reads as.
struct SettingKey {
    const char* key;
    const char* defaultValue;
};

inline constexpr SettingKey kServerSetting{"MSServer", ""};
inline constexpr SettingKey kUserSetting{"MSUser", ""};
inline constexpr SettingKey kPasswordSetting{"MSPassword", ""};
inline constexpr SettingKey kDatabaseSetting{"MSDatabase", ""};
inline constexpr SettingKey kPortSetting{"Port", "1433"};
inline constexpr SettingKey kLocalConnectionSetting{"Local Connection", "0"};

// The per-user settings store: application "Veltrane", section "Dorvantis",
// one text per key. It holds the password in clear text, so the file is kept
// readable by its owner only (0600, its folder 0700) after every write.
class SettingsStore {
public:
    SettingsStore();
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    QString read(const SettingKey& key) const;
    void write(const SettingKey& key, const QString& text);

    QString fileName() const;

private:
    std::unique_ptr<QSettings> settings_;
};

// The stored local-connection flag counts as ticked unless it is exactly "0".
inline bool IsTicked(const QString& storedFlag) { return storedFlag != QStringLiteral("0"); }

}  // namespace connection
