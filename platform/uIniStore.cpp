#include "platform/uIniStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <limits>

namespace {
const QByteArray kBom("\xEF\xBB\xBF");

// Larger files are not ours: they are neither loaded nor overwritten.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

bool SameName(const QString& a, const QString& b) {
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where no write bit is set, the file is meant to stay as it is, even for a user (root) whom
// the system would let write.
bool IsWriteProtected(const QFileInfo& info) {
  // The "user" flag reflects this process's access, which root always has: not part of it.
  constexpr auto anyWrite =
      QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
  return !info.isWritable() || !(info.permissions() & anyWrite);
}

// A key or section name must read back as itself.
bool IsValidKey(const QString& key) {
  if (key.isEmpty() || key != key.trimmed()) return false;
  const QChar first = key.front();
  if (first == u'[' || first == u';' || first == u'#' || first == QChar(0xFEFF)) return false;
  return !key.contains(u'=') && !key.contains(u'\n') && !key.contains(u'\r');
}

bool IsValidSectionName(const QString& name) {
  return !name.isEmpty() && name == name.trimmed() && !name.contains(u']') &&
         !name.contains(u'\n') && !name.contains(u'\r');
}

// A line break in a value would start a new line in the file; the INI format has no escape.
QString StorableValue(QString value) {
  value.replace(u'\r', u' ');
  value.replace(u'\n', u' ');
  return value;
}
} // namespace

std::optional<int> ParseDecimalInteger(const QString& text) {
  const QString s = text.trimmed();
  qsizetype i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
  }
  if (i == s.size()) return std::nullopt;
  const qint64 limit =
      negative ? -qint64(std::numeric_limits<int>::min()) : qint64(std::numeric_limits<int>::max());
  qint64 value = 0;
  for (; i < s.size(); ++i) {
    const char16_t c = s[i].unicode();
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
    if (value > limit) return std::nullopt;
  }
  return int(negative ? -value : value);
}

TIniStore::TIniStore() {
  LoadFromBytes(QByteArray());
}

TIniStore::TIniStore(const QString& fileName) {
  SetFileName(fileName);
}

TIniStore::~TIniStore() {
  if (m_modified) Flush();
}

void TIniStore::SetFileName(const QString& fileName) {
  m_fileName = fileName;
  m_readOnly = false;
  m_modified = false;
  LoadFromBytes(QByteArray());
  if (fileName.isEmpty()) return;
  const QFileInfo info(fileName);
  if (!info.exists()) return;
  // Something we cannot read whole (a device, a folder, no read access, far too big) must not
  // be replaced by a file that holds only this run's values.
  QFile file(fileName);
  if (!info.isFile() || info.size() > kMaxFileSize || !file.open(QIODevice::ReadOnly)) {
    m_readOnly = true;
    return;
  }
  LoadFromBytes(file.read(kMaxFileSize + 1));
  m_readOnly = IsWriteProtected(info) || file.error() != QFileDevice::NoError;
}

void TIniStore::LoadFromBytes(const QByteArray& data) {
  m_sections.clear();
  m_sections.append(TSection{}); // the part before the first header
#ifdef Q_OS_WIN
  m_eol = "\r\n";
#else
  m_eol = "\n";
#endif
  m_bom = data.startsWith(kBom);
  qsizetype pos = m_bom ? kBom.size() : 0;
  bool eolSeen = false;
  while (pos < data.size()) {
    const qsizetype nl = data.indexOf('\n', pos);
    const qsizetype end = nl < 0 ? data.size() : nl + 1;
    const QByteArray raw = data.mid(pos, end - pos);
    pos = end;

    QByteArray content = raw;
    if (content.endsWith('\n')) content.chop(1);
    const bool crlf = content.endsWith('\r');
    if (crlf) content.chop(1);
    if (nl >= 0 && !eolSeen) {
      eolSeen = true;
      m_eol = crlf ? "\r\n" : "\n";
    }

    const QByteArray trimmed = content.trimmed();
    if (trimmed.startsWith('[')) {
      TSection section;
      section.header = raw;
      const qsizetype close = trimmed.indexOf(']');
      if (close > 0) section.name = QString::fromUtf8(trimmed.mid(1, close - 1)).trimmed();
      // A header without its "]", or "[]", starts a section nobody can address: the lines
      // under it are kept but never read, so they cannot pass for the previous section's.
      section.addressable = !section.name.isEmpty();
      m_sections.append(std::move(section));
      continue;
    }
    TLine line;
    line.raw = raw;
    if (!trimmed.isEmpty() && !trimmed.startsWith(';') && !trimmed.startsWith('#')) {
      const qsizetype eq = content.indexOf('=');
      if (eq >= 0) {
        line.key = QString::fromUtf8(content.left(eq)).trimmed();
        line.value = QString::fromUtf8(content.mid(eq + 1));
        line.isEntry = !line.key.isEmpty();
      }
    }
    m_sections.last().lines.append(std::move(line));
  }
}

QByteArray TIniStore::SaveToBytes() const {
  QByteArray out;
  if (m_bom) out += kBom;
  for (const TSection& section : m_sections) {
    out += section.header;
    for (const TLine& line : section.lines)
      out += line.raw;
  }
  return out;
}

void TIniStore::SplitPath(const QString& path, QString& section, QString& key) {
  const qsizetype slash = path.lastIndexOf(u'\\');
  if (slash < 0) {
    section = DefaultSection();
    key = path.trimmed();
    return;
  }
  key = path.mid(slash + 1).trimmed();
  section = path.left(slash);
  while (section.startsWith(u'\\'))
    section.remove(0, 1);
  section = section.trimmed();
  if (section.isEmpty()) section = DefaultSection();
}

bool TIniStore::SectionMatches(qsizetype index, const QString& section) const {
  if (section.isEmpty()) return index == 0;
  return m_sections[index].addressable && SameName(m_sections[index].name, section);
}

bool TIniStore::FindEntry(const QString& section, const QString& key, qsizetype& s,
                          qsizetype& l) const {
  for (s = 0; s < m_sections.size(); ++s) {
    const TSection& sec = m_sections[s];
    if (!SectionMatches(s, section)) continue;
    for (l = 0; l < sec.lines.size(); ++l)
      if (sec.lines[l].isEntry && SameName(sec.lines[l].key, key)) return true;
  }
  return false;
}

std::optional<QString> TIniStore::Value(const QString& section, const QString& key) const {
  qsizetype s = 0, l = 0;
  if (!FindEntry(section, key, s, l)) return std::nullopt;
  return m_sections[s].lines[l].value;
}

QByteArray TIniStore::EntryLine(const QString& key, const QString& value) const {
  return key.toUtf8() + '=' + value.toUtf8();
}

void TIniStore::EnsureLastLineEnded() {
  TSection& last = m_sections.last();
  QByteArray& raw = last.lines.isEmpty() ? last.header : last.lines.last().raw;
  if (raw.isEmpty() || raw.endsWith('\n')) return;
  raw += raw.endsWith('\r') ? QByteArray("\n") : m_eol;
}

void TIniStore::SetValue(const QString& section, const QString& key, const QString& value) {
  if (m_readOnly) return;
  const QString stored = StorableValue(value);

  qsizetype s = 0, l = 0;
  if (FindEntry(section, key, s, l)) {
    TLine& line = m_sections[s].lines[l];
    if (line.value == stored) return;
    // Keep the key and the line end exactly as they were in the file.
    const qsizetype eq = line.raw.indexOf('=');
    QByteArray ending;
    if (line.raw.endsWith("\r\n"))
      ending = "\r\n";
    else if (line.raw.endsWith('\n'))
      ending = "\n";
    else if (line.raw.endsWith('\r'))
      ending = "\r";
    line.raw = line.raw.left(eq + 1) + stored.toUtf8() + ending;
    line.value = stored;
    m_modified = true;
    return;
  }

  // A new key or section must read back as itself.
  if (!IsValidKey(key)) return;
  TLine line;
  line.isEntry = true;
  line.key = key;
  line.value = stored;
  line.raw = EntryLine(key, stored) + m_eol;

  for (s = 0; s < m_sections.size(); ++s) {
    TSection& sec = m_sections[s];
    if (!SectionMatches(s, section)) continue;
    // After the section's last entry, so that comments and blank lines before the next
    // header stay where they are.
    qsizetype at = 0;
    for (qsizetype i = 0; i < sec.lines.size(); ++i)
      if (sec.lines[i].isEntry) at = i + 1;
    QByteArray& before = at > 0 ? sec.lines[at - 1].raw : sec.header;
    if (!before.isEmpty() && !before.endsWith('\n'))
      before += before.endsWith('\r') ? QByteArray("\n") : m_eol;
    sec.lines.insert(at, std::move(line));
    m_modified = true;
    return;
  }

  if (!IsValidSectionName(section)) return;
  EnsureLastLineEnded();
  const bool empty = SaveToBytes().trimmed().isEmpty();
  TSection sec;
  sec.name = section;
  sec.header = (empty ? QByteArray() : m_eol) + '[' + section.toUtf8() + ']' + m_eol;
  sec.lines.append(std::move(line));
  m_sections.append(std::move(sec));
  m_modified = true;
}

void TIniStore::RemoveValue(const QString& section, const QString& key) {
  if (m_readOnly) return;
  qsizetype s = 0, l = 0;
  while (FindEntry(section, key, s, l)) {
    m_sections[s].lines.removeAt(l);
    m_modified = true;
  }
}

QStringList TIniStore::SectionNames() const {
  QStringList names;
  for (const TSection& sec : m_sections)
    if (sec.addressable && !sec.name.isEmpty() && !names.contains(sec.name, Qt::CaseInsensitive))
      names.append(sec.name);
  return names;
}

QStringList TIniStore::KeyNames(const QString& section) const {
  QStringList names;
  for (qsizetype s = 0; s < m_sections.size(); ++s) {
    const TSection& sec = m_sections[s];
    if (!SectionMatches(s, section)) continue;
    for (const TLine& line : sec.lines)
      if (line.isEntry && !names.contains(line.key, Qt::CaseInsensitive)) names.append(line.key);
  }
  return names;
}

bool TIniStore::ValueExists(const QString& path) const {
  QString section, key;
  SplitPath(path, section, key);
  return Value(section, key).has_value();
}

QString TIniStore::ReadString(const QString& path, const QString& defaultValue) const {
  QString section, key;
  SplitPath(path, section, key);
  return Value(section, key).value_or(defaultValue);
}

void TIniStore::WriteString(const QString& path, const QString& value) {
  QString section, key;
  SplitPath(path, section, key);
  SetValue(section, key, value);
}

bool TIniStore::ReadBoolean(const QString& path, bool defaultValue) const {
  const QString text = ReadString(path).trimmed().toUpper();
  if (text == u"TRUE" || text == u"YES" || text == u"Y") return true;
  if (text == u"FALSE" || text == u"NO" || text == u"N") return false;
  return defaultValue;
}

void TIniStore::WriteBoolean(const QString& path, bool value) {
  WriteString(path, value ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
}

void TIniStore::DeleteValue(const QString& path) {
  QString section, key;
  SplitPath(path, section, key);
  RemoveValue(section, key);
}

bool TIniStore::Flush() {
  m_lastError.clear();
  if (m_fileName.isEmpty() || m_readOnly) return false;
  if (!WriteFileAtomically(m_fileName, SaveToBytes(), &m_lastError))
    return false; // the values stay in memory and the next write tries again
  m_modified = false;
  return true;
}

bool WriteFileAtomically(const QString& fileName, const QByteArray& data, QString* error) {
  const auto fail = [error](const QString& reason) {
    if (error) *error = reason;
    return false;
  };
  if (fileName.isEmpty()) return fail(QStringLiteral("No file name"));
  // QFileInfo follows symbolic links. Renaming a temporary file over a device or a pipe would
  // replace it (as root even /dev/full), so only regular files are written.
  const QFileInfo info(fileName);
  if (info.exists() && !info.isFile()) return fail(QStringLiteral("Not a regular file"));
  if (info.exists() && IsWriteProtected(info)) return fail(QStringLiteral("Permission denied"));
  if (!QDir().mkpath(info.absolutePath()))
    return fail(QStringLiteral("Cannot create the folder %1").arg(info.absolutePath()));
  QSaveFile file(fileName);
  // Unbuffered: QSaveFile notices a failed write() but commits even when the flush of its own
  // buffer fails (a disk that fills up at the end), which would replace the old file with a
  // truncated one.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return fail(file.errorString());
  // A short write (the disk filled up half way) sets no error; writing the rest then fails
  // at once and says why.
  for (qsizetype written = 0; written < data.size();) {
    const qint64 n = file.write(data.constData() + written, data.size() - written);
    if (n <= 0 || file.error() != QFileDevice::NoError) {
      const QString reason = file.errorString();
      file.cancelWriting();
      return fail(reason);
    }
    written += n;
  }
  if (!file.commit()) return fail(file.errorString());
  return true;
}
