#pragma once
// GUI helpers shared by all forms.

#include <QApplication>
#include <exception>
#include <functional>

// The application object. Qt lets no exception cross its event loop, so notify() catches
// what an event handler let through and hands it to HandleUncaughtError.
class TVelmoraApplication : public QApplication {
  Q_OBJECT
public:
  TVelmoraApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the error's own text in a standard error box (form name "ApplicationErrorBox");
// the program goes on.
void HandleUncaughtError(std::exception_ptr error);

// Runs a handler that may fail and routes any error to HandleUncaughtError.
// Returns false when the handler failed.
bool RunGuarded(const std::function<void()>& handler);

class QFont;
class QWidget;
class TdmMain;

// Shows each failed write of the settings file (TdmMain::SaveFailed) in the message box,
// with the file's path and the reason.
void ReportSettingsSaveFailures(TdmMain& store);

// Opens a web address, a mailto link or a file with the desktop shell (ShellOpener()); when
// the shell refuses, says so in the message box. A refusal while the message box is already
// showing comes up in a second box on top, so the first message is kept.
void OpenLink(const QString& Link);
// The reason shown for a shell result code of 32 or less; empty for codes without one.
QString ShellOpenErrorMessage(int code);

// The font that stands for the desktop's icon font: the system's general font, unless a test
// has put another in its place.
QFont SystemIconFont();
void SetSystemIconFont(const QFont& font);
void ResetSystemIconFont();

// Gives Form the icon font and scales the font-dependent sizes of its controls by the font's
// pixel height over 11, the height the forms are laid out for.
void ApplySystemFont(QWidget* Form);
void ApplySystemFont(QWidget* Form, const QFont& IconFont);
// Applies the per-class rules to every control inside Container, at any depth:
// - a label with a font of its own takes the icon font's family and size;
// - a table view takes them too, its header row H + 10 and its rows H + 4 high, H being the
//   height of "Xj" in that font (a view with the property kDataBoundGridProperty set is a
//   data-bound grid and left alone);
// - a header panel centres its pictures in the band, gives a font of its own the icon
//   family and scales a header font of its own;
// - a tab widget scales its "tabHeight" property (pixels, applied to its tabs) and a tab
//   font of its own;
// - a rich text box with a font of its own takes the icon family and scales its height.
void ScaleControlFonts(QWidget* Container, double Scale);
void ScaleControlFonts(QWidget* Container, double Scale, const QFont& IconFont);

inline constexpr char kDataBoundGridProperty[] = "dataBoundGrid";
inline constexpr char kTabHeightProperty[] = "tabHeight";

// A font's character height in pixels (positive), from its pixel size or its point size.
int FontPixelHeight(const QFont& font);
