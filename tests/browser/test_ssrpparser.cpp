// The resolution protocol's reply parser: what it accepts, the names it gives, and that every
// malformed datagram is dropped.

#include "platform/uServerEnumerator.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
QByteArray Reply(const QByteArray& data, int size) {
  QByteArray datagram(1, '\x05');
  datagram.append(char(size & 0xff));
  datagram.append(char((size >> 8) & 0xff));
  return datagram + data;
}
QByteArray Reply(const QByteArray& data) {
  return Reply(data, int(data.size()));
}

const QByteArray kRecord = "ServerName;DB1;InstanceName;MSSQLSERVER;IsClustered;No;"
                           "Version;16.0.1000.6;tcp;1433;;";
} // namespace

class TestSSRPParser : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void acceptsReplies_data() {
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("firstPort");

    QTest::newRow("default instance") << Reply(kRecord) << QStringList{"DB1"} << 1433;
    QTest::newRow("named and default in one reply")
        << Reply("ServerName;DB2;InstanceName;SALES;IsClustered;Yes;Version;15.0.2000.5;"
                 "np;\\\\DB2\\pipe\\MSSQL$SALES\\sql\\query;tcp;49172;;" +
                 kRecord)
        << QStringList{"DB2\\SALES", "DB1"} << 49172;
    QTest::newRow("default instance name in any case")
        << Reply("ServerName;db3;InstanceName;MsSqlServer;IsClustered;No;Version;9.0;;")
        << QStringList{"db3"} << 0;
    QTest::newRow("all protocol entries")
        << Reply("ServerName;H;InstanceName;I;IsClustered;No;Version;8.00.194;np;\\\\H\\pipe;"
                 "tcp;65535;via;H,0:1433,1:1434;rpc;H;spx;SVC;adsp;OBJ;bv;item;group;item2;;")
        << QStringList{"H\\I"} << 65535;
    QTest::newRow("keywords ignore letter case")
        << Reply("servername;A;INSTANCENAME;B;isclustered;no;version;1;TCP;1;;")
        << QStringList{"A\\B"} << 1;
    QTest::newRow("unknown protocol entry")
        << Reply("ServerName;A;InstanceName;B;IsClustered;No;Version;1;quic;x;;")
        << QStringList{"A\\B"} << 0;
    QTest::newRow("markup shows as text")
        << Reply("ServerName;<b>A</b>;InstanceName;a&lt&b;IsClustered;No;Version;1;;")
        << QStringList{"<b>A</b>\\a&lt&b"} << 0;
    QTest::newRow("UTF-8 name")
        << Reply("ServerName;S\xc3\xa9rveur;InstanceName;MSSQLSERVER;IsClustered;No;Version;1;;")
        << QStringList{QString::fromUtf8("S\xc3\xa9rveur")} << 0;
    QTest::newRow("other single-byte text")
        << Reply("ServerName;S\xe9rveur;InstanceName;MSSQLSERVER;IsClustered;No;Version;1;;")
        << QStringList{QString::fromLatin1("S\xe9rveur")} << 0;
    QTest::newRow("no instance at all") << Reply(QByteArray()) << QStringList{} << 0;
  }

  void acceptsReplies() {
    QFETCH(QByteArray, datagram);
    QFETCH(QStringList, names);
    QFETCH(int, firstPort);
    const auto instances = ParseSSRPReply(datagram);
    QVERIFY(instances);
    QStringList got;
    for (const TSSRPInstance& instance : *instances)
      got << SSRPDisplayName(instance);
    QCOMPARE(got, names);
    if (!instances->isEmpty()) QCOMPARE(instances->first().TcpPort, firstPort);
  }

  void fieldsOfARecord() {
    const auto instances = ParseSSRPReply(
        Reply("ServerName;DB2;InstanceName;SALES;IsClustered;Yes;Version;15.0.2000.5;;"));
    QVERIFY(instances);
    QCOMPARE(instances->size(), 1);
    const TSSRPInstance expected{"DB2", "SALES", true, "15.0.2000.5", 0};
    QCOMPARE(instances->first(), expected);
  }

  void dropsMalformed_data() {
    QTest::addColumn<QByteArray>("datagram");
    const QByteArray body = kRecord;

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("header only, short") << QByteArray("\x05\x00", 2);
    QTest::newRow("request byte, not a reply") << QByteArray("\x02", 1);
    QTest::newRow("wrong first byte") << QByteArray(1, '\x04') + Reply(body).mid(1);
    QTest::newRow("size one too large") << Reply(body, int(body.size()) + 1);
    QTest::newRow("size one too small") << Reply(body, int(body.size()) - 1);
    QTest::newRow("size big-endian") << Reply(body, (int(body.size()) & 0xff) << 8);
    QTest::newRow("size zero with data") << Reply(body, 0);
    QTest::newRow("trailing garbage") << Reply(body + "x");
    QTest::newRow("trailing NUL") << Reply(body + QByteArray(1, '\0'));
    QTest::newRow("record without terminator")
        << Reply("ServerName;A;InstanceName;B;IsClustered;No;Version;1;tcp;1433;");
    QTest::newRow("record cut after version") << Reply("ServerName;A;InstanceName;B;"
                                                       "IsClustered;No;Version;1");
    QTest::newRow("fields out of order")
        << Reply("InstanceName;B;ServerName;A;IsClustered;No;Version;1;;");
    QTest::newRow("missing IsClustered") << Reply("ServerName;A;InstanceName;B;Version;1;;");
    QTest::newRow("IsClustered neither Yes nor No")
        << Reply("ServerName;A;InstanceName;B;IsClustered;Maybe;Version;1;;");
    QTest::newRow("empty version")
        << Reply("ServerName;A;InstanceName;B;IsClustered;No;Version;;;");
    QTest::newRow("empty server name")
        << Reply("ServerName;;InstanceName;B;IsClustered;No;Version;1;;");
    QTest::newRow("blank instance name")
        << Reply("ServerName;A;InstanceName;  ;IsClustered;No;Version;1;;");
    QTest::newRow("server name too long") << Reply("ServerName;" + QByteArray(256, 'a') +
                                                   ";InstanceName;B;IsClustered;No;Version;1;;");
    QTest::newRow("backslash in server name")
        << Reply("ServerName;A\\X;InstanceName;B;IsClustered;No;Version;1;;");
    QTest::newRow("control character in name")
        << Reply("ServerName;A\x07;InstanceName;B;IsClustered;No;Version;1;;");
    QTest::newRow("newline in name")
        << Reply("ServerName;A\nB;InstanceName;B;IsClustered;No;Version;1;;");
    QTest::newRow("NUL in name") << Reply("ServerName;A" + QByteArray(1, '\0') +
                                          "B;InstanceName;B;IsClustered;No;Version;1;;");
    QTest::newRow("right-to-left override in name")
        << Reply("ServerName;A\xe2\x80\xae"
                 "B;InstanceName;B;IsClustered;No;Version;1;;");
    QTest::newRow("port zero") << Reply(
        "ServerName;A;InstanceName;B;IsClustered;No;Version;1;tcp;0;;");
    QTest::newRow("port 65536") << Reply(
        "ServerName;A;InstanceName;B;IsClustered;No;Version;1;tcp;65536;;");
    QTest::newRow("port negative")
        << Reply("ServerName;A;InstanceName;B;IsClustered;No;Version;1;tcp;-1;;");
    QTest::newRow("port with sign")
        << Reply("ServerName;A;InstanceName;B;IsClustered;No;Version;1;tcp;+80;;");
    QTest::newRow("port overflowing int")
        << Reply("ServerName;A;InstanceName;B;IsClustered;No;Version;1;tcp;99999999999;;");
    QTest::newRow("port empty") << Reply(
        "ServerName;A;InstanceName;B;IsClustered;No;Version;1;tcp;;;");
    QTest::newRow("VIA port out of range")
        << Reply("ServerName;A;InstanceName;B;IsClustered;No;Version;1;via;H,0:70000;;");
    QTest::newRow("protocol entry without value")
        << Reply("ServerName;A;InstanceName;B;IsClustered;No;Version;1;np;");
    QTest::newRow("bv list without end")
        << Reply("ServerName;A;InstanceName;B;IsClustered;No;Version;1;bv;item;group;");
    QTest::newRow("second record broken") << Reply(body + "ServerName;A;;");
    QTest::newRow("only separators") << Reply(";;;;");

    QByteArray manyFields = "ServerName;A;InstanceName;B;IsClustered;No;Version;1;";
    for (int i = 0; i < kSSRPMaxFieldsPerInstance; ++i)
      manyFields += "np;p;";
    QTest::newRow("too many fields in a record") << Reply(manyFields + ";");

    QByteArray manyRecords;
    for (int i = 0; i <= kSSRPMaxInstances; ++i)
      manyRecords += "ServerName;A;InstanceName;B;IsClustered;No;Version;1;;";
    QTest::newRow("too many records") << Reply(manyRecords);

    QByteArray oversized = Reply(QByteArray(65535, 'a'));
    oversized.append('a');
    QTest::newRow("longer than any reply") << oversized;
  }

  void dropsMalformed() {
    QFETCH(QByteArray, datagram);
    QVERIFY(!ParseSSRPReply(datagram));
  }

  void limitsAreInclusive() {
    QByteArray records;
    for (int i = 0; i < kSSRPMaxInstances; ++i)
      records += "ServerName;A;InstanceName;B;IsClustered;No;Version;1;;";
    const auto instances = ParseSSRPReply(Reply(records));
    QVERIFY(instances);
    QCOMPARE(instances->size(), kSSRPMaxInstances);

    const QByteArray longest(kSSRPMaxNameBytes, 'n');
    QVERIFY(ParseSSRPReply(
        Reply("ServerName;" + longest + ";InstanceName;B;IsClustered;No;Version;1;;")));
  }

  void sortsAndDeduplicates_data() {
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("case-insensitive order") << QStringList{"beta", "Alpha", "gamma", "Delta"}
                                            << QStringList{"Alpha", "beta", "Delta", "gamma"};
    QTest::newRow("case variants keep one")
        << QStringList{"db1\\sales", "DB1\\SALES", "Db1\\Sales"} << QStringList{"DB1\\SALES"};
    QTest::newRow("same result in any input order")
        << QStringList{"Db1\\Sales", "DB1\\SALES", "db1\\sales"} << QStringList{"DB1\\SALES"};
    QTest::newRow("exact duplicates and empties")
        << QStringList{"x", "", "x", "y"} << QStringList{"x", "y"};
    QTest::newRow("non-ASCII letters fold")
        << QStringList{QString::fromUtf8("\xc3\xa9tude"), QString::fromUtf8("\xc3\x89TUDE")}
        << QStringList{QString::fromUtf8("\xc3\x89TUDE")};
  }

  void sortsAndDeduplicates() {
    QFETCH(QStringList, input);
    QFETCH(QStringList, expected);
    QCOMPARE(SortServerNames(input), expected);
  }

  void requestIsBroadcastEx() { QCOMPARE(SSRPBroadcastRequest(), QByteArray(1, '\x02')); }

  // Inputs that once broke the parser under the fuzzer stay here for good.
  void fuzzRegressions() {
    const QDir dir(qEnvironmentVariable("VELMORA_SOURCE_DIR") + "/fuzz/regressions/ssrp");
    QVERIFY2(dir.exists(), qPrintable(dir.path()));
    const QStringList files = dir.entryList(QDir::Files);
    for (const QString& name : files) {
      QFile file(dir.filePath(name));
      QVERIFY(file.open(QIODevice::ReadOnly));
      const auto instances = ParseSSRPReply(file.readAll());
      if (instances)
        for (const TSSRPInstance& instance : *instances)
          QVERIFY(!SSRPDisplayName(instance).isEmpty());
    }
  }
};

QTEST_APPLESS_MAIN(TestSSRPParser)
#include "test_ssrpparser.moc"
