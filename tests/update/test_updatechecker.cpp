// The update checker against an HTTP server on loopback: every outcome of a check and of a
// download. Nothing is ever run: the launcher and the quitter are the test's own.

#include "platform/uUpdateChecker.h"
#include "uLoopbackHttpServer.h"
#include "uUpdateTestFiles.h"
#include "uVersion.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Running = QStringLiteral("1.1.0.6");

// Records every event of one checker in order, and answers the ones that ask.
struct TRecorder {
  QStringList events;
  QList<int> percents;
  QList<int> lostCodes;
  QString history;
  QStringList files;
  bool canUpgrade = true;
  bool continueUpgrade = true;
  QString launched, launchedFolder;
  bool launchResult = true;
  QFile::Permissions setupPermissions, folderPermissions;
  QByteArray setupContent;
  int quits = 0;

  void Attach(TUpdateChecker& c) {
    QObject::connect(&c, &TUpdateChecker::OnHostUnreachable,
                     [this](const QString& url, const QString& host) {
                       events << "HostUnreachable " + host;
                       Q_UNUSED(url);
                     });
    QObject::connect(&c, &TUpdateChecker::OnNoInfoFile, [this] { events << "NoInfoFile"; });
    QObject::connect(&c, &TUpdateChecker::OnNoUpdateAvailable,
                     [this] { events << "NoUpdateAvailable"; });
    QObject::connect(&c, &TUpdateChecker::OnBeginUpgrade,
                     [this](const QString& msg, TUpdateChecker::TUpgradeMethod,
                            const QStringList& f, bool& can) {
                       events << "BeginUpgrade";
                       history = msg;
                       files = f;
                       can = canUpgrade;
                     });
    QObject::connect(&c, &TUpdateChecker::OnProgress,
                     [this](const QString&, qint64, qint64, int, int, int percent, int, double) {
                       if (events.isEmpty() || events.last() != "Progress") events << "Progress";
                       percents << percent;
                     });
    QObject::connect(&c, &TUpdateChecker::OnLostFile,
                     [this](const QString& url, int code, bool& go) {
                       events << "LostFile " + QUrl(url).path();
                       lostCodes << code;
                       go = continueUpgrade;
                     });
    QObject::connect(&c, &TUpdateChecker::OnConnLost, [this] { events << "ConnLost"; });
    QObject::connect(&c, &TUpdateChecker::OnEndUpgrade, [this](bool& restart) {
      events << "EndUpgrade";
      QVERIFY(restart);
    });
    c.SetLauncher([this](const QString& program, const QString& folder) {
      events << "Launch";
      launched = program;
      launchedFolder = folder;
      setupPermissions = QFileInfo(program).permissions();
      folderPermissions = QFileInfo(folder).permissions();
      QFile f(program);
      if (f.open(QIODevice::ReadOnly)) setupContent = f.readAll();
      return launchResult;
    });
    c.SetQuitter([this] {
      events << "Quit";
      ++quits;
    });
  }
};

constexpr QFile::Permissions Owner700 = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions GroupOrOther = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                            QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;

} // namespace

class TestUpdateChecker : public QObject {
  Q_OBJECT
  QTemporaryDir m_downloads;

  // Runs one check to its end (the checker idle again) and returns the events.
  void Run(TUpdateChecker& checker, const QString& infoUrl) {
    checker.SetInfoFileURL(infoUrl);
    checker.SetVersionNumber(Running);
    checker.SetDownloadBase(m_downloads.path());
    QVERIFY(checker.CheckUpdate());
    QVERIFY(checker.IsBusy());
    QVERIFY(!checker.CheckUpdate()); // one check at a time
    QTRY_VERIFY_WITH_TIMEOUT(!checker.IsBusy(), 20000);
  }

  QStringList DownloadFolders() const {
    return QDir(m_downloads.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  }

private Q_SLOTS:
  void init() {
    // Earlier cases leave their launched setups behind on purpose; start clean.
    for (const QString& d : DownloadFolders())
      QDir(m_downloads.filePath(d)).removeRecursively();
  }

  void checkOutcomes_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");
    const QByteArray setup = "https://example.com/velmora-setup.run";
    QTest::newRow("no file") << 404 << QByteArray("missing") << "NoInfoFile";
    QTest::newRow("server error") << 500 << QByteArray() << "NoInfoFile";
    QTest::newRow("not an information file") << 200 << QByteArray("<html>") << "NoInfoFile";
    QTest::newRow("same version") << 200 << MakeInfoFile(Running, {{setup, "x"}}, "")
                                  << "NoUpdateAvailable";
    QTest::newRow("same version, longer")
        << 200 << MakeInfoFile("1.1.0.6.0", {{setup, "x"}}, "") << "NoUpdateAvailable";
    QTest::newRow("older version")
        << 200 << MakeInfoFile("1.1.0.5", {{setup, "x"}}, "") << "NoUpdateAvailable";
    QTest::newRow("older though longer digits")
        << 200 << MakeInfoFile("1.01.0.5", {{setup, "x"}}, "") << "NoUpdateAvailable";
    QTest::newRow("newer part 10")
        << 200 << MakeInfoFile("1.1.0.10", {{setup, "x"}}, "") << "BeginUpgrade";
  }
  void checkOutcomes() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    TLoopbackHttpServer server;
    server.SetRoute("/update.inf", {status, body, {}, -1, false});
    TUpdateChecker checker;
    TRecorder rec;
    rec.canUpgrade = false;
    rec.Attach(checker);
    Run(checker, server.Url("/update.inf"));
    QCOMPARE(rec.events, QStringList{expected});
    QCOMPARE(server.Requests(), QStringList{"/update.inf"});
  }

  void hostUnreachable() {
    TUpdateChecker checker;
    TRecorder rec;
    rec.Attach(checker);
    Run(checker,
        QStringLiteral("http://127.0.0.1:%1/update.inf").arg(TLoopbackHttpServer::ClosedPort()));
    QCOMPARE(rec.events, QStringList{"HostUnreachable 127.0.0.1"});
  }

  // Plain http to a host name is refused before any traffic; the check still ends.
  void plainHttpRefused() {
    TLoopbackHttpServer server;
    TUpdateChecker checker;
    TRecorder rec;
    rec.Attach(checker);
    Run(checker, QStringLiteral("http://localhost:%1/update.inf").arg(server.Port()));
    QCOMPARE(rec.events, QStringList{"NoInfoFile"});
    QVERIFY(server.Requests().isEmpty());
  }

  void declined() {
    TLoopbackHttpServer server;
    const QString history = QString::fromUtf8("<!-- version:1.1.0.7 -->\n<p>Gr\u00fc\u00dfe</p>");
    server.SetRoute(
        "/update.inf",
        {200, MakeInfoFile("1.1.0.7", {{server.Url("/setup.run"), "x"}}, history), {}, -1, false});
    TUpdateChecker checker;
    TRecorder rec;
    rec.canUpgrade = false;
    rec.Attach(checker);
    Run(checker, server.Url("/update.inf"));
    QCOMPARE(rec.events, QStringList{"BeginUpgrade"});
    QCOMPARE(rec.history, history); // decoded as UTF-8
    QCOMPARE(rec.files, QStringList{server.Url("/setup.run")});
    QCOMPARE(server.Requests(), QStringList{"/update.inf"});
    QVERIFY(DownloadFolders().isEmpty());
  }

  void downloadAndRun() {
    TLoopbackHttpServer server;
    const QByteArray content = MakeSetupContent();
    const QByteArray extra = "companion data";
    server.SetRoute("/d/setup.run", {200, content, {}, -1, false});
    server.SetRoute("/d/extra.dat", {200, extra, {}, -1, false});
    server.SetRoute("/update.inf", {200,
                                    MakeInfoFile("1.1.0.7",
                                                 {{server.Url("/d/setup.run"), content},
                                                  {server.Url("/d/extra.dat"), extra}},
                                                 "h"),
                                    {},
                                    -1,
                                    false});
    TUpdateChecker checker;
    TRecorder rec;
    rec.Attach(checker);
    Run(checker, server.Url("/update.inf"));
    QCOMPARE(rec.events, (QStringList{"BeginUpgrade", "Progress", "EndUpgrade", "Launch", "Quit"}));
    QCOMPARE(server.Requests(), (QStringList{"/update.inf", "/d/setup.run", "/d/extra.dat"}));
    // Progress runs from 0 to 100 for each file, never backwards within a file.
    QCOMPARE(rec.percents.first(), 0);
    QCOMPARE(rec.percents.last(), 100);
    QVERIFY(rec.percents.count(0) == 2 && rec.percents.count(100) == 2);
    // The setup was verified, kept private and made executable before it was started.
    QCOMPARE(rec.setupContent, content);
    QCOMPARE(QFileInfo(rec.launched).fileName(), QString("setup.run"));
    QCOMPARE(QFileInfo(rec.launched).absolutePath(), rec.launchedFolder);
    QCOMPARE(rec.setupPermissions & (Owner700 | GroupOrOther), Owner700);
    QCOMPARE(rec.folderPermissions & (Owner700 | GroupOrOther), Owner700);
    QVERIFY(QFileInfo::exists(rec.launchedFolder + "/extra.dat"));
    QCOMPARE(rec.quits, 1);
  }

  // Whatever does not match the information file is never run, and nothing of it is kept.
  void lostFile_data() {
    QTest::addColumn<TLoopbackRoute>("route");
    QTest::addColumn<QByteArray>("sha");
    QTest::addColumn<bool>("loopbackUrl");
    QTest::addColumn<int>("code");
    const QByteArray content = MakeSetupContent(4096);
    const QByteArray otherSha = QByteArray(64, 'a');
    QTest::newRow("sha-256 differs") << TLoopbackRoute{200, content, {}, -1, false} << otherSha
                                     << true << int(TUpdateChecker::lfChecksumMismatch);
    QTest::newRow("more bytes than promised")
        << TLoopbackRoute{200, content + "x", {}, -1, false} << QByteArray() << true
        << int(TUpdateChecker::lfSizeMismatch);
    QTest::newRow("fewer bytes than promised")
        << TLoopbackRoute{200, content.left(100), {}, -1, false} << QByteArray() << true
        << int(TUpdateChecker::lfSizeMismatch);
    QTest::newRow("not found") << TLoopbackRoute{404, "gone", {}, -1, false} << QByteArray() << true
                               << 404;
    QTest::newRow("plain http by name")
        << TLoopbackRoute{200, content, {}, -1, false} << QByteArray() << false
        << int(TUpdateChecker::lfUrlNotAllowed);
  }
  void lostFile() {
    QFETCH(TLoopbackRoute, route);
    QFETCH(QByteArray, sha);
    QFETCH(bool, loopbackUrl);
    QFETCH(int, code);
    TLoopbackHttpServer server;
    const QByteArray content = MakeSetupContent(4096);
    const QString url = loopbackUrl
                            ? server.Url("/setup.run")
                            : QStringLiteral("http://localhost:%1/setup.run").arg(server.Port());
    server.SetRoute("/setup.run", route);
    server.SetRoute("/update.inf",
                    {200, MakeInfoFile("1.1.0.7", {{url, content, sha}}, "h"), {}, -1, false});
    TUpdateChecker checker;
    TRecorder rec;
    rec.Attach(checker);
    Run(checker, server.Url("/update.inf"));
    QVERIFY2(rec.events.endsWith("LostFile /setup.run"), qPrintable(rec.events.join(", ")));
    QVERIFY(!rec.events.contains("Launch") && !rec.events.contains("EndUpgrade"));
    QCOMPARE(rec.lostCodes, QList<int>{code});
    QCOMPARE(server.Requests().contains("/setup.run"), loopbackUrl);
    QVERIFY(DownloadFolders().isEmpty());
  }

  // A redirect must obey the address rule too.
  void redirectToPlainHttpRefused() {
    TLoopbackHttpServer server;
    const QByteArray content = "setup";
    server.SetRoute("/setup.run", {302, "",
                                   "Location: http://localhost:" +
                                       QByteArray::number(server.Port()) + "/evil.run\r\n",
                                   -1, false});
    server.SetRoute(
        "/update.inf",
        {200, MakeInfoFile("1.1.0.7", {{server.Url("/setup.run"), content}}, "h"), {}, -1, false});
    TUpdateChecker checker;
    TRecorder rec;
    rec.Attach(checker);
    Run(checker, server.Url("/update.inf"));
    QCOMPARE(rec.lostCodes, QList<int>{TUpdateChecker::lfUrlNotAllowed});
    QVERIFY(!server.Requests().contains("/evil.run"));
  }

  void connectionClosedMidway() {
    TLoopbackHttpServer server;
    const QByteArray content = MakeSetupContent();
    server.SetRoute("/setup.run", {200, content, {}, content.size() / 2, false});
    server.SetRoute(
        "/update.inf",
        {200, MakeInfoFile("1.1.0.7", {{server.Url("/setup.run"), content}}, "h"), {}, -1, false});
    TUpdateChecker checker;
    TRecorder rec;
    rec.Attach(checker);
    Run(checker, server.Url("/update.inf"));
    QCOMPARE(rec.events, (QStringList{"BeginUpgrade", "Progress", "ConnLost"}));
    QVERIFY(rec.percents.last() < 100);
    QVERIFY(DownloadFolders().isEmpty());
  }

  void launchFails() {
    TLoopbackHttpServer server;
    const QByteArray content = "setup";
    server.SetRoute("/setup.run", {200, content, {}, -1, false});
    server.SetRoute(
        "/update.inf",
        {200, MakeInfoFile("1.1.0.7", {{server.Url("/setup.run"), content}}, "h"), {}, -1, false});
    TUpdateChecker checker;
    TRecorder rec;
    rec.launchResult = false;
    rec.Attach(checker);
    Run(checker, server.Url("/update.inf"));
    QCOMPARE(rec.events, (QStringList{"BeginUpgrade", "Progress", "EndUpgrade", "Launch",
                                      "LostFile /setup.run"}));
    QCOMPARE(rec.lostCodes, QList<int>{TUpdateChecker::lfLaunchFailed});
    QCOMPARE(rec.quits, 0);
    QVERIFY(DownloadFolders().isEmpty());
  }

  // A lost companion file may be passed over; a lost setup always ends the update.
  void continueAfterLostFile_data() {
    QTest::addColumn<bool>("setupLost");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("companion lost")
        << false
        << QStringList{"BeginUpgrade", "Progress", "LostFile /extra.dat", "Progress", "EndUpgrade",
                       "Launch",       "Quit"};
    QTest::newRow("setup lost") << true
                                << QStringList{"BeginUpgrade", "Progress", "LostFile /setup.run"};
  }
  void continueAfterLostFile() {
    QFETCH(bool, setupLost);
    QFETCH(QStringList, expected);
    TLoopbackHttpServer server;
    server.SetRoute(setupLost ? "/more.dat" : "/setup.run", {200, "setup", {}, -1, false});
    server.SetRoute(setupLost ? "/setup.run" : "/more.dat", {200, "more!", {}, -1, false});
    const QList<TTestSetupFile> files = {{server.Url("/setup.run"), "setup"},
                                         {server.Url("/extra.dat"), "extra"},
                                         {server.Url("/more.dat"), "more!"}};
    server.SetRoute("/update.inf", {200, MakeInfoFile("1.1.0.7", files, "h"), {}, -1, false});
    TUpdateChecker checker;
    TRecorder rec;
    rec.continueUpgrade = true;
    rec.Attach(checker);
    Run(checker, server.Url("/update.inf"));
    QCOMPARE(rec.events, expected);
    if (!setupLost) QVERIFY(!QFileInfo::exists(rec.launchedFolder + "/extra.dat"));
  }

  // Aborting from inside a handler ends the flow at once.
  void abortInsideHandler() {
    TLoopbackHttpServer server;
    server.SetRoute(
        "/update.inf",
        {200, MakeInfoFile("1.1.0.7", {{server.Url("/setup.run"), "x"}}, "h"), {}, -1, false});
    TUpdateChecker checker;
    TRecorder rec;
    rec.Attach(checker);
    QObject::connect(&checker, &TUpdateChecker::OnBeginUpgrade, &checker,
                     [&checker](const QString&, TUpdateChecker::TUpgradeMethod, const QStringList&,
                                bool&) { checker.Abort(); });
    Run(checker, server.Url("/update.inf"));
    QCOMPARE(rec.events, QStringList{"BeginUpgrade"});
    QCOMPARE(server.Requests(), QStringList{"/update.inf"});
  }
};

QTEST_GUILESS_MAIN(TestUpdateChecker)
#include "test_updatechecker.moc"
