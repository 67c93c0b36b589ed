#include "platform/gui/uVlfMap.h"

#include "common/uCommon.h"

#include <QHelpEvent>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <algorithm>

namespace {
constexpr int BarHeight = 18;
constexpr int MarkerHeight = 6; // the triangle above the current VLF
constexpr int BarGap = 4;
constexpr int Margin = 2;
constexpr int MaxTooltipLines = 8;

int RowHeight() {
  return MarkerHeight + BarHeight + BarGap;
}
} // namespace

QVector<TVlfPixel> MergeVlfPixels(std::span<const TVlfMapEntry> vlfs, int width, int highestIndex) {
  QVector<TVlfPixel> pixels(std::max(0, width));
  __int128 total = 0;
  for (const TVlfMapEntry& v : vlfs)
    total += std::max<std::int64_t>(0, v.Size);
  if (width <= 0 || total == 0) return pixels;
  // Exact integer positions: a VLF covers [cum * width, (cum + size) * width) and pixel x covers
  // [x * total, (x + 1) * total), so a VLF that ends on a column's edge never touches the next.
  const __int128 w = width;
  __int128 cum = 0;
  for (int i = 0; i < int(vlfs.size()); ++i) {
    const std::int64_t size = vlfs[std::size_t(i)].Size;
    if (size <= 0) continue;
    const __int128 a = cum * w, b = (cum + size) * w;
    cum += size;
    const int x0 = int(a / total), x1 = int((b - 1) / total);
    const bool active = vlfs[std::size_t(i)].Active;
    for (int x = x0; x <= x1 && x < width; ++x) {
      const __int128 lo = std::max(a, __int128(x) * total);
      const __int128 hi = std::min(b, __int128(x + 1) * total);
      const double bytes = double(hi - lo) / double(width);
      TVlfPixel& p = pixels[x];
      if (p.First < 0) p.First = i;
      ++p.Count;
      p.TotalBytes += bytes;
      if (active) p.ActiveBytes += bytes;
      if (i == highestIndex) p.Highest = true;
    }
  }
  return pixels;
}

TVlfMap::TVlfMap(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("imgVLFMap"));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setMouseTracking(false);
}

QColor TVlfMap::ActiveColor() {
  return QColor(214, 96, 77);
}

QColor TVlfMap::ReusableColor() {
  return QColor(150, 196, 160);
}

void TVlfMap::SetVlfs(QVector<TVlfMapEntry> vlfs) {
  const auto byPlace = [](const TVlfMapEntry& a, const TVlfMapEntry& b) {
    return a.FileId != b.FileId ? a.FileId < b.FileId : a.StartOffset < b.StartOffset;
  };
  // DBCC LOGINFO already lists them this way; only other sources need the sort.
  if (!std::is_sorted(vlfs.begin(), vlfs.end(), byPlace))
    std::stable_sort(vlfs.begin(), vlfs.end(), byPlace);
  m_vlfs = std::move(vlfs);
  m_files.clear();
  m_highest = -1;
  for (int i = 0; i < m_vlfs.size(); ++i) {
    if (m_files.empty() || m_files.back().FileId != m_vlfs[i].FileId) {
      TFile f;
      f.FileId = m_vlfs[i].FileId;
      f.Begin = i;
      m_files.push_back(f);
    }
    m_files.back().End = i + 1;
    if (m_highest < 0 || m_vlfs[i].FSeqNo > m_vlfs[m_highest].FSeqNo) m_highest = i;
  }
  // A log whose VLFs were never used has only sequence 0: there is no current VLF to mark.
  if (m_highest >= 0 && m_vlfs[m_highest].FSeqNo <= 0) m_highest = -1;
  updateGeometry();
  update();
}

void TVlfMap::Merge(TFile& file, int width) const {
  if (file.PixelWidth == width) return;
  const std::span<const TVlfMapEntry> vlfs(m_vlfs.constData() + file.Begin,
                                           std::size_t(file.End - file.Begin));
  const int highest = m_highest >= file.Begin && m_highest < file.End ? m_highest - file.Begin : -1;
  file.Pixels = MergeVlfPixels(vlfs, width, highest);
  file.PixelWidth = width;
}

int TVlfMap::LabelWidth() const {
  return fontMetrics().horizontalAdvance(tr("File %1").arg(99)) + 8;
}

QRect TVlfMap::BarRect(int file) const {
  const int left = Margin + LabelWidth();
  const int top = Margin + file * RowHeight() + MarkerHeight;
  return QRect(left, top, std::max(0, width() - left - Margin), BarHeight);
}

QSize TVlfMap::sizeHint() const {
  const int files = std::max(1, FileCount());
  return QSize(400, 2 * Margin + files * RowHeight() + fontMetrics().height() + 2);
}

QSize TVlfMap::minimumSizeHint() const {
  return QSize(LabelWidth() + 40, sizeHint().height());
}

void TVlfMap::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  update();
}

void TVlfMap::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QColor active = ActiveColor(), reusable = ReusableColor();
  const QColor frame = palette().color(QPalette::Mid);
  for (int f = 0; f < FileCount(); ++f) {
    TFile& file = m_files[std::size_t(f)];
    const QRect bar = BarRect(f);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(Margin, bar.top(), LabelWidth() - 4, bar.height()),
               Qt::AlignLeft | Qt::AlignVCenter, tr("File %1").arg(file.FileId));
    if (bar.width() <= 0) continue;
    Merge(file, bar.width());
    p.fillRect(bar, reusable);
    // Runs of columns whose active part has the same height are drawn as one rectangle.
    int runStart = 0, runHeight = -1;
    int markFrom = -1, markTo = -1;
    const auto flush = [&](int end) {
      if (runHeight > 0)
        p.fillRect(
            QRect(bar.left() + runStart, bar.bottom() + 1 - runHeight, end - runStart, runHeight),
            active);
    };
    for (int x = 0; x < bar.width(); ++x) {
      const TVlfPixel& px = file.Pixels[x];
      const int h = int(px.ActiveShare() * BarHeight + 0.5);
      if (h != runHeight) {
        flush(x);
        runStart = x;
        runHeight = h;
      }
      if (px.Highest) {
        if (markFrom < 0) markFrom = x;
        markTo = x;
      }
    }
    flush(bar.width());
    p.setPen(frame);
    p.setBrush(Qt::NoBrush);
    p.drawRect(bar.adjusted(0, 0, -1, -1));
    if (markFrom >= 0) {
      const QColor mark = palette().color(QPalette::WindowText);
      p.setPen(QPen(mark, 1));
      p.drawRect(QRect(bar.left() + markFrom, bar.top(), markTo - markFrom + 1, bar.height())
                     .adjusted(0, 0, -1, -1));
      // Kept within the bar, so a current VLF at either end shows its whole marker.
      const double cx = std::clamp(bar.left() + (markFrom + markTo + 1) / 2.0, bar.left() + 4.0,
                                   bar.right() - 4.0);
      QPainterPath triangle;
      triangle.moveTo(cx - 4, bar.top() - MarkerHeight);
      triangle.lineTo(cx + 4, bar.top() - MarkerHeight);
      triangle.lineTo(cx, bar.top() - 1);
      triangle.closeSubpath();
      p.setRenderHint(QPainter::Antialiasing, true);
      p.fillPath(triangle, mark);
      p.setRenderHint(QPainter::Antialiasing, false);
    }
  }
  // The legend.
  const int y = Margin + std::max(1, FileCount()) * RowHeight();
  const int sw = fontMetrics().height() - 4;
  int x = Margin + LabelWidth();
  const auto legend = [&](const QColor& color, const QString& text) {
    p.fillRect(QRect(x, y + 2, sw, sw), color);
    x += sw + 4;
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QPoint(x, y + fontMetrics().ascent()), text);
    x += fontMetrics().horizontalAdvance(text) + 12;
  };
  legend(active, tr("active"));
  legend(reusable, tr("reusable"));
  if (m_highest >= 0)
    legend(palette().color(QPalette::WindowText),
           tr("current VLF (highest FSeqNo %1)").arg(m_vlfs[m_highest].FSeqNo));
}

QString TVlfMap::ToolTipAt(const QPoint& pos) const {
  for (int f = 0; f < FileCount(); ++f) {
    const QRect bar = BarRect(f);
    if (pos.y() < bar.top() - MarkerHeight || pos.y() > bar.bottom() || pos.x() < bar.left() ||
        pos.x() > bar.right())
      continue;
    TFile& file = m_files[std::size_t(f)];
    Merge(file, bar.width());
    const TVlfPixel& px = file.Pixels[pos.x() - bar.left()];
    if (px.Count == 0) return {};
    const QLocale locale;
    const auto line = [&](const TVlfMapEntry& v) {
      return tr("FSeqNo %1, %2, %3, CreateLSN %4")
          .arg(locale.toString(qlonglong(v.FSeqNo)), FormatByteSize(v.Size),
               v.Active ? tr("active") : tr("reusable"),
               v.CreateLsn.isEmpty() ? QStringLiteral("-") : v.CreateLsn);
    };
    const int first = file.Begin + px.First;
    if (px.Count == 1) return line(m_vlfs[first]);
    QStringList lines{tr("%1 VLFs in this column").arg(px.Count)};
    for (int i = 0; i < std::min(px.Count, MaxTooltipLines); ++i)
      lines << line(m_vlfs[first + i]);
    if (px.Count > MaxTooltipLines) lines << tr("and %1 more").arg(px.Count - MaxTooltipLines);
    return lines.join(QLatin1Char('\n'));
  }
  return {};
}

bool TVlfMap::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString text = ToolTipAt(help->pos());
    if (text.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(help->globalPos(), text, this);
    return true;
  }
  return QWidget::event(event);
}
