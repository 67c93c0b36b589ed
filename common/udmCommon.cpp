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

// The recent-connection list is a sequence of lines, each followed by "|". A line is
// "server:database:login:provider", as every version wrote it; earlier versions read the server
// up to the first colon, the login as the third field and the provider from the first character
// of the fourth. Settings that earlier versions did not have follow the provider digit in the
// fourth field as ";key=value" pairs, where earlier versions never look. A line with such a ";"
// has its fields escaped (% : | ; = as %25 %3A %7C %3B %3D), so that a server name such as
// "tcp:host,1433" or "[::1],1433" survives; a line without one is read verbatim, exactly as
// before. Plain connections (optional encryption, nothing else set) are written without the
// pairs, so earlier versions read them unchanged.
namespace {

QString Escape(const QString& text, bool value) {
  QString out;
  for (const QChar c : text) {
    switch (c.unicode()) {
    case u'%':
      out += QLatin1String("%25");
      break;
    case u':':
      out += QLatin1String("%3A");
      break;
    case u'|':
      out += QLatin1String("%7C");
      break;
    case u';':
      out += value ? QLatin1String("%3B") : QLatin1String(";");
      break;
    case u'=':
      out += value ? QLatin1String("%3D") : QLatin1String("=");
      break;
    default:
      out += c;
    }
  }
  return out;
}

QString Unescape(const QString& text) {
  QString out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'%' && i + 2 < text.size()) {
      bool ok = false;
      const int code = text.mid(i + 1, 2).toInt(&ok, 16);
      if (ok) {
        out += QChar(code);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// A "%" alone needs no escaping: a line without pairs is read verbatim.
bool NeedsEscape(const QString& text) {
  return text.contains(u':') || text.contains(u'|');
}

bool SameName(const QString& a, const QString& b) {
  return AsciiUpper(a) == AsciiUpper(b);
}

} // namespace

QStringList TdmMain::RecentLines(const QString& list) {
  // Every line is followed by "|"; a final bar adds no empty line, bars in a row do.
  QStringList lines;
  if (!list.isEmpty()) {
    lines = list.split(u'|');
    if (lines.last().isEmpty()) lines.removeLast();
  }
  return lines;
}

std::optional<TSQLConnectionProperties> TdmMain::ParseRecentLine(const QString& line) {
  const qsizetype c1 = line.indexOf(u':');
  if (c1 < 1) return std::nullopt;
  const qsizetype c2 = line.indexOf(u':', c1 + 1);
  const qsizetype c3 = c2 < 0 ? -1 : line.indexOf(u':', c2 + 1);
  TSQLConnectionProperties p;
  p.Instance = line.left(c1);
  p.Database = c2 < 0 ? line.mid(c1 + 1) : line.mid(c1 + 1, c2 - c1 - 1);
  p.SQLLogin = c2 < 0 ? QString() : c3 < 0 ? line.mid(c2 + 1) : line.mid(c2 + 1, c3 - c2 - 1);
  const QString rest = c3 < 0 ? QString() : line.mid(c3 + 1);
  p.Provider = rest.startsWith(u'1') ? 1 : 0;
  const qsizetype semicolon = rest.indexOf(u';');
  if (semicolon < 0) return p; // a line as earlier versions wrote it: verbatim
  p.Instance = Unescape(p.Instance);
  p.Database = Unescape(p.Database);
  p.SQLLogin = Unescape(p.SQLLogin);
  for (const QString& pair : rest.mid(semicolon + 1).split(u';', Qt::SkipEmptyParts)) {
    const qsizetype eq = pair.indexOf(u'=');
    if (eq < 0) continue;
    const QString key = pair.left(eq);
    const QString value = Unescape(pair.mid(eq + 1));
    const int number = value.toInt();
    if (key == QLatin1String("e") && number >= 0 && number <= 2)
      p.Encryption = TEncryption(number);
    else if (key == QLatin1String("t"))
      p.TrustServerCertificate = number == 1;
    else if (key == QLatin1String("ca"))
      p.CAFile = value;
    else if (key == QLatin1String("pin"))
      p.ServerCertificate = value;
    else if (key == QLatin1String("cn"))
      p.HostNameInCertificate = value;
    else if (key == QLatin1String("k") && number >= 0 && number <= 2)
      p.Kind = TServerKind(number);
    else if (key == QLatin1String("drv"))
      p.Driver = value;
    // Keys of later versions are skipped.
  }
  return p;
}

QString TdmMain::FormatRecentLine(const TSQLConnectionProperties& props) {
  QStringList pairs;
  if (props.Encryption != TEncryption::Optional)
    pairs << QStringLiteral("e=%1").arg(int(props.Encryption));
  if (props.TrustServerCertificate) pairs << QStringLiteral("t=1");
  if (!props.CAFile.isEmpty()) pairs << QStringLiteral("ca=") + Escape(props.CAFile, true);
  if (!props.ServerCertificate.isEmpty())
    pairs << QStringLiteral("pin=") + Escape(props.ServerCertificate, true);
  if (!props.HostNameInCertificate.isEmpty())
    pairs << QStringLiteral("cn=") + Escape(props.HostNameInCertificate, true);
  if (props.Kind != TServerKind::Address) pairs << QStringLiteral("k=%1").arg(int(props.Kind));
  if (!props.Driver.isEmpty()) pairs << QStringLiteral("drv=") + Escape(props.Driver, true);
  const bool escaped = !pairs.isEmpty() || NeedsEscape(props.Instance) ||
                       NeedsEscape(props.Database) || NeedsEscape(props.SQLLogin);
  // Concatenated, not formatted: a "%1" typed into a field must stay as typed.
  if (!escaped)
    return props.Instance + u':' + props.Database + u':' + props.SQLLogin + u':' +
           QString::number(props.Provider);
  QString line = Escape(props.Instance, false) + u':' + Escape(props.Database, false) + u':' +
                 Escape(props.SQLLogin, false) + u':' + QString::number(props.Provider) + u';';
  return line + pairs.join(u';');
}

QString TdmMain::AddRecentConnection(const QString& list, const TSQLConnectionProperties& props) {
  QStringList lines = RecentLines(list);
  // The same server with the same login is kept once; lines that name no server stay.
  if (!props.Instance.isEmpty())
    lines.removeIf([&props](const QString& line) {
      const std::optional<TSQLConnectionProperties> p = ParseRecentLine(line);
      return p && SameName(p->Instance, props.Instance) && SameName(p->SQLLogin, props.SQLLogin);
    });
  lines.prepend(FormatRecentLine(props));
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
