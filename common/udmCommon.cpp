#include "common/udmCommon.h"

TdmMain* dmMain = nullptr;

TdmMain::TdmMain(QObject* parent) : QObject(parent) { setObjectName("dmMain"); }

TdmMain::~TdmMain() = default;
