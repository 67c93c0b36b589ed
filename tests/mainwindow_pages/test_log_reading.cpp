// How the details pages read server output: status flags, truncated figures, byte sizes,
// quoting, the DBCC OPENTRAN text and the per-file VLF statistics.

#include "common/uCommon.h"
#include "forms/uLogReading.h"
#include "platform/uMemTable.h"

#include <QLocale>
#include <QTest>
#include <cmath>
#include <limits>

class TestLogReading : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void statusText_data() {
    QTest::addColumn<qint64>("status");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << qint64(0) << "";
    QTest::newRow("only unknown bits") << qint64(8 | 16) << "";
    QTest::newRow("autoclose offline autoshrink")
        << qint64(0x1 | 0x200 | 0x400000) << "autoclose, offline, autoshrink";
    QTest::newRow("every known bit in order")
        << qint64(0x1 | 0x20 | 0x40 | 0x80 | 0x200 | 0x400 | 0x1000 | 0x8000 | 0x400000)
        << "autoclose, loading, pre-recovery, recovering, offline, read only, single user, "
           "emergency mode, autoshrink";
    QTest::newRow("emergency between single user and autoshrink")
        << qint64(0x1000 | 0x8000 | 0x400000) << "single user, emergency mode, autoshrink";
    QTest::newRow("sign bit and others ignored")
        << qint64(std::int32_t(0x80000000u) | 0x400) << "read only";
  }
  void statusText() {
    QFETCH(qint64, status);
    QFETCH(QString, text);
    QCOMPARE(DatabaseStatusText(std::int32_t(status)), text);
  }

  void truncation_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("expected");
    QTest::newRow("log size 0.99999") << 0.99999 << 4 << 0.9999;
    QTest::newRow("log size 12.5") << 12.5 << 4 << 12.5;
    QTest::newRow("used 69.999") << 69.999 << 2 << 69.99;
    QTest::newRow("used 70") << 70.0 << 2 << 70.0;
    QTest::newRow("a step stored a hair low") << 0.29 << 2 << 0.29;
    QTest::newRow("negative toward zero") << -1.23456 << 2 << -1.23;
    QTest::newRow("real from the server") << double(69.999f) << 2 << 69.99;
  }
  void truncation() {
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(double, expected);
    QCOMPARE(TruncateDecimals(value, decimals), expected);
  }

  void highlight_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("used");
    QTest::addColumn<bool>("highlighted");
    QTest::newRow("user at 70") << "Sales" << 70.0 << true;
    QTest::newRow("user at 69.99") << "Sales" << 69.99 << false;
    QTest::newRow("tempdb at 95") << "tempdb" << 95.0 << false;
    QTest::newRow("master") << "master" << 99.0 << false;
    QTest::newRow("model") << "model" << 99.0 << false;
    QTest::newRow("msdb") << "msdb" << 99.0 << false;
    QTest::newRow("TempDB is a user name") << "TempDB" << 95.0 << true;
  }
  void highlight() {
    QFETCH(QString, name);
    QFETCH(double, used);
    QFETCH(bool, highlighted);
    QCOMPARE(IsLogSpaceHighlighted(name, used), highlighted);
  }

  void byteSize_data() {
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "0 bytes";
    QTest::newRow("1023") << qint64(1023) << "1023 bytes";
    QTest::newRow("negative") << qint64(-8192) << "-8192 bytes";
    QTest::newRow("1 kB") << qint64(1024) << "1.000 kB";
    QTest::newRow("100 pages") << qint64(100 * 8192) << "800.000 kB";
    QTest::newRow("128 pages") << qint64(128 * 8192) << "1.000 MB";
    QTest::newRow("just below 1 MB") << qint64(1048575) << "1,023.999 kB";
    QTest::newRow("rounded to three decimals") << qint64(1536 + 1) << "1.501 kB";
    QTest::newRow("268435456 pages") << qint64(268435456) * 8192 << "2,048.000 GB";
    QTest::newRow("int64 max") << std::numeric_limits<qint64>::max() << "8,589,934,592.000 GB";
  }
  void byteSize() {
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(FormatByteSize(bytes), text);
  }

  void byteSizeFollowsLocale() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString text = FormatByteSize(qint64(1536) * 1048576);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(text, QString("1,500 GB"));
  }

  void quoting_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("literal");
    QTest::addColumn<QString>("identifier");
    QTest::newRow("plain") << "Sales"
                           << "Sales"
                           << "[Sales]";
    QTest::newRow("O'Brien") << "O'Brien"
                             << "O''Brien"
                             << "[O'Brien]";
    QTest::newRow("two quotes") << "''"
                                << "''''"
                                << "['']";
    QTest::newRow("bracket") << "a]b"
                             << "a]b"
                             << "[a]]b]";
    QTest::newRow("injection") << "x]; DROP TABLE t; --"
                               << "x]; DROP TABLE t; --"
                               << "[x]]; DROP TABLE t; --]";
    QTest::newRow("opening bracket stays") << "[x"
                                           << "[x"
                                           << "[[x]";
    QTest::newRow("empty") << ""
                           << ""
                           << "[]";
  }
  void quoting() {
    QFETCH(QString, name);
    QFETCH(QString, literal);
    QFETCH(QString, identifier);
    QCOMPARE(QuoteSQLString(name), literal);
    QCOMPARE(QuoteSQLIdentifier(name), identifier);
  }

  void openTranPage() {
    // One message entry, most recent line first, as the data store delivers it.
    const QStringList info = {
        "DBCC execution completed. If DBCC printed error messages, contact your system "
        "administrator.\r\n"
        "SID          : 0x01\r\n"
        "Start time   : Jan 10 2011  4:17:01:240PM\r\n"
        "UID          : 1\r\n"
        "SPID (server process ID): 54\r\n"
        "Oldest active transaction:\r\n"
        "Transaction information for database 'Sales'.\r\n"};
    const QStringList lines = SplitInfoMessages(info);
    QCOMPARE(lines.size(), 7);
    const QStringList page = OpenTranPageLines(lines);
    QCOMPARE(page, QStringList({"Transaction information for database 'Sales'.",
                                "Oldest active transaction:", "SPID (server process ID): 54",
                                "UID          : 1", "Start time   : Jan 10 2011  4:17:01:240PM",
                                "SID          : 0x01", "",
                                "DBCC execution completed. If DBCC printed error messages, "
                                "contact your system administrator."}));
    QCOMPARE(ReadOldestActiveTransaction(page), QString("Jan 10 2011  4:17:01:240PM"));
    QVERIFY(SplitInfoMessages({}).isEmpty());
    QCOMPARE(OpenTranPageLines({"DBCC a", "b"}), QStringList({"b", "", "DBCC a"}));
    QCOMPARE(OpenTranPageLines({"dbcc lower"}), QStringList({"dbcc lower"}));
  }

  void oldestTransaction_data() {
    QTest::addColumn<QStringList>("page");
    QTest::addColumn<QString>("value");
    QTest::newRow("empty page") << QStringList() << "-";
    QTest::newRow("no open transaction, no colon")
        << QStringList({"No active open transactions.", "", "DBCC execution completed."}) << "-";
    QTest::newRow("start time above the SID line")
        << QStringList({"Oldest active transaction:", "Start time : Jan 10 2011 4:17:01:240PM",
                        "  SID : 0x01", "", "DBCC execution completed."})
        << "Jan 10 2011 4:17:01:240PM";
    QTest::newRow("lowest SID line wins")
        << QStringList({"Start time : A", "SID : 1", "Start time : B", "SID : 2"}) << "B";
    QTest::newRow("line above without colon is taken whole")
        << QStringList({"x", "  started yesterday  ", "SID 5"}) << "started yesterday";
    QTest::newRow("line above with empty value")
        << QStringList({"Start time :   ", "SID : 1", "Other : z"}) << "";
    QTest::newRow("SID case-sensitive")
        << QStringList({"Start time : A", "sid : 1", "Last : C"}) << "C";
    QTest::newRow("SID on the first line falls back to the last colon")
        << QStringList({"SID : 0x01", "no colon here"}) << "0x01";
    QTest::newRow("replication only")
        << QStringList({"Replicated Transaction Information:", "Oldest distributed LSN : (0:0:0)",
                        "Oldest non-distributed LSN : (12:34:1)", "", "DBCC execution completed."})
        << "(12:34:1)";
    QTest::newRow("control characters trimmed")
        << QStringList({"\tStart time :\x01 T1 \x02", "\x03SID : 1"}) << "T1";
  }
  void oldestTransaction() {
    QFETCH(QStringList, page);
    QFETCH(QString, value);
    QCOMPARE(ReadOldestActiveTransaction(page), value);
  }

  void backupFinish_data() {
    QTest::addColumn<QDateTime>("finish");
    QTest::addColumn<QString>("text");
    QTest::newRow("midnight shows the date alone")
        << QDateTime(QDate(2011, 1, 10), QTime(0, 0)) << "1/10/11";
    QTest::newRow("one millisecond past midnight")
        << QDateTime(QDate(2011, 1, 10), QTime(0, 0, 0, 1)) << "1/10/11 12:00:00 AM";
    QTest::newRow("afternoon") << QDateTime(QDate(2011, 1, 10), QTime(16, 17, 1))
                               << "1/10/11 4:17:01 PM";
  }
  void backupFinish() {
    QFETCH(QDateTime, finish);
    QFETCH(QString, text);
    QCOMPARE(FormatBackupFinish(finish), text);
    if (finish.time() != QTime(0, 0)) QVERIFY(text.startsWith("1/10/11 ") && text.contains(":"));
  }

  // Sizes at the ends of what the server can send: bigint up to 2^63 - 1, DBCC LOGINFO's
  // numeric(20,0) as exact text up to 10^20 - 1, a float column. Sums must not wrap.
  void vlfStatsLimits_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVariantList>("sizes");
    QTest::addColumn<qint64>("smallest");
    QTest::addColumn<qint64>("largest");
    QTest::addColumn<qint64>("average");
    const qint64 max = std::numeric_limits<qint64>::max();
    const int int64 = int(TFieldKind::Int64), decimal = int(TFieldKind::Decimal),
              real = int(TFieldKind::Float);
    QTest::newRow("two at the maximum") << int64 << QVariantList{max, max} << max << max << max;
    QTest::newRow("maximum and one less")
        << int64 << QVariantList{max, max - 1} << max - 1 << max << max - 1;
    QTest::newRow("maximum and zero")
        << int64 << QVariantList{max, qint64(0)} << qint64(0) << max << max / 2;
    QVariantList many(1000, QVariant(max));
    QTest::newRow("a thousand at the maximum") << int64 << many << max << max << max;
    QTest::newRow("decimal text at the maximum")
        << decimal << QVariantList{"9223372036854775807", "9223372036854775807"} << max << max
        << max;
    QTest::newRow("decimal text beyond 64 bits is clamped")
        << decimal << QVariantList{"99999999999999999999", "1"} << qint64(1) << max
        << qint64(max / 2 + 1);
    QTest::newRow("decimal text with a fraction") << decimal << QVariantList{"8192.00", " 4096 "}
                                                  << qint64(4096) << qint64(8192) << qint64(6144);
    QTest::newRow("not a number counts as 0")
        << decimal << QVariantList{"12abc", "300"} << qint64(0) << qint64(300) << qint64(150);
    QTest::newRow("float beyond 64 bits is clamped")
        << real << QVariantList{1e20, 2.0} << qint64(2) << max << qint64(max / 2 + 1);
    QTest::newRow("float NaN counts as 0")
        << real << QVariantList{std::nan(""), 10.0} << qint64(0) << qint64(10) << qint64(5);
  }
  void vlfStatsLimits() {
    QFETCH(int, kind);
    QFETCH(QVariantList, sizes);
    QFETCH(qint64, smallest);
    QFETCH(qint64, largest);
    QFETCH(qint64, average);
    QVector<QVector<QVariant>> rows;
    for (const QVariant& size : sizes)
      rows.append({QVariant(qint32(2)), size, QVariant(qint32(2))});
    TMemTable vlf;
    vlf.SetData({{"FileId", TFieldKind::Integer},
                 {"FileSize", TFieldKind(kind)},
                 {"Status", TFieldKind::Integer}},
                rows);
    const TVLFFileStats s = ComputeVLFStats(vlf).value(2);
    QCOMPARE(s.Count, sizes.size());
    QCOMPARE(s.Used, sizes.size());
    QCOMPARE(s.Smallest, smallest);
    QCOMPARE(s.Largest, largest);
    QCOMPARE(s.Average(), average);
  }

  void vlfStats() {
    TMemTable vlf;
    const auto row = [](int file, qint64 size, int status) {
      return QVector<QVariant>{QVariant(qint32(file)), QVariant(qint64(size)),
                               QVariant(qint32(status))};
    };
    const qint64 big = qint64(3) << 31; // a VLF of 6 GiB
    vlf.SetData({{"FileId", TFieldKind::Integer},
                 {"FileSize", TFieldKind::Int64},
                 {"Status", TFieldKind::Integer}},
                {row(2, 1000, 2), row(2, 1000, 0), row(3, 500, 2), row(2, 1000, 2), row(2, 2003, 0),
                 row(3, big, 0), row(4, big, 2), row(4, big + 8192, 0)});
    const auto stats = ComputeVLFStats(vlf);
    QCOMPARE(stats.size(), 3);
    const TVLFFileStats a = stats.value(2);
    QCOMPARE(a.Count, 4);
    QCOMPARE(a.Used, 2);
    QCOMPARE(a.Smallest, 1000);
    QCOMPARE(a.Largest, 2003);
    QCOMPARE(a.Average(), (3000 + 2003) / 4);
    const TVLFFileStats b = stats.value(3);
    QCOMPARE(b.Count, 2);
    QCOMPARE(b.Used, 1);
    QCOMPARE(b.Largest, big);
    QVERIFY(b.Total == big + 500);
    QCOMPARE(b.Average(), (big + 500) / 2);
    // Every VLF of the file beyond 2^31 bytes: the smallest is one of them.
    const TVLFFileStats c = stats.value(4);
    QCOMPARE(c.Count, 2);
    QCOMPARE(c.Smallest, big);
    QCOMPARE(c.Largest, big + 8192);

    TMemTable noStatus;
    noStatus.SetData({{"FileId", TFieldKind::Integer}, {"FileSize", TFieldKind::Int64}},
                     {{qint32(2), qint64(5)}});
    QVERIFY(ComputeVLFStats(noStatus).isEmpty());
  }
};

QTEST_APPLESS_MAIN(TestLogReading)
#include "test_log_reading.moc"
