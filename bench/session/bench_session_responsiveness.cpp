// While the server takes 3 s over DBCC LOGINFO: the longest gap between two turns of the GUI
// event loop during a selection (target under 50 ms), and the time from Cancel until the window
// is idle again (target under 1 s). Then the statements and logins of each user action, from
// the simulator's log.

#include "forms/uOverviewPage.h"
#include "forms/ufrmMain.h"
#include "uBenchReport.h"
#include "uSqlSimProcess.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QLabel>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

const char* kScenario = R"({"logins": [{"name": "bench", "password": "bench"}],
  "databases": [{"name": "master"}, {"name": "model"}, {"name": "msdb"}, {"name": "tempdb"},
                {"name": "Alpha"}, {"name": "Sales", "vlfs": [{"count": 2000, "active": 5}]}]%1})";

QString Scenario(bool slow) {
  return QString::fromLatin1(kScenario).arg(
      slow ? QStringLiteral(R"(, "faults": [{"statement": "loginfo", "delayMs": 3000}])")
           : QString());
}

bool WaitIdle(TfrmMain& w, int ms = 60000) {
  return QTest::qWaitFor([&w] { return !w.IsBusy(); }, ms);
}

// The longest time between two turns of the event loop while `work` runs and until the window
// is idle: a zero timer fires once per turn.
double LongestGapMs(TfrmMain& w, const std::function<void()>& work) {
  QElapsedTimer clock;
  qint64 last = 0, longest = 0;
  QTimer turn;
  turn.setInterval(0);
  QObject::connect(&turn, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    longest = std::max(longest, now - last);
    last = now;
  });
  clock.start();
  turn.start();
  work();
  WaitIdle(w);
  turn.stop();
  return double(longest) / 1e6;
}

struct TAction {
  const char* Name;
  int Batches = 0, Logins = 0, Repeated = 0;
};

TAction Count(const char* name, const TSqlSimProcess& sim, qsizetype fromEntry) {
  TAction a{name};
  const QList<QJsonObject> entries = sim.LogEntries();
  QStringList seen;
  for (qsizetype i = fromEntry; i < entries.size(); ++i) {
    const QString event = entries[i].value("event").toString();
    if (event == "login") ++a.Logins;
    if (event != "batch") continue;
    const QString sql = entries[i].value("sql").toString();
    ++a.Batches;
    if (seen.contains(sql)) ++a.Repeated;
    seen << sql;
  }
  return a;
}

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  TSqlSimProcess sim;
  if (!sim.Start(Scenario(false))) {
    std::fprintf(stderr, "sqlsim: %s\n", qPrintable(sim.ErrorString()));
    return 1;
  }
  TSQLConnectionProperties props;
  props.Instance = sim.ServerName();
  props.SQLLogin = QStringLiteral("bench");
  props.SQLPassword = QStringLiteral("bench");

  TfrmMain window;
  window.resize(1280, 900);
  window.show();
  window.timerConnect.stop();
  TfrmMain::SetConnectDialogFactory([&props](QWidget*) {
    TConnectDialogOutcome o;
    o.ConnectionProperties = props;
    o.Accepted = true;
    return o;
  });

  // Statements per action, on a quick server. The Connect dialog's own test login comes on top
  // of the connect: one more login, no statement.
  std::vector<TAction> actions;
  qsizetype mark = sim.LogEntries().size();
  window.actConnectDBExecute();
  if (!QTest::qWaitFor([&] { return window.Session() != nullptr; }, 30000)) {
    std::fprintf(stderr, "cannot connect\n");
    return 1;
  }
  WaitIdle(window);
  // The connect and the first fill run as one chain: split them at the database list.
  {
    const QList<QJsonObject> entries = sim.LogEntries();
    qsizetype split = mark;
    while (split < entries.size() &&
           !entries[split].value("sql").toString().startsWith("SELECT name, status"))
      ++split;
    TAction connect = Count("connect", sim, mark);
    TAction fill = Count("first fill", sim, split);
    connect.Batches -= fill.Batches;
    connect.Repeated -= fill.Repeated;
    connect.Logins -= fill.Logins;
    actions.push_back(connect);
    actions.push_back(fill);
  }
  const int sales = [&] {
    for (int r = 0; r < window.OverviewPage()->RowCount(); ++r)
      if (window.OverviewPage()->DatabaseName(r) == QLatin1String("Sales")) return r;
    return -1;
  }();
  const auto select = [&](int row) {
    window.grdOverview->setCurrentIndex(window.grdOverview->model()->index(row, 0));
  };
  mark = sim.LogEntries().size();
  select(sales);
  WaitIdle(window);
  actions.push_back(Count("select a database", sim, mark));
  mark = sim.LogEntries().size();
  window.actRefreshDBList->trigger();
  WaitIdle(window);
  actions.push_back(Count("Refresh", sim, mark));

  // The slow server.
  if (!sim.ApplyScenario(Scenario(true))) {
    std::fprintf(stderr, "the simulator did not take the slow scenario\n");
    return 1;
  }
  std::vector<double> gaps, cancels;
  for (int i = 0; i < 3; ++i) {
    select(0);
    WaitIdle(window);
    gaps.push_back(LongestGapMs(window, [&] { select(sales); }));
  }
  for (int i = 0; i < 5; ++i) {
    select(window.FSelectedRow == sales ? 0 : sales);
    // Cancel once DBCC LOGINFO has been waiting for a while.
    if (!QTest::qWaitFor([&] { return window.lblBusy->text().startsWith("DBCC LOGINFO"); },
                         10000)) {
      std::fprintf(stderr, "no busy sign for DBCC LOGINFO\n");
      return 1;
    }
    QTest::qWait(500);
    QElapsedTimer t;
    t.start();
    window.CancelWork();
    WaitIdle(window, 10000);
    cancels.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  TfrmMain::SetConnectDialogFactory({});

  std::sort(gaps.begin(), gaps.end());
  std::sort(cancels.begin(), cancels.end());
  std::printf("%-60s %8.1f ms (median of %zu; worst %.1f ms)\n",
              "longest event-loop gap, selection during a 3 s DBCC LOGINFO", gaps[gaps.size() / 2],
              gaps.size(), gaps.back());
  std::printf("%-60s %8.1f ms (median of %zu; worst %.1f ms)\n",
              "Cancel to control back, during a 3 s DBCC LOGINFO", cancels[cancels.size() / 2],
              cancels.size(), cancels.back());
  std::printf("\n%-20s %8s %8s %14s\n", "action", "batches", "logins", "repeated texts");
  for (const TAction& a : actions)
    std::printf("%-20s %8d %8d %14d\n", a.Name, a.Batches, a.Logins, a.Repeated);

  const double gap = gaps[gaps.size() / 2], cancel = cancels[cancels.size() / 2];
  Bench::Target("Event-loop gap while the server is slow", "< 50 ms", Bench::Format("%.1f ms", gap),
                Bench::Format("%.2f", gap / 50), gap < 50);
  Bench::Target("Cancel to control back", "< 1000 ms", Bench::Format("%.0f ms", cancel),
                Bench::Format("%.2f", cancel / 1000), cancel < 1000);
  for (const TAction& a : actions)
    Bench::Target(std::string("Statements sent twice: ") + a.Name, "none",
                  std::to_string(a.Repeated) + " of " + std::to_string(a.Batches), "",
                  a.Repeated == 0);
  return 0;
}
