// The update information dialog and the Check for updates dialog, driven end to end against an
// HTTP server on loopback; the update information dialog is answered through the modal hook.

#include "forms/ufrmCheckForUpdates.h"
#include "forms/ufrmMain.h"
#include "forms/ufrmWebUpdateInformation.h"
#include "fuzz/history/uHistoryRender.h"
#include "platform/gui/uModalHook.h"
#include "platform/gui/uShellOpen.h"
#include "platform/uVersionInfo.h"
#include "uLoopbackHttpServer.h"
#include "uUpdateTestFiles.h"
#include "uVersion.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>

namespace {

const QString Running = QStringLiteral(VELMORA_FILE_VERSION);
const QString Newer = QStringLiteral("99.0");
const QString Utf8Text = QString::fromUtf8("Gr\u00fc\u00dfe \u20ac \u65e5\u672c");

QString Comment(const QString& version) {
  return "<!-- version:" + version + " -->";
}

bool CursorIsBusy() {
  return QApplication::overrideCursor() &&
         QApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

// One Check for updates dialog against its own server; nothing is ever run.
struct TCheckFixture {
  TLoopbackHttpServer server;
  QTemporaryDir downloads;
  std::unique_ptr<TfrmCheckForUpdates> dlg;
  QStringList launched;
  int quits = 0;
  QStringList progressSnapshots; // the message area after each progress report

  explicit TCheckFixture(const QString& infoUrl = QString()) {
    TfrmCheckForUpdates::SetInfoFileURLOverride(infoUrl.isEmpty() ? server.Url("/update.inf")
                                                                  : infoUrl);
    dlg = std::make_unique<TfrmCheckForUpdates>();
    dlg->autoUpgrade->SetDownloadBase(downloads.path());
    dlg->autoUpgrade->SetLauncher([this](const QString& program, const QString&) {
      launched << program;
      return true;
    });
    dlg->autoUpgrade->SetQuitter([this] { ++quits; });
    // Connected after the dialog's own handler, so it sees what the handler wrote.
    QObject::connect(dlg->autoUpgrade, &TUpdateChecker::OnProgress, dlg.get(),
                     [this] { progressSnapshots << dlg->mmMemo->toPlainText(); });
  }
  void Serve(const QString& version, const QString& history, const TLoopbackRoute& setup,
             const QByteArray& content) {
    server.SetRoute("/setup.run", setup);
    server.SetRoute("/update.inf",
                    {200,
                     MakeInfoFile(version, {{server.Url("/setup.run"), content}}, history),
                     {},
                     -1,
                     false});
  }
  bool Idle() const { return dlg->btnRetry->isEnabled() && dlg->btnClose->isEnabled(); }
};

} // namespace

class TestUpdateDialogs : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
  }
  void cleanup() {
    QCOMPARE(ModalHook::UnansweredCount(), 0);
    QVERIFY(!QApplication::overrideCursor()); // every path gives the cursor back
    TfrmCheckForUpdates::SetInfoFileURLOverride(QString());
    SetVersionInfoSource({});
  }

  void informationDialog_data() {
    QTest::addColumn<QString>("history");
    QTest::addColumn<QString>("latestVersion");
    QTest::addColumn<bool>("isLatest");
    QTest::newRow("running version named first")
        << Comment(Running) + "\n<p>x</p>\n" + Comment("1.0") << Running << true;
    QTest::newRow("newer version first")
        << Comment(Newer) + "\n" + Comment(Running) << Newer << false;
    QTest::newRow("comment without space skipped")
        << "<!-- version:" + Newer + "-->\n" + Comment(Running) << Running << true;
    QTest::newRow("differs by a leading zero") << Comment("0" + Running) << "0" + Running << false;
    QTest::newRow("differs by a trailing tab")
        << Comment(Running + "\t") << Running + "\t" << false;
    QTest::newRow("differs in spacing")
        << "<!-- version:" + QString(Running).replace(".", ". ") + " -->"
        << Running.left(Running.indexOf('.') + 1) << false;
    QTest::newRow("no version comment") << "<p>plain</p>"
                                        << "" << false;
  }
  void informationDialog() {
    QFETCH(QString, history);
    QFETCH(QString, latestVersion);
    QFETCH(bool, isLatest);
    TfrmUpdateInformation dlg;
    QCOMPARE(dlg.objectName(), QString("frmUpdateInformation"));
    QVERIFY(!dlg.IsLatestVersion);
    dlg.SetUpdateInfo(history);
    QCOMPARE(dlg.CurrentVersion, Running);
    QCOMPARE(dlg.LatestVersion, latestVersion);
    QCOMPARE(dlg.IsLatestVersion, isLatest);
    QCOMPARE(dlg.lblCurrentVersion->text(), isLatest
                                                ? "This version of Velmora is " + Running +
                                                      ", which is the latest available version."
                                                : "This version of Velmora is " + Running + ".");
    QCOMPARE(dlg.btnCancel->text(), isLatest ? QString("&Close") : QString("&Cancel"));

    bool focusOnCancel = false, updateVisible = false;
    ModalHook::SetNextAnswer("frmUpdateInformation", [&](QDialog&) {
      focusOnCancel = dlg.focusWidget() == dlg.btnCancel;
      updateVisible = dlg.btnUpdate->isVisible();
      dlg.btnCancel->click();
      return dlg.result();
    });
    QCOMPARE(ModalHook::Exec(dlg), int(QDialog::Rejected));
    QCOMPARE(updateVisible, !isLatest);
    if (isLatest) QVERIFY(focusOnCancel);
  }

  // Neither button is the default: Enter in the history must not start an update, while a
  // focused button still answers it.
  void informationDialogEnter_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("stayedOpen");
    QTest::newRow("in the history") << "htmlWhatsNew" << int(QDialog::Rejected) << true;
    QTest::newRow("on Update now") << "btnUpdate" << int(QDialog::Accepted) << false;
    QTest::newRow("on Cancel") << "btnCancel" << int(QDialog::Rejected) << false;
  }
  void informationDialogEnter() {
    QFETCH(QString, target);
    QFETCH(int, result);
    QFETCH(bool, stayedOpen);
    TfrmUpdateInformation dlg;
    dlg.SetUpdateInfo(Comment(Newer) + "\n<p>notes</p>");
    bool open = false;
    ModalHook::SetNextAnswer("frmUpdateInformation", [&](QDialog&) {
      auto* widget = dlg.findChild<QWidget*>(target);
      if (widget) QTest::keyClick(widget, Qt::Key_Return);
      open = dlg.isVisible();
      if (open) dlg.btnCancel->click();
      return dlg.result();
    });
    QCOMPARE(ModalHook::Exec(dlg), result);
    QCOMPARE(open, stayedOpen);
  }

  // Without version values nothing can be the latest version, not even an empty one.
  void informationDialogWithoutVersion() {
    SetVersionInfoSource([] { return std::optional<TVersionInfo>(); });
    TfrmUpdateInformation dlg;
    dlg.SetUpdateInfo("<p>no version comment</p>");
    QCOMPARE(dlg.CurrentVersion, QString());
    QCOMPARE(dlg.LatestVersion, QString());
    QVERIFY(!dlg.IsLatestVersion);
    QCOMPARE(dlg.lblCurrentVersion->text(), QString("This version of Velmora is unknown."));
    QVERIFY(!dlg.btnUpdate->isHidden());
  }

  void informationDialogText_data() {
    QTest::addColumn<QString>("history");
    QTest::addColumn<QString>("shown");
    QTest::newRow("brace tokens") << "<p><openbrace>a<closebrace> {b}</p>"
                                  << "{a} {b}";
    QTest::newRow("utf-8 text") << "<p>" + Utf8Text + "</p>" << Utf8Text;
    QTest::newRow("html") << "<ul><li>one &amp; two</li></ul>"
                          << "one & two";
  }
  void informationDialogText() {
    QFETCH(QString, history);
    QFETCH(QString, shown);
    TfrmUpdateInformation dlg;
    dlg.SetUpdateInfo(history);
    QVERIFY2(dlg.htmlWhatsNew->toPlainText().contains(shown),
             qPrintable(dlg.htmlWhatsNew->toPlainText()));
  }

  // The history comes from the network. Hostile pages are shown without loading anything
  // they name, without a crash and in bounded time; pages beyond the size and nesting
  // bounds are shown as their text. (Timings: bench/history.)
  void hostileHistory_data() {
    QTest::addColumn<QString>("history");
    QTest::addColumn<bool>("asText");
    static QTemporaryDir dir;
    const QString pipe = dir.filePath("pipe");
    QVERIFY(mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    const QString image = dir.filePath("red.png");
    QImage red(40, 40, QImage::Format_RGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(image));
    QTest::newRow("image from /dev/zero") << "<p>a</p><img src=\"/dev/zero\">" << false;
    QTest::newRow("image from a named pipe") << "<img src=\"" + pipe + "\"><p>a</p>" << false;
    QTest::newRow("image from a local file") << "<img src=\"file://" + image + "\">" << false;
    QTest::newRow("background from /dev/zero")
        << "<body background=\"/dev/zero\"><table background=\"" + pipe +
               "\"><tr><td style=\"background-image: url(/dev/zero)\">a</td></tr></table>"
        << false;
    QTest::newRow("style sheet from a pipe")
        << "<link rel=\"stylesheet\" href=\"" + pipe + "\"><style>@import url(\"" + pipe +
               "\");</style><p>a</p>"
        << false;
    QTest::newRow("data image") << "<img src=\"data:image/png;base64,iVBORw0KGgo=\">" << false;
    QTest::newRow("3,000 nested tables") << QString("<table><tr><td>").repeated(3000) << true;
    QTest::newRow("20,000 nested lists") << QString("<ul><li>").repeated(20000) + "x" << true;
    QTest::newRow("nested within bounds") << QString("<ul><li>a").repeated(15) << false;
    QTest::newRow("unclosed items and rows")
        << "<ul>" + QString("<li>item").repeated(5000) + "</ul><table>" +
               QString("<tr><td>a<td>b").repeated(500) + "</table>"
        << false;
    QTest::newRow("huge column span")
        << "<table><tr><td colspan=\"2000000000\" rowspan=99999>a</td></tr></table>" << true;
    QTest::newRow("one megabyte") << QString("<b>x</b> ").repeated(1024 * 1024 / 9) << true;
  }
  void hostileHistory() {
    QFETCH(QString, history);
    QFETCH(bool, asText);
    TfrmUpdateInformation dlg;
    QVERIFY(RenderHistory(dlg, history) > 0);
    QCOMPARE(dlg.htmlWhatsNew->toPlainText().contains(u'<'), asText);
    // The local picture is never read: nothing red is shown.
    dlg.show();
    const QImage shot = dlg.htmlWhatsNew->viewport()->grab().toImage();
    QVERIFY(!shot.isNull());
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x)
        QVERIFY(shot.pixel(x, y) != qRgb(255, 0, 0));
  }

  void openableLinks_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("opened");
    QTest::newRow("https") << "https://www.example.com/notes" << true;
    QTest::newRow("http") << "http://www.example.com/notes" << true;
    QTest::newRow("mail") << "mailto:support@example.com" << true;
    QTest::newRow("local file") << "file:///usr/bin/xterm" << false;
    QTest::newRow("relative") << "setup.run" << false;
    QTest::newRow("other scheme") << "smb://host/share/setup.exe" << false;
  }
  // Links in the history come from the network: only web and mail addresses reach the shell.
  void openableLinks() {
    QFETCH(QString, url);
    QFETCH(bool, opened);
    QCOMPARE(TfrmUpdateInformation::IsOpenableLink(QUrl(url)), opened);
    struct TFakeOpener : TShellOpener {
      QStringList links;
      int Open(const QString& link) override {
        links << link;
        return ShellResult::Success;
      }
    } opener;
    SetShellOpener(&opener);
    TfrmUpdateInformation dlg;
    dlg.SetUpdateInfo("<a href=\"" + url + "\">link</a>");
    Q_EMIT dlg.htmlWhatsNew->anchorClicked(QUrl(url));
    SetShellOpener(nullptr);
    QCOMPARE(opener.links, opened ? QStringList{url} : QStringList());
  }

  void checkStartsState() {
    TCheckFixture f;
    QCOMPARE(f.dlg->objectName(), QString("frmCheckForUpdates"));
    QCOMPARE(f.dlg->windowTitle(), QString("Check For Updates"));
    QVERIFY(!f.dlg->timerUpdate.isActive());
    f.dlg->show();
    QCOMPARE(f.dlg->lblStatus->text(), QString("..."));
    QVERIFY(!f.dlg->btnRetry->isEnabled());
    QVERIFY(f.dlg->btnClose->isEnabled());
    QVERIFY(f.dlg->timerUpdate.isActive());
    QCOMPARE(f.dlg->autoUpgrade->VersionNumber(), Running);
    QCOMPARE(f.dlg->autoUpgrade->InfoFileURL(), f.server.Url("/update.inf"));
    QVERIFY(f.server.Requests().isEmpty());
  }

  // The running version comes from the version values; without them the stored one stays.
  void checkVersionNumber_data() {
    QTest::addColumn<int>("source"); // 0 values, 1 none, 2 an error while reading
    QTest::addColumn<QString>("expected");
    QTest::newRow("version values") << 0 << "7.8.9.10";
    QTest::newRow("no version values") << 1 << "1.0.0";
    QTest::newRow("error while reading") << 2 << "1.0.0";
  }
  void checkVersionNumber() {
    QFETCH(int, source);
    QFETCH(QString, expected);
    SetVersionInfoSource([source]() -> std::optional<TVersionInfo> {
      if (source == 2) throw std::runtime_error("unreadable");
      if (source == 1) return std::nullopt;
      return TVersionInfo{"7.8.9.10", "c"};
    });
    TCheckFixture f;
    f.dlg->show();
    QCOMPARE(f.dlg->autoUpgrade->VersionNumber(), expected);
  }

  void defaultAddress() {
    QCOMPARE(TfrmCheckForUpdates::DefaultInfoFileURL(),
             QString(VELMORA_WEBSITE "/downloads/velmora/update.inf"));
  }

  // Each way a check can end, as the user sees it.
  void checkOutcomes_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<TLoopbackRoute>("setup");
    QTest::addColumn<QByteArray>("sha");
    QTest::addColumn<int>("answer"); // of the update information dialog; -1: not shown
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("memo"); // %1: the setup's address
    const QByteArray content = MakeSetupContent();
    const TLoopbackRoute ok{200, content, {}, -1, false};
    const QString failed = "Failed with errors";
    QTest::newRow("no information file") << "" << ok << QByteArray() << -1 << failed
                                         << "The update information file could not be retrieved.";
    QTest::newRow("same version") << Running << ok << QByteArray() << -1 << "Completed"
                                  << "The version you are using is the latest version.";
    QTest::newRow("declined") << Newer << ok << QByteArray() << int(QDialog::Rejected)
                              << "Completed"
                              << "Update skipped";
    QTest::newRow("checksum differs")
        << Newer << ok << QByteArray(64, '0') << int(QDialog::Accepted) << failed
        << "Velmora failed to download the new setup file from %1.  Please try again later.";
    QTest::newRow("connection closed midway")
        << Newer << TLoopbackRoute{200, content, {}, content.size() / 3, false} << QByteArray()
        << int(QDialog::Accepted) << failed
        << "Velmora failed to download the new setup file from %1.  The connection was lost.  "
           "Please try again later.";
  }
  void checkOutcomes() {
    QFETCH(QString, version);
    QFETCH(TLoopbackRoute, setup);
    QFETCH(QByteArray, sha);
    QFETCH(int, answer);
    QFETCH(QString, status);
    QFETCH(QString, memo);
    TCheckFixture f;
    if (!version.isEmpty()) {
      f.server.SetRoute("/setup.run", setup);
      f.server.SetRoute(
          "/update.inf",
          {200,
           MakeInfoFile(version, {{f.server.Url("/setup.run"), MakeSetupContent(), sha}},
                        Comment(version)),
           {},
           -1,
           false});
    }
    if (answer >= 0) ModalHook::SetNextAnswer("frmUpdateInformation", answer);
    f.dlg->show();
    QTRY_VERIFY_WITH_TIMEOUT(f.Idle(), 20000);
    QCOMPARE(f.dlg->lblStatus->text(), status);
    QCOMPARE(f.dlg->mmMemo->toPlainText(),
             memo.contains("%1") ? memo.arg(f.server.Url("/setup.run")) : memo);
    QCOMPARE(ModalHook::PendingAnswers("frmUpdateInformation"), 0);
    QVERIFY(f.launched.isEmpty());
    QVERIFY(f.dlg->isVisible());
  }

  void hostUnreachable() {
    TCheckFixture f(
        QStringLiteral("http://127.0.0.1:%1/update.inf").arg(TLoopbackHttpServer::ClosedPort()));
    f.dlg->show();
    QTRY_VERIFY_WITH_TIMEOUT(f.Idle(), 20000);
    QCOMPARE(f.dlg->lblStatus->text(), QString("Failed with errors"));
    QCOMPARE(f.dlg->mmMemo->toPlainText(),
             QString("Failed to contact web site to retrieve update information: 127.0.0.1"));
  }

  void acceptedDownload() {
    TCheckFixture f;
    const QByteArray content = MakeSetupContent();
    f.Serve(Newer, Comment(Newer) + "\n<p>" + Utf8Text + " <openbrace>x<closebrace></p>",
            {200, content, {}, -1, false}, content);
    QString shownHistory;
    ModalHook::SetNextAnswer("frmUpdateInformation", [&](QDialog& d) {
      shownHistory = static_cast<TfrmUpdateInformation&>(d).htmlWhatsNew->toPlainText();
      return int(QDialog::Accepted);
    });
    QString statusAtEnd, memoAtEnd;
    QString noticeText;
    bool buttonsAtEnd = true, busyAtEnd = false;
    ModalHook::SetNextAnswer("msgEndUpgrade", [&](QDialog& box) {
      statusAtEnd = f.dlg->lblStatus->text();
      memoAtEnd = f.dlg->mmMemo->toPlainText();
      buttonsAtEnd = f.dlg->btnRetry->isEnabled() || f.dlg->btnClose->isEnabled();
      busyAtEnd = CursorIsBusy();
      noticeText = static_cast<QMessageBox&>(box).text();
      return int(QMessageBox::Ok);
    });
    f.dlg->show();
    QTRY_COMPARE_WITH_TIMEOUT(f.quits, 1, 20000);
    QVERIFY(shownHistory.contains(Utf8Text + " {x}"));
    QCOMPARE(noticeText, QString("Velmora will now close to allow the update to proceed.  Once the "
                                 "update has completed, Velmora will restart."));
    QCOMPARE(statusAtEnd, QString("Downloading updates..."));
    QVERIFY(!buttonsAtEnd);
    QVERIFY(busyAtEnd);
    const QString url = f.server.Url("/setup.run");
    QCOMPARE(memoAtEnd, "Downloading: " + url + "\n  Progress: 100%");
    // Each report replaces both lines; the percentage only grows.
    QVERIFY(f.progressSnapshots.size() >= 2);
    int last = -1;
    for (const QString& snapshot : std::as_const(f.progressSnapshots)) {
      const QStringList lines = snapshot.split('\n');
      QCOMPARE(lines.size(), 2);
      QCOMPARE(lines[0], "Downloading: " + url);
      QVERIFY(lines[1].startsWith("  Progress: ") && lines[1].endsWith('%'));
      const int percent = lines[1].mid(12).chopped(1).toInt();
      QVERIFY(percent > last);
      last = percent;
    }
    QCOMPARE(f.launched.size(), 1);
    QCOMPARE(QFileInfo(f.launched[0]).fileName(), QString("setup.run"));
    QDir(QFileInfo(f.launched[0]).absolutePath()).removeRecursively();
    f.dlg.reset(); // the cursor is given back when the program closes the dialog
  }

  void latestVersionNamedFirst() {
    TCheckFixture f;
    f.Serve(Newer, Comment(Running) + "\n" + Comment("1.0"), {200, "x", {}, -1, false}, "x");
    bool onlyClose = false;
    ModalHook::SetNextAnswer("frmUpdateInformation", [&](QDialog& d) {
      auto& info = static_cast<TfrmUpdateInformation&>(d);
      onlyClose = !info.btnUpdate->isVisible() && info.btnCancel->text() == "&Close" &&
                  info.focusWidget() == info.btnCancel;
      return int(QDialog::Rejected);
    });
    QSignalSpy finished(f.dlg.get(), &QDialog::finished);
    f.dlg->show();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
    QCOMPARE(finished[0][0].toInt(), int(QDialog::Accepted));
    QVERIFY(onlyClose);
    QVERIFY(!f.dlg->isVisible());
    QCOMPARE(f.dlg->mmMemo->toPlainText(), QString("Update skipped"));
    QCOMPARE(f.server.Requests(), QStringList{"/update.inf"});
  }

  void retryStartsAgain() {
    TCheckFixture f;
    f.dlg->show();
    QTRY_VERIFY_WITH_TIMEOUT(f.Idle(), 20000);
    QCOMPARE(f.dlg->lblStatus->text(), QString("Failed with errors"));
    // The next answer stalls, so the checking state can be seen.
    f.server.SetRoute("/update.inf", {200, "[Update]\n", {}, 3, true});
    QTest::mouseClick(f.dlg->btnRetry, Qt::LeftButton);
    QVERIFY(f.dlg->timerUpdate.isActive());
    QTRY_COMPARE_WITH_TIMEOUT(f.server.Requests().size(), 2, 20000);
    QCOMPARE(f.dlg->lblStatus->text(), QString("Checking for updates ..."));
    QVERIFY(!f.dlg->btnRetry->isEnabled() && !f.dlg->btnClose->isEnabled());
    QCOMPARE(f.dlg->mmMemo->toPlainText(), QString()); // emptied for the new check
    QVERIFY(!QApplication::overrideCursor());          // only while the check is started
    QTest::keyClick(f.dlg->mmMemo, Qt::Key_Escape);
    QVERIFY(!f.dlg->isVisible());
  }

  void escapeDuringDownload() {
    TCheckFixture f;
    const QByteArray content = MakeSetupContent();
    f.Serve(Newer, Comment(Newer), {200, content, {}, 1000, true}, content);
    ModalHook::SetNextAnswer("frmUpdateInformation", int(QDialog::Accepted));
    QSignalSpy finished(f.dlg.get(), &QDialog::finished);
    f.dlg->show();
    QTRY_VERIFY_WITH_TIMEOUT(f.progressSnapshots.size() >= 1, 20000);
    QVERIFY(CursorIsBusy());
    QVERIFY(!f.dlg->btnClose->isEnabled());
    // Esc elsewhere follows the disabled Close button and does nothing.
    QTest::keyClick(f.dlg->btnRetry, Qt::Key_Escape);
    QVERIFY(f.dlg->isVisible());
    QCOMPARE(finished.size(), 0);
    // Esc in the message area closes the dialog at any time, with Cancel.
    QTest::keyClick(f.dlg->mmMemo, Qt::Key_Escape);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].toInt(), int(QDialog::Rejected));
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(!f.dlg->autoUpgrade->IsBusy()); // the transfer stopped with the dialog
  }

  void escapeWhenIdleClosesWithOk() {
    TCheckFixture f;
    f.dlg->show();
    QTRY_VERIFY_WITH_TIMEOUT(f.Idle(), 20000);
    QSignalSpy finished(f.dlg.get(), &QDialog::finished);
    QTest::keyClick(f.dlg->btnRetry, Qt::Key_Escape);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].toInt(), int(QDialog::Accepted));
  }

  // Enter answers the button that has the focus; elsewhere it presses Retry.
  void enterPressesFocusedButton_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("closedWith"); // -1: the dialog stays and a check is due
    QTest::newRow("on Close") << "btnClose" << int(QDialog::Accepted);
    QTest::newRow("on Retry") << "btnRetry" << -1;
    QTest::newRow("in the message area") << "mmMemo" << -1;
  }
  void enterPressesFocusedButton() {
    QFETCH(QString, target);
    QFETCH(int, closedWith);
    TCheckFixture f;
    f.dlg->show();
    QTRY_VERIFY_WITH_TIMEOUT(f.Idle(), 20000);
    QSignalSpy finished(f.dlg.get(), &QDialog::finished);
    auto* widget = f.dlg->findChild<QWidget*>(target);
    QVERIFY(widget);
    QTest::keyClick(widget, Qt::Key_Return);
    if (closedWith < 0) {
      QCOMPARE(finished.size(), 0);
      QVERIFY(f.dlg->timerUpdate.isActive());
    } else {
      QCOMPARE(finished.size(), 1);
      QCOMPARE(finished[0][0].toInt(), closedWith);
      QVERIFY(!f.dlg->timerUpdate.isActive());
    }
  }

  // The toolbar action shows the dialog modally and frees it when it closes.
  void mainWindowAction() {
    TfrmCheckForUpdates::SetInfoFileURLOverride(
        QStringLiteral("http://127.0.0.1:%1/update.inf").arg(TLoopbackHttpServer::ClosedPort()));
    TfrmMain w;
    QPointer<QDialog> shown;
    ModalHook::SetNextAnswer("frmCheckForUpdates", [&](QDialog& d) {
      shown = &d;
      return int(QDialog::Accepted);
    });
    w.actCheckForUpdates->trigger();
    QCOMPARE(ModalHook::PendingAnswers("frmCheckForUpdates"), 0);
    QVERIFY(shown.isNull());
    QVERIFY(!w.findChild<TfrmCheckForUpdates*>());
  }
};

QTEST_MAIN(TestUpdateDialogs)
#include "test_updatedialogs.moc"
