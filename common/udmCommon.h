#pragma once
// The settings store: the per-user settings file and the read-only global values.

#include "common/uCommon.h"
#include "platform/uGlobalSettings.h"
#include "platform/uIniStore.h"

#include <QObject>
#include <memory>
#include <optional>
#include <stdexcept>

// Every setting of the program, with its default, in one place.
struct TTextSetting {
  const char* Key;
  const char* Default;
};
struct TIntegerSetting {
  const char* Key;
  int Default;
};
namespace Settings {
// Section "Settings" of the settings file.
inline constexpr TTextSetting ConnectionListSQL{"ConnectionListSQL", ""};
inline constexpr TIntegerSetting LastDBType{"LastDBType", 0};
// Seconds a statement may run before the session gives up on it; 0 waits for ever. Written to
// the file with its default the first time it is read, so that it can be found and changed.
inline constexpr TIntegerSetting QueryTimeout{"QueryTimeout", 60};
// Read-only global values (GetGlobalSetting).
inline constexpr TTextSetting GlobalSQLInstance{"SQLInstance", ""};
inline constexpr TTextSetting GlobalDatabase{"Database", ""};
// Section of the main window's placement.
inline constexpr const char* MainFormSection = "frmMain";
} // namespace Settings

// A stored text that should be a decimal integer is not.
class TConversionError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TdmMain : public QObject {
  Q_OBJECT
public:
  // The program's store: UserSettingsFile() and the machine-wide values.
  explicit TdmMain(QObject* parent = nullptr);
  // Any settings file (empty: kept in memory only) and any source of global values (null:
  // none, every global value is its default).
  TdmMain(const QString& settingsFile, std::unique_ptr<TGlobalSettingsSource> globalSettings,
          QObject* parent = nullptr);
  // The storage writes the file to disk when it is destroyed, if anything changed.
  ~TdmMain() override;

  // Missing key: the default; empty value: 0; otherwise a decimal integer, or TConversionError.
  int GetSettingInteger(const QString& key, int defaultValue) const;
  int GetSettingInteger(const TIntegerSetting& setting) const {
    return GetSettingInteger(QString::fromLatin1(setting.Key), setting.Default);
  }
  // In memory until the file is written.
  void SetSettingInteger(const QString& key, int value);
  QString GetSettingString(const QString& key, const QString& defaultValue) const;
  QString GetSettingString(const TTextSetting& setting) const {
    return GetSettingString(QString::fromLatin1(setting.Key), QString::fromUtf8(setting.Default));
  }
  void SetSettingString(const QString& key, const QString& value);

  // Puts the connection at the head of the recent-connection list and writes the settings
  // file. The password is never stored.
  void SaveRecentConnection(const TSQLConnectionProperties& props);
  // The list after SaveRecentConnection, from the list before it: the connection's line at the
  // head, and no other line for the same server and login.
  static QString AddRecentConnection(const QString& list, const TSQLConnectionProperties& props);
  // The lines of the stored list, most recent first; bars in a row give empty lines.
  static QStringList RecentLines(const QString& list);
  // A line read back: nullopt when it names no server. Lines of earlier versions read as they
  // always did; lines of this version may hold any character in their fields.
  static std::optional<TSQLConnectionProperties> ParseRecentLine(const QString& line);
  // The line for a connection, without its password. Plain connections keep the earlier
  // "server:database:login:provider" form, byte for byte, so earlier versions read them; see
  // the implementation for the rest.
  static QString FormatRecentLine(const TSQLConnectionProperties& props);

  // A read-only machine-wide value, or the default. A value that is not text raises
  // TGlobalSettingError.
  QString GetGlobalSetting(const QString& name, const QString& defaultValue) const;

  TIniStore iniUser;

private:
  void DataModuleCreate(const QString& settingsFile);

  std::unique_ptr<TGlobalSettingsSource> m_globalSettings;
};

// Lives from start-up to exit; created after the main window and the message box.
extern TdmMain* dmMain;
