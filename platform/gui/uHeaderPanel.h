#pragma once
// A panel with a coloured caption band at its top and a client area below it.

#include <QColor>
#include <QFrame>

class QLabel;
class QVBoxLayout;

class THeaderPanel : public QFrame {
  Q_OBJECT
public:
  explicit THeaderPanel(QWidget* parent = nullptr);

  QString Caption() const;
  void SetCaption(const QString& caption);

  int HeaderHeight() const { return m_headerHeight; }
  void SetHeaderHeight(int pixels);
  // Left indent of the caption text, so a picture can sit in the band.
  void SetCaptionIndent(int pixels);
  int CaptionIndent() const { return m_captionIndent; }
  QFont HeaderFont() const;
  void SetHeaderFont(const QFont& font);
  QColor HeaderColor() const { return m_headerColor; }
  void SetHeaderColor(const QColor& color);

  // The band's label and the area where children go.
  QLabel* CaptionLabel() const { return m_caption; }
  QWidget* ClientArea() const { return m_client; }
  QVBoxLayout* ClientLayout() const { return m_clientLayout; }
  QWidget* HeaderBand() const { return m_band; }

private:
  void ApplyBandStyle();

  QWidget* m_band = nullptr;
  QLabel* m_caption = nullptr;
  QWidget* m_client = nullptr;
  QVBoxLayout* m_clientLayout = nullptr;
  QColor m_headerColor;
  int m_headerHeight = 22;
  int m_captionIndent = 6;
};
