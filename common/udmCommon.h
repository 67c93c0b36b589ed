#pragma once
// The settings store: the per-user settings file and the read-only global values.

#include "common/uCommon.h"

#include <QObject>

class TdmMain : public QObject {
  Q_OBJECT
public:
  explicit TdmMain(QObject* parent = nullptr);
  ~TdmMain() override;
};

// Lives from start-up to exit; created after the main window and the message box.
extern TdmMain* dmMain;
