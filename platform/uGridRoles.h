#pragma once
// What views of a table model may ask of it besides the standard roles. No GUI here.

#include <QStringList>
#include <Qt>
#include <functional>

// Header roles the grid views read from any model that supports them.
namespace TGridRole {
enum : int {
  Sortable = Qt::UserRole + 100, // bool: a header click sorts by this column
  ElideMode,                     // Qt::TextElideMode for the column's cells
  HintWhenClipped,               // bool: a clipped cell shows its whole text as a tooltip
  LongestTexts,                  // QStringList: the column's widest display texts, for fitting
};
}

// Picks the texts worth measuring to fit a column: every text whose length is close to the
// longest one, at most `limit` of them. `length(row)` must be cheap; `text(row)` is called only
// for the rows picked. Rows with a negative length are skipped.
QStringList CollectLongestTexts(int rowCount, const std::function<int(int)>& length,
                                const std::function<QString(int)>& text, int limit = 32);
