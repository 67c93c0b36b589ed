#include "session/uSnapshots.h"

void RegisterSnapshotTypes() {
  qRegisterMetaType<TOutcome>();
  qRegisterMetaType<TOverviewSnapshot>();
  qRegisterMetaType<TLogSpaceSnapshot>();
  qRegisterMetaType<TDetailsSnapshot>();
  qRegisterMetaType<TConnectSnapshot>();
  qRegisterMetaType<TConnectionTest>();
}
