// The information file, version numbers, the address rule and the version-history parsing.

#include "fuzz/updateinfo/uFuzzUpdateInfo.h"
#include "platform/uUpdateInfo.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
const QByteArray Sha = "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef";

QByteArray Info(const QByteArray& update, const QByteArray& files, const QByteArray& rest = {}) {
  return "[Update]\n" + update + "\n" + files + rest;
}
QByteArray File(int n, const QByteArray& url, const QByteArray& size = "100",
                const QByteArray& sha = Sha) {
  return "[File" + QByteArray::number(n) + "]\nURL=" + url + "\nSize=" + size + "\nSHA256=" + sha +
         "\n";
}
const QByteArray Setup = File(1, "https://example.com/d/velmora-setup.run");
} // namespace

class TestUpdateInfo : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void compareVersions_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected"); // 2: not comparable
    QTest::newRow("1.10 newer than 1.9") << "1.10"
                                         << "1.9" << 1;
    QTest::newRow("equal") << "1.1.0.6"
                           << "1.1.0.6" << 0;
    QTest::newRow("last part") << "1.1.0.6"
                               << "1.1.0.7" << -1;
    QTest::newRow("missing parts are 0") << "1.1"
                                         << "1.1.0.0" << 0;
    QTest::newRow("longer is newer") << "1.1.0.1"
                                     << "1.1" << 1;
    QTest::newRow("2 older than 10") << "2"
                                     << "10" << -1;
    QTest::newRow("leading zeros") << "01.002"
                                   << "1.2" << 0;
    QTest::newRow("beyond 64 bits") << "1.99999999999999999999"
                                    << "1.99999999999999999998" << 1;
    QTest::newRow("blanks around") << " 1.2\t"
                                   << "1.2" << 0;
    QTest::newRow("empty") << ""
                           << "1.0" << 2;
    QTest::newRow("empty part") << "1..2"
                                << "1.0" << 2;
    QTest::newRow("trailing dot") << "1.2."
                                  << "1.0" << 2;
    QTest::newRow("letters") << "1.2b"
                             << "1.0" << 2;
    QTest::newRow("prefix") << "v1.2"
                            << "1.0" << 2;
    QTest::newRow("sign") << "1.-2"
                          << "1.0" << 2;
    QTest::newRow("blank inside") << "1. 2"
                                  << "1.0" << 2;
    QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0661.2") << "1.0" << 2;
  }
  void compareVersions() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    const std::optional<int> result = CompareVersions(a, b);
    QCOMPARE(result.has_value(), expected != 2);
    QCOMPARE(IsValidVersionNumber(a), expected != 2);
    if (result) {
      QCOMPARE(*result, expected);
      QCOMPARE(*CompareVersions(b, a), -expected);
    }
  }

  void allowedUrls_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("https") << "https://www.example.com/downloads/velmora/update.inf" << true;
    QTest::newRow("https upper case") << "HTTPS://www.example.com/x" << true;
    QTest::newRow("http loopback v4") << "http://127.0.0.1:8080/update.inf" << true;
    QTest::newRow("http loopback net") << "http://127.4.5.6/x" << true;
    QTest::newRow("http loopback v6") << "http://[::1]:8080/x" << true;
    QTest::newRow("http by name") << "http://localhost/x" << false;
    QTest::newRow("http remote") << "http://www.example.com/x" << false;
    QTest::newRow("http private net") << "http://10.0.0.1/x" << false;
    QTest::newRow("ftp loopback") << "ftp://127.0.0.1/x" << false;
    QTest::newRow("file") << "file:///tmp/setup.run" << false;
    QTest::newRow("no host") << "https:///x" << false;
    QTest::newRow("empty") << "" << false;
  }
  void allowedUrls() {
    QFETCH(QString, url);
    QFETCH(bool, allowed);
    QCOMPARE(IsAllowedUpdateUrl(QUrl(url)), allowed);
  }

  void parseValidFile() {
    // BOM, CR LF, comments, blanks and letter case in names; the history runs verbatim to the
    // end, whatever it looks like.
    const QByteArray history = "<!-- version:1.2.0.0 -->\r\n[File3]\r\n; not a comment\r\n"
                               "<p>Gr\xc3\xbc\xc3\x9f"
                               "e \xe2\x82\xac</p>";
    const QByteArray data =
        "\xef\xbb\xbf; update information\r\n# also a comment\r\n\r\n[ update ]\r\n"
        "  version = 1.2.0.0  \r\n[FILE1]\r\nurl=https://example.com/d/velmora-1.2-setup.run\r\n"
        "SIZE=1234\r\nSha256=" +
        Sha +
        "\r\nUnknown=kept for later formats\r\n"
        "[File2]\r\nURL=http://127.0.0.1:9/d/data%2Bextra.bin\r\nSize=1\r\nSHA256=" +
        Sha + "\r\n[Other]\r\nAnything=1\r\n[History]\r\n" + history;
    QString error;
    const std::optional<TUpdateInfo> info = ParseUpdateInfoFile(data, &error);
    QVERIFY2(info, qPrintable(error));
    QCOMPARE(info->Version, QString("1.2.0.0"));
    QCOMPARE(info->Files.size(), 2);
    QCOMPARE(info->Files[0].Url, QUrl("https://example.com/d/velmora-1.2-setup.run"));
    QCOMPARE(info->Files[0].FileName, QString("velmora-1.2-setup.run"));
    QCOMPARE(info->Files[0].Size, 1234);
    QCOMPARE(info->Files[0].Sha256, QByteArray::fromHex(Sha));
    QCOMPARE(info->Files[1].FileName, QString("data+extra.bin"));
    QCOMPARE(info->VersionHistory, QString::fromUtf8(history));
  }

  void parseInvalidFile_data() {
    QTest::addColumn<QByteArray>("data");
    const QByteArray v = "Version=1.2";
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("no update section") << Setup;
    QTest::newRow("bad version") << Info("Version=1.2b", Setup);
    QTest::newRow("no file") << Info(v, "");
    QTest::newRow("file 2 without file 1") << Info(v, File(2, "https://e.com/a.run"));
    QTest::newRow("gap in files") << Info(v, Setup + File(3, "https://e.com/c.run"));
    QTest::newRow("file number with zero")
        << Info(v, Setup + "[File01]\nURL=https://e.com/b.run\nSize=1\nSHA256=" + Sha + "\n");
    QTest::newRow("same file name") << Info(v, Setup + File(2, "https://f.com/velmora-setup.run"));
    QTest::newRow("no url") << Info(v, "[File1]\nSize=1\nSHA256=" + Sha + "\n");
    QTest::newRow("ftp url") << Info(v, File(1, "ftp://e.com/a.run"));
    QTest::newRow("no file name") << Info(v, File(1, "https://e.com/"));
    QTest::newRow("dot file") << Info(v, File(1, "https://e.com/.profile"));
    QTest::newRow("encoded slash") << Info(v, File(1, "https://e.com/d/..%2Fsetup.run"));
    QTest::newRow("blank in name") << Info(v, File(1, "https://e.com/my%20setup.run"));
    QTest::newRow("size 0") << Info(v, File(1, "https://e.com/a.run", "0"));
    QTest::newRow("negative size") << Info(v, File(1, "https://e.com/a.run", "-5"));
    QTest::newRow("size with unit") << Info(v, File(1, "https://e.com/a.run", "12k"));
    QTest::newRow("huge size") << Info(v, File(1, "https://e.com/a.run", "99999999999999999999"));
    QTest::newRow("short sha") << Info(v, File(1, "https://e.com/a.run", "1", Sha.left(63)));
    QTest::newRow("non-hex sha") << Info(v, File(1, "https://e.com/a.run", "1", "g" + Sha.mid(1)));
    QTest::newRow("key twice") << Info(v + "\nVersion=1.3", Setup);
    QTest::newRow("section twice") << Info(v, Setup + Setup);
    QTest::newRow("line without =") << Info(v + "\njunk", Setup);
    QTest::newRow("key before section") << "Version=1.2\n" + Info(v, Setup);
    QTest::newRow("invalid utf-8") << Info(v + "\nNote=\xc3\x28", Setup);
    QTest::newRow("too large") << Info(v, Setup, "[History]\n" + QByteArray(1024 * 1024, 'x'));
  }
  void parseInvalidFile() {
    QFETCH(QByteArray, data);
    QString error;
    QVERIFY(!ParseUpdateInfoFile(data, &error));
    QVERIFY(!error.isEmpty());
  }

  void parseVersionComment_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("version");
    QTest::newRow("plain") << "<!-- version:1.1.0.7 -->"
                           << "1.1.0.7";
    QTest::newRow("inside text") << "<p>x</p><!-- version:2.0 rest -->"
                                 << "2.0";
    QTest::newRow("no space after version") << "<!-- version:1.1.0.7-->"
                                            << "";
    QTest::newRow("space first") << "<!-- version: 1.1.0.7 -->"
                                 << "";
    QTest::newRow("tab is no separator") << "<!-- version:1.0\t-->"
                                         << "";
    QTest::newRow("marker case") << "<!-- Version:1.0 -->"
                                 << "";
    QTest::newRow("marker spacing") << "<!--version:1.0 -->"
                                    << "";
    QTest::newRow("first marker counts") << "<!-- version:3.0 --><!-- version:4.0 -->"
                                         << "3.0";
    QTest::newRow("non-ascii") << QString::fromUtf8("<!-- version:1.0-\u00e9\u20ac -->")
                               << QString::fromUtf8("1.0-\u00e9\u20ac");
    QTest::newRow("none") << "<p>nothing here</p>"
                          << "";
  }
  void parseVersionComment() {
    QFETCH(QString, line);
    QFETCH(QString, version);
    QCOMPARE(ParseVersionComment(line), version);
  }

  void parseVersionHistory_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("latest");
    QTest::newRow("empty") << ""
                           << ""
                           << "";
    QTest::newRow("LF") << "a\nb"
                        << "a\r\nb\r\n"
                        << "";
    QTest::newRow("CR") << "a\rb\r"
                        << "a\r\nb\r\n"
                        << "";
    QTest::newRow("CR LF kept") << "a\r\nb\r\n"
                                << "a\r\nb\r\n"
                                << "";
    QTest::newRow("empty lines kept") << "a\n\n\r\nb"
                                      << "a\r\n\r\n\r\nb\r\n"
                                      << "";
    QTest::newRow("first comment names the latest")
        << "<!-- version:1.1.0.7 -->\n<!-- version:1.1.0.6 -->"
        << "<!-- version:1.1.0.7 -->\r\n<!-- version:1.1.0.6 -->\r\n"
        << "1.1.0.7";
    QTest::newRow("empty comment skipped")
        << "<!-- version:9.9-->\n<p/>\n<!-- version:1.1.0.6 -->\n<!-- version:1.0 -->"
        << "<!-- version:9.9-->\r\n<p/>\r\n<!-- version:1.1.0.6 -->\r\n<!-- version:1.0 -->\r\n"
        << "1.1.0.6";
    QTest::newRow("no comment") << "<p>history</p>"
                                << "<p>history</p>\r\n"
                                << "";
  }
  void parseVersionHistory() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(QString, latest);
    QString found;
    ParseVersionHistory(text, found);
    QCOMPARE(text, expected);
    QCOMPARE(found, latest);
  }

  void braceTokens_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("both") << "a<openbrace>b<closebrace>c"
                          << "a{b}c";
    QTest::newRow("all occurrences") << "<openbrace><closebrace><openbrace>"
                                     << "{}{";
    QTest::newRow("direct braces stay") << "{kept}"
                                        << "{kept}";
    QTest::newRow("exact case") << "<OpenBrace><CLOSEBRACE>"
                                << "<OpenBrace><CLOSEBRACE>";
    QTest::newRow("no second pass") << "<open<openbrace>brace>"
                                    << "<open{brace>";
  }
  void braceTokens() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(ReplaceBraceTokens(text), expected);
  }

  // Inputs the fuzzer once found troublesome stay fixed.
  void fuzzRegressions() {
    const QDir dir(qEnvironmentVariable("VELMORA_SOURCE_DIR") + "/fuzz/regressions/updateinfo");
    QVERIFY(dir.exists());
    for (const QFileInfo& entry : dir.entryInfoList(QDir::Files)) {
      QFile file(entry.filePath());
      QVERIFY(file.open(QIODevice::ReadOnly));
      const QByteArray data = file.readAll();
      FuzzUpdateInfoOnce(reinterpret_cast<const std::uint8_t*>(data.constData()),
                         std::size_t(data.size()));
    }
  }
};

QTEST_APPLESS_MAIN(TestUpdateInfo)
#include "test_updateinfo.moc"
