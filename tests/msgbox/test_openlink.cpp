// Opening links: the messages for the shell's result codes, where the failure is shown, the
// desktop opener's own checks, and the main window's banner.

#include "common/uCommonGUI.h"
#include "fakeshell.h"
#include "forms/ufrmMain.h"
#include "msgboxtesthelpers.h"
#include "platform/gui/uModalHook.h"
#include "uVersion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

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

  // The desktop opener checks local files itself, hands everything else to the launcher as a
  // URL, and says 31 when nothing could be started.
  void desktopOpener_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("starts"); // what the launcher answers
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("launched"); // empty: the launcher is not asked
    const QString self = QCoreApplication::applicationFilePath();
    QTest::newRow("empty") << "" << true << int(ShellResult::FileNotFound) << "";
    QTest::newRow("missing file") << "/tmp/velmora-no-such-file-4711.txt" << true
                                  << int(ShellResult::FileNotFound) << "";
    QTest::newRow("missing folder")
        << "/tmp/velmora-no-such-dir-4711/file.txt" << true << int(ShellResult::PathNotFound) << "";
    QTest::newRow("missing file URL") << "file:///tmp/velmora-no-such-file-4711.txt" << true
                                      << int(ShellResult::FileNotFound) << "";
    QTest::newRow("web address") << "https://example.com/?source=velmora" << true
                                 << int(ShellResult::Success)
                                 << "https://example.com/?source=velmora";
    QTest::newRow("web address, nothing to open it")
        << "https://example.com/" << false << int(ShellResult::NoAssociation)
        << "https://example.com/";
    QTest::newRow("mail link, no mail program")
        << "mailto:a@example.com?subject=a b" << false << int(ShellResult::NoAssociation)
        << "mailto:a@example.com?subject=a b";
    QTest::newRow("existing file")
        << self << true << int(ShellResult::Success) << QUrl::fromLocalFile(self).toString();
  }

  void desktopOpener() {
    QFETCH(QString, link);
    QFETCH(bool, starts);
    QFETCH(QString, launched);
    QStringList asked;
    TDesktopShellOpener opener([&](const QUrl& url) {
      asked << url.toString();
      return starts;
    });
    QTEST(opener.Open(link), "result");
    QCOMPARE(asked, launched.isEmpty() ? QStringList() : QStringList{launched});
  }

  // A file whose name begins with "-" reaches the opener as an absolute file URL, never as
  // something that could pass for an option.
  void desktopOpenerDashFile() {
    QTemporaryDir dir;
    QFile file(dir.filePath("-rf"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QString asked;
    TDesktopShellOpener opener([&](const QUrl& url) {
      asked = url.toString();
      return true;
    });
    const int result = opener.Open("-rf");
    QDir::setCurrent(cwd);
    QCOMPARE(result, int(ShellResult::Success));
    QCOMPARE(asked, QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toString());
  }

  // The real desktop services start the user's browser on its own: nothing of it is a child
  // that this program would wait for or take down when it exits.
  void desktopServicesStartTheBrowserDetached() {
    QTemporaryDir dir;
    const QString program = dir.filePath("browser");
    const QString record = dir.filePath("record");
    QFile file(program);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(("#!/bin/sh\necho \"$$ $PPID $1\" > '" + record + ".tmp'\nmv '" + record +
                ".tmp' '" + record + "'\nexec sleep 30\n")
                   .toUtf8());
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    qputenv("DEFAULT_BROWSER", program.toLocal8Bit());
    qputenv("BROWSER", program.toLocal8Bit());

    TDesktopShellOpener opener;
    const int result = opener.Open("https://example.com/?source=velmora");
    qunsetenv("DEFAULT_BROWSER");
    qunsetenv("BROWSER");
    if (result == int(ShellResult::NoAssociation))
      QSKIP("this platform plugin has no desktop services");
    QCOMPARE(result, int(ShellResult::Success));
    QVERIFY(qApp->findChildren<QProcess*>().isEmpty());
    QTRY_VERIFY(QFile::exists(record));
    QFile seen(record);
    QVERIFY(seen.open(QIODevice::ReadOnly));
    const QStringList fields = QString::fromUtf8(seen.readAll()).trimmed().split(' ');
    QCOMPARE(fields.size(), 3);
    QCOMPARE(fields[2], QString("https://example.com/?source=velmora"));
    // Not our child: it was started detached and will outlive us.
    QVERIFY(fields[1].toLongLong() != QCoreApplication::applicationPid());
    const qint64 pid = fields[0].toLongLong();
    QVERIFY(pid > 1);
    QProcess::execute("kill", {QString::number(pid)});
  }

  void bannerOpensTheSite() {
    TfrmMain w;
    w.Image1Click();
    QCOMPARE(m_shell.Opened, QStringList{VELMORA_WEBSITE "/?source=velmora"});
  }
};

QTEST_MAIN(TestOpenLink)
#include "test_openlink.moc"
