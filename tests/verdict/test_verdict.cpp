// The verdict rules at their boundaries, the reuse-wait explanations, the VLF-per-growth rules
// by server version, and the thresholds read from the settings file.

#include "common/udmCommon.h"
#include "verdict/uVerdict.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

using TFactsEdit = std::function<void(TDatabaseFacts&)>;
Q_DECLARE_METATYPE(TFactsEdit)
Q_DECLARE_METATYPE(TVerdictLevel)

namespace {
constexpr qint64 MB = 1024 * 1024;
constexpr qint64 GB = 1024 * MB;
const QDateTime Now(QDate(2026, 3, 2), QTime(12, 0), Qt::UTC);

TVerdictLogFile LogFile(qint64 size, qint64 growth, bool percent = false, qint64 maxSize = -1) {
  return TVerdictLogFile{QStringLiteral("app_log"), size, maxSize, percent, growth};
}
} // namespace

class TestVerdict : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  // Each row starts from a database of which nothing is known, in FULL recovery unless the
  // row says otherwise, and sets the facts it is about.
  void rules_data() {
    QTest::addColumn<TFactsEdit>("edit");
    QTest::addColumn<TVerdictLevel>("level");
    QTest::addColumn<QString>("rule"); // of the first reason; empty for none
    QTest::addColumn<QString>("text"); // the first reason's text contains this

    const auto ok = TVerdictLevel::OK, warn = TVerdictLevel::Warning,
               crit = TVerdictLevel::Critical;
    auto used = [](double p) {
      return TFactsEdit([p](TDatabaseFacts& f) { f.LogUsedPercent = p; });
    };
    QTest::newRow("nothing known") << TFactsEdit([](TDatabaseFacts&) {}) << ok << ""
                                   << "";
    QTest::newRow("used 69.99") << used(69.99) << ok << ""
                                << "";
    QTest::newRow("used 70") << used(70) << warn << "logspace"
                             << "Log 70 % full (warning from 70 %)";
    QTest::newRow("used 89.99") << used(89.99) << warn << "logspace"
                                << "89.99 %";
    QTest::newRow("used 90") << used(90) << crit << "logspace"
                             << "(critical from 90 %)";
    QTest::newRow("tempdb counts") << TFactsEdit([](TDatabaseFacts& f) {
      f.Name = "tempdb";
      f.LogUsedPercent = 95.13;
    }) << crit << "logspace"
                                   << "95.13 %";

    auto vlfs = [](qint64 n) { return TFactsEdit([n](TDatabaseFacts& f) { f.VlfCount = n; }); };
    QTest::newRow("200 VLFs") << vlfs(200) << ok << ""
                              << "";
    QTest::newRow("201 VLFs") << vlfs(201) << warn << "vlfcount"
                              << "201 VLFs (warning above 200)";
    QTest::newRow("999 VLFs") << vlfs(999) << warn << "vlfcount"
                              << "999 VLFs";
    QTest::newRow("1,000 VLFs") << vlfs(1000) << crit << "vlfcount"
                                << "1,000 VLFs (critical from 1,000)";

    auto backup = [](const QString& recovery, qint64 ageSeconds, bool haveNow = true) {
      return TFactsEdit([=](TDatabaseFacts& f) {
        f.RecoveryModel = recovery;
        f.LogBackupRead = true;
        if (ageSeconds >= 0) f.LastLogBackup = Now.addSecs(-ageSeconds);
        if (!haveNow) f.Now = QDateTime();
      });
    };
    QTest::newRow("FULL, never") << backup("FULL", -1) << crit << "logbackup"
                                 << "never";
    QTest::newRow("BULK_LOGGED, never") << backup("BULK_LOGGED", -1) << crit << "logbackup"
                                        << "never";
    QTest::newRow("SIMPLE, never") << backup("SIMPLE", -1) << ok << ""
                                   << "";
    QTest::newRow("model, FULL, never") << TFactsEdit([&](TDatabaseFacts& f) {
      backup("FULL", -1)(f);
      f.Name = "model";
    }) << ok << ""
                                        << "";
    QTest::newRow("backups not read")
        << TFactsEdit([](TDatabaseFacts& f) { f.RecoveryModel = "FULL"; }) << ok << ""
        << "";
    QTest::newRow("backup 1 h ago") << backup("FULL", 3600) << ok << ""
                                    << "";
    QTest::newRow("backup 1 h 1 s ago") << backup("FULL", 3601) << warn << "logbackup"
                                        << "1 h ago";
    QTest::newRow("backup 24 h - 1 s ago") << backup("FULL", 86399) << warn << "logbackup"
                                           << "23 h ago";
    QTest::newRow("backup 24 h ago") << backup("FULL", 86400) << crit << "logbackup"
                                     << "1 d ago (critical from 1 d)";
    QTest::newRow("backup age without the server's clock")
        << backup("FULL", 99999, false) << ok << ""
        << "";

    auto files = [](QList<TVerdictLogFile> list) {
      return TFactsEdit([list](TDatabaseFacts& f) { f.LogFiles = list; });
    };
    QTest::newRow("10 % growth on a 1 GB log") << files({LogFile(GB, 10, true)}) << ok << ""
                                               << "";
    QTest::newRow("10 % growth on a log just over 1 GB")
        << files({LogFile(GB + 8192, 10, true)}) << warn << "growth"
        << "grows by 10 %";
    QTest::newRow("64 MB growth on a 2 GB log") << files({LogFile(2 * GB, 64 * MB)}) << ok << ""
                                                << "";
    QTest::newRow("growth just under 64 MB on a 2 GB log")
        << files({LogFile(2 * GB, 64 * MB - 8192)}) << warn << "growth"
        << "1 VLF per growth";
    QTest::newRow("no growth on a 2 GB log") << files({LogFile(2 * GB, 0)}) << ok << ""
                                             << "";
    QTest::newRow("two small files add up over 1 GB")
        << files({LogFile(GB, 64 * MB), LogFile(GB, 10, true)}) << warn << "growth"
        << "on a 2 GB log";

    QTest::newRow("90 % of the maximum size")
        << files({LogFile(900 * MB, 64 * MB, false, 1000 * MB)}) << warn << "maxsize"
        << "is at 900 MB of its maximum size of 1,000 MB";
    QTest::newRow("just under 90 % of the maximum size")
        << files({LogFile(900 * MB - 8192, 64 * MB, false, 1000 * MB)}) << ok << ""
        << "";
    QTest::newRow("maximum size reached")
        << files({LogFile(GB, 64 * MB, false, GB)}) << warn << "maxsize"
        << "has reached its maximum size of 1 GB";
    QTest::newRow("unlimited") << files({LogFile(GB, 64 * MB, false, -1)}) << ok << ""
                               << "";

    auto tran = [](qint64 ageSeconds, std::optional<int> spid) {
      return TFactsEdit([=](TDatabaseFacts& f) {
        f.OldestTransactionStart = Now.addSecs(-ageSeconds);
        f.OldestTransactionSpid = spid;
      });
    };
    QTest::newRow("transaction open 1 h") << tran(3600, 57) << ok << ""
                                          << "";
    QTest::newRow("transaction open 1 h 1 s") << tran(3601, 57) << warn << "opentran"
                                              << "Oldest open transaction (SPID 57) open for 1 h";
    QTest::newRow("transaction without a SPID") << tran(7200, std::nullopt) << warn << "opentran"
                                                << "Oldest open transaction open for 2 h";

    QTest::newRow("the critical reason comes first") << TFactsEdit([&](TDatabaseFacts& f) {
      f.VlfCount = 300;
      f.LogUsedPercent = 75;
      backup("FULL", -1)(f);
    }) << crit << "logbackup"
                                                     << "FULL recovery and never a log backup";
  }
  void rules() {
    QFETCH(TFactsEdit, edit);
    QFETCH(TVerdictLevel, level);
    QFETCH(QString, rule);
    QFETCH(QString, text);
    TDatabaseFacts facts;
    facts.Name = "app";
    facts.ServerMajor = 16;
    facts.Now = Now;
    edit(facts);
    const TVerdict v = JudgeDatabase(facts);
    QCOMPARE(v.Level, level);
    QCOMPARE(v.Reasons.isEmpty(), rule.isEmpty());
    if (rule.isEmpty()) return;
    QCOMPARE(v.Reasons.first().Rule, rule);
    QVERIFY2(v.Reasons.first().Text.contains(text), qPrintable(v.Reasons.first().Text));
    QVERIFY(!v.Reasons.first().Advice.isEmpty());
    for (qsizetype i = 1; i < v.Reasons.size(); ++i)
      QVERIFY(v.Reasons[i - 1].Level >= v.Reasons[i].Level);
  }

  // Payroll and Telemetry as a DBA finds them: every reason, with the advice in full.
  void reasonsInFull() {
    TDatabaseFacts payroll;
    payroll.Name = "Payroll";
    payroll.ServerMajor = 16;
    payroll.Now = Now;
    payroll.RecoveryModel = "FULL";
    payroll.LogBackupRead = true;
    payroll.LogUsedPercent = 69.99;
    payroll.ReuseWait = 2;
    payroll.ReuseWaitDesc = "LOG_BACKUP";
    const TVerdict p = JudgeDatabase(payroll);
    QCOMPARE(p.Level, TVerdictLevel::Critical);
    QCOMPARE(p.Reasons.size(), 1);

    TDatabaseFacts telemetry;
    telemetry.Name = "Telemetry";
    telemetry.ServerMajor = 16;
    telemetry.RecoveryModel = "FULL";
    telemetry.VlfCount = 1250;
    telemetry.LogFiles = {LogFile(qint64(9.6 * GB), MB)};
    const TVerdict t = JudgeDatabase(telemetry);
    QCOMPARE(t.Reasons.size(), 2);
    QCOMPARE(t.Reasons[0].Line(), "1,250 VLFs (critical from 1,000): in a quiet hour, back up the "
                                  "log, shrink it and grow it again in steps of 8 GB; set a fixed "
                                  "growth of 8 GB.");
    QCOMPARE(t.Reasons[1].Line(),
             "app_log grows by 1 MB on a 9.6 GB log, 1 VLF per growth: set a fixed growth of 8 GB");
    // Before 2014 the same growth adds four VLFs each time, and a full log names its wait.
    telemetry.ServerMajor = 10;
    telemetry.LogUsedPercent = 91;
    telemetry.ReuseWait = 2;
    const TVerdict old = JudgeDatabase(telemetry);
    QVERIFY(old.Reasons[2].Text.endsWith("4 VLFs per growth"));
    QCOMPARE(old.Reasons[0].Line(), "Log 91 % full (critical from 90 %): the log waits on "
                                    "LOG_BACKUP: back up the log");
  }

  void thresholdsFromSettings() {
    QTemporaryDir dir;
    const QString file = dir.filePath("settings.ini");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Verdict]\nVlfCriticalFrom=500\nLogUsedWarningPercent=abc\n");
    f.close();
    const TdmMain store(file, nullptr);
    const TVerdictThresholds t = store.VerdictThresholds();
    QCOMPARE(t.VlfCriticalFrom, 500);
    QCOMPARE(t.LogUsedWarningPercent, 70); // not a number: the default stays
    QCOMPARE(t.VlfWarningAbove, 200);
    TDatabaseFacts facts;
    facts.VlfCount = 500;
    QCOMPARE(JudgeDatabase(facts, t).Level, TVerdictLevel::Critical);
  }

  void vlfsPerGrowth_data() {
    QTest::addColumn<int>("major");
    QTest::addColumn<qint64>("log");
    QTest::addColumn<qint64>("growth");
    QTest::addColumn<int>("vlfs");
    QTest::newRow("2012, 64 MB") << 11 << 100 * GB << 64 * MB << 4;
    QTest::newRow("2012, just over 64 MB") << 11 << 100 * GB << 64 * MB + 8192 << 8;
    QTest::newRow("2012, 1 GB") << 11 << 100 * GB << GB << 8;
    QTest::newRow("2012, just over 1 GB") << 11 << 100 * GB << GB + 8192 << 16;
    QTest::newRow("2012 knows no 1/8 rule") << 11 << 100 * GB << MB << 4;
    QTest::newRow("2014, just under 1/8") << 12 << 8 * GB << GB - 8192 << 1;
    QTest::newRow("2014, exactly 1/8") << 12 << 8 * GB << GB << 8;
    QTest::newRow("2014, 64 MB over 1/8") << 12 << 256 * MB << 64 * MB << 4;
    QTest::newRow("2022, 64 MB") << 16 << 256 * MB << 64 * MB << 1;
    QTest::newRow("2022, just over 64 MB") << 16 << 256 * MB << 64 * MB + 8192 << 8;
    QTest::newRow("2022, under 1/8") << 16 << 100 * GB << 2 * GB << 1;
    QTest::newRow("unknown version: the newest rules") << 0 << 256 * MB << 64 * MB << 1;
  }
  void vlfsPerGrowth() {
    QFETCH(int, major);
    QFETCH(qint64, log);
    QFETCH(qint64, growth);
    QFETCH(int, vlfs);
    QCOMPARE(VlfsPerGrowth(major, log, growth), vlfs);
  }

  void advisedGrowth() {
    QCOMPARE(AdvisedGrowthBytes(16, 9 * GB), 8 * GB);
    QCOMPARE(AdvisedGrowthBytes(10, 2 * GB), GB);
    QCOMPARE(AdvisedGrowthBytes(16, 500 * MB), 64 * MB); // 1 VLF per growth from 2022
    QCOMPARE(AdvisedGrowthBytes(13, 500 * MB), 256 * MB);
  }

  // Every value the server may give has an explanation; the number decides, not the text.
  void reuseWaits_data() {
    QTest::addColumn<int>("number"); // -1: the text alone
    QTest::addColumn<QString>("desc");
    QTest::addColumn<int>("major");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("known");
    const QStringList names = {"NOTHING",
                               "CHECKPOINT",
                               "LOG_BACKUP",
                               "ACTIVE_BACKUP_OR_RESTORE",
                               "ACTIVE_TRANSACTION",
                               "DATABASE_MIRRORING",
                               "REPLICATION",
                               "DATABASE_SNAPSHOT_CREATION",
                               "LOG_SCAN",
                               "AVAILABILITY_REPLICA"};
    for (int i = 0; i < names.size(); ++i) {
      QTest::addRow("%d %s", i, qPrintable(names[i])) << i << names[i] << 16 << names[i] << true;
      QTest::addRow("%s by its text", qPrintable(names[i]))
          << -1 << names[i] << 16 << names[i] << true;
    }
    QTest::newRow("13 OLDEST_PAGE") << 13 << "OLDEST_PAGE" << 16 << "OLDEST_PAGE" << true;
    QTest::newRow("14 OTHER_TRANSIENT")
        << 14 << "OTHER_TRANSIENT" << 16 << "OTHER_TRANSIENT" << true;
    QTest::newRow("16 XTP_CHECKPOINT") << 16 << "XTP_CHECKPOINT" << 16 << "XTP_CHECKPOINT" << true;
    QTest::newRow("17, whatever its spelling")
        << 17 << "SLOG_SCANNING" << 16 << "SLOG_SCAN" << true;
    QTest::newRow("sLog wait by its other text")
        << -1 << "SLOG_SCANNING" << 16 << "SLOG_SCAN" << true;
    QTest::newRow("9 on 2008 R2 is transient")
        << 9 << "OTHER_TRANSIENT" << 10 << "OTHER_TRANSIENT" << true;
    QTest::newRow("an internal number") << 11 << "" << 16 << "11" << true;
    QTest::newRow("15, undocumented") << 15 << "" << 16 << "15" << false;
    QTest::newRow("a number from the future") << 42 << "NEW_WAIT" << 17 << "NEW_WAIT" << false;
    QTest::newRow("a text from the future") << -1 << "NEW_WAIT" << 17 << "NEW_WAIT" << false;
  }
  void reuseWaits() {
    QFETCH(int, number);
    QFETCH(QString, desc);
    QFETCH(int, major);
    QFETCH(QString, name);
    QFETCH(bool, known);
    const TReuseWaitExplanation e =
        ExplainReuseWait(number < 0 ? std::nullopt : std::optional<int>(number), desc, major);
    QCOMPARE(e.Name, name);
    QCOMPARE(e.Known, known);
    QVERIFY(!e.Explanation.isEmpty());
    QCOMPARE(e.NextStep.isEmpty(), name == "NOTHING");
    if (!known) QVERIFY(e.Explanation.contains(name));
  }

  void formats_data() {
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("age");
    QTest::newRow("negative") << qint64(-5) << "0 min";
    QTest::newRow("59 s") << qint64(59) << "0 min";
    QTest::newRow("35 min") << qint64(35 * 60 + 59) << "35 min";
    QTest::newRow("59 min") << qint64(3599) << "59 min";
    QTest::newRow("1 h") << qint64(3600) << "1 h";
    QTest::newRow("23 h") << qint64(86399) << "23 h";
    QTest::newRow("1 d") << qint64(86400) << "1 d";
    QTest::newRow("3 d") << qint64(3 * 86400 + 7200) << "3 d";
  }
  void formats() {
    QFETCH(qint64, seconds);
    QFETCH(QString, age);
    QCOMPARE(FormatAge(seconds), age);
  }

  void shortSizes() {
    QCOMPARE(FormatShortSize(8 * GB), "8 GB");
    QCOMPARE(FormatShortSize(qint64(9812.5 * MB)), "9.6 GB");
    QCOMPARE(FormatShortSize(64 * MB), "64 MB");
    QCOMPARE(FormatShortSize(512 * 1024), "512 KB");
    QCOMPARE(FormatShortSize(100), "100 bytes");
  }

  void openTranStart_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("start");
    QTest::newRow("afternoon") << "Jan 10 2011  4:17:01:240PM"
                               << QDateTime(QDate(2011, 1, 10), QTime(16, 17, 1, 240), Qt::UTC);
    QTest::newRow("midnight") << "Dec 31 2020 12:00:00:000AM"
                              << QDateTime(QDate(2020, 12, 31), QTime(0, 0), Qt::UTC);
    QTest::newRow("noon") << "Mar  2 2026 12:30:00:000PM"
                          << QDateTime(QDate(2026, 3, 2), QTime(12, 30), Qt::UTC);
    QTest::newRow("no such day") << "Feb 30 2011  4:17:01:240PM" << QDateTime();
    QTest::newRow("not a time") << "yesterday" << QDateTime();
  }
  void openTranStart() {
    QFETCH(QString, text);
    QFETCH(QDateTime, start);
    QCOMPARE(ParseOpenTranStartTime(text), start);
  }

  void openTranSpid() {
    QCOMPARE(ParseOpenTranSpid({"Oldest active transaction:", "    SPID (server process ID): 57",
                                "    UID (user ID) : -1"}),
             std::optional<int>(57));
    QCOMPARE(ParseOpenTranSpid({"No active open transactions."}), std::nullopt);
  }
};

QTEST_APPLESS_MAIN(TestVerdict)
#include "test_verdict.moc"
