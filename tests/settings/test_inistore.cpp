// The INI store: reading, verbatim values, keeping unknown content, writing safely.

#include "fuzz/ini/uIniRoundTrip.h"
#include "platform/uIniStore.h"
#include "settings/uTestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Every readable value, by "section\\key" in lower case.
QMap<QString, QString> Contents(const TIniStore& store) {
  QMap<QString, QString> values;
  QStringList sections = store.SectionNames();
  sections.prepend(QString());
  for (const QString& section : sections)
    for (const QString& key : store.KeyNames(section))
      values.insert((section + u'\\' + key).toLower(), store.Value(section, key).value_or("?"));
  return values;
}

QStringList FilesIn(const QString& dir) {
  return QDir(dir).entryList(QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Runs fn in a child process and returns its exit code (-1 when it did not exit normally).
template <typename Fn> int InChild(Fn fn) {
  const pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A byte string that may hold NUL bytes.
#define BYTES(s) QByteArray(s, sizeof(s) - 1)

const QByteArray kExample = "[Settings]\n"
                            "ConnectionListSQL=SQL01:master::0|sql02\\inst:master:monitor:1|\n"
                            "LastDBType=1\n";
} // namespace

class TestIniStore : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void read_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected"); // null: missing
    QTest::newRow("default section") << kExample << "LastDBType"
                                     << "1";
    QTest::newRow("backslash kept") << kExample << "ConnectionListSQL"
                                    << "SQL01:master::0|sql02\\inst:master:monitor:1|";
    QTest::newRow("section path") << QByteArray("[frmMain]\nLeft=12\n") << "frmMain\\Left"
                                  << "12";
    QTest::newRow("letter case") << QByteArray("[FRMMAIN]\nleft=12\n") << "frmMain\\LEFT"
                                 << "12";
    QTest::newRow("other section")
        << QByteArray("[frmMain]\nLastDBType=1\n") << "LastDBType" << QString();
    QTest::newRow("blanks in value kept") << QByteArray("[Settings]\nA= sql01 \n") << "A"
                                          << " sql01 ";
    QTest::newRow("blanks around key") << QByteArray("[ Settings ]\n  A  =x\n") << "A"
                                       << "x";
    QTest::newRow("equals in value") << QByteArray("[Settings]\nA=b=c\n") << "A"
                                     << "b=c";
    QTest::newRow("empty value") << QByteArray("[Settings]\nA=\n") << "A"
                                 << "";
    QTest::newRow("utf-8") << QByteArray("[Settings]\nA=Gr\xC3\xBC\xC3\x9F\x65\n") << "A"
                           << QString::fromUtf8("Gr\xC3\xBC\xC3\x9F\x65");
    QTest::newRow("bom") << QByteArray("\xEF\xBB\xBF[Settings]\r\nA=1\r\n") << "A"
                         << "1";
    QTest::newRow("crlf") << QByteArray("[Settings]\r\nA=1\r\nB=2") << "B"
                          << "2";
    QTest::newRow("first of two") << QByteArray("[Settings]\nA=1\nA=2\n") << "A"
                                  << "1";
    QTest::newRow("section twice") << QByteArray("[Settings]\nA=1\n[x]\n[settings]\nB=2\n") << "B"
                                   << "2";
    QTest::newRow("comments") << QByteArray("[Settings]\n;A=1\n#A=2\nA=3\n") << "A"
                              << "3";
    QTest::newRow("line without equals") << QByteArray("[Settings]\ngarbage\nA=1\n") << "A"
                                         << "1";
    QTest::newRow("before any section") << QByteArray("A=1\n[Settings]\n") << "A" << QString();
    // Keys under a header without its "]" are not taken for the previous section's.
    QTest::newRow("broken header")
        << QByteArray("[Settings]\nA=1\n[frmMain\nB=2\n") << "B" << QString();
    QTest::newRow("broken header, earlier key")
        << QByteArray("[Settings]\nA=1\n[frmMain\nB=2\n") << "A"
        << "1";
    QTest::newRow("nested path") << QByteArray("[a\\b]\nc=1\n") << "a\\b\\c"
                                 << "1";
  }
  void read() {
    QFETCH(QByteArray, file);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    TIniStore store;
    store.LoadFromBytes(file);
    QCOMPARE(store.ValueExists(path), !expected.isNull());
    QCOMPARE(store.ReadString(path, QStringLiteral("(default)")),
             expected.isNull() ? QStringLiteral("(default)") : expected);
  }

  void booleans_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected"); // -1: the default
    for (const char* t : {"TRUE", "YES", "Y", "true", "y"})
      QTest::newRow(t) << t << 1;
    for (const char* t : {"FALSE", "NO", "N", "no"})
      QTest::newRow(t) << t << 0;
    for (const char* t : {"", "1", "0", "on", "yess"})
      QTest::newRow(*t ? t : "empty") << t << -1;
  }
  void booleans() {
    QFETCH(QString, text);
    QFETCH(int, expected);
    TIniStore store;
    store.WriteString("B", text);
    QCOMPARE(store.ReadBoolean("B", true), expected == -1 ? true : expected == 1);
    QCOMPARE(store.ReadBoolean("B", false), expected == -1 ? false : expected == 1);
    store.WriteBoolean("C", true);
    QCOMPARE(store.ReadString("C"), QString("TRUE"));
  }

  void integers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("expected");
    QTest::newRow("plain") << "1" << true << 1;
    QTest::newRow("negative") << "-42" << true << -42;
    QTest::newRow("plus") << "+7" << true << 7;
    QTest::newRow("blanks") << " 12 " << true << 12;
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("min") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("too big") << "2147483648" << false << 0;
    QTest::newRow("huge") << "99999999999999999999999" << false << 0;
    QTest::newRow("letters") << "abc" << false << 0;
    QTest::newRow("trailing letters") << "12abc" << false << 0;
    QTest::newRow("hex") << "0x10" << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("decimal point") << "1.5" << false << 0;
    QTest::newRow("arabic digits") << QString::fromUtf8("\xD9\xA1") << false << 0;
  }
  void integers() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, expected);
    const std::optional<int> value = ParseDecimalInteger(text);
    QCOMPARE(value.has_value(), valid);
    if (valid) QCOMPARE(*value, expected);
  }

  // What the store does not change goes back to disk byte for byte.
  void unchangedRoundTrip_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("example") << kExample;
    QTest::newRow("everything odd")
        << BYTES("\xEF\xBB\xBF; note\r\n\r\n[Settings]\r\n A = b \r\n[broken\r\nx\r\n[]\r\n"
                 "\xFF\xFE\x00garbage\r\nlast=no newline");
    QTest::newRow("lone cr") << QByteArray("[Settings]\rA=1\r");
    QTest::newRow("empty") << QByteArray();
  }
  void unchangedRoundTrip() {
    QFETCH(QByteArray, file);
    TIniStore store;
    store.LoadFromBytes(file);
    QCOMPARE(store.SaveToBytes(), file);
  }

  void writes_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("new file") << QByteArray() << "ConnectionListSQL"
                              << "SQL01:master::0|"
                              << QByteArray("[Settings]\nConnectionListSQL=SQL01:master::0|\n");
    QTest::newRow("update keeps key spelling and line end")
        << QByteArray("[settings]\r\n lastdbtype = 0\r\nZ=1\r\n") << "LastDBType"
        << "1" << QByteArray("[settings]\r\n lastdbtype =1\r\nZ=1\r\n");
    QTest::newRow("after the last key, before the blank line")
        << QByteArray("[Settings]\nA=1\n; about B\n\n[frmMain]\nLeft=1\n") << "B"
        << "2" << QByteArray("[Settings]\nA=1\nB=2\n; about B\n\n[frmMain]\nLeft=1\n");
    QTest::newRow("new section at the end, unknown kept")
        << QByteArray("[Unknown]\nX=1") << "frmMain\\Left"
        << "5" << QByteArray("[Unknown]\nX=1\n\n[frmMain]\nLeft=5\n");
    QTest::newRow("crlf file stays crlf")
        << QByteArray("[Other]\r\n") << "A"
        << "1" << QByteArray("[Other]\r\n\r\n[Settings]\r\nA=1\r\n");
    QTest::newRow("last line ends in a lone cr")
        << QByteArray("[a]\r\nk=v\r") << "frmMain\\Left"
        << "5" << QByteArray("[a]\r\nk=v\r\n\r\n[frmMain]\r\nLeft=5\r\n");
    QTest::newRow("bom kept") << QByteArray("\xEF\xBB\xBF[Settings]\n") << "A"
                              << "1" << QByteArray("\xEF\xBB\xBF[Settings]\nA=1\n");
    QTest::newRow("verbatim") << QByteArray() << "A"
                              << "sql02\\inst;\"x\" = %1 "
                              << QByteArray("[Settings]\nA=sql02\\inst;\"x\" = %1 \n");
    // A line break would start a line of its own, e.g. a section header.
    QTest::newRow("line break") << QByteArray() << "A"
                                << "x\n[frmMain]\r\nLeft=1"
                                << QByteArray("[Settings]\nA=x [frmMain]  Left=1\n");
    QTest::newRow("bad key ignored") << QByteArray("[Settings]\n") << "a=b"
                                     << "1" << QByteArray("[Settings]\n");
    QTest::newRow("key like a header ignored") << QByteArray("[Settings]\n") << "[x"
                                               << "1" << QByteArray("[Settings]\n");
    QTest::newRow("section with bracket ignored") << QByteArray() << "a]b\\c"
                                                  << "1" << QByteArray();
  }
  void writes() {
    QFETCH(QByteArray, file);
    QFETCH(QString, path);
    QFETCH(QString, value);
    QFETCH(QByteArray, expected);
    TIniStore store;
    store.LoadFromBytes(file);
    store.WriteString(path, value);
    QCOMPARE(store.SaveToBytes(), expected);
    TIniStore reread;
    reread.LoadFromBytes(store.SaveToBytes());
    if (file != expected)
      QCOMPARE(reread.ReadString(path), QString(value).replace('\r', ' ').replace('\n', ' '));
  }

  void deleteValue() {
    TIniStore store;
    store.LoadFromBytes("[Settings]\nA=1\nB=2\n[settings]\na=3\n");
    store.DeleteValue("A");
    QVERIFY(!store.ValueExists("A"));
    QCOMPARE(store.SaveToBytes(), QByteArray("[Settings]\nB=2\n[settings]\n"));
  }

  // The file changes only on Flush() and when the store goes away with unsaved changes.
  void writesOnlyOnRequest() {
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    QVERIFY(WriteAll(path, kExample));
    {
      TIniStore store(path);
      store.WriteString("LastDBType", "0");
      QCOMPARE(ReadAll(path), kExample);
      QVERIFY(store.Flush());
      QCOMPARE(TIniStore(path).ReadString("LastDBType"), QString("0"));
      store.WriteString("LastDBType", "5");
      QCOMPARE(TIniStore(path).ReadString("LastDBType"), QString("0"));
    }
    QCOMPARE(TIniStore(path).ReadString("LastDBType"), QString("5"));

    const QByteArray before = ReadAll(path);
    { TIniStore untouched(path); }
    QCOMPARE(ReadAll(path), before);
  }

  void readOnlyFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    QVERIFY(WriteAll(path, kExample));
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    {
      TIniStore store(path);
      QVERIFY(store.IsReadOnly());
      QCOMPARE(store.ReadString("LastDBType"), QString("1"));
      store.WriteString("LastDBType", "7");
      store.WriteString("frmMain\\Left", "7");
      QCOMPARE(store.ReadString("LastDBType"), QString("1")); // ignored in memory too
      QVERIFY(!store.Flush());
    }
    QCOMPARE(ReadAll(path), kExample);
    QVERIFY(!WriteFileAtomically(path, "x"));
    QCOMPARE(ReadAll(path), kExample);
  }

  // A failed write is silent, keeps the values, and the next write tries again.
  void failedWriteRetried() {
    QTemporaryDir dir;
    const QString blocker = dir.filePath("folder");
    QVERIFY(WriteAll(blocker, "a file where the folder should be"));
    TIniStore store(blocker + "/settings.ini");
    store.WriteString("A", "1");
    QVERIFY(!store.Flush());
    QVERIFY(store.IsModified());
    QCOMPARE(store.ReadString("A"), QString("1"));
    QVERIFY(QFile::remove(blocker));
    QVERIFY(store.Flush()); // creates the missing folder
    QCOMPARE(ReadAll(blocker + "/settings.ini"), QByteArray("[Settings]\nA=1\n"));
  }

  // Renaming a temporary file over a device or a pipe would replace it; neither is read either
  // (a pipe would block, a device may never end). The device is our own node with the numbers
  // of /dev/full, so a fault here cannot touch the system's.
  void specialFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("full device") << "device";
    QTest::newRow("link to full device") << "link";
    QTest::newRow("pipe") << "fifo";
    QTest::newRow("folder") << "folder";
  }
  void specialFiles() {
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    const QByteArray native = QFile::encodeName(path);
    const QByteArray node = QFile::encodeName(dir.filePath("full"));
    if (kind == "device" || kind == "link") {
      if (mknod((kind == "device" ? native : node).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        QSKIP("creating a device node needs CAP_MKNOD");
      if (kind == "link") QVERIFY(QFile::link(dir.filePath("full"), path));
    } else if (kind == "fifo") {
      QCOMPARE(mkfifo(native.constData(), 0666), 0);
    } else {
      QVERIFY(QDir().mkdir(path));
    }
    struct stat before {};
    QCOMPARE(stat(native.constData(), &before), 0);

    TIniStore store(path);
    QVERIFY(store.IsReadOnly());
    store.WriteString("A", "1");
    QVERIFY(!store.Flush());
    QVERIFY(!WriteFileAtomically(path, "A=1\n"));

    struct stat after {};
    QCOMPARE(stat(native.constData(), &after), 0);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_rdev, before.st_rdev);
    QCOMPARE(after.st_ino, before.st_ino);
    QVERIFY(FilesIn(dir.path()).size() <= 2); // no temporary file left behind
  }

  // A disk that fills up during the write: the old file stays byte for byte and no temporary
  // file is left. The limit is set in a child process so this process can still write.
  void fileSizeLimit_data() {
    QTest::addColumn<int>("valueSize");
    QTest::newRow("fails when flushed") << 200;
    QTest::newRow("fails while written") << 200000;
  }
  void fileSizeLimit() {
    QFETCH(int, valueSize);
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    QVERIFY(WriteAll(path, kExample));
    const int rc = InChild([&] {
      const rlimit limit{128, 128};
      std::signal(SIGXFSZ, SIG_IGN);
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
      TIniStore store(path);
      store.WriteString("Big", QString(valueSize, QLatin1Char('x')));
      const bool written = store.Flush();
      return written ? 1 : 0;
    });
    QCOMPARE(rc, 0);
    QCOMPARE(ReadAll(path), kExample);
    QCOMPARE(FilesIn(dir.path()), QStringList{"settings.ini"});
  }

  // Damaged files load what they can and never crash.
  void corruptFiles_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("readable"); // a key that must still read "1", or empty
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
      binary += char((i * 7919 + 13) & 0xFF);
    QTest::newRow("binary") << binary << "";
    QTest::newRow("binary then settings") << binary + "\n[Settings]\nA=1\n"
                                          << "A";
    QTest::newRow("no equals") << QByteArray("[Settings]\nnothing here\nA=1") << "A";
    QTest::newRow("unclosed header") << QByteArray("[Settings\nA=2\n[Settings]\nA=1\n") << "A";
    QTest::newRow("nul bytes") << BYTES("[Settings]\nA=1\n\0\0\0=\0\n") << "A";
    QTest::newRow("only bom") << QByteArray("\xEF\xBB\xBF") << "";
    QTest::newRow("invalid utf-8") << QByteArray("[Settings]\n\xC3(=\xA0\xA1\nA=1\n") << "A";
    QTest::newRow("long line") << QByteArray(100000, '[') + "\n[Settings]\nA=1"
                               << "A";
  }
  // The inputs the fuzzer found, replayed the way the fuzz target reads them.
  void fuzzRegressions_data() {
    QTest::addColumn<QByteArray>("input");
    const QDir dir(qEnvironmentVariable("VELMORA_SOURCE_DIR") + "/fuzz/regressions/ini");
    for (const QString& name : dir.entryList(QDir::Files))
      QTest::newRow(qPrintable(name)) << ReadAll(dir.filePath(name));
  }
  void fuzzRegressions() {
    QFETCH(QByteArray, input);
    QCOMPARE(QString::fromLatin1(IniRoundTrip::Check(input)), QString());
  }

  void corruptFiles() {
    QFETCH(QByteArray, file);
    QFETCH(QString, readable);
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    QVERIFY(WriteAll(path, file));
    QMap<QString, QString> before;
    {
      TIniStore store(path);
      if (!readable.isEmpty()) QCOMPARE(store.ReadString(readable), QString("1"));
      QCOMPARE(store.SaveToBytes(), file);
      before = Contents(store);
      store.WriteString("frmMain\\Left", "10");
      QVERIFY(store.Flush());
    }
    TIniStore reread(path);
    QCOMPARE(reread.ReadString("frmMain\\Left"), QString("10"));
    // Every other value reads as before.
    QMap<QString, QString> after = Contents(reread);
    after.remove("frmmain\\left");
    before.remove("frmmain\\left");
    QCOMPARE(after, before);
  }
};

QTEST_GUILESS_MAIN(TestIniStore)
#include "test_inistore.moc"
