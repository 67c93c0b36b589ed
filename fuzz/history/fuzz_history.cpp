// libFuzzer target: the version history as the update information dialog shows it, laid out
// and painted offscreen. Any crash, sanitizer finding or slow input (-timeout) is a finding.

#include "fuzz/history/uHistoryRender.h"

#include <QApplication>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TfrmUpdateInformation* dlg = new TfrmUpdateInformation;
  RenderHistory(*dlg, QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
  return 0;
}
