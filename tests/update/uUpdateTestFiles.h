#pragma once
// Builds update information files for the tests.

#include <QByteArray>
#include <QCryptographicHash>
#include <QList>
#include <QString>

struct TTestSetupFile {
  TTestSetupFile(QString url, QByteArray content, QByteArray sha256Hex = {}, qint64 size = -1)
      : Url(std::move(url)), Content(std::move(content)), Sha256Hex(std::move(sha256Hex)),
        Size(size) {}
  QString Url;
  QByteArray Content;
  QByteArray Sha256Hex; // empty: the content's own checksum
  qint64 Size = -1;     // -1: the content's own size
};

inline QByteArray MakeInfoFile(const QString& version, const QList<TTestSetupFile>& files,
                               const QString& history) {
  QByteArray text =
      "; Velmora update information\r\n[Update]\r\nVersion=" + version.toUtf8() + "\r\n";
  for (int i = 0; i < files.size(); ++i) {
    const TTestSetupFile& f = files[i];
    const QByteArray sha =
        f.Sha256Hex.isEmpty()
            ? QCryptographicHash::hash(f.Content, QCryptographicHash::Sha256).toHex()
            : f.Sha256Hex;
    text += "\r\n[File" + QByteArray::number(i + 1) + "]\r\nURL=" + f.Url.toUtf8() +
            "\r\nSize=" + QByteArray::number(f.Size < 0 ? f.Content.size() : f.Size) +
            "\r\nSHA256=" + sha + "\r\n";
  }
  text += "\r\n[History]\r\n" + history.toUtf8();
  return text;
}

// Bytes that look like a setup program and are big enough for several progress reports.
inline QByteArray MakeSetupContent(int size = 256 * 1024) {
  QByteArray content = "#!/bin/sh\nexit 0\n";
  content.reserve(size);
  for (int i = 0; content.size() < size; ++i)
    content.append(char('a' + i % 26));
  return content;
}
