#pragma once
// The settings store: the per-user settings file and the read-only global values.

#include "common/uCommon.h"
#include "platform/uGlobalSettings.h"
#include "platform/uIniStore.h"
#include "verdict/uVerdict.h"

#include <QObject>
#include <memory>
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
// Seconds a connection attempt may take before it counts as failed; 0 waits for ever.
inline constexpr TIntegerSetting LoginTimeout{"LoginTimeout", 15};
// Read-only global values (GetGlobalSetting).
inline constexpr TTextSetting GlobalSQLInstance{"SQLInstance", ""};
inline constexpr TTextSetting GlobalDatabase{"Database", ""};
// Section of the main window's placement.
inline constexpr const char* MainFormSection = "frmMain";
// Section "Verdict": the thresholds of the health verdict (defaults in TVerdictThresholds).
inline constexpr TVerdictThresholds VerdictDefaults{};
inline constexpr TIntegerSetting VerdictLogUsedWarningPercent{
    "Verdict\\LogUsedWarningPercent", VerdictDefaults.LogUsedWarningPercent};
inline constexpr TIntegerSetting VerdictLogUsedCriticalPercent{
    "Verdict\\LogUsedCriticalPercent", VerdictDefaults.LogUsedCriticalPercent};
inline constexpr TIntegerSetting VerdictVlfWarningAbove{"Verdict\\VlfWarningAbove",
                                                        VerdictDefaults.VlfWarningAbove};
inline constexpr TIntegerSetting VerdictVlfCriticalFrom{"Verdict\\VlfCriticalFrom",
                                                        VerdictDefaults.VlfCriticalFrom};
inline constexpr TIntegerSetting VerdictLogBackupWarningMinutes{
    "Verdict\\LogBackupWarningMinutes", VerdictDefaults.LogBackupWarningMinutes};
inline constexpr TIntegerSetting VerdictLogBackupCriticalMinutes{
    "Verdict\\LogBackupCriticalMinutes", VerdictDefaults.LogBackupCriticalMinutes};
inline constexpr TIntegerSetting VerdictGrowthCheckLogAboveMB{
    "Verdict\\GrowthCheckLogAboveMB", VerdictDefaults.GrowthCheckLogAboveMB};
inline constexpr TIntegerSetting VerdictSmallGrowthBelowMB{"Verdict\\SmallGrowthBelowMB",
                                                           VerdictDefaults.SmallGrowthBelowMB};
inline constexpr TIntegerSetting VerdictMaxSizeMarginPercent{"Verdict\\MaxSizeMarginPercent",
                                                             VerdictDefaults.MaxSizeMarginPercent};
inline constexpr TIntegerSetting VerdictOpenTransactionWarningMinutes{
    "Verdict\\OpenTransactionWarningMinutes", VerdictDefaults.OpenTransactionWarningMinutes};
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
  // file (SaveSettings). The password is never stored.
  void SaveRecentConnection(const TSQLConnectionProperties& props);
  // Writes the settings file now. A failed write emits SaveFailed; the same failure again is
  // not repeated until a write succeeds. The values stay in memory either way, and the old
  // file stays as it was. A read-only file is left alone on purpose and reports nothing.
  bool SaveSettings();
  // The list after SaveRecentConnection, from the list before it.
  static QString AddRecentConnection(const QString& list, const TSQLConnectionProperties& props);

  // The verdict's thresholds from the settings file; a key that is missing or not a number
  // keeps its default.
  TVerdictThresholds VerdictThresholds() const;

  // A read-only machine-wide value, or the default. A value that is not text raises
  // TGlobalSettingError.
  QString GetGlobalSetting(const QString& name, const QString& defaultValue) const;

  TIniStore iniUser;

Q_SIGNALS:
  // The settings file could not be written: its path and the reason. Whoever shows messages
  // tells the user; the store never shows anything itself.
  void SaveFailed(const QString& fileName, const QString& reason);

private:
  void DataModuleCreate(const QString& settingsFile);

  std::unique_ptr<TGlobalSettingsSource> m_globalSettings;
  QString m_reportedFailure; // reason last emitted; cleared by a successful write
};

// Lives from start-up to exit; created after the main window and the message box.
extern TdmMain* dmMain;
