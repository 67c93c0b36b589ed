// Reading a result into TResultSet, driven through the SQLite ODBC driver: it serves any data
// without a server, so NULLs between values, long texts read in pieces and large blocks of
// rows can be checked on their own.

#include "datastore/uOdbc.h"
#include "datastore/uResultSetBuilder.h"
#include "platform/uMemTable.h"

#include <QTest>
#include <memory>

class TestResultSet : public QObject {
  Q_OBJECT

  std::unique_ptr<TOdbcConnection> FConnection;

  void Exec(const QString& sql) {
    TOdbcStatement st(*FConnection);
    OdbcCheck(SQLExecDirectW(st.Handle(), const_cast<SQLWCHAR*>(ToSqlW(sql)), SQL_NTS),
              SQL_HANDLE_STMT, st.Handle(), "SQLExecDirect");
  }

  // Runs a query and reads it the way the data store does.
  void Read(const QString& sql, TResultSet& target) {
    TOdbcStatement st(*FConnection);
    OdbcCheck(SQLExecDirectW(st.Handle(), const_cast<SQLWCHAR*>(ToSqlW(sql)), SQL_NTS),
              SQL_HANDLE_STMT, st.Handle(), "SQLExecDirect");
    std::vector<TOdbcDiagRecord> info;
    TResultSetBuilder::Fetch(st.Handle(), target, info);
  }

private Q_SLOTS:
  void init() {
    TOdbcEnvironment env;
    if (!env.InstalledDrivers().contains("SQLite3")) {
      if (qEnvironmentVariableIsSet("VELMORA_REQUIRE_ALL_CLIENTS"))
        QFAIL("the SQLite3 ODBC driver (libsqliteodbc) is not installed");
      QSKIP("the SQLite3 ODBC driver (libsqliteodbc) is not installed");
    }
    FConnection = std::make_unique<TOdbcConnection>();
    FConnection->Open("Driver={SQLite3};Database=:memory:;", 5);
  }
  void cleanup() { FConnection.reset(); }

  // NULLs scattered among values, over more rows than one fetched block holds.
  void nullsAmongValuesAcrossBlocks() {
    Exec("CREATE TABLE t (i INTEGER, b BIGINT, d DOUBLE, v VARCHAR(20))");
    Exec("BEGIN");
    const int rows = 1500;
    for (int r = 0; r < rows; ++r)
      Exec(QString("INSERT INTO t VALUES (%1, %2, %3, %4)")
               .arg(r % 7 == 3 ? QString("NULL") : QString::number(r))
               .arg(r % 11 == 0 ? QString("NULL") : QString::number(5000000000LL + r))
               .arg(r % 13 == 5 ? QString("NULL") : QString::number(r + 0.25))
               .arg(r % 17 == 1 ? QString("NULL") : QString("'v%1'").arg(r)));
    Exec("COMMIT");

    TResultSet q;
    Read("SELECT i, b, d, v FROM t ORDER BY rowid", q);
    QVERIFY(q.Active());
    QCOMPARE(q.RecordCount(), rows);
    QCOMPARE(q.FieldKind(0), TFieldKind::Integer);
    QCOMPARE(q.FieldKind(1), TFieldKind::Int64);
    QCOMPARE(q.FieldKind(2), TFieldKind::Float);
    int r = 0;
    for (q.First(); !q.Eof(); q.Next(), ++r) {
      QCOMPARE(q.IsNull(0), r % 7 == 3);
      QCOMPARE(q.AsInteger(0), r % 7 == 3 ? 0 : r);
      QCOMPARE(q.IsNull(1), r % 11 == 0);
      QCOMPARE(q.AsLargeInt(1), r % 11 == 0 ? 0 : 5000000000LL + r);
      QCOMPARE(q.IsNull(2), r % 13 == 5);
      QCOMPARE(q.AsFloat(2), r % 13 == 5 ? 0.0 : r + 0.25);
      QCOMPARE(q.IsNull(3), r % 17 == 1);
      QCOMPARE(q.AsString(3), r % 17 == 1 ? QString() : QString("v%1").arg(r));
    }
    QCOMPARE(r, rows);

    TMemTable table;
    q.CopyTo(table);
    QCOMPARE(table.rowCount(), rows);
    QVERIFY(table.Cell(3, 0).isNull());
    QCOMPARE(table.Cell(4, 0), QVariant::fromValue<qint32>(4));
    QVERIFY(table.Cell(1, 3).isNull());
    QCOMPARE(table.Cell(2, 3), QVariant(QString("v2")));
  }

  // A long text comes in several pieces and is joined exactly; columns after it are still read.
  void longTextInPieces() {
    Exec("CREATE TABLE t (i INTEGER, big TEXT, j INTEGER)");
    // 3 x 30000 characters, made by the driver's engine from a short statement.
    Exec(QString::fromUtf8("INSERT INTO t VALUES (1, replace(hex(zeroblob(30000)), '00', "
                           "'\xC3\xA9\xE4\xB8\xAD"
                           "a'), 2)"));
    Exec("INSERT INTO t VALUES (3, NULL, 4)");
    Exec("INSERT INTO t VALUES (5, '', 6)");
    const QString big = QString::fromUtf8("\xC3\xA9\xE4\xB8\xAD"
                                          "a")
                            .repeated(30000);

    TResultSet q;
    Read("SELECT i, big, j FROM t ORDER BY i", q);
    QCOMPARE(q.RecordCount(), 3);
    q.First();
    QCOMPARE(q.AsInteger("i"), 1);
    QCOMPARE(q.AsString("big").size(), big.size());
    QVERIFY(q.AsString("big") == big);
    QCOMPARE(q.AsInteger("j"), 2);
    q.Next();
    QVERIFY(q.IsNull(1));
    QCOMPARE(q.AsInteger("j"), 4);
    q.Next();
    QVERIFY(!q.IsNull(1));
    QCOMPARE(q.AsString(1), QString(""));
    QCOMPARE(q.AsInteger("j"), 6);
  }

  void emptyResultIsOpen() {
    Exec("CREATE TABLE t (i INTEGER)");
    TResultSet q;
    Read("SELECT i FROM t", q);
    QVERIFY(q.Active());
    QCOMPARE(q.RecordCount(), 0);
    QCOMPARE(q.FieldCount(), 1);
    QVERIFY(q.Eof());
    QVERIFY(q.IsNull(0)); // no current row
    QCOMPARE(q.AsString("i"), QString());
    q.Close();
    QVERIFY(!q.Active());
    QCOMPARE(q.FieldCount(), 0);
  }

  // A second result read into the same object (reusing its memory) holds only its own rows.
  void nextResultReplacesTheLast() {
    Exec("CREATE TABLE t (i INTEGER, v VARCHAR(10))");
    Exec("INSERT INTO t VALUES (1, 'one')");
    Exec("INSERT INTO t VALUES (NULL, 'two')");
    TResultSet q;
    Read("SELECT i, v FROM t", q);
    QCOMPARE(q.RecordCount(), 2);
    Read("SELECT v, i FROM t WHERE v = 'one'", q);
    QCOMPARE(q.RecordCount(), 1);
    QCOMPARE(q.FieldName(0), QString("v"));
    q.First();
    QCOMPARE(q.AsString(0), QString("one"));
    QVERIFY(!q.IsNull(1));
    QCOMPARE(q.AsInteger(1), 1);
    q.Next();
    QVERIFY(q.Eof());
  }
};

QTEST_GUILESS_MAIN(TestResultSet)
#include "test_resultset.moc"
