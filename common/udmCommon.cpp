#include "common/udmCommon.h"

#include <QDir>

TdmMain* dmMain = nullptr;

namespace {
// Only a to z change: server names compare like this, whatever the locale.
QString AsciiUpper(QString text) {
  for (QChar& c : text)
    if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - u'a' + u'A');
  return text;
}
} // namespace

TdmMain::TdmMain(QObject* parent)
    : TdmMain(UserSettingsFile(), std::make_unique<TSystemGlobalSettings>(), parent) {}

TdmMain::TdmMain(const QString& settingsFile, std::unique_ptr<TGlobalSettingsSource> globalSettings,
                 QObject* parent)
    : QObject(parent), m_globalSettings(std::move(globalSettings)) {
  setObjectName("dmMain");
  DataModuleCreate(settingsFile);
}

TdmMain::~TdmMain() = default;

void TdmMain::DataModuleCreate(const QString& settingsFile) {
  // Binding loads the file at once; an absent file gives an empty store.
  iniUser.SetFileName(settingsFile);
}

int TdmMain::GetSettingInteger(const QString& key, int defaultValue) const {
  if (!iniUser.ValueExists(key)) return defaultValue;
  const QString text = iniUser.ReadString(key);
  if (text.isEmpty()) return 0;
  if (const std::optional<int> value = ParseDecimalInteger(text)) return *value;
  throw TConversionError(tr("'%1' is not a valid integer value").arg(text).toStdString());
}

TVerdictThresholds TdmMain::VerdictThresholds() const {
  TVerdictThresholds t;
  const auto read = [this](const TIntegerSetting& s, int& value) {
    try {
      value = GetSettingInteger(s);
    } catch (const TConversionError&) {
      value = s.Default; // a typing error in the file must not silence the verdict
    }
  };
  read(Settings::VerdictLogUsedWarningPercent, t.LogUsedWarningPercent);
  read(Settings::VerdictLogUsedCriticalPercent, t.LogUsedCriticalPercent);
  read(Settings::VerdictVlfWarningAbove, t.VlfWarningAbove);
  read(Settings::VerdictVlfCriticalFrom, t.VlfCriticalFrom);
  read(Settings::VerdictLogBackupWarningMinutes, t.LogBackupWarningMinutes);
  read(Settings::VerdictLogBackupCriticalMinutes, t.LogBackupCriticalMinutes);
  read(Settings::VerdictGrowthCheckLogAboveMB, t.GrowthCheckLogAboveMB);
  read(Settings::VerdictSmallGrowthBelowMB, t.SmallGrowthBelowMB);
  read(Settings::VerdictMaxSizeMarginPercent, t.MaxSizeMarginPercent);
  read(Settings::VerdictOpenTransactionWarningMinutes, t.OpenTransactionWarningMinutes);
  return t;
}

void TdmMain::SetSettingInteger(const QString& key, int value) {
  iniUser.WriteString(key, QString::number(value));
}

QString TdmMain::GetSettingString(const QString& key, const QString& defaultValue) const {
  return iniUser.ReadString(key, defaultValue);
}

void TdmMain::SetSettingString(const QString& key, const QString& value) {
  iniUser.WriteString(key, value);
}

QString TdmMain::AddRecentConnection(const QString& list, const TSQLConnectionProperties& props) {
  // Every line is followed by "|"; a final bar adds no empty line, bars in a row do.
  QStringList lines;
  if (!list.isEmpty()) {
    lines = list.split(u'|');
    if (lines.last().isEmpty()) lines.removeLast();
  }

  // A line's server name is the text before its first colon, when that is not the first
  // character. At most one line, the first match, makes way for the new one.
  const QString key = AsciiUpper(props.Instance);
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const qsizetype colon = lines[i].indexOf(u':');
    if (colon >= 1 && AsciiUpper(lines[i].left(colon)) == key) {
      lines.removeAt(i);
      break;
    }
  }

  // Concatenated, not formatted: a "%1" typed into a field must stay as typed.
  lines.prepend(props.Instance + u':' + props.Database + u':' + props.SQLLogin + u':' +
                QString::number(props.Provider));
  QString result;
  for (const QString& line : lines)
    result += line + u'|';
  return result;
}

void TdmMain::SaveRecentConnection(const TSQLConnectionProperties& props) {
  const QString key = QString::fromLatin1(Settings::ConnectionListSQL.Key);
  SetSettingString(key, AddRecentConnection(GetSettingString(Settings::ConnectionListSQL), props));
  SaveSettings();
}

bool TdmMain::SaveSettings() {
  if (iniUser.Flush()) {
    m_reportedFailure.clear();
    return true;
  }
  const QString reason = iniUser.LastError();
  if (reason.isEmpty() || reason == m_reportedFailure) return false;
  m_reportedFailure = reason;
  Q_EMIT SaveFailed(QDir::toNativeSeparators(iniUser.FileName()), reason);
  return false;
}

QString TdmMain::GetGlobalSetting(const QString& name, const QString& defaultValue) const {
  if (!m_globalSettings) return defaultValue;
  return m_globalSettings->ReadText(name).value_or(defaultValue);
}
