// The simulator's bytes on the wire, read with a bare TDS client, and its parsers on bad input.

#include "uSqlSimProcess.h"
#include "uTdsStream.h"
#include "uTdsTestClient.h"

#include <QSet>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const char* const Scenario = R"json({
  "server": {"version": "10.50.1600.1", "machine": "SIMHOST"},
  "logins": [{"name": "demo", "password": "pässwörd"}],
  "databases": [{"name": "master"},
                {"name": "Big", "vlfs": [{"count": 2000, "size": 65536, "active": 3}]}],
  "faults": [{"pattern": "^SELECT 42$", "delayMs": 60000}]
})json";

struct TToken {
  quint8 Type;
  QByteArray Body;
};

quint16 U16(const QByteArray& b, qsizetype at) {
  return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8));
}

// Splits a token stream made of length-prefixed tokens and DONEs; stops at anything else.
QList<TToken> Walk(const QByteArray& t, bool tds72) {
  QList<TToken> out;
  qsizetype i = 0;
  while (i < t.size()) {
    const quint8 type = quint8(t[i]);
    qsizetype len;
    if (type == 0xFD || type == 0xFE || type == 0xFF)
      len = tds72 ? 12 : 8;
    else if (type == 0xE3 || type == 0xAA || type == 0xAB || type == 0xAD || type == 0xAE)
      len = i + 3 <= t.size() ? U16(t, i + 1) + 2 : t.size();
    else
      break;
    out << TToken{type, t.mid(i + 1, len)};
    i += 1 + len;
  }
  return out;
}

// The message number of an INFO or ERROR token body.
int MessageNumber(const TToken& tok) {
  return int(quint32(quint8(tok.Body[2])) | (quint32(quint8(tok.Body[3])) << 8) |
             (quint32(quint8(tok.Body[4])) << 16));
}

} // namespace

class TTestSqlSimProtocol : public QObject {
  Q_OBJECT
private slots:
  void loginReply_data();
  void loginReply();
  void negotiatedPacketSize();
  void batchOverSeveralPackets();
  void attention();
  void sessionsAreIndependent();
  void badClientInput_data();
  void badClientInput();
  void login7Parser_data();
  void login7Parser();
  void commandLine_data();
  void commandLine();
};

// The login reply in the server's order, with the client's TDS version and a SPID in every
// header, a final DONE without DONE_MORE and no FEATUREEXTACK.
void TTestSqlSimProtocol::loginReply_data() {
  QTest::addColumn<quint32>("requested");
  QTest::addColumn<quint32>("acknowledged");
  QTest::newRow("7.1") << quint32(0x71000001) << quint32(0x71000001);
  QTest::newRow("7.2") << quint32(0x72090002) << quint32(0x72090002);
  QTest::newRow("7.3B") << quint32(0x730B0003) << quint32(0x730B0003);
  QTest::newRow("7.4") << quint32(0x74000004) << quint32(0x74000004);
  QTest::newRow("newer than 7.4") << quint32(0x75000005) << quint32(0x74000004);
}

void TTestSqlSimProtocol::loginReply() {
  QFETCH(quint32, requested);
  QFETCH(quint32, acknowledged);
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(QString::fromUtf8(Scenario)), qPrintable(sim.ErrorString()));
  TTdsTestClient client;
  QVERIFY(client.Connect(sim.Port()));
  const TTdsReply reply = client.Login("demo", QString::fromUtf8("pässwörd"), {}, requested);
  QVERIFY(reply.Complete);
  for (const TTdsPacket& p : reply.Packets) {
    QCOMPARE(p.Type, quint8(0x04));
    QVERIFY(p.Spid >= 51);
  }
  const QList<TToken> tokens = Walk(reply.Tokens, acknowledged >= 0x72090002);
  QList<int> kinds;
  for (const TToken& t : tokens)
    kinds << (t.Type == 0xE3 ? 0xE300 + quint8(t.Body[2])
                             : (t.Type == 0xAB ? MessageNumber(t) : int(t.Type)));
  const QList<int> expected{0xE301, 5701, 0xE307, 0xE302, 5703, 0xAD, 0xE304, 0xFD};
  QCOMPARE(kinds, expected);
  const QByteArray ack = tokens[5].Body;
  QCOMPARE(quint8(ack[2]), quint8(1)); // interface
  const quint32 version = (quint32(quint8(ack[3])) << 24) | (quint32(quint8(ack[4])) << 16) |
                          (quint32(quint8(ack[5])) << 8) | quint32(quint8(ack[6]));
  QCOMPARE(version, acknowledged);
  QCOMPARE(ack.right(4), QByteArray("\x0A\x32\x06\x40", 4)); // 10.50.1600
  const QByteArray done = tokens.last().Body;
  QCOMPARE(U16(done, 0) & 0x01, 0); // no DONE_MORE
}

// The packet size the client asked for bounds every reply packet.
void TTestSqlSimProtocol::negotiatedPacketSize() {
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(QString::fromUtf8(Scenario)), qPrintable(sim.ErrorString()));
  TTdsTestClient client;
  QVERIFY(client.Connect(sim.Port()));
  const TTdsReply login =
      client.Login("demo", QString::fromUtf8("pässwörd"), "Big", 0x74000004, 512);
  QVERIFY(login.Complete);
  const QList<TToken> tokens = Walk(login.Tokens, true);
  const QByteArray env = tokens[tokens.size() - 2].Body;
  QCOMPARE(env.mid(4, 6), QByteArray("5\0001\0002\0", 6)); // "512"
  const TTdsReply reply = client.Batch("DBCC LOGINFO");
  QVERIFY(reply.Complete);
  QVERIFY(reply.Packets.size() > 100);
  for (qsizetype i = 0; i < reply.Packets.size(); ++i) {
    QVERIFY(reply.Packets[i].Payload.size() + 8 <= 512);
    QCOMPARE(bool(reply.Packets[i].Status & 1), i == reply.Packets.size() - 1);
  }
  // DONE: DONE_COUNT with 2000 rows, no DONE_MORE.
  const QByteArray tail = reply.Tokens.right(13);
  QCOMPARE(quint8(tail[0]), quint8(0xFD));
  QCOMPARE(U16(tail, 1), quint16(0x10));
  QCOMPARE(U16(tail, 5), quint16(2000));
}

// A batch longer than one packet is put together before it runs.
void TTestSqlSimProtocol::batchOverSeveralPackets() {
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(QString::fromUtf8(Scenario)), qPrintable(sim.ErrorString()));
  TTdsTestClient client;
  QVERIFY(client.Connect(sim.Port()));
  QVERIFY(client.Login("demo", QString::fromUtf8("pässwörd")).Complete);
  const QString longSet = "SET LANGUAGE us_english" + QString(20000, ' ') + "SET NOCOUNT ON";
  const TTdsReply reply = client.Batch(longSet);
  QVERIFY(reply.Complete);
  QCOMPARE(Walk(reply.Tokens, true).size(), 1);
  QCOMPARE(sim.LogLines(), QStringList{longSet});
}

// An attention after a finished answer gets DONE_ATTN; one during a delayed answer first ends
// that answer, then acknowledges.
void TTestSqlSimProtocol::attention() {
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(QString::fromUtf8(Scenario)), qPrintable(sim.ErrorString()));
  TTdsTestClient client;
  QVERIFY(client.Connect(sim.Port()));
  QVERIFY(client.Login("demo", QString::fromUtf8("pässwörd")).Complete);
  QVERIFY(client.Batch("SELECT 1").Complete);
  client.SendAttention();
  TTdsReply ack = client.ReadReply();
  QVERIFY(ack.Complete);
  QCOMPARE(U16(ack.Tokens, 1), quint16(0x20));

  TTdsTestClient delayed;
  QVERIFY(delayed.Connect(sim.Port()));
  QVERIFY(delayed.Login("demo", QString::fromUtf8("pässwörd")).Complete);
  delayed.SendBatch("SELECT 42"); // the scenario holds its answer back for a minute
  QTRY_VERIFY(sim.LogLines().contains("SELECT 42"));
  delayed.SendAttention();
  const TTdsReply ended = delayed.ReadReply();
  QVERIFY(ended.Complete);
  QCOMPARE(U16(ended.Tokens, 1) & 0x20, 0);
  const TTdsReply acknowledged = delayed.ReadReply();
  QVERIFY(acknowledged.Complete);
  QCOMPARE(U16(acknowledged.Tokens, 1), quint16(0x20));
  const TTdsReply next = delayed.Batch("SELECT 1");
  QVERIFY(next.Complete);
  QCOMPARE(quint8(next.Tokens[0]), quint8(0x81)); // a result, not the held-back answer
}

// Many connections at once, each with its own SPID and current database; one held back by a
// delay does not hold back the others.
void TTestSqlSimProtocol::sessionsAreIndependent() {
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(QString::fromUtf8(Scenario)), qPrintable(sim.ErrorString()));
  TTdsTestClient waiting;
  QVERIFY(waiting.Connect(sim.Port()));
  QVERIFY(waiting.Login("demo", QString::fromUtf8("pässwörd")).Complete);
  waiting.SendBatch("SELECT 42");

  std::vector<std::unique_ptr<TTdsTestClient>> clients;
  QSet<quint16> spids;
  for (int i = 0; i < 20; ++i) {
    auto c = std::make_unique<TTdsTestClient>();
    QVERIFY(c->Connect(sim.Port()));
    const TTdsReply login = c->Login("demo", QString::fromUtf8("pässwörd"), i % 2 ? "Big" : "");
    QVERIFY(login.Complete);
    spids.insert(login.Packets.first().Spid);
    clients.push_back(std::move(c));
  }
  QCOMPARE(spids.size(), 20);
  for (auto& c : clients)
    c->SendBatch("DBCC LOGINFO");
  for (size_t i = 0; i < clients.size(); ++i) {
    const TTdsReply r = clients[i]->ReadReply();
    QVERIFY(r.Complete);
    // Big has 2000 VLFs, master the four of its default log.
    const QByteArray tail = r.Tokens.right(13);
    QCOMPARE(U16(tail, 5), quint16(i % 2 ? 2000 : 4));
  }
}

// Whatever a client sends, the server closes that connection and keeps serving others.
void TTestSqlSimProtocol::badClientInput_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::newRow("length below the header") << QByteArray("\x12\x01\x00\x04\x00\x00\x01\x00", 8);
  QTest::newRow("unknown packet type") << TTdsTestClient::Packets(0x55, "abc", 4096);
  QTest::newRow("batch before login") << TTdsTestClient::Packets(0x01, QByteArray(30, 'a'), 4096);
  QTest::newRow("short LOGIN7") << TTdsTestClient::Packets(0x10, QByteArray(40, '\0'), 4096);
  QByteArray outside = TTdsTestClient::BuildLogin7("demo", "x", "", 0x74000004, 4096, "app");
  outside[40] = char(0xF0); // user name offset past the end
  outside[41] = char(0x7F);
  QTest::newRow("LOGIN7 field outside") << TTdsTestClient::Packets(0x10, outside, 4096);
  QTest::newRow("TDS 7.0 LOGIN7") << TTdsTestClient::Packets(
      0x10, TTdsTestClient::BuildLogin7("demo", "x", "", 0x70000000, 4096, "app"), 4096);
}

void TTestSqlSimProtocol::badClientInput() {
  QFETCH(QByteArray, bytes);
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(QString::fromUtf8(Scenario)), qPrintable(sim.ErrorString()));
  TTdsTestClient bad;
  QVERIFY(bad.Connect(sim.Port()));
  const TTdsReply reply = bad.SendRaw(bytes);
  QVERIFY(!reply.Complete);
  QVERIFY(bad.WaitForClose());
  TTdsTestClient good;
  QVERIFY(good.Connect(sim.Port()));
  QVERIFY(good.Login("demo", QString::fromUtf8("pässwörd")).Complete);
  QVERIFY(good.Batch("SELECT 1").Complete);
}

// The LOGIN7 decoder: the scrambled password and each field, and rejection of broken input.
void TTestSqlSimProtocol::login7Parser_data() {
  QTest::addColumn<QByteArray>("body");
  QTest::addColumn<bool>("valid");
  const QByteArray good = TTdsTestClient::BuildLogin7(
      "monitor", QString::fromUtf8("p\u00e4ss\u20ac!"), "Zürich", 0x74000004, 8192, "Tessaly GUI");
  QTest::newRow("complete") << good << true;
  QTest::newRow("truncated fixed part") << good.left(60) << false;
  QTest::newRow("truncated strings") << good.left(good.size() - 4) << false;
  QTest::newRow("empty") << QByteArray() << false;
}

void TTestSqlSimProtocol::login7Parser() {
  QFETCH(QByteArray, body);
  QFETCH(bool, valid);
  const auto login = Tds::ParseLogin7(body);
  QCOMPARE(login.has_value(), valid);
  if (!valid) return;
  QCOMPARE(login->UserName, QString("monitor"));
  QCOMPARE(login->Password, QString::fromUtf8("p\u00e4ss\u20ac!"));
  QCOMPARE(login->Database, QString::fromUtf8("Zürich"));
  QCOMPARE(login->AppName, QString("Tessaly GUI"));
  QCOMPARE(login->TdsVersion, quint32(0x74000004));
  QCOMPARE(login->PacketSize, quint32(8192));
}

// Usage errors end with status 2, an unusable scenario with status 1, each with a reason.
void TTestSqlSimProtocol::commandLine_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("status");
  QTest::addColumn<QString>("reason");
  const QString demo =
      qEnvironmentVariable("VELMORA_SOURCE_DIR") + "/tools/sqlsim/scenarios/demo.json";
  QTest::newRow("no scenario") << QStringList{} << 2 << "--scenario FILE is required";
  QTest::newRow("unknown option") << QStringList{"--scenario", demo, "--bogus"} << 2
                                  << "Unknown option 'bogus'";
  QTest::newRow("port out of range")
      << QStringList{"--scenario", demo, "--port", "70000"} << 2 << "--port must be a number";
  QTest::newRow("SSRP port not a number")
      << QStringList{"--scenario", demo, "--ssrp-port", "x"} << 2 << "--ssrp-port must be";
  QTest::newRow("missing scenario file")
      << QStringList{"--scenario", "/nonexistent/s.json"} << 1 << "cannot read";
}

void TTestSqlSimProtocol::commandLine() {
  QFETCH(QStringList, args);
  QFETCH(int, status);
  QFETCH(QString, reason);
  QProcess p;
  p.start(TSqlSimProcess::SimulatorPath(), args);
  QVERIFY(p.waitForFinished(20000));
  QCOMPARE(p.exitCode(), status);
  const QString err = QString::fromUtf8(p.readAllStandardError());
  QVERIFY2(err.contains(reason), qPrintable(err));
  QVERIFY(!p.readAllStandardOutput().contains("listening"));
}

QTEST_GUILESS_MAIN(TTestSqlSimProtocol)
#include "test_sqlsim_protocol.moc"
