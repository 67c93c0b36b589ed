#pragma once
// Read-only machine-wide values shared with the sibling product Tessaly. No GUI.

#include <QString>
#include <optional>
#include <stdexcept>

// A value exists but is not text (a number, a list); its name is in the message.
class TGlobalSettingError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TGlobalSettingsSource {
public:
  virtual ~TGlobalSettingsSource() = default;
  // Nothing when the key or the value is missing; throws TGlobalSettingError when the value is
  // not text.
  virtual std::optional<QString> ReadText(const QString& name) const = 0;
};

// Windows: the registry key HKEY_LOCAL_MACHINE\Software\Quorvix\Tessaly in its 64-bit view.
// Elsewhere: the system-wide configuration file of organisation "Quorvix", application
// "Tessaly" (normally /etc/xdg/Quorvix/Tessaly.conf), keys at its top or in [General]. The file
// is read verbatim: an instance name such as sql02\inst keeps its backslash. Nothing is kept
// open between calls.
class TSystemGlobalSettings : public TGlobalSettingsSource {
public:
  TSystemGlobalSettings();
  // Another configuration file in place of the system-wide one (not used on Windows).
  explicit TSystemGlobalSettings(const QString& configFile);

  std::optional<QString> ReadText(const QString& name) const override;
  const QString& ConfigFile() const { return m_configFile; }

private:
  QString m_configFile;
};
