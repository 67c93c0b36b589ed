#pragma once
// An INI-file settings store. No GUI.
//
// The file is kept as its lines: lines the store does not change are written back byte for
// byte (comments, unknown sections and keys, malformed lines, the BOM, the line ends), so a
// file edited by hand or by a newer version survives. Values are verbatim: no escaping, no
// trimming. Sections and keys compare without regard to letter case.
//
// The file is written only by Flush() and by the destructor (when something changed), always
// through a temporary file that replaces the old one at the end, so a failed write leaves the
// old file as it was. The store itself reports nothing: Flush() returns false, LastError()
// says why, and the values stay in memory for the next write.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// Strict decimal integer: optional surrounding blanks and sign, digits, within int's range.
std::optional<int> ParseDecimalInteger(const QString& text);

class TIniStore {
public:
  TIniStore();
  explicit TIniStore(const QString& fileName);
  ~TIniStore();
  TIniStore(const TIniStore&) = delete;
  TIniStore& operator=(const TIniStore&) = delete;

  // Binds the store to a file and loads it at once; an absent or unreadable file gives an
  // empty store. A file without write permission is loaded and every later write ignored.
  void SetFileName(const QString& fileName);
  const QString& FileName() const { return m_fileName; }
  bool IsReadOnly() const { return m_readOnly; }
  bool IsModified() const { return m_modified; }

  static QString DefaultSection() { return QStringLiteral("Settings"); }

  // Key paths: "Key" lives in DefaultSection(); "Section\Key" names both (the last backslash
  // separates them).
  static void SplitPath(const QString& path, QString& section, QString& key);

  bool ValueExists(const QString& path) const;
  QString ReadString(const QString& path, const QString& defaultValue = QString()) const;
  void WriteString(const QString& path, const QString& value);
  // TRUE/YES/Y and FALSE/NO/N, any letter case; other texts give the default.
  bool ReadBoolean(const QString& path, bool defaultValue) const;
  void WriteBoolean(const QString& path, bool value);
  void DeleteValue(const QString& path);

  // The same by section and key. The empty section is the part of the file before the first
  // section header.
  std::optional<QString> Value(const QString& section, const QString& key) const;
  void SetValue(const QString& section, const QString& key, const QString& value);
  void RemoveValue(const QString& section, const QString& key);
  QStringList SectionNames() const;
  QStringList KeyNames(const QString& section) const;

  // Writes the whole file now (creating its folder when missing). False when nothing was
  // written: no file bound, read-only, or the write failed.
  bool Flush();
  // Why the last Flush() failed to write; empty after a successful one and when there was
  // nothing to write to (no file bound, a read-only file left alone on purpose).
  const QString& LastError() const { return m_lastError; }

  // The file's content; used by Flush() and by the tests.
  void LoadFromBytes(const QByteArray& data);
  QByteArray SaveToBytes() const;

private:
  struct TLine {
    QByteArray raw; // as in the file, line end included
    bool isEntry = false;
    QString key;
    QString value;
  };
  struct TSection {
    QByteArray header; // raw header line; empty for the part before the first header
    bool addressable = true;
    QString name;
    QList<TLine> lines;
  };

  bool SectionMatches(qsizetype index, const QString& section) const;
  bool FindEntry(const QString& section, const QString& key, qsizetype& s, qsizetype& l) const;
  QByteArray EntryLine(const QString& key, const QString& value) const;
  void EnsureLastLineEnded();

  QString m_fileName;
  QString m_lastError;
  QList<TSection> m_sections;
  QByteArray m_eol = "\n";
  bool m_bom = false;
  bool m_readOnly = false;
  bool m_modified = false;
};

// Writes data to fileName through a temporary file that replaces it only once all is written.
// Refuses targets that exist but are not regular files (devices, pipes, folders). Creates the
// folder when missing. False on any failure, with the reason in *error when given; the old
// file is then unchanged.
bool WriteFileAtomically(const QString& fileName, const QByteArray& data, QString* error = nullptr);
