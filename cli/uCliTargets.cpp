#include "cli/uCliTargets.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Tr(const char* text) {
  return QCoreApplication::translate("TCliTargets", text);
}

// Splits at colons not escaped by a backslash; \: and \\ become : and \.
QStringList SplitEscaped(const QString& line) {
  QStringList fields(1);
  for (qsizetype i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (c == u'\\' && i + 1 < line.size()) {
      fields.last() += line[++i];
    } else if (c == u':') {
      fields.append(QString());
    } else {
      fields.last() += c;
    }
  }
  return fields;
}

} // namespace

QVector<TCliTarget> ParseServersFile(const QString& text, const TCliTarget& defaults,
                                     QStringList& errors) {
  QVector<TCliTarget> targets;
  const QStringList lines = text.split(u'\n');
  for (qsizetype n = 0; n < lines.size(); ++n) {
    QString line = lines[n];
    if (line.endsWith(u'\r')) line.chop(1);
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u'#')) continue;
    const QStringList fields = trimmed.split(u':');
    TCliTarget t = defaults;
    t.Password.clear();
    t.Line = int(n + 1);
    t.Server = fields[0].trimmed();
    if (t.Server.isEmpty()) {
      errors << Tr("line %1: no server before the first colon").arg(n + 1);
      continue;
    }
    if (fields.size() > 4) {
      errors << Tr("line %1: more than four fields (server:database:login:provider)").arg(n + 1);
      continue;
    }
    if (fields.size() > 1) t.Database = fields[1].trimmed();
    if (fields.size() > 2) t.Login = fields[2].trimmed();
    if (fields.size() > 3) {
      bool ok = false;
      const uint provider = fields[3].trimmed().toUInt(&ok);
      if (!ok || provider > 1) {
        errors << Tr("line %1: the provider must be 0 or 1").arg(n + 1);
        continue;
      }
      t.Provider = std::uint8_t(provider);
    }
    targets.push_back(t);
  }
  return targets;
}

QVector<TCredentialLine> ParseCredentials(const QString& text, QStringList& errors) {
  QVector<TCredentialLine> result;
  const QStringList lines = text.split(u'\n');
  for (qsizetype n = 0; n < lines.size(); ++n) {
    QString line = lines[n];
    if (line.endsWith(u'\r')) line.chop(1);
    if (line.trimmed().isEmpty() || line.trimmed().startsWith(u'#')) continue;
    const QStringList f = SplitEscaped(line);
    if (f.size() != 3) {
      // The line is not echoed: it may hold a password.
      errors << Tr("line %1: expected server:login:password").arg(n + 1);
      continue;
    }
    result.push_back({f[0].trimmed(), f[1].trimmed(), f[2]});
  }
  return result;
}

std::optional<QString> FindPassword(const QVector<TCredentialLine>& lines, const QString& server,
                                    const QString& login) {
  const auto matches = [](const QString& pattern, const QString& value) {
    return pattern == u"*" || pattern.compare(value, Qt::CaseInsensitive) == 0;
  };
  for (const TCredentialLine& l : lines)
    if (matches(l.Server, server) && matches(l.Login, login)) return l.Password;
  return std::nullopt;
}

QString CredentialsFileProblem(const QString& path) {
  struct stat st = {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0)
    return Tr("cannot read the credentials file %1").arg(path);
  if (!S_ISREG(st.st_mode)) return Tr("the credentials file %1 is not a regular file").arg(path);
  if (st.st_uid != ::geteuid())
    return Tr("the credentials file %1 belongs to another user").arg(path);
  if (st.st_mode & (S_IRWXG | S_IRWXO))
    return Tr("the credentials file %1 may be read or changed by others (mode %2); "
              "chmod 600 it")
        .arg(path)
        .arg(QString::number(st.st_mode & 0777, 8));
  return {};
}
