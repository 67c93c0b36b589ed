// The command line, the servers file, the credentials file and the order of password sources.

#include "cli/uCliOptions.h"
#include "cli/uCliTargets.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestCliOptions : public QObject {
  Q_OBJECT
private slots:
  void badCommandLines_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    const auto row = [](const char* name, QStringList args, int code) {
      args.prepend("velmora-cli");
      QTest::newRow(name) << args << code;
    };
    row("no target", {}, 2);
    row("no target, nagios", {"--format", "nagios"}, 3);
    row("no target, nagios with =", {"--format=nagios"}, 3);
    row("both targets", {"-S", "a", "--servers", "f"}, 2);
    row("password on the command line", {"-S", "a", "-P", "secret"}, 2);
    row("password on the command line, nagios", {"-S", "a", "-P", "x", "--format", "nagios"}, 3);
    row("-U and -E", {"-S", "a", "-U", "u", "-E"}, 2);
    row("unknown format", {"-S", "a", "--format", "xml"}, 2);
    row("jobs zero", {"-S", "a", "--jobs", "0"}, 2);
    row("jobs not a number", {"-S", "a", "--jobs", "many"}, 2);
    row("negative time-out", {"-S", "a", "--login-timeout", "-1"}, 2);
    row("details without database", {"-S", "a", "--details"}, 2);
    row("bad warning", {"-S", "a", "--warning", "used=lots", "--format", "nagios"}, 3);
    row("percent above 100", {"-S", "a", "--critical", "120"}, 2);
    row("unknown threshold", {"-S", "a", "--warning", "speed=3"}, 2);
    row("no critical open transaction", {"-S", "a", "--critical", "opentran=5"}, 2);
    row("stray argument", {"-S", "a", "extra"}, 2);
    row("option twice", {"-S", "a", "-S", "b"}, 2);
  }
  void badCommandLines() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    const TCliOptions o = ParseCliArguments(args);
    QVERIFY(!o.Error.isEmpty());
    QCOMPARE(UsageExitCode(o), exitCode);
  }

  void goodCommandLine() {
    const TCliOptions o = ParseCliArguments({"velmora-cli", "-S",
                                             "sql1\\prod",  "-U",
                                             "monitor",     "-d",
                                             "Sales",       "--jobs",
                                             "16",          "--login-timeout",
                                             "3",           "--query-timeout",
                                             "0",           "--format",
                                             "prometheus",  "--database",
                                             "Sales",       "--details",
                                             "--warning",   "used=60,vlf=150",
                                             "--critical",  "backup=90"});
    QVERIFY2(o.Error.isEmpty(), qPrintable(o.Error));
    QCOMPARE(o.Single.Server, QStringLiteral("sql1\\prod"));
    QCOMPARE(o.Single.Login, QStringLiteral("monitor"));
    QCOMPARE(o.Single.Database, QStringLiteral("Sales"));
    QCOMPARE(o.Jobs, 16);
    QCOMPARE(o.LoginTimeout, 3);
    QCOMPARE(o.QueryTimeout, 0);
    QCOMPARE(o.Format, TCliFormat::Prometheus);
    QVERIFY(o.Details);
    QVERIFY(!ParseCliArguments({"velmora-cli", "-S", "a"}).LoginTimeout); // from the settings
    QCOMPARE(ParseCliArguments({"velmora-cli", "-S", "a"}).Jobs, 8);
  }

  void thresholdOverrides() {
    TVerdictThresholds t;
    QString error;
    QVERIFY(ApplyThresholdOverride("80", false, t, error));
    QCOMPARE(t.LogUsedWarningPercent, 80);
    QVERIFY(ApplyThresholdOverride("used=95,vlf=2000,backup=600", true, t, error));
    QCOMPARE(t.LogUsedCriticalPercent, 95);
    QCOMPARE(t.VlfCriticalFrom, 2000);
    QCOMPARE(t.LogBackupCriticalMinutes, 600);
    const TVerdictThresholds before = t;
    QVERIFY(!ApplyThresholdOverride("vlf=10,used=x", false, t, error));
    QCOMPARE(t.VlfWarningAbove, before.VlfWarningAbove); // nothing applied from a bad text
  }

  void serversFile() {
    TCliTarget defaults;
    defaults.Login = QStringLiteral("monitor");
    defaults.Database = QStringLiteral("master");
    QStringList errors;
    const QVector<TCliTarget> t = ParseServersFile("# production\r\n"
                                                   "sql1\r\n"
                                                   "\n"
                                                   "  sql2\\inst:Sales:admin:1\n"
                                                   "127.0.0.1,1500::\n"
                                                   "sql4:Orders\n",
                                                   defaults, errors);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    QCOMPARE(t.size(), 4);
    QCOMPARE(t[0].Server, QStringLiteral("sql1"));
    QCOMPARE(t[0].Login, QStringLiteral("monitor")); // fields left out: the command line's
    QCOMPARE(t[0].Line, 2);
    QCOMPARE(t[1].Server, QStringLiteral("sql2\\inst"));
    QCOMPARE(t[1].Database, QStringLiteral("Sales"));
    QCOMPARE(t[1].Login, QStringLiteral("admin"));
    QCOMPARE(t[1].Provider, 1);
    QCOMPARE(t[2].Login, QString()); // an empty login field: integrated authentication
    QCOMPARE(t[2].Database, QString());
    QCOMPARE(t[3].Database, QStringLiteral("Orders"));
    QCOMPARE(t[3].Login, QStringLiteral("monitor"));

    errors.clear();
    ParseServersFile(":db\nsql:a:b:c:d\nsql:a:b:7\n", defaults, errors);
    QCOMPARE(errors.size(), 3);
    QVERIFY(errors[0].startsWith("line 1"));
  }

  void credentialsLines() {
    QStringList errors;
    const auto lines = ParseCredentials("# comment\n"
                                        "sql1:monitor:pa\\:ss\\\\word\n"
                                        "*:monitor:fallback\n"
                                        "*:*:any\n"
                                        "broken line with secret\n",
                                        errors);
    QCOMPARE(errors.size(), 1);
    QVERIFY(!errors[0].contains("secret")); // a bad line is never echoed
    QCOMPARE(FindPassword(lines, "SQL1", "Monitor"), QStringLiteral("pa:ss\\word"));
    QCOMPARE(FindPassword(lines, "sql2", "monitor"), QStringLiteral("fallback"));
    QCOMPARE(FindPassword(lines, "sql2", "other"), QStringLiteral("any"));
    QVERIFY(!FindPassword({}, "sql2", "other"));
  }

  void credentialsFileRefusedUnlessPrivate_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("0600") << 0600 << true;
    QTest::newRow("0400") << 0400 << true;
    QTest::newRow("0640 group reads") << 0640 << false;
    QTest::newRow("0604 others read") << 0604 << false;
    QTest::newRow("0620 group writes") << 0620 << false;
  }
  void credentialsFileRefusedUnlessPrivate() {
    QFETCH(int, mode);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    const QString path = dir.filePath("credentials");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("*:*:x\n");
    f.close();
    QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0);
    QCOMPARE(CredentialsFileProblem(path).isEmpty(), accepted);
    QVERIFY(!CredentialsFileProblem(dir.path()).isEmpty());           // a folder
    QVERIFY(!CredentialsFileProblem(dir.filePath("none")).isEmpty()); // missing
  }

  void passwordSourcesInOrder() {
    QVector<TCliTarget> targets(4);
    targets[0].Server = "sql1";
    targets[0].Login = "monitor";
    targets[1].Server = "sql2";
    targets[1].Login = "monitor";
    targets[2].Server = "sql3";
    targets[2].Login = "MONITOR";
    targets[3].Server = "sql4"; // integrated: no password asked

    TPasswordSources sources;
    sources.Credentials = {{"sql1", "monitor", "from-file"}};
    QStringList asked;
    sources.Prompt = [&asked](const QString& login) -> std::optional<QString> {
      asked << login;
      return QStringLiteral("typed");
    };
    QVector<TCliTarget> a = targets;
    ResolvePasswords(a, sources);
    QCOMPARE(a[0].Password, QStringLiteral("from-file"));
    QCOMPARE(a[1].Password, QStringLiteral("typed"));
    QCOMPARE(a[2].Password, QStringLiteral("typed"));
    QCOMPARE(asked, QStringList{"monitor"}); // once per login
    QCOMPARE(a[3].Password, QString());
    QVERIFY(a[3].Problem.isEmpty());

    sources.Environment = QStringLiteral("from-env");
    QVector<TCliTarget> b = targets;
    ResolvePasswords(b, sources);
    QCOMPARE(b[0].Password, QStringLiteral("from-file"));
    QCOMPARE(b[1].Password, QStringLiteral("from-env"));

    TPasswordSources none; // no file, no variable, no terminal
    QVector<TCliTarget> c = targets;
    ResolvePasswords(c, none);
    QVERIFY(c[0].Problem.contains("no password"));
    QVERIFY(c[3].Problem.isEmpty());
  }
};

QTEST_GUILESS_MAIN(TestCliOptions)
#include "test_cli_options.moc"
