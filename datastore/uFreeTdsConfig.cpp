#include "datastore/uFreeTdsConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QTemporaryDir>

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// One line as FreeTDS's reader sees it: option up to '=', lower-cased, blanks collapsed; value
// up to ';' or '#', blanks collapsed.
struct TLine {
  bool Skip = true;
  bool IsSection = false;
  QString Option, Value;
};

TLine ReadLine(const QByteArray& line) {
  TLine out;
  qsizetype i = 0;
  while (i < line.size() && IsBlank(line[i]))
    ++i;
  if (i < line.size() && (line[i] == ';' || line[i] == '#')) return out;
  QByteArray option, spelled; // spelled keeps the case, for section names shown to people
  char prev = 0;
  for (; i < line.size() && line[i] != '='; ++i) {
    const char c = line[i];
    if (!IsBlank(c)) {
      if (IsBlank(prev) && !option.isEmpty()) {
        option += ' ';
        spelled += ' ';
      }
      option += char((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
      spelled += c;
    }
    prev = c;
  }
  if (option.isEmpty()) return out;
  if (i < line.size()) ++i; // the '='
  while (i < line.size() && IsBlank(line[i]))
    ++i;
  QByteArray value;
  prev = 0;
  for (; i < line.size() && line[i] != ';' && line[i] != '#'; ++i) {
    const char c = line[i];
    if (!IsBlank(c)) {
      if (IsBlank(prev) && !value.isEmpty()) value += ' ';
      value += c;
    }
    prev = c;
  }
  out.Skip = false;
  if (option.startsWith('[')) {
    out.IsSection = true;
    const qsizetype close = spelled.indexOf(']');
    out.Option = QString::fromUtf8(spelled.mid(1, close < 0 ? -1 : close - 1));
    return out;
  }
  out.Option = QString::fromUtf8(option);
  out.Value = QString::fromUtf8(value);
  return out;
}

} // namespace

std::optional<QString> FreeTdsValue(const TFreeTdsOptions& options, const QString& key) {
  for (qsizetype i = options.size() - 1; i >= 0; --i)
    if (options[i].Key == key) return options[i].Value;
  return std::nullopt;
}

TFreeTdsConfFile TFreeTdsConfFile::Parse(const QString& path, const QByteArray& text) {
  TFreeTdsConfFile file;
  file.Path = path;
  TSection* current = nullptr;
  qsizetype at = 0;
  while (at < text.size()) {
    // fgets with a 256-byte buffer: at most 255 bytes, up to and including the line break.
    qsizetype end = text.indexOf('\n', at);
    end = end < 0 ? text.size() : end + 1;
    end = qMin(end, at + 255);
    const TLine line = ReadLine(text.mid(at, end - at));
    at = end;
    if (line.Skip) continue;
    if (line.IsSection) {
      file.Sections.append(TSection{line.Option, {}});
      current = &file.Sections.last();
    } else if (current) {
      current->Options.append(TFreeTdsOption{line.Option, line.Value});
    }
  }
  return file;
}

bool TFreeTdsConfFile::HasSection(const QString& name) const {
  for (const TSection& s : Sections)
    if (s.Name.compare(name, Qt::CaseInsensitive) == 0) return true;
  return false;
}

TFreeTdsOptions TFreeTdsConfFile::Section(const QString& name) const {
  TFreeTdsOptions out;
  for (const TSection& s : Sections)
    if (s.Name.compare(name, Qt::CaseInsensitive) == 0) out += s.Options;
  return out;
}

QString OriginalFreeTdsConfEnvironment() {
  static const QString original = qEnvironmentVariable("FREETDSCONF");
  return original;
}

TFreeTdsSearch TFreeTdsSearch::FromEnvironment() {
  TFreeTdsSearch s;
  s.FreeTdsConf = OriginalFreeTdsConfEnvironment();
  s.FreeTds = qEnvironmentVariable("FREETDS");
  s.Home = QDir::homePath();
  return s;
}

QStringList TFreeTdsSearch::Files() const {
  QStringList files;
  if (!FreeTdsConf.isEmpty()) files << FreeTdsConf;
  if (!FreeTds.isEmpty()) files << FreeTds + QStringLiteral("/etc/freetds.conf");
  if (!Home.isEmpty()) files << Home + QStringLiteral("/.freetds.conf");
  files << SystemFile;
  return files;
}

TFreeTdsConfig TFreeTdsConfig::Load(const QStringList& paths) {
  TFreeTdsConfig config;
  for (const QString& path : paths) {
    // Configuration files are small; a larger one is not a configuration file.
    QFile f(path);
    if (f.open(QIODevice::ReadOnly) && f.size() <= 1024 * 1024)
      config.Files << TFreeTdsConfFile::Parse(path, f.readAll());
  }
  return config;
}

TFreeTdsConfig::TResolved TFreeTdsConfig::Resolve(const QString& name) const {
  TResolved r;
  for (const TFreeTdsConfFile& file : Files) {
    r.Options += file.Section(QStringLiteral("global"));
    if (!name.isEmpty() && name.compare(QLatin1String("global"), Qt::CaseInsensitive) != 0 &&
        file.HasSection(name)) {
      r.Options += file.Section(name);
      r.Found = true;
      r.File = file.Path;
      break;
    }
  }
  return r;
}

QStringList TFreeTdsConfig::SectionNames() const {
  QStringList names;
  for (const TFreeTdsConfFile& file : Files)
    for (const TFreeTdsConfFile::TSection& s : file.Sections) {
      if (s.Name.compare(QLatin1String("global"), Qt::CaseInsensitive) == 0) continue;
      if (!names.contains(s.Name, Qt::CaseInsensitive)) names << s.Name;
    }
  return names;
}

TFreeTdsPrivateConf& TFreeTdsPrivateConf::Instance() {
  static TFreeTdsPrivateConf instance;
  return instance;
}

TFreeTdsPrivateConf::TFreeTdsPrivateConf() {
  OriginalFreeTdsConfEnvironment(); // kept before it changes
  // The session's private runtime folder where there is one; the temporary folder otherwise
  // (the folder made in it is private to this user).
  QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (base.isEmpty() || !QFileInfo(base).isDir()) base = QDir::tempPath();
  FDir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/velmora-freetds-XXXXXX"));
  if (FDir->isValid())
    qputenv("FREETDSCONF", QFile::encodeName(FDir->filePath(QStringLiteral("freetds.conf"))));
}

TFreeTdsPrivateConf::~TFreeTdsPrivateConf() = default;

QString TFreeTdsPrivateConf::Path() const {
  QMutexLocker lock(&FLock);
  return FDir->isValid() ? FDir->filePath(QStringLiteral("freetds.conf")) : QString();
}

bool TFreeTdsPrivateConf::Ensure(const QString& name, const QString& sectionText, QString* error) {
  QMutexLocker lock(&FLock);
  if (!FDir->isValid()) {
    if (error) *error = FDir->errorString();
    return false;
  }
  for (const auto& [n, text] : std::as_const(FSections))
    if (n == name) return true;
  QByteArray content;
  // The user's own FREETDSCONF stays first in line, as it would have been.
  if (const QString original = OriginalFreeTdsConfEnvironment(); !original.isEmpty()) {
    QFile f(original);
    if (f.open(QIODevice::ReadOnly)) content = f.readAll() + '\n';
  }
  FSections.append({name, sectionText});
  for (const auto& [n, text] : std::as_const(FSections))
    content += text.toUtf8();
  QSaveFile file(FDir->filePath(QStringLiteral("freetds.conf")));
  if (!file.open(QIODevice::WriteOnly) ||
      !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
      file.write(content) != content.size() || !file.commit()) {
    FSections.removeLast();
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}
