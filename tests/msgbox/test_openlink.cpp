// Opening links: the messages for the shell's result codes, where the failure is shown, the
// desktop opener's own checks, and the main window's banner.

#include "common/uCommonGUI.h"
#include "fakeshell.h"
#include "forms/ufrmMain.h"
#include "msgboxtesthelpers.h"
#include "platform/gui/uModalHook.h"
#include "uVersion.h"

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>

class TestOpenLink : public QObject {
  Q_OBJECT
  TFakeShellOpener m_shell;

private Q_SLOTS:
  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
    m_shell = TFakeShellOpener();
    SetShellOpener(&m_shell);
  }
  void cleanup() {
    QCOMPARE(ModalHook::UnansweredCount(), 0);
    SetShellOpener(nullptr);
    frmMessageBox = nullptr;
  }

  void openLink_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("reason"); // empty: no box at all
    QTest::newRow("no associated program")
        << "mailto:support@example.com?subject=Velmora support request" << 31
        << "There is no application associated with the given file name extension. This error "
           "will also be returned if you attempt to print a file that is not printable.";
    QTest::newRow("missing file") << "/no/such/file.txt" << 2
                                  << "The specified file was not found.";
    QTest::newRow("out of resources")
        << "https://example.com/" << 0 << "The operating system is out of memory or resources.";
    QTest::newRow("no DLL") << "x.exe" << 32
                            << "The specified dynamic-link library (DLL) was not found.";
    QTest::newRow("code without a message") << "https://example.com/" << 4 << "";
    QTest::newRow("success") << "https://example.com/" << int(ShellResult::Success) << "";
    QTest::newRow("success, any code above 32") << "https://example.com/" << 1000 << "";
  }

  void openLink() {
    QFETCH(QString, link);
    QFETCH(int, result);
    QFETCH(QString, reason);
    TfrmMessageBox box;
    frmMessageBox = &box;
    m_shell.Result = result;
    QDialog* shownIn = nullptr;
    QString title, copied;
    if (!reason.isEmpty())
      ModalHook::SetNextAnswer("frmMessageBox", [&](QDialog& d) {
        shownIn = &d;
        title = d.windowTitle();
        copied = CopiedText(box);
        return int(QDialog::Accepted);
      });

    OpenLink(link);

    QCOMPARE(m_shell.Opened, QStringList{link});
    QCOMPARE(ModalHook::PendingAnswers("frmMessageBox"), 0);
    if (reason.isEmpty()) return; // strict mode counts any box shown without an answer
    QCOMPARE(shownIn, &box);
    QCOMPARE(title, QString("Error"));
    QCOMPARE(copied, "Failed to open link\r\n\r\nFailed to open the link: \r\n\r\n" + link +
                         "\r\n\r\n" + reason + "\r\n");
  }

  void codesWithoutMessageAreSilent() {
    const QList<int> withMessage = {0, 2, 3, 5, 8, 11, 26, 27, 28, 29, 30, 31, 32};
    for (int code = -1; code <= 33; ++code)
      QVERIFY2(ShellOpenErrorMessage(code).isEmpty() != withMessage.contains(code),
               qPrintable(QString::number(code)));
  }

  // Before the message box exists, a failure still reaches the user in a box of its own.
  void failureWithoutTheMessageBox() {
    m_shell.Result = ShellResult::FileNotFound;
    QString caption;
    ModalHook::SetNextAnswer("frmMessageBox", [&](QDialog& d) {
      caption = static_cast<TfrmMessageBox&>(d).lblCaption->text();
      return int(QDialog::Accepted);
    });
    OpenLink("/no/such/file");
    QCOMPARE(caption, QString("Failed to open link"));
  }

  // The desktop opener checks local files itself and reports a missing opener; none of these
  // starts a program.
  void desktopOpener_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<int>("result");
    QTest::newRow("empty") << "" << int(ShellResult::FileNotFound);
    QTest::newRow("missing file") << "/tmp/velmora-no-such-file-4711.txt"
                                  << int(ShellResult::FileNotFound);
    QTest::newRow("missing folder")
        << "/tmp/velmora-no-such-dir-4711/file.txt" << int(ShellResult::PathNotFound);
    QTest::newRow("missing file URL")
        << "file:///tmp/velmora-no-such-file-4711.txt" << int(ShellResult::FileNotFound);
    QTest::newRow("web address, no opener")
        << "https://example.com/" << int(ShellResult::NoAssociation);
    QTest::newRow("mail link, no opener")
        << "mailto:a@example.com?subject=a b" << int(ShellResult::NoAssociation);
    QTest::newRow("existing file, no opener")
        << QCoreApplication::applicationFilePath() << int(ShellResult::NoAssociation);
  }

  void desktopOpener() {
    QFETCH(QString, link);
    TDesktopShellOpener opener(QStringLiteral("velmora-no-such-opener"));
    QTEST(opener.Open(link), "result");
  }

  // What the opener program says decides the result; the link reaches it as one argument.
  void desktopOpenerProgram_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("link");
    QTest::addColumn<int>("result");
    const QString record = "printf '%s|' \"$#\" \"$@\" > \"$0.args\"\n";
    QTest::newRow("opened") << record + "exit 0"
                            << "mailto:a@example.com?subject=a b" << int(ShellResult::Success);
    QTest::newRow("file missing") << record + "exit 2"
                                  << "https://example.com/" << int(ShellResult::FileNotFound);
    QTest::newRow("no tool") << record + "exit 3"
                             << "https://example.com/" << int(ShellResult::NoAssociation);
    QTest::newRow("action failed") << record + "exit 4"
                                   << "mailto:a@example.com" << int(ShellResult::NoAssociation);
    QTest::newRow("killed") << record + "kill -9 $$"
                            << "https://example.com/" << int(ShellResult::NoAssociation);
  }

  void desktopOpenerProgram() {
    QFETCH(QString, script);
    QFETCH(QString, link);
    QTemporaryDir dir;
    const QString program = dir.filePath("opener");
    QFile file(program);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(("#!/bin/sh\n" + script + "\n").toUtf8());
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    TDesktopShellOpener opener(program);
    QTEST(opener.Open(link), "result");
    QFile args(program + ".args");
    QVERIFY(args.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(args.readAll()), "1|" + link + "|");
  }

  // An opener that runs the browser itself does not return; after the wait it counts as
  // opened and is left running.
  void desktopOpenerStillRunning() {
    QTemporaryDir dir;
    const QString program = dir.filePath("opener");
    QFile file(program);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nexec sleep 30\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    TDesktopShellOpener opener(program, 100);
    QCOMPARE(opener.Open("https://example.com/"), int(ShellResult::Success));
    auto* running = qApp->findChild<QProcess*>();
    QVERIFY(running);
    QCOMPARE(running->state(), QProcess::Running);
    running->kill();
    QVERIFY(running->waitForFinished());
    QTRY_VERIFY(!qApp->findChild<QProcess*>());
  }

  void bannerOpensTheSite() {
    TfrmMain w;
    w.Image1Click();
    QCOMPARE(m_shell.Opened, QStringList{VELMORA_WEBSITE "/?source=velmora"});
  }
};

QTEST_MAIN(TestOpenLink)
#include "test_openlink.moc"
