#pragma once
// One fuzz input through the simulator's parsers: the first byte picks the parser, the rest is
// what a client (or a scenario author) could send. Shared by the fuzzer and its replay test.

#include "uSimEngine.h"
#include "uSimScenario.h"
#include "uSsrpResponder.h"
#include "uTdsStream.h"

#include <cstddef>
#include <cstdint>

inline const TSimScenario& FuzzScenario() {
  static const auto scenario = ParseScenario(R"json({
    "server": {"version": "11.0.2100.60"},
    "logins": [{"name": "demo", "password": "demo", "denied": ["sysfiles"]}],
    "databases": [{"name": "master"}, {"name": "a]b'c", "openTransaction": {},
                   "replication": {}, "logBackups": ["2011-01-10T16:17:01.240"],
                   "vlfs": [{"count": 50, "size": 65536, "active": 3}]},
                  {"name": "off", "status": 512}],
    "instances": [{"instance": "TWO"}]})json",
                                             nullptr);
  return *scenario;
}

inline void SqlSimFuzzOne(const uint8_t* data, size_t size) {
  if (size == 0) return;
  const QByteArray body(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
  Tds::TWireFormat v74, v71;
  v71.Version = Tds::Tds71;
  switch (data[0] % 6) {
  case 0:
    (void)Tds::ParseLogin7(body);
    break;
  case 1:
    (void)Tds::ParseSqlBatch(body, v74);
    (void)Tds::ParseSqlBatch(body, v71);
    break;
  case 2:
    (void)Tds::ParseRpc(body, v74);
    (void)Tds::ParseRpc(body, v71);
    break;
  case 3: {
    QString error;
    (void)ParseScenario(body, &error);
    break;
  }
  case 4:
    (void)TSsrpResponder::Reply(body, FuzzScenario(), 1433);
    break;
  case 5: {
    TSimSessionState state;
    state.Login = QStringLiteral("demo");
    state.Database = QStringLiteral("a]b'c");
    (void)SimEngine::Execute(FuzzScenario(), state, QString::fromUtf8(body));
    break;
  }
  }
}
