#pragma once
// The update information file and the version history it carries: pure parsing, no I/O.
// The file format is described in docs/update-information-file.md.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// One file to download; the first file of an update is the setup program that is run.
struct TUpdateFile {
  QUrl Url;
  qint64 Size = 0;
  QByteArray Sha256; // 32 raw bytes
  QString FileName;  // the last segment of Url's path, checked to be a plain file name
};

struct TUpdateInfo {
  QString Version; // the newest version, digits and dots
  QList<TUpdateFile> Files;
  QString VersionHistory; // HTML fragment
};

// The information file is small; anything larger is refused before it is parsed.
constexpr qint64 MaxUpdateInfoFileSize = 1024 * 1024;

// Parses the information file (UTF-8, optional BOM). Returns nullopt and sets *error when the
// file is malformed.
std::optional<TUpdateInfo> ParseUpdateInfoFile(const QByteArray& data, QString* error = nullptr);

// A version number is one or more parts of decimal digits joined by dots, with no sign or blank
// inside ("1.10", "1.1.0.6"). Surrounding blanks are ignored.
bool IsValidVersionNumber(const QString& version);

// Compares part by part as numbers of any length (1.10 > 1.9); missing parts count as 0, so
// 1.1 equals 1.1.0. Returns <0, 0 or >0; nullopt if either is not a valid version number.
std::optional<int> CompareVersions(const QString& a, const QString& b);

// Update traffic goes over HTTPS; plain http only to a literal loopback address (tests).
bool IsAllowedUpdateUrl(const QUrl& url);

// The version named by the first "<!-- version:" comment in Line: the text after the marker up
// to the next space. Empty when the marker is missing or no space follows.
QString ParseVersionComment(const QString& Line);

// Sets LatestVersion from the first line whose version comment names a version (when
// LatestVersion is still empty) and gives Text back as its lines, each ended by CR LF.
void ParseVersionHistory(QString& Text, QString& LatestVersion);

// "<openbrace>" becomes "{", then "<closebrace>" becomes "}".
QString ReplaceBraceTokens(const QString& text);

// The version history comes from the network and the viewer lays it out recursively, so a
// history is shown as HTML only within these bounds, and as plain text otherwise.
constexpr qsizetype MaxHistoryHtmlSize = 256 * 1024; // characters
constexpr int MaxHistoryNesting = 32;                // open elements inside each other
constexpr int MaxHistoryCellSpan = 64;               // colspan and rowspan of a table cell

// True when the history may be shown as HTML: within MaxHistoryHtmlSize, never more than
// MaxHistoryNesting elements open inside each other (counted as an HTML parser closes them:
// a new <li>, <td>, <tr>, <p>, <dt> or <dd> ends the previous one), and no cell span beyond
// MaxHistoryCellSpan.
bool IsHistorySafeAsHtml(const QString& html);
