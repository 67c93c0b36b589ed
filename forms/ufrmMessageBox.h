#pragma once
// The program's one message box, used for errors and the About box. The one instance is
// filled for each message and shown modally.

#include "forms/ufrmBaseDialog.h"

#include <QFlags>

class QLabel;
class TRichEditURL;

enum TMessageBoxKind {
  mkError,
  mkWarning,
  mkAbout,
  mkDatabaseError,
  mkSaveSQLScript,
  mkActionBlocked,
  mkInformation
};

// The standard dialog buttons, as bits of a 16-bit set.
enum TMsgDlgBtn : quint16 { mbYes = 0x1, mbNo = 0x2, mbOK = 0x4, mbCancel = 0x8 };
Q_DECLARE_FLAGS(TMsgDlgButtons, TMsgDlgBtn)
Q_DECLARE_OPERATORS_FOR_FLAGS(TMsgDlgButtons)

class TfrmMessageBox : public TfrmBaseDialog {
  Q_OBJECT
public:
  explicit TfrmMessageBox(QWidget* parent = nullptr);

  // Fills the box for one message without showing it.
  void PrepareMessage(TMessageBoxKind Kind, const QString& Caption, const QString& Text,
                      TMsgDlgButtons Buttons);
  void ShowError(const QString& Caption, const QString& Text);
  void ShowAbout();
  // Shows imgHeader0 to imgHeader3 for 0 to 3; any other index shows none.
  void ShowHeaderImage(int Index);

  QLabel* lblSupport = nullptr;
  QLabel* lblNotices = nullptr; // the licence and third-party notices, About only
  QLabel* imgHeader0 = nullptr;
  QLabel* imgHeader1 = nullptr;
  QLabel* imgHeader2 = nullptr;
  QLabel* imgHeader3 = nullptr;
  TRichEditURL* mmText = nullptr;

public Q_SLOTS:
  void btnCopyToClipboardClick();
  void lblSupportClick();
  void lblNoticesClick();
  void mmTextURLClick(const QString& URL);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FormCreate();
  void SetButtons(TMsgDlgButtons Buttons);
  // Shows a prepared message; when this box is already showing one, a second box on top
  // takes the new message so the first is not lost.
  int ShowMessage(TMessageBoxKind Kind, const QString& Caption, const QString& Text,
                  TMsgDlgButtons Buttons);
  // The height mmText takes in the layout: the box is hidden between messages, so its
  // layout has not run and the widgets' own geometry may be stale.
  int BodyHeight() const;

  // lblCaption's height for a caption that fits on one line.
  static constexpr int FCaptionTag = 33;
};

// Lives from start-up to exit.
extern TfrmMessageBox* frmMessageBox;
