// Application folders and the settings store: typed values, the recent-connection list, the
// read-only global values, and what reaches the disk when.

#include "common/uCommon.h"
#include "common/udmCommon.h"
#include "settings/uTestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
TSQLConnectionProperties Conn(const QString& instance, const QString& database,
                              const QString& login = QString(), int provider = 0) {
  TSQLConnectionProperties p;
  p.Instance = instance;
  p.Database = database;
  p.SQLLogin = login;
  p.Provider = std::uint8_t(provider);
  return p;
}

class TFakeGlobalSettings : public TGlobalSettingsSource {
public:
  QMap<QString, QString> values;
  QString notText; // a value of another type
  std::optional<QString> ReadText(const QString& name) const override {
    if (name == notText)
      throw TGlobalSettingError(("Invalid data type for '" + name + "'").toStdString());
    if (values.contains(name)) return values.value(name);
    return std::nullopt;
  }
};

std::unique_ptr<TdmMain> Store(const QString& file) {
  return std::make_unique<TdmMain>(file, nullptr);
}

// Runs fn in a child process and returns its exit code (-1 when it did not exit normally,
// e.g. killed by a signal).
template <typename Fn> int InChild(Fn fn) {
  const pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool SetFileSizeLimit(rlim_t soft) {
  const rlimit limit{soft, RLIM_INFINITY};
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}
} // namespace

class TestSettings : public QObject {
  Q_OBJECT
private Q_SLOTS:
  // The all-users folder is read, never created (on Linux it lies under /etc/xdg).
  void firstRunCreatesTheUserFolderOnly() {
    QTemporaryDir dir;
    const QString user = dir.filePath("home/.config");
    const QString common = dir.filePath("etc/xdg");
    InitApplicationFolders(user, common);
    QCOMPARE(UserDataFolder(), user + "/Quorvix/Velmora/");
    QCOMPARE(CommonDataFolder(), common + "/Quorvix/Velmora/");
    QCOMPARE(UserSettingsFile(), user + "/Quorvix/Velmora/settings.ini");
    QVERIFY(QFileInfo(UserDataFolder()).isDir());
#ifdef Q_OS_WIN
    QVERIFY(QFileInfo(CommonDataFolder()).isDir());
#else
    QVERIFY(!QFileInfo::exists(common));
#endif

    // A second start changes nothing.
    QVERIFY(WriteAll(UserSettingsFile(), "[Settings]\nLastDBType=1\n"));
    InitApplicationFolders(user + "/", common);
    QCOMPARE(UserSettingsFile(), user + "/Quorvix/Velmora/settings.ini");
    QCOMPARE(ReadAll(UserSettingsFile()), QByteArray("[Settings]\nLastDBType=1\n"));
  }

  // A folder that cannot be created does not stop the program: the store works in memory and
  // its writes fail silently.
  void folderCannotBeCreated() {
    QTemporaryDir dir;
    const QString blocker = dir.filePath("config");
    QVERIFY(WriteAll(blocker, "a file where a folder should be"));
    InitApplicationFolders(blocker, blocker);
    QVERIFY(!QFileInfo(UserDataFolder()).exists());
    auto store = Store(UserSettingsFile());
    store->SaveRecentConnection(Conn("SQL01", "master"));
    QCOMPARE(store->GetSettingString(Settings::ConnectionListSQL), QString("SQL01:master::0|"));
    store.reset();
    QVERIFY(!QFileInfo(UserSettingsFile()).exists());
    QCOMPARE(ReadAll(blocker), QByteArray("a file where a folder should be"));
  }

  // Saving recreates a folder that went missing.
  void saveCreatesFolder() {
    QTemporaryDir dir;
    const QString file = dir.filePath("gone/Quorvix/Velmora/settings.ini");
    auto store = Store(file);
    store->SaveRecentConnection(Conn("SQL01", "master"));
    QCOMPARE(ReadAll(file), QByteArray("[Settings]\nConnectionListSQL=SQL01:master::0|\n"));
  }

  void recentList_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("instance");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("after");
    QTest::newRow("first") << ""
                           << "SQL01"
                           << ""
                           << "SQL01:master::0|";
    QTest::newRow("example") << "sql02\\inst:master:monitor:1|"
                             << "SQL01"
                             << ""
                             << "SQL01:master::0|sql02\\inst:master:monitor:1|";
    QTest::newRow("other case replaces, order kept")
        << "A:x::0|SQL01:master::0|sql02\\inst:master:monitor:1|Z:y::0|"
        << "sql01"
        << "monitor"
        << "sql01:master:monitor:0|A:x::0|sql02\\inst:master:monitor:1|Z:y::0|";
    QTest::newRow("only the first match goes") << "a:x::0|A:y::0|"
                                               << "A"
                                               << ""
                                               << "A:master::0|A:y::0|";
    QTest::newRow("only a to z fold")
        << QString::fromUtf8("\xC3\xA4srv:x::0|") << QString::fromUtf8("\xC3\x84SRV") << ""
        << QString::fromUtf8("\xC3\x84SRV:master::0|\xC3\xA4srv:x::0|");
    // The name read back ends at the first colon, so a name with a colon never matches itself.
    QTest::newRow("colon in name kept whole") << "tcp:srv1:master::0|"
                                              << "tcp:srv1"
                                              << ""
                                              << "tcp:srv1:master::0|tcp:srv1:master::0|";
    QTest::newRow("colon line matches its prefix") << "tcp:srv1:master::0|"
                                                   << "TCP"
                                                   << ""
                                                   << "TCP:master::0|";
    QTest::newRow("empty lines stay") << "a:x::0||b:y::0|"
                                      << "c"
                                      << ""
                                      << "c:master::0|a:x::0||b:y::0|";
    QTest::newRow("no final bar") << "a:x::0"
                                  << "c"
                                  << ""
                                  << "c:master::0|a:x::0|";
    QTest::newRow("malformed lines stay") << "nocolon|:lead::0|b:x:y:zz|"
                                          << "c"
                                          << ""
                                          << "c:master::0|nocolon|:lead::0|b:x:y:zz|";
    QTest::newRow("malformed line with the name goes") << "b:x:y:zz|c|"
                                                       << "B"
                                                       << ""
                                                       << "B:master::0|c|";
    QTest::newRow("empty instance removes nothing") << ":lead::0|a:x::0|"
                                                    << ""
                                                    << ""
                                                    << ":master::0|:lead::0|a:x::0|";
    QTest::newRow("percent signs stay") << ""
                                        << "srv%1"
                                        << "%2"
                                        << "srv%1:master:%2:0|";
  }
  void recentList() {
    QFETCH(QString, before);
    QFETCH(QString, instance);
    QFETCH(QString, login);
    QFETCH(QString, after);
    QCOMPARE(TdmMain::AddRecentConnection(before, Conn(instance, "master", login)), after);
  }

  // The example of a first run and a second connection, byte for byte on disk; LastDBType
  // joins the file only when the store is destroyed.
  void fileOnDisk() {
    QTemporaryDir dir;
    const QString file = dir.filePath("settings.ini");
    auto store = Store(file);
    store->SaveRecentConnection(Conn("sql02\\inst", "master", "monitor", 1));
    store->SetSettingInteger(Settings::LastDBType.Key, 1);
    store->SaveRecentConnection(Conn("SQL01", "master"));
    store->SetSettingInteger(Settings::LastDBType.Key, 1);
    QCOMPARE(
        ReadAll(file),
        QByteArray("[Settings]\nConnectionListSQL=SQL01:master::0|sql02\\inst:master:monitor:1|"
                   "\nLastDBType=1\n"));

    // First run: the list is written at once, LastDBType only at the end.
    const QString fresh = dir.filePath("fresh.ini");
    store = Store(fresh);
    store->SaveRecentConnection(Conn("SQL01", "master"));
    store->SetSettingInteger(Settings::LastDBType.Key, 1);
    QCOMPARE(ReadAll(fresh), QByteArray("[Settings]\nConnectionListSQL=SQL01:master::0|\n"));
    store.reset();
    QCOMPARE(ReadAll(fresh),
             QByteArray("[Settings]\nConnectionListSQL=SQL01:master::0|\nLastDBType=1\n"));
    QCOMPARE(Store(fresh)->GetSettingInteger(Settings::LastDBType), 1);
  }

  void listGrowsWithoutLimit() {
    QTemporaryDir dir;
    const QString file = dir.filePath("settings.ini");
    {
      auto store = Store(file);
      for (int i = 0; i < 300; ++i)
        store->SaveRecentConnection(Conn(QStringLiteral("srv%1").arg(i), "db"));
    }
    const QStringList lines =
        Store(file)->GetSettingString(Settings::ConnectionListSQL).split('|', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 300);
    QCOMPARE(lines.first(), QString("srv299:db::0"));
    QCOMPARE(lines.last(), QString("srv0:db::0"));
  }

  void passwordNeverStored() {
    QTemporaryDir dir;
    const QString file = dir.filePath("settings.ini");
    {
      auto store = Store(file);
      TSQLConnectionProperties p = Conn("SQL01", "master", "monitor", 1);
      p.SQLPassword = "Pw-9d3f!x";
      store->SaveRecentConnection(p);
      store->SetSettingInteger(Settings::LastDBType.Key, 1);
    }
    const QByteArray content = ReadAll(file);
    QVERIFY(content.contains("SQL01:master:monitor:1|"));
    QVERIFY(!content.contains("Pw-9d3f!x"));
  }

  void integers_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("error"); // empty: no error
    QTest::newRow("missing") << QByteArray("") << 42 << "";
    QTest::newRow("empty value") << QByteArray("[Settings]\nN=\n") << 0 << "";
    QTest::newRow("number") << QByteArray("[Settings]\nN=-17\n") << -17 << "";
    QTest::newRow("letters") << QByteArray("[Settings]\nN=abc\n") << 0
                             << "'abc' is not a valid integer value";
    QTest::newRow("hex") << QByteArray("[Settings]\nN=$1F\n") << 0
                         << "'$1F' is not a valid integer value";
    QTest::newRow("too big") << QByteArray("[Settings]\nN=4294967296\n") << 0
                             << "'4294967296' is not a valid integer value";
  }
  void integers() {
    QFETCH(QByteArray, file);
    QFETCH(int, expected);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    QVERIFY(WriteAll(path, file));
    auto store = Store(path);
    try {
      QCOMPARE(store->GetSettingInteger("N", 42), expected);
      QVERIFY2(error.isEmpty(), "no conversion error");
    } catch (const TConversionError& e) {
      QCOMPARE(QString::fromUtf8(e.what()), error);
    }
  }

  void strings() {
    auto store = Store(QString());
    QCOMPARE(store->GetSettingString("S", "def"), QString("def"));
    store->SetSettingString("S", "");
    QCOMPARE(store->GetSettingString("S", "def"), QString(""));
    store->SetSettingString("frmMain\\S", " a\\b ");
    QCOMPARE(store->GetSettingString("frmMain\\S", "def"), QString(" a\\b "));
    QCOMPARE(store->GetSettingString("S", "def"), QString(""));
    store->SetSettingInteger("I", -5);
    QCOMPARE(store->GetSettingString("I", ""), QString("-5"));
  }

  // A read-only settings file is loaded; every write is ignored, in memory and on disk.
  void readOnlyFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    const QByteArray content = "[Settings]\r\nConnectionListSQL=OLD:db::0|\r\nLastDBType=0\r\n";
    QVERIFY(WriteAll(path, content));
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
    {
      auto store = Store(path);
      QSignalSpy failed(store.get(), &TdmMain::SaveFailed);
      QCOMPARE(store->GetSettingString(Settings::ConnectionListSQL), QString("OLD:db::0|"));
      store->SaveRecentConnection(Conn("NEW", "master"));
      QCOMPARE(failed.count(), 0); // left alone on purpose, not a failure
      store->SetSettingInteger(Settings::LastDBType.Key, 1);
      QCOMPARE(store->GetSettingString(Settings::ConnectionListSQL), QString("OLD:db::0|"));
      QCOMPARE(store->GetSettingInteger(Settings::LastDBType), 0);
    }
    QCOMPARE(ReadAll(path), content);
  }

  // A disk that is full for this process (ulimit -f): the program's start-up ignores SIGXFSZ,
  // so the write fails instead of ending the process. The failure is reported once with the
  // path and the reason, the old file stays byte for byte, and after a good write the next
  // failure is reported again. Run in a child so this process keeps its limits.
  void failedSaveReportedOnce() {
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    const QByteArray old = "[Settings]\nConnectionListSQL=OLD:db::0|\nLastDBType=1\n";
    QVERIFY(WriteAll(path, old));
    const QString big(300, u'x');
    const int rc = InChild([&] {
      IgnoreFileSizeLimitSignal();
      if (!SetFileSizeLimit(128)) return 2;
      auto store = Store(path);
      QStringList reports;
      QObject::connect(
          store.get(), &TdmMain::SaveFailed,
          [&](const QString& file, const QString& reason) { reports << file + " | " + reason; });
      store->SaveRecentConnection(Conn(big, "master"));
      store->SaveRecentConnection(Conn(big + "2", "master"));
      if (reports != QStringList{QDir::toNativeSeparators(path) + " | File too large"}) {
        qWarning() << reports; // the test output says what was reported instead
        return 10;
      }
      if (ReadAll(path) != old) return 11;
      if (!SetFileSizeLimit(RLIM_INFINITY) || !store->SaveSettings()) return 12;
      if (!SetFileSizeLimit(128)) return 2;
      store->SaveRecentConnection(Conn(big + "3", "master"));
      if (reports.size() != 2) return 13;
      return 0;
    });
    QCOMPARE(rc, 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"settings.ini"});
  }

  void globalSettings() {
    auto fake = std::make_unique<TFakeGlobalSettings>();
    fake->values = {{"SQLInstance", "sql02\\inst"}, {"Database", ""}};
    fake->notText = "Number";
    TdmMain store(QString(), std::move(fake));
    QCOMPARE(store.GetGlobalSetting("SQLInstance", "def"), QString("sql02\\inst"));
    QCOMPARE(store.GetGlobalSetting("Database", "def"), QString("")); // empty replaces default
    QCOMPARE(store.GetGlobalSetting("Missing", "def"), QString("def"));
    QVERIFY_THROWS_EXCEPTION(TGlobalSettingError, store.GetGlobalSetting("Number", "def"));

    TdmMain none(QString(), nullptr);
    QCOMPARE(none.GetGlobalSetting("SQLInstance", "def"), QString("def"));
  }

  // The machine-wide file is read verbatim: QSettings would turn sql02\inst into sql02nst.
  void systemGlobalSettingsFile() {
    QTemporaryDir dir;
    const QString conf = dir.filePath("Tessaly.conf");
    QVERIFY(WriteAll(
        conf, "SQLInstance=sql02\\inst\n[General]\nDatabase=Sales, 2024\nSQLInstance=other\n"));
    TdmMain store(QString(), std::make_unique<TSystemGlobalSettings>(conf));
    QCOMPARE(store.GetGlobalSetting("SQLInstance", ""), QString("sql02\\inst"));
    QCOMPARE(store.GetGlobalSetting("Database", ""), QString("Sales, 2024"));
    QCOMPARE(store.GetGlobalSetting("Other", "def"), QString("def"));

    TdmMain missing(QString(), std::make_unique<TSystemGlobalSettings>(dir.filePath("none")));
    QCOMPARE(missing.GetGlobalSetting("SQLInstance", "def"), QString("def"));
    QVERIFY(!QFileInfo::exists(dir.filePath("none")));

    QVERIFY(TSystemGlobalSettings().ConfigFile().endsWith("/Quorvix/Tessaly.conf"));
  }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
