#include "platform/gui/uHeaderPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

THeaderPanel::THeaderPanel(QWidget* parent)
    : QFrame(parent), m_headerColor(0x87, 0xCE, 0xEB) /* sky blue */ {
  setFrameShape(QFrame::NoFrame);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  m_band = new QWidget(this);
  m_band->setObjectName("HeaderBand");
  m_band->setAutoFillBackground(true);
  auto* bandLayout = new QHBoxLayout(m_band);
  bandLayout->setContentsMargins(0, 0, 4, 0);
  m_caption = new QLabel(m_band);
  m_caption->setObjectName("HeaderCaption");
  m_caption->setTextFormat(Qt::PlainText);
  bandLayout->addWidget(m_caption);
  outer->addWidget(m_band);

  m_client = new QWidget(this);
  m_client->setObjectName("ClientArea");
  m_clientLayout = new QVBoxLayout(m_client);
  m_clientLayout->setContentsMargins(0, 0, 0, 0);
  m_clientLayout->setSpacing(0);
  outer->addWidget(m_client, 1);

  QFont f = font();
  f.setBold(true);
  f.setPixelSize(13);
  m_caption->setFont(f);
  SetHeaderHeight(m_headerHeight);
  SetCaptionIndent(m_captionIndent);
  ApplyBandStyle();
}

QString THeaderPanel::Caption() const {
  return m_caption->text();
}
void THeaderPanel::SetCaption(const QString& caption) {
  m_caption->setText(caption);
}

void THeaderPanel::SetHeaderHeight(int pixels) {
  m_headerHeight = pixels;
  m_band->setFixedHeight(pixels);
}

void THeaderPanel::SetCaptionIndent(int pixels) {
  m_captionIndent = pixels;
  m_caption->setContentsMargins(pixels, 0, 0, 0);
}

QFont THeaderPanel::HeaderFont() const {
  return m_caption->font();
}
void THeaderPanel::SetHeaderFont(const QFont& font) {
  m_caption->setFont(font);
}

void THeaderPanel::SetHeaderColor(const QColor& color) {
  m_headerColor = color;
  ApplyBandStyle();
}

void THeaderPanel::ApplyBandStyle() {
  // A soft vertical gradient into the band colour, as a "Windows Live" style header.
  QPalette pal = m_band->palette();
  QLinearGradient g(0, 0, 0, 1);
  g.setCoordinateMode(QGradient::ObjectMode);
  g.setColorAt(0, m_headerColor.lighter(125));
  g.setColorAt(1, m_headerColor);
  pal.setBrush(QPalette::Window, QBrush(g));
  pal.setColor(QPalette::WindowText, Qt::black);
  m_band->setPalette(pal);
  m_caption->setPalette(pal);
}
