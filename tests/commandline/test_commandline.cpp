// The command line: help and version, the connect options, and what is refused (a password
// above all).

#include "common/uCommandLine.h"

#include <QTest>

class TestCommandLine : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void parse_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("login");
    QTest::addColumn<bool>("integrated");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("output"); // a part of the output; empty: none
    const int run = TCommandLine::Run, error = TCommandLine::Error;
    QTest::newRow("nothing") << QStringList{} << run << ""
                             << "" << false << ""
                             << "";
    QTest::newRow("help") << QStringList{"--help"} << int(TCommandLine::ShowHelp) << ""
                          << "" << false << ""
                          << "Usage: velmora [options]";
    QTest::newRow("-h") << QStringList{"-h"} << int(TCommandLine::ShowHelp) << ""
                        << "" << false << ""
                        << "-S <server>";
    QTest::newRow("version") << QStringList{"--version"} << int(TCommandLine::ShowVersion) << ""
                             << "" << false << ""
                             << "Velmora 1.1.0.6\n";
    QTest::newRow("SQL login") << QStringList{"-S", "sql01\\inst", "-U", "monitor", "-d", "Sales"}
                               << run << "sql01\\inst"
                               << "monitor" << false << "Sales"
                               << "";
    QTest::newRow("values joined to the letters")
        << QStringList{"-S127.0.0.1,1433", "-Umonitor"} << run << "127.0.0.1,1433"
        << "monitor" << false << ""
        << "";
    QTest::newRow("integrated") << QStringList{"-E", "-S", "sql01"} << run << "sql01"
                                << "" << true << ""
                                << "";
    QTest::newRow("password") << QStringList{"-S", "sql01", "-U", "sa", "-P", "secret"} << error
                              << ""
                              << "" << false << ""
                              << "never taken from the command line";
    QTest::newRow("password joined") << QStringList{"-Psecret"} << error << ""
                                     << "" << false << ""
                                     << "never taken from the command line";
    QTest::newRow("long password") << QStringList{"--password=secret"} << error << ""
                                   << "" << false << ""
                                   << "never taken from the command line";
    QTest::newRow("login and integrated") << QStringList{"-U", "sa", "-E"} << error << ""
                                          << "" << false << ""
                                          << "-E";
    QTest::newRow("empty login") << QStringList{"-U", ""} << error << ""
                                 << "" << false << ""
                                 << "-U needs a login";
    QTest::newRow("server twice") << QStringList{"-S", "a", "-S", "b"} << error << ""
                                  << "" << false << ""
                                  << "more than once";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << error << ""
                                    << "" << false << ""
                                    << "frobnicate";
    QTest::newRow("stray argument") << QStringList{"sql01"} << error << ""
                                    << "" << false << ""
                                    << "unexpected argument 'sql01'";
    QTest::newRow("Qt's own options pass")
        << QStringList{"-style", "fusion", "-S", "sql01", "-platform=xcb", "-reverse"} << run
        << "sql01"
        << "" << false << ""
        << "";
    QTest::newRow("missing value") << QStringList{"-S"} << error << ""
                                   << "" << false << ""
                                   << "Missing value";
  }

  void parse() {
    QFETCH(QStringList, args);
    QFETCH(QString, output);
    args.prepend("/opt/somewhere/Velmora");
    const TCommandLine c = ParseCommandLine(args);
    QTEST(int(c.Action), "action");
    QTEST(c.Server, "server");
    QTEST(c.Login, "login");
    QTEST(c.Integrated, "integrated");
    QTEST(c.Database, "database");
    if (output.isEmpty())
      QVERIFY(c.Output.isEmpty());
    else
      QVERIFY2(c.Output.contains(output), qPrintable(c.Output));
    if (c.Action == TCommandLine::Error) {
      QVERIFY(!c.HasConnectOptions());
      QVERIFY(!c.Output.contains("secret"));
    }
  }

  void helpNamesEveryOption() {
    const QString help = ParseCommandLine({"velmora", "--help"}).Output;
    for (const char* option : {"--help", "--version", "-S", "-U", "-E", "-d"})
      QVERIFY2(help.contains(option), option);
    QVERIFY(!help.contains("-P"));
  }
};

QTEST_APPLESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
