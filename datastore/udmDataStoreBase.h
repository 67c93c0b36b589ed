#pragma once
// The abstract data store: every server access of the program goes through one of these.

#include "common/uCommon.h"

#include <QStringList>

class TResultSet;
class TOdbcConnection;

class TDataStoreBase {
public:
  TDataStoreBase() = default;
  virtual ~TDataStoreBase() = default;
  TDataStoreBase(const TDataStoreBase&) = delete;
  TDataStoreBase& operator=(const TDataStoreBase&) = delete;

  virtual bool InitWithConnProps(TSQLConnectionProperties Props) = 0;
  virtual bool ExecuteSQL() = 0;
  virtual bool OpenQuery() = 0;
  virtual bool TestConnection(TSQLConnectionProperties Props) = 0;
  virtual bool ExecuteStatement(const QString& Text) = 0;

  // Texts of the failures of the last operation, one entry per failure.
  QStringList Errors;
  bool Connected = false;
  // The result set of the last query; owned by the concrete class.
  TResultSet* Query = nullptr;
  // The store's own connection; owned by the concrete class.
  TOdbcConnection* Connection = nullptr;
};
