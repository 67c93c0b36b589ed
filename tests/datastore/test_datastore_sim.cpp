// The data store against the TDS simulator, through unixODBC and the FreeTDS driver. Every test
// starts its own simulator with its own scenario.

#include "datastore/uOdbc.h"
#include "datastore/udmDataStoreSQLServer.h"
#include "platform/uMemTable.h"
#include "uSqlSimProcess.h"

#include <QJsonObject>
#include <QTest>
#include <limits>
#include <stdexcept>

namespace {

const QString kDbccDone = QStringLiteral(
    "DBCC execution completed. If DBCC printed error messages, contact your system administrator.");

QString Scenario(const QString& version = QStringLiteral("10.50.1600.1"),
                 const QString& faults = QStringLiteral("[]")) {
  return QString::fromUtf8(R"json({
    "server": {"version": "%1"},
    "logins": [{"name": "demo", "password": "demo"},
               {"name": "odd", "password": "p;w}d={x"},
               {"name": "brace", "password": "{x}"},
               {"name": "cut", "password": "a};b"}],
    "databases": [
      {"name": "master"},
      {"name": "Sales", "logUsedPercent": 12.34, "logSizeMB": 1024,
       "vlfs": [{"fileId": 2, "fileSize": 5000000000, "startOffset": 8192, "fSeqNo": 37,
                 "status": 2, "createLsn": "1234567890123456789012345"},
                {"fileId": 2, "count": 3, "size": 65536, "startOffset": 5000008192}],
       "openTransaction": {"spid": 57, "name": "user_transaction", "lsn": "(37:120:1)"},
       "logBackups": ["2011-01-10T16:17:01.240"]},
      {"name": "Big", "vlfs": [{"count": 20000, "size": 65536}]},
      {"name": "Donn\u00e9es ]x"}],
    "faults": %2})json")
      .arg(version, faults);
}

TSQLConnectionProperties Props(const TSqlSimProcess& sim, const QString& database = {},
                               const QString& login = QStringLiteral("demo"),
                               const QString& password = QStringLiteral("demo")) {
  TSQLConnectionProperties p;
  p.Instance = sim.ServerName();
  p.Database = database;
  p.SQLLogin = login;
  p.SQLPassword = password;
  p.Provider = 1; // FreeTDS: the simulator offers no encryption
  return p;
}

QList<QJsonObject> Events(const TSqlSimProcess& sim, const QString& event) {
  QList<QJsonObject> result;
  for (const QJsonObject& e : sim.LogEntries())
    if (e.value("event").toString() == event) result << e;
  return result;
}

} // namespace

#define START_SIM(sim, scenario)                                                                   \
  TSqlSimProcess sim;                                                                              \
  QVERIFY2(sim.Start(scenario), qPrintable(sim.ErrorString()))

class TestDataStoreSim : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void loginAndTestConnection() {
    START_SIM(sim, Scenario());
    TDataStoreSQLServer store;

    // The test uses a connection of its own and leaves the store as it was.
    QVERIFY(store.TestConnection(Props(sim)));
    QVERIFY(store.Errors.isEmpty());
    QVERIFY(!store.Connected);
    QVERIFY(!store.Connection->IsOpen());

    QVERIFY(store.InitWithConnProps(Props(sim, "Sales")));
    QVERIFY(store.Errors.isEmpty());
    QVERIFY(store.Connected);
    QVERIFY(store.Connection->IsOpen());

    const QList<QJsonObject> logins = Events(sim, "login");
    QCOMPARE(logins.size(), 2);
    QVERIFY(logins[0].value("ok").toBool());
    QVERIFY(logins[0].value("app").toString() != "Tessaly GUI"); // the client's default
    QCOMPARE(logins[1].value("app").toString(), QString("Tessaly GUI"));
    QCOMPARE(logins[1].value("database").toString(), QString("Sales"));
    QCOMPARE(logins[1].value("tds").toString(), QString("7.4"));
  }

  void loginFailures_data() {
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QStringList>("lines"); // each is one line of the one entry

    // The driver's text, its error number, and for 18456 what to check.
    QTest::newRow("wrong password")
        << ""
        << "nope"
        << QStringList{"Login failed for user 'demo'. (error 18456)",
                       "What to check: the login name and its password "
                       "(passwords are case-sensitive); that the login "
                       "exists on this server and is enabled; that the "
                       "server accepts SQL Server authentication (mixed "
                       "mode); and that the login may open the database. "
                       "The server's error log gives the reason as the "
                       "error's state."};
    QTest::newRow("unknown database: several messages")
        << "Nope"
        << "demo"
        << QStringList{"Cannot open database \"Nope\" requested by the login. The login failed. "
                       "(error 4060)",
                       "Login failed for user 'demo'. (error 18456)"};
  }
  void loginFailures() {
    QFETCH(QString, database);
    QFETCH(QString, password);
    QFETCH(QStringList, lines);
    START_SIM(sim, Scenario());
    const TSQLConnectionProperties props = Props(sim, database, "demo", password);
    TDataStoreSQLServer store;

    QVERIFY(!store.InitWithConnProps(props));
    QCOMPARE(store.Errors.size(), 1);
    QVERIFY(!store.Connected);
    QVERIFY(!store.Connection->IsOpen());
    const QStringList got = store.Errors[0].split("\r\n");
    for (const QString& line : lines)
      QVERIFY2(got.contains(line), qPrintable(store.Errors[0]));
    QVERIFY(!store.Errors[0].contains("[FreeTDS]"));

    QVERIFY(!store.TestConnection(props));
    QCOMPARE(store.Errors.size(), 1);
    const QString head = QString("Error connecting to database (%1) on instance (%2): ")
                             .arg(database, sim.ServerName());
    QVERIFY2(store.Errors[0].startsWith(head), qPrintable(store.Errors[0]));
    for (const QString& line : lines)
      QVERIFY(store.Errors[0].contains(line));
  }

  // A ; or braces in a password and a bracket or accent in a database name reach the server as
  // typed and add no keywords to the connection string; what FreeTDS cannot take is refused
  // before anything is sent.
  void unusualValuesReachTheServer_data() {
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("database");
    QTest::addColumn<bool>("sent");
    QTest::newRow("; and braces, accented database")
        << "odd"
        << "p;w}d={x" << QString::fromUtf8("Données ]x") << true;
    QTest::newRow("braces at both ends") << "brace"
                                         << "{x}"
                                         << "master" << true;
    QTest::newRow("}; would end the value early") << "cut"
                                                  << "a};b"
                                                  << "master" << false;
  }
  void unusualValuesReachTheServer() {
    QFETCH(QString, login);
    QFETCH(QString, password);
    QFETCH(QString, database);
    QFETCH(bool, sent);
    START_SIM(sim, Scenario());
    TDataStoreSQLServer store;
    QCOMPARE(store.InitWithConnProps(Props(sim, database, login, password)), sent);
    const QList<QJsonObject> logins = Events(sim, "login");
    if (!sent) {
      QCOMPARE(store.Errors.size(), 1);
      QVERIFY2(store.Errors[0].contains("\"};\""), qPrintable(store.Errors[0]));
      QVERIFY(logins.isEmpty());
      return;
    }
    QVERIFY2(store.Errors.isEmpty(), qPrintable(store.Errors.join('\n')));
    QCOMPARE(logins.size(), 1);
    QCOMPARE(logins[0].value("database").toString(), database);
    QCOMPARE(logins[0].value("app").toString(), QString("Tessaly GUI"));
  }

  void reconnectWithNewProperties() {
    START_SIM(sim, Scenario());
    TDataStoreSQLServer store;
    QVERIFY(store.InitWithConnProps(Props(sim, "Sales")));
    QVERIFY(store.RunQuery("SELECT 1"));
    QVERIFY(store.InitWithConnProps(Props(sim, "master")));
    QVERIFY(store.Connected);
    QVERIFY(store.RunQuery("SELECT 1"));

    QCOMPARE(Events(sim, "login").size(), 2);
    const QList<QJsonObject> batches = Events(sim, "batch");
    QCOMPARE(batches.size(), 2);
    QCOMPARE(batches[0].value("database").toString(), QString("Sales"));
    QCOMPARE(batches[1].value("database").toString(), QString("master"));

    // A failed reconnection leaves the store closed and not connected.
    QVERIFY(!store.InitWithConnProps(Props(sim, "master", "demo", "wrong")));
    QVERIFY(!store.Connected);
    QVERIFY(!store.Connection->IsOpen());
  }

  void serverVersion_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("newer");
    QTest::addColumn<QString>("name");
    QTest::newRow("2000") << "8.00.2039" << false << "SQL Server 2000 - 08.00.2039";
    QTest::newRow("2005") << "9.00.3042" << true << "SQL Server 2005 - 09.00.3042";
    QTest::newRow("2008 R2") << "10.50.1600.1" << true << "SQL Server 2008 R2 - 10.50.1600";
    QTest::newRow("2012") << "11.0.2100.60" << true << "SQL Server 2012 - 11.00.2100";
    QTest::newRow("2022") << "16.0.1000.6" << true << "SQL Server 2022 - 16.00.1000";
  }
  void serverVersion() {
    QFETCH(QString, version);
    QFETCH(bool, newer);
    QFETCH(QString, name);
    START_SIM(sim, Scenario(version));
    TDataStoreSQLServer store;
    QVERIFY2(store.InitWithConnProps(Props(sim)), qPrintable(store.Errors.join('\n')));
    QCOMPARE(store.IsSQL2005OrNewer, newer);
    QCOMPARE(store.GetServerVersionName(), name);
  }

  void informationalMessages() {
    START_SIM(sim, Scenario());
    TDataStoreSQLServer store;
    QVERIFY(store.InitWithConnProps(Props(sim, "master")));
    // Microsoft's driver hands over the login's messages (5701, 5703); FreeTDS drops them.
    for (const QString& entry : store.InfoMessages)
      QVERIFY2(entry.contains("Changed "), qPrintable(entry));

    QVERIFY(store.ExecuteStatement("USE [Sales]"));
    QCOMPARE(store.InfoMessages, QStringList{"Changed database context to 'Sales'."});

    // DBCC OPENTRAN answers with messages only: no result set, lines most recent first.
    QVERIFY(store.RunQuery("DBCC OPENTRAN"));
    QVERIFY(!store.Query->Active());
    QVERIFY(store.Errors.isEmpty());
    QCOMPARE(store.InfoMessages.size(), 1);
    const QStringList lines = store.InfoMessages[0].split("\r\n");
    QVERIFY2(lines.size() >= 4, qPrintable(store.InfoMessages[0]));
    QCOMPARE(lines.first(), kDbccDone);
    QCOMPARE(lines.last(), QString("Transaction information for database 'Sales'."));
    QCOMPARE(lines[lines.size() - 2], QString("Oldest active transaction:"));
    QVERIFY(lines.contains("    SPID (server process ID): 57")); // indented as the server sends it

    // "No active open transactions." comes with SQLSTATE 25000 from FreeTDS, yet is no error.
    QVERIFY(store.ExecuteStatement("USE [master]"));
    QVERIFY(store.RunQuery("DBCC OPENTRAN"));
    QVERIFY(store.Errors.isEmpty());
    QCOMPARE(store.InfoMessages, QStringList{kDbccDone + "\r\nNo active open transactions."});

    // Connecting does not clear them; the next statement does.
    QVERIFY(store.InitWithConnProps(Props(sim, "master")));
    QVERIFY(store.InfoMessages.contains(kDbccDone + "\r\nNo active open transactions."));
    QVERIFY(store.ExecuteStatement("SET NOCOUNT ON"));
    QVERIFY(store.InfoMessages.isEmpty());
  }

  // A failure the server reports as several messages is one entry with one line each.
  void failureWithSeveralMessages() {
    const QString faults = R"([{"statement": "sysfiles", "errors": [
        {"number": 1205, "severity": 13, "state": 51, "text": "Transaction was deadlocked."},
        {"number": 50000, "severity": 16, "text": "Second message."}]},
      {"statement": "use", "errors": [{"number": 916, "severity": 14, "text": "Not allowed."}]}])";
    START_SIM(sim, Scenario("10.50.1600.1", faults));
    TDataStoreSQLServer store;
    QVERIFY(store.InitWithConnProps(Props(sim, "Sales")));

    QVERIFY(!store.RunQuery("SELECT * FROM sysfiles WHERE (status & 64) = 64"));
    QCOMPARE(store.Errors, QStringList{"Transaction was deadlocked.\r\nSecond message."});
    QVERIFY(!store.Query->Active());

    // Statements add their failure without clearing the list.
    QVERIFY(!store.ExecuteStatement("USE [master]"));
    QCOMPARE(store.Errors.size(), 2);
    QCOMPARE(store.Errors[1], QString("Not allowed."));
    QVERIFY(store.RunQuery("SELECT 1"));
    QVERIFY(store.Errors.isEmpty());
  }

  void queryLifecycle() {
    START_SIM(sim, Scenario());
    TDataStoreSQLServer store;
    QVERIFY(store.InitWithConnProps(Props(sim, "Sales")));

    QVERIFY(store.RunQuery("DBCC LOGINFO"));
    QVERIFY(store.Query->Active());
    QCOMPARE(store.Query->RecordCount(), 4);
    // The message after the rows arrives with the fetch that ends them.
    QCOMPARE(store.InfoMessages, QStringList{kDbccDone});

    // Statements leave the result set alone, even one that returns rows.
    QVERIFY(store.ExecuteStatement("USE [master]"));
    QVERIFY(store.ExecuteStatement("SELECT 1"));
    QVERIFY(store.Query->Active());
    QCOMPARE(store.Query->RecordCount(), 4);
    store.Query->First();
    QCOMPARE(store.Query->AsLargeInt("FileSize"), Q_INT64_C(5000000000));

    // A rejected query closes the previous result set.
    QVERIFY(!store.RunQuery("SELEKT"));
    QCOMPARE(store.Errors, QStringList{"Could not find stored procedure 'SELEKT'."});
    QVERIFY(!store.Query->Active());
    QCOMPARE(store.Query->RecordCount(), 0);
    QVERIFY(store.Query->Eof());
    QCOMPARE(store.Query->FieldCount(), 0);

    QVERIFY(store.RunQuery("SELECT 1"));
    QVERIFY(store.Query->Active());
    // A query without a result set leaves the query closed.
    QVERIFY(store.RunQuery("DBCC OPENTRAN"));
    QVERIFY(!store.Query->Active());
  }

  void valuesAndKinds() {
    START_SIM(sim, Scenario());
    TDataStoreSQLServer store;
    QVERIFY(store.InitWithConnProps(Props(sim, "Sales")));
    TResultSet& q = *store.Query;

    // sql_variant columns read as text.
    QVERIFY(store.RunQuery("SELECT SERVERPROPERTY('ProductVersion'), SERVERPROPERTY('Edition')"));
    QCOMPARE(q.FieldCount(), 2);
    QCOMPARE(q.FieldKind(0), TFieldKind::UnicodeText);
    QCOMPARE(q.AsString(0), QString("10.50.1600.1"));
    QCOMPARE(q.AsString(1), QString("Enterprise Edition (64-bit)"));
    QVERIFY(store.RunQuery("SELECT DATABASEPROPERTYEX(N'Sales', 'RECOVERY')"));
    QCOMPARE(q.AsString(0), QString("SIMPLE"));
    QVERIFY(store.RunQuery("SELECT DATABASEPROPERTYEX(N'Nope', 'RECOVERY')"));
    QCOMPARE(q.RecordCount(), 1);
    QVERIFY(q.IsNull(0));
    QCOMPARE(q.AsString(0), QString());
    QCOMPARE(q.AsInteger(0), 0);

    // bigint and numeric(25,0) keep every digit.
    QVERIFY(store.RunQuery("DBCC LOGINFO"));
    QCOMPARE(q.FieldKind(q.FieldIndex("FileId")), TFieldKind::Integer);
    QCOMPARE(q.FieldKind(q.FieldIndex("FileSize")), TFieldKind::Int64);
    QCOMPARE(q.FieldKind(q.FieldIndex("Parity")), TFieldKind::Integer);
    QCOMPARE(q.FieldKind(q.FieldIndex("createlsn")), TFieldKind::Decimal);
    QCOMPARE(q.FieldIndex("Nope"), -1);
    q.First();
    QCOMPARE(q.AsLargeInt("FileSize"), Q_INT64_C(5000000000));
    QCOMPARE(q.AsString("FileSize"), QString("5000000000"));
    QCOMPARE(q.AsString("CreateLSN"), QString("1234567890123456789012345"));
    QCOMPARE(q.AsInteger("FSeqNo"), 37);
    // Values beyond the asked type saturate instead of wrapping.
    QCOMPARE(q.AsInteger("FileSize"), std::numeric_limits<std::int32_t>::max());
    QCOMPARE(q.AsLargeInt("CreateLSN"), std::numeric_limits<std::int64_t>::max());
    QCOMPARE(q.AsFloat("CreateLSN"), 1234567890123456789012345.0);
    QCOMPARE(q.AsFloat("FileSize"), 5000000000.0);
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, q.AsString("Nope"));
    int rows = 0;
    qint64 lastOffset = 0;
    for (q.First(); !q.Eof(); q.Next()) {
      ++rows;
      lastOffset = q.AsLargeInt("StartOffset");
    }
    QCOMPARE(rows, q.RecordCount());
    QCOMPARE(lastOffset, Q_INT64_C(5000008192) + 2 * 65536);

    TMemTable table;
    q.CopyTo(table);
    QCOMPARE(table.rowCount(), 4);
    QCOMPARE(table.columnCount(), q.FieldCount());
    const int lsn = table.FieldIndex("CreateLSN");
    QCOMPARE(table.Columns()[lsn].Kind, TFieldKind::Decimal);
    QCOMPARE(table.Cell(0, lsn), QVariant(QString("1234567890123456789012345")));
    QCOMPARE(table.Cell(0, table.FieldIndex("FileSize")).typeId(), int(QMetaType::LongLong));
    QCOMPARE(table.Cell(0, table.FieldIndex("FileSize")).toLongLong(), Q_INT64_C(5000000000));

    // datetime, with its milliseconds.
    QVERIFY(store.RunQuery("SELECT TOP 1 a.backup_finish_date FROM msdb..backupset a WHERE "
                           "a.database_name = N'Sales'   AND a.type = 'L' ORDER BY "
                           "a.backup_finish_date DESC"));
    QCOMPARE(q.FieldKind(0), TFieldKind::DateTime);
    QCOMPARE(q.AsDateTime(0), QDateTime(QDate(2011, 1, 10), QTime(16, 17, 1, 240)));
    QCOMPARE(q.AsString("backup_finish_date"), QString("2011-01-10 16:17:01.240"));

    // real columns read as the decimal the server shows.
    QVERIFY(store.RunQuery("DBCC SQLPERF(LOGSPACE)"));
    QCOMPARE(q.FieldKind(q.FieldIndex("Log Space Used (%)")), TFieldKind::Float);
    bool found = false;
    for (q.First(); !q.Eof(); q.Next())
      if (q.AsString("Database Name") == "Sales") {
        found = true;
        QCOMPARE(q.AsFloat("Log Space Used (%)"), 12.34);
        QCOMPARE(q.AsString("Log Space Used (%)"), QString("12.34"));
        QCOMPARE(q.AsFloat("Log Size (MB)"), 1024.0);
      }
    QVERIFY(found);

    // smallint and nvarchar.
    QVERIFY(store.RunQuery("SELECT * FROM sysfiles WHERE (status & 64) = 64"));
    QCOMPARE(q.FieldKind(q.FieldIndex("fileid")), TFieldKind::Integer);
    QCOMPARE(q.FieldKind(q.FieldIndex("name")), TFieldKind::UnicodeText);
    QCOMPARE(q.AsString("name"), QString("Sales_log"));
  }

  // A connection that breaks, or an answer the driver cannot read, fails the operation with an
  // entry; the store stays usable for the caller and nothing crashes.
  void brokenAnswers_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("dropped in the middle of the rows") << R"({"drop": "middle"})";
    QTest::newRow("dropped before the answer") << R"({"drop": "before"})";
    QTest::newRow("malformed answer") << R"({"malformed": true})";
  }
  void brokenAnswers() {
    QFETCH(QString, fault);
    QString faults = fault;
    faults.replace("{", R"({"statement": "loginfo", "count": 1, )");
    START_SIM(sim, Scenario("10.50.1600.1", "[" + faults + "]"));
    TDataStoreSQLServer store;
    QVERIFY(store.InitWithConnProps(Props(sim, "Big")));
    QVERIFY(store.RunQuery("SELECT 1"));
    QVERIFY(store.Query->Active());

    QVERIFY(!store.RunQuery("DBCC LOGINFO"));
    QCOMPARE(store.Errors.size(), 1);
    QVERIFY(!store.Errors[0].isEmpty());
    QVERIFY(!store.Query->Active());
    QCOMPARE(store.Query->RecordCount(), 0);

    // Whatever state the connection is left in, the next query answers cleanly.
    const bool ok = store.RunQuery("SELECT 1");
    QCOMPARE(store.Errors.isEmpty(), ok);
    QCOMPARE(store.Query->Active(), ok);
  }
};

QTEST_GUILESS_MAIN(TestDataStoreSim)
#include "test_datastore_sim.moc"
