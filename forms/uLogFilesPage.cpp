#include "forms/uLogFilesPage.h"

#include "common/uCommon.h"
#include "forms/uLogReading.h"
#include "platform/gui/uGridModel.h"
#include "platform/gui/uGridView.h"
#include "platform/gui/uNoticeStack.h"

#include <QHeaderView>
#include <QTableView>
#include <limits>

namespace {
QVector<TGridColumn> FileColumns() {
  const Qt::Alignment left = Qt::AlignLeft, right = Qt::AlignRight;
  const auto text = TGridColumnKind::Text, number = TGridColumnKind::Number;
  auto col = [](const QString& header, TGridColumnKind kind, Qt::Alignment headerAlign,
                Qt::Alignment cellAlign, QVariant def = {}) {
    TGridColumn c;
    c.Header = header;
    c.Kind = kind;
    c.HeaderAlignment = headerAlign;
    c.CellAlignment = cellAlign;
    c.Default = std::move(def);
    return c;
  };
  QVector<TGridColumn> c = {
      col(TLogFilesPage::tr("File ID"), number, left, left, 0),
      col(TLogFilesPage::tr("Logical name"), text, left, left),
      col(TLogFilesPage::tr("File name"), text, left, left),
      col(TLogFilesPage::tr("Size"), text, right, right, QStringLiteral("0")),
      col(TLogFilesPage::tr("Max. size"), text, right, right),
      col(TLogFilesPage::tr("Growth"), text, right, right),
      col(TLogFilesPage::tr("VLF count"), number, right, right, 0),
      col(TLogFilesPage::tr("VLF used"), number, right, right, 0),
      col(TLogFilesPage::tr("Average VLF size (bytes)"), number, right, right, 0),
      col(TLogFilesPage::tr("Smallest VLF (bytes)"), number, right, right, 0),
      col(TLogFilesPage::tr("Largest VLF (bytes)"), number, right, right, 0),
  };
  c[TLogFilesPage::colFileName].Elide = Qt::ElideMiddle;
  // A path cut in the middle shows in full as the cell's tooltip.
  c[TLogFilesPage::colFileName].HintWhenClipped = true;
  return c;
}

constexpr std::int64_t PageBytes = 8192;
} // namespace

TLogFilesPage::TLogFilesPage(QTableView* grid, TNoticeStack* notice, QObject* parent)
    : QObject(parent), m_grid(grid), m_notice(notice),
      m_model(new TGridModel(FileColumns(), this)) {
  grid->setModel(m_model);
  SetupGrid(grid);
  grid->horizontalHeader()->resizeSection(colFileName, 160);
}

int TLogFilesPage::RowCount() const {
  return m_model->RowCount();
}

void TLogFilesPage::Clear() {
  m_model->ClearRows();
  if (m_notice) m_notice->SetNotice(QString());
}

QString TLogFilesPage::NotAvailable() {
  return tr("n/a");
}

void TLogFilesPage::Show(const TLogFilesPart& files, const TMemTable& vlf, bool vlfRead) {
  const TRepaintGuard repaint(m_grid);
  m_model->ClearRows();
  ResetSortIndicator(m_grid);
  if (m_notice) m_notice->SetNotice(files.Outcome.IsOk() ? QString() : files.Outcome.Text);
  if (!files.Outcome.IsOk()) return;
  const TGridUpdateGuard update(*m_model);
  m_model->AddRows(int(files.Rows.size()));
  for (int row = 0; row < m_model->RowCount(); ++row) {
    const TLogFileRow& f = files.Rows[row];
    m_model->SetCell(colFileID, row, f.FileId);
    m_model->SetCell(colFileName, row, f.FileName);
    // The sizes show as text ("1.000 GB") and sort by their bytes.
    const std::int64_t size = f.SizePages * PageBytes;
    m_model->SetCell(colSize, row, FormatByteSize(size));
    m_model->SetSortKey(colSize, row, size);
    if (f.MaxSizePages == -1) {
      m_model->SetCell(colMaxSize, row, tr("unlimited"));
      m_model->SetSortKey(colMaxSize, row, std::numeric_limits<qint64>::max());
    } else {
      m_model->SetCell(colMaxSize, row, FormatByteSize(f.MaxSizePages * PageBytes));
      m_model->SetSortKey(colMaxSize, row, f.MaxSizePages * PageBytes);
    }
    if (f.Status & 0x100000) {
      // A percentage has no byte value: these sort after the fixed steps, by their text.
      m_model->SetCell(colGrowth, row, tr("%1% increments").arg(f.Growth));
    } else {
      m_model->SetCell(colGrowth, row, FormatByteSize(std::int64_t(f.Growth) * PageBytes));
      m_model->SetSortKey(colGrowth, row, std::int64_t(f.Growth) * PageBytes);
    }
    m_model->SetCell(colLogicalName, row, f.Name);
  }

  if (!vlfRead) {
    for (int r = 0; r < m_model->RowCount(); ++r)
      for (int c = colVLFCount; c <= colLargestVLFSize; ++c)
        m_model->SetText(c, r, NotAvailable());
  } else {
    const auto stats = ComputeVLFStats(vlf);
    for (int r = 0; r < m_model->RowCount(); ++r) {
      const auto it = stats.constFind(m_model->Cell(colFileID, r).toLongLong());
      if (it == stats.constEnd() || it->Total <= 0) continue;
      m_model->SetCell(colVLFCount, r, qint64(it->Count));
      m_model->SetCell(colVLFUsed, r, qint64(it->Used));
      m_model->SetCell(colSmallestVLFSize, r, qint64(it->Smallest));
      m_model->SetCell(colLargestVLFSize, r, qint64(it->Largest));
      m_model->SetCell(colAverageVLFSize, r, qint64(it->Average()));
    }
  }
  FitColumnWidths(m_grid, 24);
  m_grid->horizontalHeader()->resizeSection(colFileName, 180);
}
