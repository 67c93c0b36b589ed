#pragma once
// The output formats of velmora-cli. Each takes the reports of a run and returns the whole text,
// so tests can parse it back; names from the server are escaped for each format.

#include "cli/uCliSurvey.h"

#include <QByteArray>
#include <QString>
#include <QVector>

enum class TCliFormat { Table, Json, Csv, Prometheus, Nagios };

QString FormatTable(const QVector<TCliServer>& servers);
QByteArray FormatJson(const QVector<TCliServer>& servers, const TVerdictThresholds& thresholds);
QString FormatCsv(const QVector<TCliServer>& servers);
QString FormatPrometheus(const QVector<TCliServer>& servers);

struct TNagiosResult {
  QString Text;     // the status line with its performance data, then one line per finding
  int ExitCode = 3; // 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN
};
TNagiosResult FormatNagios(const QVector<TCliServer>& servers,
                           const TVerdictThresholds& thresholds);

// The overall level of a run: the worst of its servers (UNKNOWN for no server at all).
TCliLevel RunLevel(const QVector<TCliServer>& servers);

// Pieces the formats share, exposed for their tests.
QString CsvField(const QString& value);
QString PrometheusLabelValue(const QString& value);
QString NagiosLabel(const QString& label);
