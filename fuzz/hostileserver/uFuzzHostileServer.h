#pragma once
// One fuzz input as the answer of a hostile server to a query: the data store logs in to
// THostileServer on loopback, runs a query, gets these bytes as the token stream and reads
// every value of whatever result it made of them. Shared by the fuzz target and the test
// that replays its inputs.

#include "datastore/udmDataStoreSQLServer.h"
#include "fuzz/hostileserver/uHostileServer.h"
#include "platform/uMemTable.h"

#include <cstdint>
#include <exception>

inline THostileServer& HostileServer() {
  static THostileServer* server = new THostileServer; // serves for the whole process
  return *server;
}

// False when the login to the server failed (the input was not used).
inline bool FuzzHostileServerOnce(const std::uint8_t* data, std::size_t size) {
  THostileServer& server = HostileServer();
  server.SetAnswer(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
  TDataStoreSQLServer store;
  store.LoginLimits.Deadline = std::chrono::seconds(10);
  TSQLConnectionProperties props;
  props.Instance = server.ServerName();
  props.SQLLogin = QStringLiteral("fuzz");
  props.SQLPassword = QStringLiteral("fuzz");
  props.Provider = 1; // FreeTDS without encryption
  if (!store.InitWithConnProps(props)) return false;
  if (store.RunQuery(QStringLiteral("DBCC LOGINFO")) && store.Query->Active()) {
    TResultSet& q = *store.Query;
    for (q.First(); !q.Eof(); q.Next())
      for (int f = 0; f < q.FieldCount(); ++f) {
        (void)q.FieldName(f);
        (void)q.IsNull(f);
        // A value that cannot be read as a kind may say so by throwing; nothing else.
        try {
          (void)q.AsString(f);
          (void)q.AsInteger(f);
          (void)q.AsLargeInt(f);
          (void)q.AsFloat(f);
          (void)q.AsDateTime(f);
        } catch (const std::exception&) {
        }
      }
    TMemTable table;
    q.CopyTo(table);
    for (int r = 0; r < table.rowCount(); ++r)
      for (int c = 0; c < table.columnCount(); ++c)
        (void)table.data(table.index(r, c));
  }
  return true;
}
