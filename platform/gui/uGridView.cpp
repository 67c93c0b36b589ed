#include "platform/gui/uGridView.h"

#include "platform/uGridRoles.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace {
class TGridDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void StyleFor(QStyleOptionViewItem* option, const QModelIndex& index) const {
    initStyleOption(option, index);
  }

protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QVariant elide =
        index.model()->headerData(index.column(), Qt::Horizontal, TGridRole::ElideMode);
    if (elide.isValid()) option->textElideMode = Qt::TextElideMode(elide.toInt());
    // A coloured cell keeps its text readable whatever the palette's text colour is (white
    // text of a dark theme on a pale highlight would all but vanish).
    if (option->backgroundBrush.style() != Qt::NoBrush)
      option->palette.setColor(QPalette::Text, ReadableTextColor(option->backgroundBrush.color()));
  }

  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override {
    if (event->type() != QEvent::ToolTip || !index.isValid())
      return QStyledItemDelegate::helpEvent(event, view, option, index);
    const bool hint = index.model()
                          ->headerData(index.column(), Qt::Horizontal, TGridRole::HintWhenClipped)
                          .toBool();
    const QString text = index.data(Qt::DisplayRole).toString();
    if (!hint || text.isEmpty() || sizeHint(option, index).width() <= option.rect.width()) {
      QToolTip::hideText();
      return true;
    }
    QToolTip::showText(event->globalPos(), text, view, option.rect);
    return true;
  }
};

int RowHeight(const QTableView* grid) {
  return grid->fontMetrics().height() + 6;
}

struct TU16Hash {
  std::size_t operator()(const QString& s) const {
    return std::hash<std::u16string_view>()(
        std::u16string_view(reinterpret_cast<const char16_t*>(s.utf16()), std::size_t(s.size())));
  }
};

// Shaping a text costs microseconds; the same headers and many cell texts come back on every
// load, so their widths are remembered per font.
class TWidthCache {
public:
  template <typename Measure> int Width(const QFont& font, const QString& key, Measure measure) {
    if (font != m_font) {
      m_widths.clear();
      m_font = font;
    }
    const auto it = m_widths.find(key);
    if (it != m_widths.end()) return it->second;
    if (m_widths.size() > 20000) m_widths.clear();
    const int w = measure();
    m_widths.emplace(key, w);
    return w;
  }

private:
  QFont m_font;
  std::unordered_map<QString, int, TU16Hash> m_widths;
};

int CellWidth(const QFont& font, const QFontMetrics& fm, const QString& text) {
  static TWidthCache cache;
  return cache.Width(font, text, [&] { return fm.horizontalAdvance(text); });
}

// The header's own size hint for a section, remembered per font, text and sort indicator.
int HeaderWidth(QHeaderView* header, int section) {
  static TWidthCache cache;
  const QString text = header->model()->headerData(section, Qt::Horizontal).toString();
  const QString key = text + (header->isSortIndicatorShown() ? u'\x1' : u'\x2');
  return cache.Width(header->font(), key, [&] { return header->sectionSizeHint(section); });
}
} // namespace

namespace {
double RelativeLuminance(const QColor& c) {
  const auto channel = [](double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  const QColor rgb = c.toRgb();
  return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) +
         0.0722 * channel(rgb.blueF());
}
} // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = RelativeLuminance(a), lb = RelativeLuminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableTextColor(const QColor& background) {
  const QColor black(Qt::black), white(Qt::white);
  return ContrastRatio(background, black) >= ContrastRatio(background, white) ? black : white;
}

QColor CellTextColor(const QTableView* grid, const QModelIndex& index) {
  QStyleOptionViewItem option;
  option.initFrom(grid);
  if (const auto* d = dynamic_cast<const TGridDelegate*>(grid->itemDelegate()))
    d->StyleFor(&option, index);
  return option.palette.color(QPalette::Text);
}

void SetupGrid(QTableView* grid, bool sorting) {
  grid->setItemDelegate(new TGridDelegate(grid));
  grid->setSortingEnabled(false);
  QHeaderView* rows = grid->verticalHeader();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setMinimumSectionSize(1);
  rows->setDefaultSectionSize(RowHeight(grid));
  QHeaderView* header = grid->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setSortIndicatorShown(sorting);
  header->setSortIndicator(-1, Qt::AscendingOrder);
  // The header flips its indicator on a click; the model sorts when the column allows it,
  // otherwise the indicator goes back to where it was.
  struct TLastSort {
    int Section = -1;
    Qt::SortOrder Order = Qt::AscendingOrder;
  };
  auto last = std::make_shared<TLastSort>();
  QObject::connect(
      header, &QHeaderView::sortIndicatorChanged, grid,
      [grid, header, last](int section, Qt::SortOrder order) {
        QAbstractItemModel* model = grid->model();
        if (section < 0) {
          *last = {};
          return;
        }
        if (!model) return;
        if (!model->headerData(section, Qt::Horizontal, TGridRole::Sortable).toBool()) {
          const QSignalBlocker block(header);
          header->setSortIndicator(last->Section, last->Order);
          return;
        }
        *last = {section, order};
        model->sort(section, order);
      });
}

void FitColumnWidths(QTableView* grid, int margin) {
  FitColumnWidths(grid, margin, 0, grid->model() ? grid->model()->columnCount() - 1 : -1);
}

void FitColumnWidths(QTableView* grid, int margin, int first, int last) {
  QAbstractItemModel* model = grid->model();
  if (!model) return;
  grid->verticalHeader()->setDefaultSectionSize(RowHeight(grid));
  QHeaderView* header = grid->horizontalHeader();
  const QFontMetrics fm = grid->fontMetrics();
  const int focus = grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
  const int cellPadding = 2 * focus + 1; // text margins of the delegate plus the grid line
  const int columns = std::min(model->columnCount(), last + 1);
  for (int c = std::max(0, first); c < columns; ++c) {
    int width = HeaderWidth(header, c);
    const QVariant longest = model->headerData(c, Qt::Horizontal, TGridRole::LongestTexts);
    if (longest.isValid()) {
      for (const QString& text : longest.toStringList())
        width = std::max(width, CellWidth(grid->font(), fm, text) + cellPadding);
    } else {
      for (int r = 0, n = model->rowCount(); r < n; ++r)
        width = std::max(width,
                         fm.horizontalAdvance(model->index(r, c).data().toString()) + cellPadding);
    }
    header->resizeSection(c, width + margin);
  }
}

void ResetSortIndicator(QTableView* grid) {
  grid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
}

void DisableColumnSorting(QTableView* grid) {
  QAbstractItemModel* model = grid->model();
  if (!model) return;
  for (int c = 0, n = model->columnCount(); c < n; ++c)
    model->setHeaderData(c, Qt::Horizontal, false, TGridRole::Sortable);
}

TRepaintGuard::TRepaintGuard(QWidget* widget) : m_widget(widget) {
  m_wasEnabled = widget->updatesEnabled();
  widget->setUpdatesEnabled(false);
}

TRepaintGuard::~TRepaintGuard() {
  if (!m_widget) return;
  m_widget->setUpdatesEnabled(m_wasEnabled);
  m_widget->update();
}

TBusyCursor::TBusyCursor() {
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

TBusyCursor::~TBusyCursor() {
  QGuiApplication::restoreOverrideCursor();
}
