#pragma once
// The targets of velmora-cli and where their passwords come from. Pure functions over text and
// file facts, so every rule can be tested without a terminal or a server.

#include "cli/uCliSurvey.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// The servers file: one target per line in the recent list's syntax,
//   server[:database[:login[:provider]]]
// Fields left out take the command line's values (-d, -U or -E); a login field that is present
// but empty means integrated authentication, as in the recent list. Blank lines and lines
// starting with # are skipped. Errors name the line.
QVector<TCliTarget> ParseServersFile(const QString& text, const TCliTarget& defaults,
                                     QStringList& errors);

// A credentials file holds lines server:login:password (like ~/.pgpass): * in the server or
// login field matches any, \: and \\ stand for : and \, # starts a comment line. The first
// matching line wins. Servers and logins compare case-insensitively.
struct TCredentialLine {
  QString Server, Login, Password;
};
QVector<TCredentialLine> ParseCredentials(const QString& text, QStringList& errors);
std::optional<QString> FindPassword(const QVector<TCredentialLine>& lines, const QString& server,
                                    const QString& login);

// Why a credentials file may not be used, or empty when it may: it must be a regular file of
// the user running the program that nobody else can read or write (mode 0600 or 0400).
QString CredentialsFileProblem(const QString& path);
