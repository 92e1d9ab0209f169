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
// "1": the whole connection encrypted. Older versions stored no such key: a
// login they stored reads as "" and stays as it was, unencrypted.
inline constexpr SettingKey kEncryptSetting{"Encrypt", ""};
// One login window's values.
struct LoginSettingKeys {
    SettingKey server, user, password, database, port, localConnection, encrypt;
};
inline constexpr LoginSettingKeys kFirstLoginSettings{
    kServerSetting,          kUserSetting,   kPasswordSetting, kDatabaseSetting, kPortSetting,
    kLocalConnectionSetting, kEncryptSetting};
// The second table's login on another server: keys of its own, so that it
// never overwrites the first login.
inline constexpr LoginSettingKeys kSecondLoginSettings{
    {"Second MSServer", ""},   {"Second MSUser", ""},   {"Second MSPassword", ""},
    {"Second MSDatabase", ""}, {"Second Port", "1433"}, {"Second Local Connection", "0"},
    {"Second Encrypt", ""}};
// Where the second list's tables come from: "This database", the name of
// another database of the first login's server, or "Another server".
inline constexpr SettingKey kSecondTableOriginSetting{"Second Table Origin", "This database"};
// The comparison's options (table selection window, "1" ticked).
inline constexpr SettingKey kPairFieldsByNameSetting{"Pair Fields By Name", "0"};
inline constexpr SettingKey kPairRecordsByKeySetting{"Pair Records By Key", "0"};
// Whether the table lists show the database's views beside its tables.
inline constexpr SettingKey kShowViewsSetting{"Show Views", "0"};
// A query read in place of a table, one set of keys per list: its SQL, its
// key columns as typed (by key), the name the lines give it, and whether the
// list has it chosen ("1") rather than a table.
struct QuerySettingKeys {
    SettingKey text, key, name, chosen;
};
inline constexpr QuerySettingKeys kFirstQuerySettings{{"First Query", ""},
                                                      {"First Query Key", ""},
                                                      {"First Query Name", ""},
                                                      {"First Query Chosen", "0"}};
inline constexpr QuerySettingKeys kSecondQuerySettings{{"Second Query", ""},
                                                       {"Second Query Key", ""},
                                                       {"Second Query Name", ""},
                                                       {"Second Query Chosen", "0"}};
// The options of the options dialog, per pair of tables: one JSON text
// (pairs most recently set first), since columns and conditions belong to
// two tables and would be wrong for the next pair.
inline constexpr SettingKey kPairOptionsSetting{"Pair Options", ""};

// The per-user settings store: application "Veltrane", section "Dorvantis",
// one text per key. It holds the password in clear text, so a file (and a
// folder) the store creates is made readable by its owner only (0600, 0700);
// a file that was there keeps the mode its owner gave it.
//
// A store never destroys what it cannot read or may not write: a file that
// is there but cannot be read (not a file, no read permission, an error) reads
// as the defaults and is left alone until written; a file its owner made
// read-only is never written.
class SettingsStore {
public:
    enum class Access { Usable, Unreadable, ReadOnly };

    SettingsStore();
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    QString read(const SettingKey& key) const;
    // Stores the value at once; false when it was not stored (a read-only
    // file, or the write failed).
    bool write(const SettingKey& key, const QString& text);

    QString fileName() const;
    // How the file was found when the store was made.
    Access access() const { return access_; }

private:
    std::unique_ptr<QSettings> settings_;
    Access access_ = Access::Usable;
};

// The stored local-connection flag counts as ticked unless it is exactly "0".
inline bool IsTicked(const QString& storedFlag) { return storedFlag != QStringLiteral("0"); }

// Whether a stored login asks for an encrypted connection. A flag that was
// never stored: only for a login not stored either (no server), which is new
// and starts encrypted; a login an older version stored keeps its clear link
// until the user ticks the box.
inline bool EncryptionStored(const QString& storedFlag, const QString& storedServer) {
    if (storedFlag.isEmpty()) return storedServer.isEmpty();
    return storedFlag == QStringLiteral("1");
}

}  // namespace connection
