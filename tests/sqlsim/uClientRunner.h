#pragma once
// Runs the real clients (FreeTDS tsql, unixODBC isql, Node tedious) against a simulator.

#include <QJsonArray>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct TClientRun {
  int ExitCode = -1;
  bool Finished = false;
  QString Stdout;
  QString Stderr;
};

// tsql -H 127.0.0.1 -p PORT -U user -P password, with the batches fed on stdin ("go" after each).
TClientRun RunTsql(quint16 port, const QString& user, const QString& password,
                   const QStringList& batches, const QString& tdsVersion = QStringLiteral("7.4"),
                   const QString& database = QString());

// isql with a DSN-less connection string through the FreeTDS ODBC driver; one batch per line.
// direct: SQLExecDirect (a plain batch); otherwise SQLPrepare and SQLExecute (RPC requests).
TClientRun RunIsql(quint16 port, const QString& user, const QString& password,
                   const QStringList& batches, const QString& database = QString(),
                   bool direct = true);

// tsql -S section with FREETDSCONF pointing at a file that holds `freetdsConf`.
TClientRun RunTsqlWithConf(const QString& freetdsConf, const QString& section, const QString& user,
                           const QString& password, const QStringList& batches);

// isql with `connectionString` and FREETDSCONF pointing at a file that holds `freetdsConf`.
TClientRun RunIsqlWithConf(const QString& freetdsConf, const QString& connectionString,
                           const QStringList& batches);

// The Node script tools/sqlsim/clients/run-batches.js; its JSON report, or an empty object.
QJsonObject RunTedious(quint16 port, const QString& user, const QString& password,
                       const QStringList& batches, const QJsonObject& options = {},
                       TClientRun* raw = nullptr);

// Whether the Node client is installed (node_modules present); tests skip it otherwise.
bool TediousAvailable(QString* why);
