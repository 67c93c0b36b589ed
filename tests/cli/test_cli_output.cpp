// The output formats parsed back: JSON with QJsonDocument, CSV with a small reader, Prometheus
// line by line against the exposition grammar, Nagios by its status line and exit code.

#include "cli/uCliOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

namespace {

// A name with every character the formats must escape.
const QString kAwkward = QStringLiteral("Bad \"name\", with\\ 'quote' = | and\nline");

TCliDatabase Database(const QString& name, double used, std::int64_t vlfs, TVerdictLevel level) {
  TCliDatabase db;
  db.Name = name;
  db.State = QStringLiteral("ONLINE");
  db.Facts.Name = name;
  db.Facts.RecoveryModel = QStringLiteral("FULL");
  db.Facts.LogSizeMB = 64;
  db.Facts.LogUsedPercent = used;
  db.Facts.VlfCount = vlfs;
  db.Facts.LogBackupRead = true;
  db.Facts.Now = QDateTime(QDate(2026, 3, 2), QTime(12, 0));
  db.Facts.LastLogBackup = db.Facts.Now.addSecs(-600);
  db.Verdict.Level = level;
  if (level != TVerdictLevel::OK)
    db.Verdict.Reasons.push_back(
        {level, QStringLiteral("logspace"), QStringLiteral("Log %1 % full").arg(used), QString()});
  return db;
}

TCliServer Answering(const QString& server, QVector<TCliDatabase> databases) {
  TCliServer s;
  s.Target.Server = server;
  s.Target.Login = QStringLiteral("monitor");
  s.Read = true;
  s.Version = QStringLiteral("SQL Server 2022 - 16.0.1000");
  s.Databases = std::move(databases);
  return s;
}

TCliServer Unreachable(const QString& server, const QString& reason) {
  TCliServer s;
  s.Target.Server = server;
  s.Reason = reason;
  return s;
}

// A mixed run: a warning, a never-backed-up database, an awkward name, an unreachable server.
QVector<TCliServer> Fixture() {
  TCliDatabase never = Database(QStringLiteral("Payroll"), 10, 4, TVerdictLevel::OK);
  never.Facts.LastLogBackup = QDateTime();
  return {Answering(QStringLiteral("sql1,1433"),
                    {Database(QStringLiteral("Sales"), 78.5, 32, TVerdictLevel::Warning), never,
                     Database(kAwkward, 12, 4, TVerdictLevel::OK)}),
          Unreachable(QStringLiteral("sql2\\\"inst"), QStringLiteral("Login timeout, \"x\"\n"))};
}

QChar At(const QString& s, qsizetype i) {
  return i < s.size() ? s[i] : QChar();
}

// RFC 4180: fields separated by commas, quoted fields with "" for a quote, records by CR LF.
QList<QStringList> ReadCsv(const QString& text, bool* ok) {
  QList<QStringList> records;
  QStringList record;
  QString field;
  bool quoted = false, wasQuoted = false;
  *ok = true;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c == u'"' && At(text, i + 1) == u'"') {
        field += u'"';
        ++i;
      } else if (c == u'"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == u'"') {
      if (!field.isEmpty()) *ok = false; // a quote inside an unquoted field
      quoted = wasQuoted = true;
    } else if (c == u',') {
      record << field;
      field.clear();
      wasQuoted = false;
    } else if (c == u'\r' && At(text, i + 1) == u'\n') {
      record << field;
      records << record;
      record.clear();
      field.clear();
      wasQuoted = false;
      ++i;
    } else if (c == u'\n' || c == u'\r') {
      *ok = false; // a bare line break outside quotes
    } else {
      if (wasQuoted) *ok = false; // text after a closing quote
      field += c;
    }
  }
  if (quoted || !field.isEmpty() || !record.isEmpty()) *ok = false; // unterminated
  return records;
}

} // namespace

class TestCliOutput : public QObject {
  Q_OBJECT
private slots:
  void jsonParsesBackWithEveryServerAndItsOutcome() {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(FormatJson(Fixture(), {}), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonObject root = doc.object();
    QCOMPARE(root.value("status").toString(), QStringLiteral("UNKNOWN"));
    const QJsonArray servers = root.value("servers").toArray();
    QCOMPARE(servers.size(), 2);
    const QJsonObject first = servers[0].toObject();
    QCOMPARE(first.value("read").toBool(), true);
    QCOMPARE(first.value("status").toString(), QStringLiteral("WARNING"));
    const QJsonArray dbs = first.value("databases").toArray();
    QCOMPARE(dbs.size(), 3);
    QCOMPARE(dbs[0]["verdict"].toString(), QStringLiteral("WARNING"));
    QCOMPARE(dbs[0]["level"].toInt(), 1);
    QCOMPARE(dbs[0]["log_used_percent"].toDouble(), 78.5);
    QCOMPARE(dbs[0]["log_backup_age_seconds"].toInteger(), 600);
    QCOMPARE(dbs[0]["reasons"].toArray().at(0)["rule"].toString(), QStringLiteral("logspace"));
    QVERIFY(dbs[1]["log_backup_age_seconds"].isNull());
    QCOMPARE(dbs[2]["name"].toString(), kAwkward);
    const QJsonObject second = servers[1].toObject();
    QCOMPARE(second.value("read").toBool(), false);
    QCOMPARE(second.value("status").toString(), QStringLiteral("UNKNOWN"));
    QCOMPARE(second.value("server").toString(), QStringLiteral("sql2\\\"inst"));
    QCOMPARE(second.value("reason").toString(), QStringLiteral("Login timeout, \"x\"\n"));
    QVERIFY(!QString::fromUtf8(FormatJson(Fixture(), {})).contains(QStringLiteral("password")));
  }

  void csvParsesBackWithAwkwardNames() {
    bool ok = false;
    const QList<QStringList> rows = ReadCsv(FormatCsv(Fixture()), &ok);
    QVERIFY(ok);
    QCOMPARE(rows.size(), 1 + 3 + 1);
    for (const QStringList& r : rows)
      QCOMPARE(r.size(), rows[0].size());
    const qsizetype database = rows[0].indexOf(QStringLiteral("database")),
                    verdict = rows[0].indexOf(QStringLiteral("verdict")),
                    reasons = rows[0].indexOf(QStringLiteral("reasons"));
    QCOMPARE(rows[1][verdict], QStringLiteral("WARNING"));
    QCOMPARE(rows[3][database], kAwkward);
    QCOMPARE(rows[4][0], QStringLiteral("sql2\\\"inst"));
    QCOMPARE(rows[4][verdict], QStringLiteral("UNKNOWN"));
    QCOMPARE(rows[4][reasons], QStringLiteral("Login timeout, \"x\"\n"));
  }

  void prometheusFollowsTheExpositionGrammar() {
    const QString text = FormatPrometheus(Fixture());
    QVERIFY(text.endsWith(u'\n'));
    static const QRegularExpression help(
        QStringLiteral(R"re(^# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) .*$)re"));
    static const QRegularExpression type(
        QStringLiteral(R"re(^# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge|untyped)$)re"));
    static const QRegularExpression sample(QStringLiteral(
        R"re(^([a-zA-Z_][a-zA-Z0-9_]*)\{((?:[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\[\\"n])*",?)*)\} )re"
        R"re((NaN|[+-]Inf|-?[0-9]+(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?)$)re"));
    static const QRegularExpression label(
        QStringLiteral(R"re(([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\\n]|\\[\\"n])*)")re"));
    QSet<QString> typed, seen;
    QString current;
    QStringList awkwardLabels;
    const QStringList lines = text.chopped(1).split(u'\n');
    for (const QString& line : lines) {
      if (line.startsWith(QLatin1String("# HELP"))) {
        QVERIFY2(help.match(line).hasMatch(), qPrintable(line));
      } else if (line.startsWith(QLatin1String("# TYPE"))) {
        const auto m = type.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        QVERIFY2(!typed.contains(m.captured(1)), "one TYPE per metric");
        typed.insert(m.captured(1));
        current = m.captured(1);
      } else {
        const auto m = sample.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        QCOMPARE(m.captured(1), current); // a metric's samples follow its TYPE, together
        QVERIFY2(!seen.contains(line.section(u' ', 0, 0)), "name and labels unique");
        seen.insert(line.section(u' ', 0, 0));
        for (auto it = label.globalMatch(m.captured(2)); it.hasNext();) {
          const auto l = it.next();
          QVERIFY(l.captured(1) == u"server" || l.captured(1) == u"database");
          if (l.captured(1) == u"database" && l.captured(2).startsWith(QLatin1String("Bad")))
            awkwardLabels << l.captured(2);
        }
      }
    }
    QVERIFY(!awkwardLabels.isEmpty());
    QCOMPARE(awkwardLabels.first(),
             QStringLiteral(R"re(Bad \"name\", with\\ 'quote' = | and\nline)re"));
    QVERIFY(text.contains("velmora_server_up{server=\"sql2\\\\\\\"inst\"} 0\n"));
    QVERIFY(text.contains(
        "velmora_log_backup_age_seconds{server=\"sql1,1433\",database=\"Payroll\"} +Inf\n"));
    QVERIFY(text.contains(
        "velmora_log_size_bytes{server=\"sql1,1433\",database=\"Sales\"} 67108864\n"));
    QVERIFY(text.contains(
        "velmora_database_verdict_level{server=\"sql1,1433\",database=\"Sales\"} 1\n"));
  }

  void nagiosStatusAndExitCode_data() {
    QTest::addColumn<QVector<TCliServer>>("servers");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("prefix");
    const auto db = [](TVerdictLevel l) { return Database(QStringLiteral("D"), 10, 4, l); };
    QTest::newRow("ok") << QVector<TCliServer>{Answering("a", {db(TVerdictLevel::OK)})} << 0
                        << "VELMORA OK - ";
    QTest::newRow("warning") << QVector<TCliServer>{Answering(
                                    "a", {db(TVerdictLevel::OK), db(TVerdictLevel::Warning)})}
                             << 1 << "VELMORA WARNING - ";
    QTest::newRow("critical beats unknown")
        << QVector<TCliServer>{Unreachable("b", "down"),
                               Answering("a", {db(TVerdictLevel::Critical)})}
        << 2 << "VELMORA CRITICAL - ";
    QTest::newRow("unknown beats warning")
        << QVector<TCliServer>{Answering("a", {db(TVerdictLevel::Warning)}),
                               Unreachable("b", "down")}
        << 3 << "VELMORA UNKNOWN - ";
    QTest::newRow("no server") << QVector<TCliServer>{} << 3 << "VELMORA UNKNOWN - ";
  }
  void nagiosStatusAndExitCode() {
    QFETCH(QVector<TCliServer>, servers);
    QFETCH(int, exitCode);
    QFETCH(QString, prefix);
    const TNagiosResult r = FormatNagios(servers, {});
    QCOMPARE(r.ExitCode, exitCode);
    QVERIFY2(r.Text.startsWith(prefix), qPrintable(r.Text));
    QVERIFY(r.Text.endsWith(u'\n'));
  }

  void nagiosPerfdataIsWellFormed() {
    TVerdictThresholds t;
    t.LogUsedWarningPercent = 55;
    const TNagiosResult r = FormatNagios(Fixture(), t);
    const QString first = r.Text.section(u'\n', 0, 0);
    QCOMPARE(first.count(u'|'), 1);
    const QString perf = first.section(QStringLiteral(" | "), 1);
    // 'label'=value[UOM];warn;crit;min;max, labels quoted with '' for a quote and no '='.
    static const QRegularExpression item(
        QStringLiteral(R"('((?:[^'=]|'')+)'=(-?[0-9.]+)(%|s|MB|)?(;[-0-9.~:@]*){0,4}( |$))"));
    qsizetype at = 0;
    while (at < perf.size()) {
      const auto m = item.match(perf, at, QRegularExpression::NormalMatch,
                                QRegularExpression::AnchorAtOffsetMatchOption);
      QVERIFY2(m.hasMatch(), qPrintable(perf.mid(at, 80)));
      at = m.capturedEnd();
    }
    QVERIFY(perf.contains(QStringLiteral("'sql1,1433/Sales log used'=78.50%;55;90;0;100")));
    QVERIFY(perf.contains(QStringLiteral("with\\ ''quote'' _ / and line log used'")));
    QVERIFY(r.Text.contains(QStringLiteral("sql2\\\"inst: UNKNOWN: Login timeout")));
  }

  void levelsRankCriticalOverUnknownOverWarning() {
    QCOMPARE(WorseLevel(TCliLevel::Unknown, TCliLevel::Critical), TCliLevel::Critical);
    QCOMPARE(WorseLevel(TCliLevel::Warning, TCliLevel::Unknown), TCliLevel::Unknown);
    QCOMPARE(WorseLevel(TCliLevel::OK, TCliLevel::Warning), TCliLevel::Warning);
  }
};

QTEST_GUILESS_MAIN(TestCliOutput)
#include "test_cli_output.moc"
