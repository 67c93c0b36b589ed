// The message box: kinds and buttons, its height across messages, keys, copying, the About
// box, the links in its body and a link that fails while the box is showing.

#include "common/uCommonGUI.h"
#include "common/udmCommon.h"
#include "fakeshell.h"
#include "msgboxtesthelpers.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"
#include "platform/uVersionInfo.h"
#include "uVersion.h"

#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTextBlock>
#include <stdexcept>

namespace {
QList<QLabel*> HeaderImages(TfrmMessageBox& box) {
  return {box.imgHeader0, box.imgHeader1, box.imgHeader2, box.imgHeader3};
}

int VisibleHeaderImage(TfrmMessageBox& box) {
  int shown = -1;
  const QList<QLabel*> images = HeaderImages(box);
  for (int i = 0; i < images.size(); ++i)
    if (!images[i]->isHidden()) {
      if (shown != -1) return -2; // more than one
      shown = i;
    }
  return shown;
}

// (link text, href) of every link in the box, in order.
QStringList Links(TRichEditURL* edit) {
  QStringList links;
  for (QTextBlock block = edit->document()->begin(); block.isValid(); block = block.next())
    for (auto it = block.begin(); !it.atEnd(); ++it)
      if (it.fragment().charFormat().isAnchor())
        links << it.fragment().text() + "|" + it.fragment().charFormat().anchorHref();
  return links;
}

const QString kLongCaption = QString(300, u'W');
} // namespace

class TestMessageBox : public QObject {
  Q_OBJECT
  TFakeShellOpener m_shell;

private Q_SLOTS:
  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
    m_shell = TFakeShellOpener();
    SetShellOpener(&m_shell);
    SetVersionInfoSource({});
  }
  void cleanup() {
    QCOMPARE(ModalHook::UnansweredCount(), 0);
    SetShellOpener(nullptr);
    SetVersionInfoSource({});
    frmMessageBox = nullptr;
  }

  void kindsAndButtons_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("previousButtons");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("header");
    QTest::addColumn<int>("image");
    QTest::addColumn<bool>("support");
    QTest::addColumn<QString>("okText");
    QTest::addColumn<int>("okX");
    QTest::addColumn<bool>("okAnswersEsc");
    QTest::addColumn<bool>("cancelShown");
    QTest::addColumn<QString>("cancelText");

    const int ok = mbOK, okCancel = mbOK | mbCancel, yesNo = mbYes | mbNo;
    // The previous message is always an About box with previousButtons, so what a kind
    // hides and what a button set leaves alone are both seen.
    QTest::newRow("error") << int(mkError) << okCancel << ok << "Error"
                           << "Application error" << 0 << false << "OK" << 412 << true << false
                           << "Cancel";
    QTest::newRow("warning") << int(mkWarning) << ok << okCancel << "Warning"
                             << "Application warning" << 1 << false << "OK" << 321 << false << true
                             << "Cancel";
    QTest::newRow("about") << int(mkAbout) << okCancel << ok << "About"
                           << "About Velmora" << 2 << true << "OK" << 412 << true << false
                           << "Cancel";
    QTest::newRow("database error, yes/no")
        << int(mkDatabaseError) << ok << yesNo << "Error"
        << "Database error" << 3 << false << "Yes" << 321 << false << true << "No";
    QTest::newRow("save SQL script: no icon")
        << int(mkSaveSQLScript) << ok << ok << "Save SQL Script"
        << "Save SQL script" << -1 << false << "OK" << 412 << true << false << "Cancel";
    QTest::newRow("action blocked: no icon")
        << int(mkActionBlocked) << ok << ok << "Action blocked"
        << "Action blocked" << -1 << false << "OK" << 412 << true << false << "Cancel";
    QTest::newRow("information") << int(mkInformation) << ok << ok << "Information"
                                 << "Application information" << 2 << true << "OK" << 412 << true
                                 << false << "Cancel";
    QTest::newRow("OK and Cancel win over Yes")
        << int(mkError) << yesNo << int(mbOK | mbCancel | mbYes) << "Error"
        << "Application error" << 0 << false << "OK" << 321 << false << true << "Cancel";
    QTest::newRow("OK without Cancel wins over No")
        << int(mkError) << yesNo << int(mbOK | mbNo) << "Error"
        << "Application error" << 0 << false << "OK" << 412 << true << false << "No";
    QTest::newRow("Yes alone leaves yes/no")
        << int(mkError) << yesNo << int(mbYes) << "Error"
        << "Application error" << 0 << false << "Yes" << 321 << false << true << "No";
    QTest::newRow("empty set leaves OK only")
        << int(mkError) << ok << 0 << "Error"
        << "Application error" << 0 << false << "OK" << 412 << true << false << "Cancel";
  }

  void kindsAndButtons() {
    QFETCH(int, kind);
    QFETCH(int, previousButtons);
    QFETCH(int, buttons);
    TfrmMessageBox box;
    box.PrepareMessage(mkAbout, "before", "", TMsgDlgButtons::fromInt(previousButtons));
    box.PrepareMessage(TMessageBoxKind(kind), "caption", "text", TMsgDlgButtons::fromInt(buttons));

    QTEST(box.windowTitle(), "title");
    QTEST(box.pnlHeader->Caption(), "header");
    QTEST(VisibleHeaderImage(box), "image");
    QTEST(!box.lblSupport->isHidden(), "support");
    QTEST(box.btnOK->text(), "okText");
    QTEST(box.btnOK->x(), "okX");
    QTEST(box.OKAnswersEsc(), "okAnswersEsc");
    QTEST(!box.btnCancel->isHidden(), "cancelShown");
    QTEST(box.btnCancel->text(), "cancelText");
    QVERIFY(!box.btnOK->isHidden());
    QCOMPARE(box.lblCaption->text(), QString("caption"));
  }

  void showHeaderImageOutOfRangeHidesAll() {
    TfrmMessageBox box;
    box.ShowHeaderImage(1);
    QCOMPARE(VisibleHeaderImage(box), 1);
    box.ShowHeaderImage(4);
    QCOMPARE(VisibleHeaderImage(box), -1);
  }

  // The one box carries its height from message to message.
  void heightAcrossMessages() {
    struct Step {
      QString caption, text;
      int height, captionHeight;
    };
    const Step steps[] = {
        {"short", "body", 376, 33},       // the body shows from the start: height kept
        {"short", "", 190, 33},           // body of 210 goes, 24 stay
        {"short", "body", 350, 33},       // body back: 160 more
        {"short", "body again", 350, 33}, // still there: unchanged
        {kLongCaption, "body", 350, 73},  // caption too wide: two lines
        {"short", "", 230, 33},           // body went while the caption was 73 high
        {kLongCaption, "", 230, 73},      // no body either way: unchanged
        {"short", "body", 390, 33},
    };
    TfrmMessageBox box;
    QCOMPARE(box.height(), 376);
    QCOMPARE(box.width(), 503);
    int i = 0;
    for (const Step& step : steps) {
      box.PrepareMessage(mkError, step.caption, step.text, mbOK);
      const QByteArray where = QByteArray::number(i++);
      QVERIFY2(box.height() == step.height, where + ": " + QByteArray::number(box.height()) +
                                                " != " + QByteArray::number(step.height));
      QVERIFY2(box.lblCaption->height() == step.captionHeight, where);
      QVERIFY2(box.mmText->isHidden() == step.text.isEmpty(), where);
    }
  }

  // The heights the box computes while hidden are the ones its layout gives when it shows.
  void shownLayoutMatches() {
    TfrmMessageBox box;
    box.PrepareMessage(mkError, kLongCaption, "body", mbOK);
    int bodyHeight = -1, captionWidth = -1, okX = -1;
    ModalHook::SetNextAnswer("frmMessageBox", [&](QDialog& d) {
      bodyHeight = box.mmText->height();
      captionWidth = box.lblCaption->width();
      okX = box.btnOK->mapTo(&d, QPoint()).x();
      return int(QDialog::Accepted);
    });
    ModalHook::Exec(box);
    QCOMPARE(bodyHeight, 376 - 61 - 48 - 8 - 16 - 73);
    QCOMPARE(captionWidth, 503 - 16);
    QCOMPARE(okX, 412);
  }

  void keys_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("result");
    const int ok = mbOK, okCancel = mbOK | mbCancel, yesNo = mbYes | mbNo;
    QTest::newRow("OK: Esc") << ok << "esc" << int(QDialog::Accepted);
    QTest::newRow("OK: Enter") << ok << "enter" << int(QDialog::Accepted);
    QTest::newRow("OK: close") << ok << "close" << int(QDialog::Rejected);
    QTest::newRow("OK/Cancel: Esc") << okCancel << "esc" << int(QDialog::Rejected);
    QTest::newRow("OK/Cancel: Enter") << okCancel << "enter" << int(QDialog::Accepted);
    QTest::newRow("Yes/No: Esc") << yesNo << "esc" << int(QDialog::Rejected);
    QTest::newRow("Yes/No: Yes") << yesNo << "ok" << int(QDialog::Accepted);
  }

  void keys() {
    QFETCH(int, buttons);
    QFETCH(QString, action);
    TfrmMessageBox box;
    box.PrepareMessage(mkError, "caption", "text", TMsgDlgButtons::fromInt(buttons));
    bool okFocused = false;
    ModalHook::SetNextAnswer("frmMessageBox", [&](QDialog& d) {
      okFocused = d.focusWidget() == box.btnOK;
      d.setResult(-1);
      if (action == "esc")
        QTest::keyClick(&d, Qt::Key_Escape);
      else if (action == "enter")
        QTest::keyClick(&d, Qt::Key_Return);
      else if (action == "close")
        d.close();
      else
        box.btnOK->click();
      return d.result();
    });
    QTEST(ModalHook::Exec(box), "result");
    QVERIFY(okFocused);
  }

  void copyToClipboard_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("copied");
    QTest::newRow("body of two lines") << "Connection failure"
                                       << "line 1\r\nline 2"
                                       << "Connection failure\r\n\r\nline 1\r\nline 2\r\n";
    QTest::newRow("no body") << "Only a caption"
                             << ""
                             << "Only a caption\r\n\r\n";
    QTest::newRow("LF breaks, final break") << "c"
                                            << "a\nb\n"
                                            << "c\r\n\r\na\r\nb\r\n";
    QTest::newRow("empty line kept") << "c"
                                     << "a\n\nb"
                                     << "c\r\n\r\na\r\n\r\nb\r\n";
    QTest::newRow("markup and links as typed")
        << "c"
        << "<b>x</b> & https://example.com/?a=1&b=2"
        << "c\r\n\r\n<b>x</b> & https://example.com/?a=1&b=2\r\n";
  }

  void copyToClipboard() {
    QFETCH(QString, caption);
    QFETCH(QString, text);
    TfrmMessageBox box;
    box.PrepareMessage(mkWarning, caption, text, mbOK);
    QTEST(CopiedText(box), "copied");
  }

  // A message is plain text: markup shows as typed and only web addresses become links.
  void bodyIsPlainText() {
    TfrmMessageBox box;
    const QString text = "if a < b && c > d see <https://example.com/a?x=1&y=2>,\r\n"
                         "or www.example.org. Not links: dbo.table, C:\\temp\\x.sql, "
                         "javascript:alert(1), mailto:x@example.com, &amp; <a href=\"http://x\">";
    box.PrepareMessage(mkError, "<b>caption</b>", text, mbOK);
    QCOMPARE(box.lblCaption->text(), QString("<b>caption</b>"));
    QCOMPARE(box.lblCaption->textFormat(), Qt::PlainText);
    QCOMPARE(box.mmText->toPlainText(), QString(text).replace("\r\n", "\n"));
    QCOMPARE(Links(box.mmText),
             QStringList({"https://example.com/a?x=1&y=2|https://example.com/a?x=1&y=2",
                          "www.example.org|http://www.example.org"}));
  }

  void findWebAddresses_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("links"); // "text|href"
    QTest::newRow("sentence end") << "Visit https://www.quorvix.com."
                                  << QStringList{"https://www.quorvix.com|https://www.quorvix.com"};
    QTest::newRow("port, query, comma")
        << "see http://db1.example.com:8080/a/b?q=1&r=2, then"
        << QStringList{
               "http://db1.example.com:8080/a/b?q=1&r=2|http://db1.example.com:8080/a/b?q=1&r=2"};
    QTest::newRow("bare www in brackets")
        << "(see www.example.com/docs)"
        << QStringList{"www.example.com/docs|http://www.example.com/docs"};
    QTest::newRow("balanced brackets kept")
        << "https://en.example.org/wiki/Log_(database) ok"
        << QStringList{"https://en.example.org/wiki/Log_(database)|https://en.example.org/wiki/"
                       "Log_(database)"};
    QTest::newRow("two addresses, upper case scheme")
        << "HTTPS://A.EXAMPLE.COM and ftp://files.example.net/x"
        << QStringList{"HTTPS://A.EXAMPLE.COM|HTTPS://A.EXAMPLE.COM",
                       "ftp://files.example.net/x|ftp://files.example.net/x"};
    QTest::newRow("localhost and IP")
        << "http://localhost:1433/ http://127.0.0.1/x"
        << QStringList{"http://localhost:1433/|http://localhost:1433/",
                       "http://127.0.0.1/x|http://127.0.0.1/x"};
    QTest::newRow("markup characters end it")
        << "<https://example.com/a>&lt;"
        << QStringList{"https://example.com/a|https://example.com/a"};
    QTest::newRow("no addresses")
        << "a < b & c; dbo.sysfiles; C:\\x\\y.mdf; file:///etc/passwd; javascript:alert(1); "
           "mailto:a@b.com; user@www.example.com; x.www.example.com"
        << QStringList{};
    QTest::newRow("not real hosts")
        << "http:// https://-bad-.com http://x http://999.1.1.1 www.example http://exa_mple.com"
        << QStringList{};
    QTest::newRow("glued to a word")
        << "xhttp://example.com www.example.com:80abc" << QStringList{};
  }

  void findWebAddresses() {
    QFETCH(QString, text);
    QStringList links;
    for (const TWebAddress& a : FindWebAddresses(text))
      links << text.mid(a.Start, a.Length) + "|" + a.Href;
    QTEST(links, "links");
  }

  void about_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("body");
    const QString website = VELMORA_WEBSITE;
    QTest::newRow("values from the build")
        << "build"
        << "Version 1.1.0.6 " VELMORA_LEGAL_COPYRIGHT
        << "Find more great database and personal productivity tools at " + website + ".";
    QTest::newRow("other values")
        << "other"
        << "Version 2.0.0.1 (c) Someone"
        << "Find more great database and personal productivity tools at " + website + ".";
    QTest::newRow("no version values") << "none"
                                       << ""
                                       << "";
    QTest::newRow("reading fails") << "throws"
                                   << ""
                                   << "";
  }

  void about() {
    QFETCH(QString, source);
    QCOMPARE(QString(VELMORA_FILE_VERSION), QString("1.1.0.6"));
    if (source == "other")
      SetVersionInfoSource([] { return TVersionInfo{"2.0.0.1", "(c) Someone"}; });
    else if (source == "none")
      SetVersionInfoSource([] { return std::optional<TVersionInfo>(); });
    else if (source == "throws")
      SetVersionInfoSource(
          []() -> std::optional<TVersionInfo> { throw std::runtime_error("resource unreadable"); });

    TfrmMessageBox box;
    box.PrepareMessage(mkError, "earlier", "earlier body", mbOK | mbCancel);
    QString caption, body, title, header;
    bool bodyShown = false, supportShown = false, okShown = false, cancelShown = true;
    int image = -1;
    ModalHook::SetNextAnswer("frmMessageBox", [&](QDialog&) {
      caption = box.lblCaption->text();
      body = box.mmText->toPlainText();
      bodyShown = box.mmText->isVisible();
      supportShown = box.lblSupport->isVisible();
      okShown = box.btnOK->isVisible();
      cancelShown = box.btnCancel->isVisible();
      title = box.windowTitle();
      header = box.pnlHeader->Caption();
      image = VisibleHeaderImage(box);
      return int(QDialog::Accepted);
    });
    box.ShowAbout();
    QTEST(caption, "caption");
    QTEST(body, "body");
    QCOMPARE(bodyShown, !body.isEmpty());
    QVERIFY(supportShown);
    QVERIFY(okShown);
    QVERIFY(!cancelShown);
    QCOMPARE(title, QString("About"));
    QCOMPARE(header, QString("About Velmora"));
    QCOMPARE(image, 2);
  }

  // The site's address in the About text and the support link open through the shell.
  void aboutLinks() {
    TfrmMessageBox box;
    ModalHook::SetNextAnswer("frmMessageBox", [&](QDialog&) {
      ClickText(box.mmText, "quorvix.com");
      QTest::mouseClick(box.lblSupport, Qt::LeftButton);
      return int(QDialog::Accepted);
    });
    box.ShowAbout();
    QCOMPARE(m_shell.Opened, QStringList({VELMORA_WEBSITE, "mailto:" VELMORA_SUPPORT_EMAIL
                                                           "?subject=Velmora support request"}));
    QCOMPARE(QString(VELMORA_SUPPORT_EMAIL), QString("support@quorvix.com"));
  }

  // A settings file that cannot be written: one error box naming the file and the reason,
  // not one per attempt.
  void settingsSaveFailureShown() {
    TfrmMessageBox box;
    frmMessageBox = &box;
    QTemporaryDir dir;
    QVERIFY(QFile(dir.filePath("blocker")).open(QIODevice::WriteOnly)); // a file, not a folder
    const QString path = dir.filePath("blocker/settings.ini");
    TdmMain store(path, nullptr);
    ReportSettingsSaveFailures(store);
    QString copied;
    ModalHook::SetNextAnswer("frmMessageBox", [&](QDialog& d) {
      copied = CopiedText(static_cast<TfrmMessageBox&>(d));
      return int(QDialog::Accepted);
    });
    TSQLConnectionProperties props;
    props.Instance = "SQL01";
    store.SaveRecentConnection(props);
    store.SaveRecentConnection(props); // the same failure: no second box (strict mode counts)
    QCOMPARE(copied, "Failed to save the settings\r\n\r\nThe settings could not be written to "
                     "the file:\r\n\r\n" +
                         QDir::toNativeSeparators(path) + "\r\n\r\nCannot create the folder " +
                         dir.filePath("blocker") + "\r\n");
  }

  // A link in a message that fails to open is reported in a second box on top; the first
  // message stays as it was.
  void linkFailsWhileShowing() {
    TfrmMessageBox box;
    frmMessageBox = &box;
    m_shell.Result = ShellResult::NoAssociation;
    const QString text = "Read https://example.com/help first.";

    QString firstCaptionAfter, firstBodyAfter;
    bool firstStillShown = false;
    TfrmMessageBox* nested = nullptr;
    QWidget* nestedParent = nullptr;
    QString nestedCopy, nestedTitle;
    ModalHook::SetNextAnswer("frmMessageBox", [&](QDialog&) {
      ClickText(box.mmText, "example.com/help");
      firstCaptionAfter = box.lblCaption->text();
      firstBodyAfter = box.mmText->toPlainText();
      firstStillShown = box.isVisible();
      return int(QDialog::Accepted);
    });
    ModalHook::SetNextAnswer("frmMessageBox", [&](QDialog& d) {
      nested = qobject_cast<TfrmMessageBox*>(&d);
      nestedParent = d.parentWidget();
      nestedTitle = d.windowTitle();
      if (nested) nestedCopy = CopiedText(*nested);
      return int(QDialog::Accepted);
    });
    box.ShowError("Something went wrong", text);

    QCOMPARE(ModalHook::PendingAnswers("frmMessageBox"), 0);
    QCOMPARE(m_shell.Opened, QStringList{"https://example.com/help"});
    QVERIFY(nested && nested != &box);
    QCOMPARE(nestedParent, &box);
    QCOMPARE(nestedTitle, QString("Error"));
    QCOMPARE(nestedCopy, "Failed to open link\r\n\r\nFailed to open the link: \r\n\r\n"
                         "https://example.com/help\r\n\r\n" +
                             ShellOpenErrorMessage(31) + "\r\n");
    QCOMPARE(firstCaptionAfter, QString("Something went wrong"));
    QCOMPARE(firstBodyAfter, text);
    QVERIFY(firstStillShown);
    QCOMPARE(box.lblCaption->text(), QString("Something went wrong"));
  }
};

QTEST_MAIN(TestMessageBox)
#include "test_msgbox.moc"
