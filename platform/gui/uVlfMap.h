#pragma once
// A picture of a log's virtual log files: one bar per log file, its VLFs in StartOffset order,
// each as wide as its share of the file, coloured by status, the current VLF (the highest
// FSeqNo) marked. Drawn with QPainter: VLFs that share a pixel column are merged first, so a
// log of 100,000 VLFs costs one rectangle per column.

#include <QString>
#include <QVector>
#include <QWidget>
#include <cstdint>
#include <span>

struct TVlfMapEntry {
  int FileId = 0;
  std::int64_t StartOffset = 0;
  std::int64_t Size = 0; // bytes
  std::int64_t FSeqNo = 0;
  bool Active = false; // Status 2: in use, not reusable
  QString CreateLsn;
};

// One pixel column of a file's bar: what the VLFs that fall into it add up to. A VLF wider
// than a column counts in every column it covers, with the bytes it puts there.
struct TVlfPixel {
  double ActiveBytes = 0;
  double TotalBytes = 0;
  int First = -1;       // index of the first VLF in the column; -1: none
  int Count = 0;        // VLFs that touch the column
  bool Highest = false; // holds the VLF with the highest FSeqNo of the log
  double ActiveShare() const { return TotalBytes > 0 ? ActiveBytes / TotalBytes : 0; }
};

// Merges one file's VLFs, already in StartOffset order, into `width` pixel columns. The bar
// spans the sum of their sizes; `highestIndex` (or -1) is the VLF to mark.
QVector<TVlfPixel> MergeVlfPixels(std::span<const TVlfMapEntry> vlfs, int width,
                                  int highestIndex = -1);

class TVlfMap : public QWidget {
  Q_OBJECT
public:
  explicit TVlfMap(QWidget* parent = nullptr);

  // Takes the VLFs in any order; they are grouped by file and sorted by StartOffset.
  void SetVlfs(QVector<TVlfMapEntry> vlfs);
  void Clear() { SetVlfs({}); }
  int FileCount() const { return int(m_files.size()); }
  const QVector<TVlfMapEntry>& Vlfs() const { return m_vlfs; }

  // The tooltip for a point of the widget: the VLF (or the VLFs) under it; empty elsewhere.
  QString ToolTipAt(const QPoint& pos) const;

  // Where file `file` (0 = the first bar) is drawn.
  QRect BarRect(int file) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  static QColor ActiveColor();
  static QColor ReusableColor();

protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  struct TFile {
    int FileId = 0;
    int Begin = 0, End = 0;    // the file's VLFs in m_vlfs
    QVector<TVlfPixel> Pixels; // merged for the bar's current width
    int PixelWidth = -1;
  };
  void Merge(TFile& file, int width) const;
  int LabelWidth() const;

  QVector<TVlfMapEntry> m_vlfs;       // grouped by file, each file in StartOffset order
  mutable std::vector<TFile> m_files; // the merged columns are a cache
  int m_highest = -1;                 // index in m_vlfs of the highest FSeqNo
};
