// velmora-cli as a program against simulators on loopback: answering, refusing and silent
// servers in one run, the exit codes, and where the password comes from.

#include "uSqlSimProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// Built as JSON values: a name with a quote, a backslash, a comma and a line break.
QString Scenario() {
  const QJsonObject sales{{"name", "Sales"},
                          {"recovery", "FULL"},
                          {"logUsedPercent", 95},
                          {"logBackups", QJsonArray{"now-10m"}},
                          {"openTransaction", QJsonObject{{"spid", 57}, {"startTime", "now-2h"}}}};
  const QJsonObject root{
      {"server", QJsonObject{{"version", "16.0.1000.6"}}},
      {"logins", QJsonArray{QJsonObject{{"name", "monitor"}, {"password", "s3cret"}}}},
      {"databases", QJsonArray{QJsonObject{{"name", "master"}}, sales,
                               QJsonObject{{"name", "Odd \"name\", with\\ comma\nand line"}}}}};
  return QString::fromUtf8(QJsonDocument(root).toJson());
}

struct TRun {
  int ExitCode = -1;
  QByteArray Out, Err;
};

TRun RunCli(const QStringList& args, const QProcessEnvironment& extra = {}) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("VELMORA_PASSWORD"));
  env.remove(QStringLiteral("VELMORA_CREDENTIALS"));
  for (const QString& k : extra.keys())
    env.insert(k, extra.value(k));
  p.setProcessEnvironment(env);
  p.setStandardInputFile(QProcess::nullDevice()); // no terminal: never a prompt
  p.start(qEnvironmentVariable("VELMORA_CLI"),
          QStringList{QStringLiteral("--settings"), QStringLiteral("/nonexistent/settings.ini")} +
              args);
  if (!p.waitForFinished(60000)) return {};
  return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

QProcessEnvironment Password(const QString& value) {
  QProcessEnvironment e;
  e.insert(QStringLiteral("VELMORA_PASSWORD"), value);
  return e;
}

} // namespace

class TestCliServers : public QObject {
  Q_OBJECT
private:
  TSqlSimProcess m_sim;
  QTcpServer m_silent; // listens, never answers: the kernel completes the handshake
  quint16 m_refusing = 0;
  QTemporaryDir m_dir;

private slots:
  void initTestCase() {
    QVERIFY(qEnvironmentVariableIsSet("VELMORA_CLI"));
    QVERIFY2(m_sim.Start(Scenario()), qPrintable(m_sim.ErrorString()));
    QVERIFY(m_silent.listen(QHostAddress::LocalHost));
    m_silent.pauseAccepting();
    QTcpServer closed; // a port nobody listens on once it is closed
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    m_refusing = closed.serverPort();
    closed.close();
  }

  void mixOfAnsweringRefusingAndSilentServers() {
    const QString list = m_dir.filePath("servers");
    QFile f(list);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("# three servers\n%1\n127.0.0.1,%2\n127.0.0.1,%3\n%1::\n")
                .arg(m_sim.ServerName())
                .arg(m_refusing)
                .arg(m_silent.serverPort())
                .toUtf8());
    f.close();
    const TRun r = RunCli({"--servers", list, "-U", "monitor", "--login-timeout", "2", "--jobs",
                           "4", "--format", "json"},
                          Password("s3cret"));
    QCOMPARE(r.ExitCode, 1); // some servers could not be read
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.Out, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonArray servers = doc.object().value("servers").toArray();
    QCOMPARE(servers.size(), 4);

    const QJsonObject answering = servers[0].toObject();
    QVERIFY(answering["read"].toBool());
    QCOMPARE(answering["status"].toString(), QStringLiteral("CRITICAL"));
    const QJsonArray dbs = answering["databases"].toArray();
    QCOMPARE(dbs.size(), 3);
    QJsonObject sales;
    for (const QJsonValue& d : dbs)
      if (d["name"] == "Sales") sales = d.toObject();
    QCOMPARE(sales["verdict"].toString(), QStringLiteral("CRITICAL"));
    QCOMPARE(sales["recovery_model"].toString(), QStringLiteral("FULL"));
    QVERIFY(sales["vlf_count"].toInt() > 0);
    QVERIFY(qAbs(sales["log_backup_age_seconds"].toInt() - 600) < 120);
    QVERIFY(!answering["databases"].toArray().isEmpty());

    const QJsonObject refusing = servers[1].toObject();
    QVERIFY(!refusing["read"].toBool());
    QCOMPARE(refusing["status"].toString(), QStringLiteral("UNKNOWN"));
    QVERIFY(!refusing["reason"].toString().isEmpty());

    const QJsonObject silent = servers[2].toObject();
    QVERIFY(!silent["read"].toBool());
    QVERIFY2(silent["seconds"].toDouble() < 30, "a silent server costs its time-out only");

    // The empty login field of the last line means integrated authentication, which the
    // simulator does not offer: that server alone is UNKNOWN.
    QVERIFY(!servers.at(3).toObject()["read"].toBool());
    QVERIFY(!r.Out.contains("s3cret"));
  }

  void exitCodes_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("start");
    const QString sim = m_sim.ServerName();
    QTest::newRow("nagios critical")
        << QStringList{"-S", sim, "-U", "monitor", "--format", "nagios"} << "s3cret" << 2
        << QByteArray("VELMORA CRITICAL - ");
    QTest::newRow("nagios critical raised above the database")
        << QStringList{"-S",         sim,
                       "-U",         "monitor",
                       "--format",   "nagios",
                       "--database", "Sales",
                       "--critical", "used=99,backup=100000",
                       "--warning",  "used=98,backup=99999"}
        << "s3cret" << 0 << QByteArray("VELMORA OK - ");
    QTest::newRow("nagios warning by override")
        << QStringList{"-S",         sim,     "-U",         "monitor", "--format",  "nagios",
                       "--database", "Sales", "--critical", "used=99", "--warning", "used=90"}
        << "s3cret" << 1 << QByteArray("VELMORA WARNING - ");
    QTest::newRow("nagios wrong password")
        << QStringList{"-S", sim, "-U", "monitor", "--format", "nagios"} << "wrong" << 3
        << QByteArray("VELMORA UNKNOWN - ");
    QTest::newRow("nagios no password anywhere")
        << QStringList{"-S", sim, "-U", "monitor", "--format", "nagios"} << QString() << 3
        << QByteArray("VELMORA UNKNOWN - ");
    QTest::newRow("nagios unknown database")
        << QStringList{"-S", sim, "-U", "monitor", "--format", "nagios", "--database", "Nope"}
        << "s3cret" << 3 << QByteArray("VELMORA UNKNOWN - ");
    QTest::newRow("nagios bad command line")
        << QStringList{"--format", "nagios", "--jobs", "0", "-S", sim} << "s3cret" << 3
        << QByteArray();
    QTest::newRow("table read") << QStringList{"-S", sim, "-U", "monitor"} << "s3cret" << 0
                                << QByteArray("SERVER ");
    QTest::newRow("csv unreadable server")
        << QStringList{"-S",       QStringLiteral("127.0.0.1,%1").arg(m_refusing),
                       "-U",       "monitor",
                       "--format", "csv"}
        << "s3cret" << 1 << QByteArray("server,database,");
    QTest::newRow("bad command line")
        << QStringList{"-S", sim, "--format", "xml"} << "s3cret" << 2 << QByteArray();
  }
  void exitCodes() {
    QFETCH(QStringList, args);
    QFETCH(QString, password);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, start);
    const TRun r = RunCli(args, password.isNull() ? QProcessEnvironment() : Password(password));
    QVERIFY2(r.ExitCode == exitCode, r.Out + r.Err);
    QVERIFY2(r.Out.startsWith(start), r.Out);
  }

  void credentialsFile() {
    const QString path = m_dir.filePath("credentials");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("%1:monitor:s3cret\n").arg(m_sim.ServerName()).toUtf8());
    f.close();
    const QStringList args{"-S", m_sim.ServerName(), "-U",    "monitor", "--credentials",
                           path, "--format",         "nagios"};

    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
    TRun r = RunCli(args);
    QCOMPARE(r.ExitCode, 3); // refused: others may read it
    QVERIFY2(r.Err.contains("may be read or changed by others"), r.Err);

    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0600) == 0);
    r = RunCli(args, Password("wrong")); // the file's line wins over the variable
    QVERIFY2(r.ExitCode == 2, r.Out + r.Err);
  }

  void detailsOfOneDatabase() {
    const TRun r = RunCli({"-S", m_sim.ServerName(), "-U", "monitor", "--database", "Sales",
                           "--details", "--format", "json"},
                          Password("s3cret"));
    QCOMPARE(r.ExitCode, 0);
    const QJsonObject server =
        QJsonDocument::fromJson(r.Out).object()["servers"].toArray().at(0).toObject();
    const QJsonArray dbs = server["databases"].toArray();
    QCOMPARE(dbs.size(), 1);
    const QJsonObject details = dbs[0]["details"].toObject();
    QVERIFY(details["log_files"]["ok"].toBool());
    QCOMPARE(details["log_files"]["files"].toArray().size(), 1);
    QVERIFY(details["vlfs"]["count"].toInt() > 0);
    const QString lines =
        details["open_transactions"]["lines"].toVariant().toStringList().join('\n');
    QVERIFY2(lines.contains("SPID") && lines.contains("57"), qPrintable(lines));
    bool opentranReason = false;
    for (const QJsonValue& reason : dbs[0]["reasons"].toArray())
      opentranReason |= reason["rule"].toString().contains("tran");
    QVERIFY2(opentranReason, r.Out); // the open transaction reaches the verdict
  }
};

QTEST_GUILESS_MAIN(TestCliServers)
#include "test_cli_servers.moc"
