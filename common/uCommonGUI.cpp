#include "common/uCommonGUI.h"

#include "common/udmCommon.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"
#include "platform/gui/uShellOpen.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <cmath>
#include <optional>

TVelmoraApplication::TVelmoraApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TVelmoraApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    HandleUncaughtError(std::current_exception());
    return false;
  }
}

static QString ErrorText(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
  }
  return QApplication::tr("Unknown error");
}

void HandleUncaughtError(std::exception_ptr error) {
  const QString text = ErrorText(error);
  qWarning("Uncaught error: %s", qPrintable(text));
  QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), text,
                  QMessageBox::Ok, QApplication::activeWindow());
  box.setObjectName("ApplicationErrorBox");
  box.setTextFormat(Qt::PlainText);
  ModalHook::Exec(box);
}

bool RunGuarded(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (...) {
    HandleUncaughtError(std::current_exception());
    return false;
  }
}

// --- Links -------------------------------------------------------------------------------

namespace {
struct TShellMessage {
  int Code;
  const char* Text;
};

// The shell's result codes that have a message; other codes of 32 or less end silently.
constexpr TShellMessage kShellMessages[] = {
    {0, QT_TRANSLATE_NOOP("OpenLink", "The operating system is out of memory or resources.")},
    {2, QT_TRANSLATE_NOOP("OpenLink", "The specified file was not found.")},
    {3, QT_TRANSLATE_NOOP("OpenLink", "The specified path was not found.")},
    {5, QT_TRANSLATE_NOOP("OpenLink", "The operating system denied access to the specified file.")},
    {8, QT_TRANSLATE_NOOP("OpenLink", "There was not enough memory to complete the operation.")},
    {11, QT_TRANSLATE_NOOP("OpenLink", "The .exe file is invalid (non-Microsoft Win32 .exe or "
                                       "error in .exe image).")},
    {26, QT_TRANSLATE_NOOP("OpenLink", "A sharing violation occurred.")},
    {27, QT_TRANSLATE_NOOP("OpenLink", "The file name association is incomplete or invalid.")},
    {28, QT_TRANSLATE_NOOP("OpenLink", "The DDE transaction could not be completed because the "
                                       "request timed out.")},
    {29, QT_TRANSLATE_NOOP("OpenLink", "The DDE transaction failed.")},
    {30, QT_TRANSLATE_NOOP("OpenLink", "The Dynamic Data Exchange (DDE) transaction could not be "
                                       "completed because other DDE transactions were being "
                                       "processed.")},
    {31, QT_TRANSLATE_NOOP("OpenLink",
                           "There is no application associated with the given file name "
                           "extension. This error will also be returned if you attempt to print "
                           "a file that is not printable.")},
    {32, QT_TRANSLATE_NOOP("OpenLink", "The specified dynamic-link library (DLL) was not found.")},
};
} // namespace

QString ShellOpenErrorMessage(int code) {
  for (const TShellMessage& m : kShellMessages)
    if (m.Code == code) return QCoreApplication::translate("OpenLink", m.Text);
  return {};
}

void OpenLink(const QString& Link) {
  const int result = ShellOpener().Open(Link);
  if (result > 32) return;
  const QString reason = ShellOpenErrorMessage(result);
  if (reason.isEmpty()) return;
  const QString caption = QCoreApplication::translate("OpenLink", "Failed to open link");
  const QString text = QCoreApplication::translate("OpenLink", "Failed to open the link: ") +
                       QStringLiteral("\r\n\r\n") + Link + QStringLiteral("\r\n\r\n") + reason;
  if (frmMessageBox) {
    // ShowError itself puts a second box on top when this one is already showing.
    frmMessageBox->ShowError(caption, text);
    return;
  }
  TfrmMessageBox box(QApplication::activeWindow());
  box.ShowError(caption, text);
}

void ReportSettingsSaveFailures(TdmMain& store) {
  QObject::connect(
      &store, &TdmMain::SaveFailed, &store, [](const QString& fileName, const QString& reason) {
        const QString caption =
            QCoreApplication::translate("Settings", "Failed to save the settings");
        const QString text =
            QCoreApplication::translate("Settings", "The settings could not be written to the "
                                                    "file:") +
            QStringLiteral("\r\n\r\n") + fileName + QStringLiteral("\r\n\r\n") + reason;
        if (frmMessageBox) {
          frmMessageBox->ShowError(caption, text);
          return;
        }
        TfrmMessageBox box(QApplication::activeWindow());
        box.ShowError(caption, text);
      });
}

// --- System font ---------------------------------------------------------------------------

namespace {
std::optional<QFont>& IconFontOverride() {
  static std::optional<QFont> font;
  return font;
}

// To the nearest integer, halves to the even neighbour.
int RoundHalfEven(double value) {
  double rounded = std::round(value);
  if (std::abs(value - std::trunc(value)) == 0.5) rounded = 2.0 * std::round(value / 2.0);
  return int(rounded);
}

void TakeFamilyAndSize(QFont& font, const QFont& icon) {
  font.setFamilies(icon.families());
  if (icon.pixelSize() > 0)
    font.setPixelSize(icon.pixelSize());
  else
    font.setPointSizeF(icon.pointSizeF());
}

QFont TakeFamilyScaleHeight(QFont font, const QFont& icon, double scale) {
  const int height = FontPixelHeight(font);
  font.setFamilies(icon.families());
  font.setPixelSize(std::max(1, RoundHalfEven(height * scale)));
  return font;
}

bool HasOwnFont(const QWidget* w) {
  return w->testAttribute(Qt::WA_SetFont);
}

// The band's caption label belongs to its header panel, whose rule sizes its font.
bool IsHeaderCaption(const QLabel* label) {
  const QWidget* band = label->parentWidget();
  const auto* panel = band ? qobject_cast<const THeaderPanel*>(band->parentWidget()) : nullptr;
  return panel && panel->CaptionLabel() == label;
}

void ScaleGrid(QTableView* grid, const QFont& icon) {
  QFont measured;
  TakeFamilyAndSize(measured, icon);
  const int h = QFontMetrics(measured).size(Qt::TextSingleLine, QStringLiteral("Xj")).height();
  QFont f = grid->font();
  TakeFamilyAndSize(f, icon);
  grid->setFont(f);
  grid->horizontalHeader()->setFixedHeight(h + 10);
  grid->verticalHeader()->setMinimumSectionSize(
      std::min(grid->verticalHeader()->minimumSectionSize(), h + 4));
  grid->verticalHeader()->setDefaultSectionSize(h + 4);
}

void ScaleHeaderPanel(THeaderPanel* panel, double scale, const QFont& icon) {
  // Pictures sit on the panel or in its band, centred in the band's height.
  for (QWidget* holder : {static_cast<QWidget*>(panel), panel->HeaderBand()}) {
    for (QObject* child : holder->children()) {
      auto* picture = qobject_cast<QLabel*>(child);
      if (picture && picture != panel->CaptionLabel() && !picture->pixmap().isNull())
        picture->move(picture->x(), (panel->HeaderHeight() - picture->height()) / 2);
    }
  }
  if (HasOwnFont(panel)) {
    QFont f = panel->font();
    f.setFamilies(icon.families());
    panel->setFont(f);
  }
  if (HasOwnFont(panel->CaptionLabel()))
    panel->SetHeaderFont(TakeFamilyScaleHeight(panel->HeaderFont(), icon, scale));
}

// Qt draws all tabs of a tab widget with one tab bar, so its pages share the tab font.
void ScaleTabWidget(QTabWidget* tabs, double scale, const QFont& icon) {
  const int tabHeight = tabs->property(kTabHeightProperty).toInt();
  if (tabHeight > 0) {
    const int scaled = RoundHalfEven(tabHeight * scale);
    tabs->setProperty(kTabHeightProperty, scaled);
    tabs->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { height: %1px; }").arg(scaled));
  }
  if (HasOwnFont(tabs->tabBar()))
    tabs->tabBar()->setFont(TakeFamilyScaleHeight(tabs->tabBar()->font(), icon, scale));
}

void ScaleControl(QWidget* control, double scale, const QFont& icon) {
  if (auto* label = qobject_cast<QLabel*>(control)) {
    // A label that follows its parent's font already has the icon font.
    if (HasOwnFont(label) && !IsHeaderCaption(label)) {
      QFont f = label->font();
      TakeFamilyAndSize(f, icon);
      label->setFont(f);
    }
  } else if (auto* grid = qobject_cast<QTableView*>(control)) {
    if (!grid->property(kDataBoundGridProperty).toBool()) ScaleGrid(grid, icon);
  } else if (auto* panel = qobject_cast<THeaderPanel*>(control)) {
    ScaleHeaderPanel(panel, scale, icon);
  } else if (auto* tabs = qobject_cast<QTabWidget*>(control)) {
    ScaleTabWidget(tabs, scale, icon);
  } else if (auto* rich = qobject_cast<QTextEdit*>(control)) {
    // Without a font of its own it follows the form's, which is already the icon font.
    if (HasOwnFont(rich)) rich->setFont(TakeFamilyScaleHeight(rich->font(), icon, scale));
  }
}
} // namespace

int FontPixelHeight(const QFont& font) {
  if (font.pixelSize() > 0) return font.pixelSize();
  const QScreen* screen = QGuiApplication::primaryScreen();
  const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
  return qRound(font.pointSizeF() * dpi / 72.0);
}

QFont SystemIconFont() {
  if (IconFontOverride()) return *IconFontOverride();
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont);
}

void SetSystemIconFont(const QFont& font) {
  IconFontOverride() = font;
}
void ResetSystemIconFont() {
  IconFontOverride().reset();
}

void ApplySystemFont(QWidget* Form) {
  ApplySystemFont(Form, SystemIconFont());
}

void ApplySystemFont(QWidget* Form, const QFont& IconFont) {
  QFont f = Form->font();
  TakeFamilyAndSize(f, IconFont);
  Form->setFont(f);
  const double scale = std::abs(FontPixelHeight(Form->font())) / 11.0;
  ScaleControlFonts(Form, scale, IconFont);
}

void ScaleControlFonts(QWidget* Container, double Scale) {
  ScaleControlFonts(Container, Scale, SystemIconFont());
}

void ScaleControlFonts(QWidget* Container, double Scale, const QFont& IconFont) {
  const QObjectList children = Container->children();
  for (QObject* child : children) {
    auto* control = qobject_cast<QWidget*>(child);
    // Windows of their own (a dialog owned by the form) get their font when they are made.
    if (!control || control->isWindow()) continue;
    ScaleControl(control, Scale, IconFont);
    ScaleControlFonts(control, Scale, IconFont);
  }
}
