#include "forms/uOverviewPage.h"

#include "forms/uLogReading.h"
#include "platform/gui/uGridModel.h"
#include "platform/gui/uGridView.h"
#include "platform/gui/uNoticeStack.h"
#include "platform/uMemTable.h"

#include <QEvent>
#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QTableView>
#include <limits>
#include <string_view>

namespace {
QVector<TGridColumn> OverviewColumns() {
  const Qt::Alignment left = Qt::AlignLeft, right = Qt::AlignRight;
  QVector<TGridColumn> c(10);
  c[TOverviewPage::colDBName] = {TOverviewPage::tr("Database Name"),
                                 TGridColumnKind::Text,
                                 left,
                                 left,
                                 true,
                                 {},
                                 Qt::ElideRight,
                                 false};
  c[TOverviewPage::colStatus] = {TOverviewPage::tr("Status"),
                                 TGridColumnKind::Text,
                                 left,
                                 left,
                                 false,
                                 {},
                                 Qt::ElideRight,
                                 true};
  c[TOverviewPage::colLogSize] = {TOverviewPage::tr("Log Size (MB)"),
                                  TGridColumnKind::Number,
                                  right,
                                  right,
                                  true,
                                  0,
                                  Qt::ElideRight,
                                  false};
  c[TOverviewPage::colUsed] = {TOverviewPage::tr("Log Space Used (%)"),
                               TGridColumnKind::Number,
                               right,
                               right,
                               true,
                               0,
                               Qt::ElideRight,
                               false};
  c[TOverviewPage::colUpdated] = {TOverviewPage::tr("Last Updated"),
                                  TGridColumnKind::Time,
                                  right,
                                  right,
                                  false,
                                  {},
                                  Qt::ElideRight,
                                  true};
  const auto health = [&](const char* header, bool rightAligned = false) {
    const Qt::Alignment a = rightAligned ? right : left;
    return TGridColumn{TOverviewPage::tr(header),
                       TGridColumnKind::Text,
                       a,
                       a,
                       true,
                       {},
                       Qt::ElideRight,
                       false}; // each cell brings its own tooltip
  };
  c[TOverviewPage::colRecovery] = health(QT_TR_NOOP("Recovery model"));
  c[TOverviewPage::colReuseWait] = health(QT_TR_NOOP("Log reuse wait"));
  c[TOverviewPage::colVLFs] = health(QT_TR_NOOP("VLFs"), true);
  c[TOverviewPage::colLastLogBackup] = health(QT_TR_NOOP("Last log backup"), true);
  c[TOverviewPage::colVerdict] = health(QT_TR_NOOP("Verdict"));
  return c;
}
} // namespace

TOverviewPage::TOverviewPage(QTableView* grid, TNoticeStack* notice, QObject* parent)
    : QObject(parent), m_grid(grid), m_notice(notice),
      m_model(new TGridModel(OverviewColumns(), this)) {
  m_clock = [] { return QDateTime::currentDateTime(); };
  grid->setModel(m_model);
  grid->setShowGrid(true);
  grid->setSelectionBehavior(QAbstractItemView::SelectItems);
  SetupGrid(grid);
  grid->horizontalHeader()->resizeSection(colUsed, 140);
  // Rows move or change only through these; the name index follows them.
  const auto invalidate = [this] { m_rowOfValid = false; };
  connect(m_model, &QAbstractItemModel::modelReset, this, invalidate);
  connect(m_model, &QAbstractItemModel::rowsInserted, this, invalidate);
  connect(m_model, &QAbstractItemModel::rowsRemoved, this, invalidate);
  connect(m_model, &QAbstractItemModel::layoutChanged, this, invalidate);
  connect(m_model, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& from, const QModelIndex& to) {
            if (from.column() <= colDBName && colDBName <= to.column()) m_rowOfValid = false;
          });
  grid->horizontalHeader()->resizeSection(colUpdated, 120);
  UpdateHighlightColor();
  grid->installEventFilter(this);
}

bool TOverviewPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_grid && event->type() == QEvent::PaletteChange) UpdateHighlightColor();
  return QObject::eventFilter(watched, event);
}

void TOverviewPage::UpdateHighlightColor() {
  const QColor base = m_grid->palette().color(QPalette::Base);
  const QColor highlight = LogSpaceHighlightColor(base.lightnessF() < 0.5);
  if (highlight == m_highlight) return;
  m_highlight = highlight;
  const TGridUpdateGuard update(*m_model);
  for (int r = 0; r < m_model->RowCount(); ++r)
    if (m_model->Color(colUsed, r).isValid()) m_model->SetColor(colUsed, r, m_highlight);
}

int TOverviewPage::RowCount() const {
  return m_model->RowCount();
}

QString TOverviewPage::DatabaseName(int row) const {
  if (row < 0 || row >= m_model->RowCount()) return {};
  return m_model->Cell(colDBName, row).toString();
}

void TOverviewPage::ShowDatabases(const TOverviewSnapshot& overview) {
  if (m_notice) m_notice->SetNotice(overview.Outcome.IsOk() ? QString() : overview.Outcome.Text);
  const TRepaintGuard repaint(m_grid);
  ResetSortIndicator(m_grid);
  const QVector<TDatabaseRow>& rows = overview.Databases;
  if (!overview.Outcome.IsOk() || rows.isEmpty()) {
    m_model->ClearRows();
  } else {
    // Every cell of every row is set again below: the rows of the last load are reused.
    m_model->SetRowCount(int(rows.size()));
    m_nameChars.clear();
    m_nameEnds.clear();
    {
      const TGridUpdateGuard update(*m_model);
      for (int row = 0; row < m_model->RowCount(); ++row) {
        const QString& text = rows[row].Name;
        const auto* chars = reinterpret_cast<const char16_t*>(text.utf16());
        m_nameChars.insert(m_nameChars.end(), chars, chars + text.size());
        m_nameEnds.push_back(m_nameChars.size());
        m_model->SetText(colDBName, row, text);
        m_model->SetText(colStatus, row, DatabaseStatusText(rows[row].Status));
        m_model->SetColor(colUsed, row, QColor());
        for (int c = colLogSize; c <= colVerdict; ++c)
          m_model->SetEmpty(c, row, true);
      }
    }
    // The names just read are the rows' names: index them without reading the grid again.
    BuildNameSlots();
  }
  FitColumnWidths(m_grid, 24);
}

namespace {
// FNV-1a over the UTF-16 units: names are short, and this is inline and branch-free.
std::uint32_t NameHash(QStringView name) {
  std::uint32_t h = 2166136261u;
  for (const QChar c : name)
    h = (h ^ c.unicode()) * 16777619u;
  return h ^ (h >> 15);
}
} // namespace

void TOverviewPage::ApplyLogSpace(const TLogSpaceSnapshot& logSpace) {
  if (!logSpace.Outcome.IsOk() || logSpace.Rows.isEmpty()) return;
  // All hashes first, with their slots fetched ahead, then the look-ups. Each look-up misses
  // the cache; this way the misses overlap instead of coming one after the other.
  if (!m_rowOfValid) BuildNameIndex();
  const QVector<TLogSpaceRow>& figures = logSpace.Rows;
  const std::size_t count = std::size_t(figures.size());
  std::vector<std::uint32_t> hashes;
  hashes.reserve(count);
  const std::size_t mask = m_slots.size() - 1;
  for (const TLogSpaceRow& f : figures) {
    hashes.push_back(NameHash(f.Name));
    __builtin_prefetch(&m_slots[hashes.back() & mask]);
  }
  std::vector<int> rows;
  rows.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    rows.push_back(RowOf(figures[qsizetype(i)].Name, hashes[i]));
  const TGridUpdateGuard update(*m_model);
  for (std::size_t i = 0; i < count; ++i)
    if (rows[i] >= 0)
      ApplyLogSpaceRow(rows[i], figures[qsizetype(i)].LogSizeMB, figures[qsizetype(i)].UsedPercent,
                       logSpace.ReadAt);
}

void TOverviewPage::BuildNameIndex() {
  const int rows = m_model->RowCount();
  m_nameChars.clear();
  m_nameEnds.clear();
  m_nameEnds.reserve(std::size_t(rows));
  for (int r = 0; r < rows; ++r) {
    const QString name = m_model->Cell(colDBName, r).toString();
    const auto* chars = reinterpret_cast<const char16_t*>(name.utf16());
    m_nameChars.insert(m_nameChars.end(), chars, chars + name.size());
    m_nameEnds.push_back(m_nameChars.size());
  }
  BuildNameSlots();
}

void TOverviewPage::BuildNameSlots() {
  const int rows = int(m_nameEnds.size());
  std::size_t size = 16;
  while (size < std::size_t(rows) + std::size_t(rows) / 2) // small enough to stay in cache
    size *= 2;
  m_slots.assign(size, TNameSlot());
  const std::size_t mask = size - 1;
  for (int r = 0; r < rows; ++r) {
    const QStringView name = NameAt(r);
    const std::uint32_t h = NameHash(name);
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      TNameSlot& slot = m_slots[i];
      if (slot.Row < 0) {
        slot = {h, r};
        break;
      }
      if (slot.Hash == h && NameAt(slot.Row) == name) break; // an earlier row has this name
    }
  }
  m_rowOfValid = true;
}

int TOverviewPage::RowOf(QStringView name) {
  if (!m_rowOfValid) BuildNameIndex();
  return RowOf(name, NameHash(name));
}

int TOverviewPage::RowOf(QStringView name, std::uint32_t h) {
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = h & mask;; i = (i + 1) & mask) {
    const TNameSlot& slot = m_slots[i];
    if (slot.Row < 0) return -1;
    if (slot.Hash == h && NameAt(slot.Row) == name) return slot.Row;
  }
}

void TOverviewPage::ApplyLogSpace(const QVector<TLogSpace>& figures, const QDateTime& readAt) {
  const TGridUpdateGuard update(*m_model);
  for (const TLogSpace& f : figures)
    if (const int row = RowOf(f.Name); row >= 0)
      ApplyLogSpaceRow(row, f.LogSizeMB, f.UsedPercent, readAt);
}

void TOverviewPage::ApplyLogSpaceRow(int row, double logSizeMB, double usedPercent,
                                     const QDateTime& readAt) {
  const double used = TruncateDecimals(usedPercent, 2);
  // The verdict weighs the figure: judge the row again when it changed.
  const bool judgeAgain = m_haveHealth && (m_model->IsEmpty(colUsed, row) ||
                                           m_model->Cell(colUsed, row).toDouble() != used);
  m_model->SetNumber(colLogSize, row, TruncateDecimals(logSizeMB, 4));
  m_model->SetNumber(colUsed, row, used);
  m_model->SetColor(colUsed, row,
                    IsLogSpaceHighlighted(NameAt(row), used) ? m_highlight : QColor());
  m_model->SetTime(colUpdated, row, readAt);
  for (int c = colLogSize; c <= colUpdated; ++c)
    m_model->SetEmpty(c, row, false);
  if (judgeAgain) ShowHealthRow(row);
}

// --- the log's health ------------------------------------------------------------------------

QIcon VerdictIcon(TVerdictLevel level) {
  static QIcon icons[3];
  QIcon& icon = icons[int(level)];
  if (icon.isNull()) {
    const QColor colors[] = {QColor(67, 160, 71), QColor(240, 165, 0), QColor(211, 47, 47)};
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(colors[int(level)].darker(130));
    p.setBrush(colors[int(level)]);
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.end();
    icon = QIcon(pixmap);
  }
  return icon;
}

QString TOverviewPage::NotSupportedText() {
  return QStringLiteral("\u2014");
}

QString TOverviewPage::NotAvailableText() {
  return tr("n/a");
}

void TOverviewPage::SetThresholds(const TVerdictThresholds& thresholds) {
  m_thresholds = thresholds;
  if (!m_haveHealth) return;
  const TGridUpdateGuard update(*m_model);
  for (int r = 0; r < m_model->RowCount(); ++r)
    ShowHealthRow(r);
}

void TOverviewPage::ResetHealth() {
  m_databases.clear();
  m_health = TLogHealthSnapshot();
  m_haveHealth = false;
  m_serverClockOffset = 0;
}

QDateTime TOverviewPage::ServerNow() const {
  const QDateTime local = m_clock();
  // Wall clocks, without zones: the server's times are its own wall clock.
  return QDateTime(local.date(), local.time(), Qt::UTC).addSecs(m_serverClockOffset);
}

void TOverviewPage::ApplyHealth(const TLogHealthSnapshot& health) {
  m_health = health;
  m_health.Rows.clear();
  m_haveHealth = true;
  if (health.ServerTime.isValid()) {
    const QDateTime local = m_clock();
    const QDateTime server(health.ServerTime.date(), health.ServerTime.time(), Qt::UTC);
    m_serverClockOffset = QDateTime(local.date(), local.time(), Qt::UTC).secsTo(server);
  } else {
    m_serverClockOffset = 0;
  }
  for (TDatabaseHealth& d : m_databases) {
    d.Row = TLogHealthRow();
    d.InSnapshot = false;
  }
  for (auto it = health.Rows.cbegin(); it != health.Rows.cend(); ++it) {
    TDatabaseHealth& d = m_databases[it.key()];
    d.Row = it.value();
    d.InSnapshot = true;
  }
  {
    const TGridUpdateGuard update(*m_model);
    for (int r = 0; r < m_model->RowCount(); ++r)
      ShowHealthRow(r);
  }
  // The health columns are fitted once their cells are filled; the others keep their widths.
  FitColumnWidths(m_grid, 24, colRecovery, colVerdict);
  QHeaderView* header = m_grid->horizontalHeader();
  const int icon = m_grid->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, m_grid);
  header->resizeSection(colVerdict, header->sectionSize(colVerdict) + icon + 4);
}

void TOverviewPage::ApplyDetails(const TDetailsSnapshot& details, const TMemTable& vlf,
                                 bool vlfRead, const QStringList& openTranLines) {
  if (!details.DatabaseOutcome.IsOk()) return;
  TDatabaseHealth& d = m_databases[details.Database];
  if (vlfRead) {
    std::int64_t total = 0, active = 0;
    for (const TVLFFileStats& f : ComputeVLFStats(vlf)) {
      total += f.Count;
      active += f.Used;
    }
    d.VisitedVlfs = total;
    d.VisitedActiveVlfs = active;
  }
  if (details.Files.Outcome.IsOk()) {
    d.FilesRead = true;
    d.Files.clear();
    for (const TLogFileRow& f : details.Files.Rows) {
      TVerdictLogFile lf;
      lf.Name = f.Name;
      lf.SizeBytes = f.SizePages * 8192;
      lf.MaxSizeBytes = f.MaxSizePages < 0 ? -1 : f.MaxSizePages * 8192;
      lf.PercentGrowth = (f.Status & 0x100000) != 0;
      lf.Growth = lf.PercentGrowth ? f.Growth : std::int64_t(f.Growth) * 8192;
      d.Files << lf;
    }
  }
  if (details.OpenTran.Outcome.IsOk()) {
    d.TransactionStart = ParseOpenTranStartTime(ReadOldestActiveTransaction(openTranLines));
    d.TransactionSpid =
        d.TransactionStart.isValid() ? ParseOpenTranSpid(openTranLines) : std::nullopt;
  }
  if (!m_haveHealth) return;
  if (const int row = RowOf(details.Database); row >= 0) {
    const TGridUpdateGuard update(*m_model);
    ShowHealthRow(row);
  }
}

TDatabaseFacts TOverviewPage::FactsOf(const QString& name, int row) const {
  TDatabaseFacts f;
  f.Name = name;
  f.ServerMajor = m_health.ServerVersion.section(QLatin1Char('.'), 0, 0).toInt();
  f.Now = ServerNow();
  if (row >= 0 && !m_model->IsEmpty(colUsed, row)) {
    f.LogUsedPercent = m_model->Cell(colUsed, row).toDouble();
    f.LogSizeMB = m_model->Cell(colLogSize, row).toDouble();
  }
  const auto it = m_databases.constFind(name);
  if (it == m_databases.cend()) return f;
  const TDatabaseHealth& d = *it;
  if (d.VisitedVlfs >= 0)
    f.VlfCount = d.VisitedVlfs;
  else if (d.Row.VlfCount >= 0)
    f.VlfCount = d.Row.VlfCount;
  f.RecoveryModel = d.Row.RecoveryModel;
  const bool backupsRead = m_health.Backups.Supported && m_health.Backups.Outcome.IsOk();
  f.LogBackupRead = d.Row.LogBackupKnown || (backupsRead && d.InSnapshot);
  f.LastLogBackup = d.Row.LastLogBackup;
  if (d.Row.ReuseWait >= 0) f.ReuseWait = d.Row.ReuseWait;
  f.ReuseWaitDesc = d.Row.ReuseWaitDesc;
  if (d.FilesRead) f.LogFiles = d.Files;
  f.OldestTransactionStart = d.TransactionStart;
  f.OldestTransactionSpid = d.TransactionSpid;
  return f;
}

TDatabaseFacts TOverviewPage::Facts(const QString& name) const {
  return FactsOf(name, const_cast<TOverviewPage*>(this)->RowOf(name));
}

TVerdict TOverviewPage::Verdict(const QString& name) const {
  return JudgeDatabase(Facts(name), m_thresholds);
}

void TOverviewPage::ShowHealthRow(int row) {
  const QString name = m_model->Cell(colDBName, row).toString();
  const auto it = m_databases.constFind(name);
  const TDatabaseHealth* d = it == m_databases.cend() ? nullptr : &*it;
  const bool listed = d && d->InSnapshot && d->Row.InCatalog;

  const auto set = [&](int column, const QString& text, const QString& hint = QString(),
                       std::optional<qint64> sortKey = std::nullopt) {
    m_model->SetText(column, row, text);
    m_model->SetHint(column, row, hint);
    if (sortKey) m_model->SetSortKey(column, row, *sortKey); // the new text dropped the old key
    m_model->SetDecoration(column, row, QVariant());
    m_model->SetEmpty(column, row, false);
  };
  const QString dash = NotSupportedText(), na = NotAvailableText();

  // SQL Server 2000 has none of the sources: the health columns stay out of it.
  const TLogHealthSource& catalog = m_health.Databases;
  if (!catalog.Supported) {
    for (int c = colRecovery; c <= colVerdict; ++c)
      set(c, dash);
    return;
  }
  // From sys.databases: the recovery model and the log reuse wait.
  const QString waitDesc = d ? d->Row.ReuseWaitDesc : QString();
  if (!catalog.Supported) {
    set(colRecovery, dash);
  } else if (!catalog.Outcome.IsOk()) {
    set(colRecovery, na, catalog.Outcome.Text);
  } else if (!listed) {
    set(colRecovery, dash, tr("sys.databases does not list this database for this login."));
  } else {
    set(colRecovery, d->Row.RecoveryModel);
  }
  if (!waitDesc.isEmpty()) {
    const TReuseWaitExplanation w = ExplainReuseWait(
        d->Row.ReuseWait >= 0 ? std::optional<int>(d->Row.ReuseWait) : std::nullopt, waitDesc,
        FactsOf(name, row).ServerMajor);
    set(colReuseWait, waitDesc,
        w.NextStep.isEmpty()
            ? w.Explanation
            : w.Explanation + QLatin1Char('\n') + tr("Next step: %1").arg(w.NextStep));
  } else if (!catalog.Supported) {
    set(colReuseWait, dash);
  } else if (!catalog.Outcome.IsOk()) {
    set(colReuseWait, na, catalog.Outcome.Text);
  } else {
    set(colReuseWait, dash);
  }

  // VLFs: from the log stats, or counted when the database was shown.
  const TLogHealthSource& stats = m_health.Stats;
  const QLocale locale;
  const auto vlfText = [&](std::int64_t total, std::int64_t active) {
    return locale.toString(qlonglong(total)) + QStringLiteral(" / ") +
           locale.toString(qlonglong(active));
  };
  if (d && d->VisitedVlfs >= 0) {
    set(colVLFs, vlfText(d->VisitedVlfs, d->VisitedActiveVlfs),
        tr("Total / active, counted when the database was shown."), qint64(d->VisitedVlfs));
  } else if (stats.Supported && !stats.Outcome.IsOk()) {
    set(colVLFs, na, stats.Outcome.Text);
  } else if (d && d->Row.VlfCount >= 0) {
    set(colVLFs, vlfText(d->Row.VlfCount, std::max<std::int64_t>(0, d->Row.ActiveVlfCount)),
        tr("Total / active, from sys.dm_db_log_stats."), qint64(d->Row.VlfCount));
  } else {
    set(colVLFs, dash,
        stats.Supported || !catalog.Supported
            ? QString()
            : tr("Counted once the database has been shown (this server has no "
                 "sys.dm_db_log_stats)."));
  }

  // The last log backup, as an age on the server's clock.
  const TLogHealthSource& backups = m_health.Backups;
  const TDatabaseFacts facts = FactsOf(name, row);
  if (facts.LogBackupRead && !facts.LastLogBackup.isValid()) {
    set(colLastLogBackup, tr("never"), QString(), std::numeric_limits<qint64>::max());
  } else if (facts.LogBackupRead) {
    const QDateTime at = facts.LastLogBackup;
    const qint64 age =
        QDateTime(at.date(), at.time(), Qt::UTC).secsTo(facts.Now.isValid() ? facts.Now : at);
    set(colLastLogBackup, FormatAge(age),
        tr("Finished %1 (server time)").arg(FormatBackupFinish(at)), std::max<qint64>(0, age));
  } else if (backups.Supported && !backups.Outcome.IsOk()) {
    set(colLastLogBackup, na, backups.Outcome.Text);
  } else {
    set(colLastLogBackup, dash);
  }

  // The verdict, on what is known; a database that is not online cannot be judged.
  if (!catalog.Supported) {
    set(colVerdict, dash);
    return;
  }
  if (listed && d->Row.State != 0) {
    set(colVerdict, dash, tr("Not judged: the database is not online."), 3);
    return;
  }
  const TVerdict v = JudgeDatabase(facts, m_thresholds);
  QStringList lines;
  for (const TVerdictReason& r : v.Reasons)
    lines << VerdictLevelName(r.Level) + QStringLiteral(": ") + r.Line();
  set(colVerdict, v.Reasons.isEmpty() ? VerdictLevelName(v.Level) : v.Reasons.first().Text,
      lines.join(QLatin1Char('\n')), qint64(2 - int(v.Level)));
  m_model->SetDecoration(colVerdict, row, VerdictIcon(v.Level));
}
