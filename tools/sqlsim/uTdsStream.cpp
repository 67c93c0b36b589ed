#include "uTdsStream.h"

#include <cstring>

namespace Tds {

void TTokenWriter::U16(quint16 v) {
  const char b[2] = {char(v & 0xFF), char(v >> 8)};
  FBytes.append(b, 2);
}

void TTokenWriter::U32(quint32 v) {
  const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
  FBytes.append(b, 4);
}

void TTokenWriter::U64(quint64 v) {
  U32(quint32(v & 0xFFFFFFFFu));
  U32(quint32(v >> 32));
}

void TTokenWriter::U16BE(quint16 v) {
  const char b[2] = {char(v >> 8), char(v & 0xFF)};
  FBytes.append(b, 2);
}

void TTokenWriter::U32BE(quint32 v) {
  const char b[4] = {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
  FBytes.append(b, 4);
}

void TTokenWriter::Ucs2(const QString& s) {
  const qsizetype start = FBytes.size();
  FBytes.resize(start + s.size() * 2);
  char* out = FBytes.data() + start;
  for (QChar c : s) {
    const char16_t u = c.unicode();
    *out++ = char(u & 0xFF);
    *out++ = char(u >> 8);
  }
}

void TTokenWriter::BVarChar(const QString& s) {
  const QString t = s.left(255);
  U8(quint8(t.size()));
  Ucs2(t);
}

void TTokenWriter::UsVarChar(const QString& s) {
  const QString t = s.left(65535);
  U16(quint16(t.size()));
  Ucs2(t);
}

// Writes a token whose body length is a 2-byte prefix, filled in after the body.
template <typename Fn> static void WithLength16(TTokenWriter& w, quint8 token, Fn body) {
  w.U8(token);
  const qsizetype lenPos = w.Bytes().size();
  w.U16(0);
  body();
  const qsizetype len = w.Bytes().size() - lenPos - 2;
  w.Bytes()[lenPos] = char(len & 0xFF);
  w.Bytes()[lenPos + 1] = char((len >> 8) & 0xFF);
}

void TTokenWriter::EnvChange(quint8 type, const QString& newValue, const QString& oldValue) {
  WithLength16(*this, TokEnvChange, [&] {
    U8(type);
    BVarChar(newValue);
    BVarChar(oldValue);
  });
}

void TTokenWriter::EnvChangeCollation() {
  WithLength16(*this, TokEnvChange, [&] {
    U8(7);
    const QByteArray c = DefaultCollation();
    U8(quint8(c.size()));
    FBytes.append(c);
    U8(0);
  });
}

void TTokenWriter::Message(bool isError, qint32 number, quint8 state, quint8 severity,
                           const QString& text, const QString& serverName) {
  WithLength16(*this, isError ? TokError : TokInfo, [&] {
    U32(quint32(number));
    U8(state);
    U8(severity);
    UsVarChar(text);
    BVarChar(serverName);
    BVarChar(QString());
    if (FFormat.Is72OrNewer())
      U32(1);
    else
      U16(1);
  });
}

void TTokenWriter::LoginAck(quint32 tdsVersion, const QString& progName, quint8 major, quint8 minor,
                            quint16 build) {
  WithLength16(*this, TokLoginAck, [&] {
    U8(1); // interface: SQL
    U32BE(tdsVersion);
    BVarChar(progName);
    U8(major);
    U8(minor);
    U16BE(build);
  });
}

void TTokenWriter::Done(quint16 status, quint16 curCmd, quint64 rowCount, quint8 token) {
  U8(token);
  U16(status);
  U16(curCmd);
  if (FFormat.Is72OrNewer())
    U64(rowCount);
  else
    U32(quint32(rowCount));
}

void TTokenWriter::ReturnStatus(qint32 value) {
  U8(TokReturnStatus);
  U32(quint32(value));
}

void TTokenWriter::ReturnValueInt(quint16 ordinal, const QString& name, qint32 value) {
  U8(TokReturnValue);
  U16(ordinal);
  BVarChar(name);
  U8(0x01); // output parameter
  if (FFormat.Is72OrNewer())
    U32(0);
  else
    U16(0);
  U16(0x0001);
  U8(0x26);
  U8(4);
  IntN(4, value);
}

void TTokenWriter::ColMetadata(const QList<TColumn>& columns) {
  U8(TokColMetadata);
  U16(quint16(columns.size()));
  for (const TColumn& c : columns) {
    if (FFormat.Is72OrNewer())
      U32(0);
    else
      U16(0);
    U16(0x0001); // nullable
    switch (c.Type) {
    case TColType::Int:
      U8(0x26);
      U8(4);
      break;
    case TColType::SmallInt:
      U8(0x26);
      U8(2);
      break;
    case TColType::TinyInt:
      U8(0x26);
      U8(1);
      break;
    case TColType::BigInt:
      U8(0x26);
      U8(8);
      break;
    case TColType::Real:
      U8(0x6D);
      U8(4);
      break;
    case TColType::Float:
      U8(0x6D);
      U8(8);
      break;
    case TColType::DateTime:
      U8(0x6F);
      U8(8);
      break;
    case TColType::Numeric:
      U8(0x6C);
      U8(13);
      U8(c.Precision);
      U8(c.Scale);
      break;
    case TColType::NVarChar:
      U8(0xE7);
      U16(quint16(c.Chars * 2));
      FBytes.append(DefaultCollation());
      break;
    case TColType::Variant:
      U8(0x62);
      U32(8016);
      break;
    }
    BVarChar(c.Name);
  }
}

void TTokenWriter::IntN(int bytes, qint64 value) {
  U8(quint8(bytes));
  const quint64 v = quint64(value);
  for (int i = 0; i < bytes; ++i)
    U8(quint8((v >> (8 * i)) & 0xFF));
}

void TTokenWriter::Real(float value) {
  quint32 bits;
  std::memcpy(&bits, &value, sizeof bits);
  U8(4);
  U32(bits);
}

void TTokenWriter::Float(double value) {
  quint64 bits;
  std::memcpy(&bits, &value, sizeof bits);
  U8(8);
  U64(bits);
}

void TTokenWriter::DateTimeN(const QDateTime& value) {
  static const QDate epoch(1900, 1, 1);
  const qint64 days = epoch.daysTo(value.date());
  const qint64 ms = value.time().msecsSinceStartOfDay();
  // Ticks of 1/300 s, rounded as the server rounds (to .000, .003, .007).
  const qint64 ticks = (ms * 300 + 500) / 1000;
  U8(8);
  U32(quint32(qint32(days)));
  U32(quint32(ticks));
}

void TTokenWriter::NumericN(__int128 value) {
  U8(13);
  U8(value < 0 ? 0 : 1);
  unsigned __int128 mag = value < 0 ? (unsigned __int128)(-value) : (unsigned __int128)value;
  for (int i = 0; i < 12; ++i) {
    U8(quint8(mag & 0xFF));
    mag >>= 8;
  }
}

void TTokenWriter::NVarChar(const QString& value) {
  U16(quint16(value.size() * 2));
  Ucs2(value);
}

void TTokenWriter::VariantNVarChar(const QString& value) {
  const QByteArray coll = DefaultCollation();
  U32(quint32(2 + 5 + 2 + value.size() * 2));
  U8(0xE7); // base type nvarchar
  U8(7);    // property bytes: collation and maximum length
  FBytes.append(coll);
  U16(256); // nvarchar(128)
  Ucs2(value);
}

QByteArray Packetize(const QByteArray& tokens, int packetSize, quint16 spid, quint8 type) {
  const int chunk = packetSize - HeaderSize;
  QByteArray out;
  out.reserve(tokens.size() + (tokens.size() / chunk + 1) * HeaderSize);
  qsizetype pos = 0;
  quint8 packetId = 1;
  do {
    const qsizetype n = qMin<qsizetype>(chunk, tokens.size() - pos);
    const bool last = pos + n >= tokens.size();
    const quint16 len = quint16(n + HeaderSize);
    const char header[HeaderSize] = {
        char(type),      char(last ? StatusEom : 0), char(len >> 8),   char(len & 0xFF),
        char(spid >> 8), char(spid & 0xFF),          char(packetId++), 0};
    out.append(header, HeaderSize);
    out.append(tokens.constData() + pos, n);
    pos += n;
  } while (pos < tokens.size());
  return out;
}

std::optional<QString> ReadUcs2(const QByteArray& data, qsizetype offset, qsizetype chars) {
  if (offset < 0 || chars < 0 || offset + chars * 2 > data.size()) return std::nullopt;
  QString s(chars, Qt::Uninitialized);
  const auto* p = reinterpret_cast<const unsigned char*>(data.constData() + offset);
  QChar* out = s.data();
  for (qsizetype i = 0; i < chars; ++i)
    out[i] = QChar(char16_t(p[2 * i] | (p[2 * i + 1] << 8)));
  return s;
}

static quint32 Le32(const QByteArray& d, qsizetype at) {
  const auto* p = reinterpret_cast<const unsigned char*>(d.constData() + at);
  return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

static quint16 Le16(const QByteArray& d, qsizetype at) {
  const auto* p = reinterpret_cast<const unsigned char*>(d.constData() + at);
  return quint16(p[0] | (p[1] << 8));
}

std::optional<TLogin7> ParseLogin7(const QByteArray& body) {
  // Fixed part up to and including the database offset/length pair.
  if (body.size() < 72) return std::nullopt;
  TLogin7 l;
  l.TdsVersion = Le32(body, 4);
  l.PacketSize = Le32(body, 8);
  auto field = [&](qsizetype pairAt) -> std::optional<QString> {
    return ReadUcs2(body, Le16(body, pairAt), Le16(body, pairAt + 2));
  };
  const auto host = field(36), user = field(40), app = field(48), server = field(52),
             lib = field(60), lang = field(64), db = field(68);
  // The password is scrambled: each byte XOR 0xA5, then its nibbles swapped.
  const qsizetype pwOff = Le16(body, 44), pwChars = Le16(body, 46);
  if (!host || !user || !app || !server || !lib || !lang || !db ||
      pwOff + pwChars * 2 > body.size())
    return std::nullopt;
  QByteArray pw = body.mid(pwOff, pwChars * 2);
  for (char& c : pw) {
    const quint8 b = quint8(c) ^ 0xA5;
    c = char(quint8((b << 4) | (b >> 4)));
  }
  l.Password = *ReadUcs2(pw, 0, pwChars);
  l.HostName = *host;
  l.UserName = *user;
  l.AppName = *app;
  l.ServerName = *server;
  l.Library = *lib;
  l.Language = *lang;
  l.Database = *db;
  return l;
}

std::optional<QString> ParseSqlBatch(const QByteArray& body, const TWireFormat& fmt) {
  qsizetype start = 0;
  if (fmt.Is72OrNewer()) {
    if (body.size() < 4) return std::nullopt;
    const quint32 total = Le32(body, 0);
    if (total < 4 || total > quint32(body.size())) return std::nullopt;
    start = total;
  }
  if ((body.size() - start) % 2 != 0) return std::nullopt;
  return ReadUcs2(body, start, (body.size() - start) / 2);
}

namespace {

// Reads little-endian values with bounds checks; any read past the end marks it failed.
class TReader {
public:
  explicit TReader(const QByteArray& d, qsizetype pos = 0) : FData(d), FPos(pos) {}
  bool Ok() const { return FOk; }
  bool AtEnd() const { return FPos >= FData.size(); }
  qsizetype Pos() const { return FPos; }
  quint64 Le(int bytes) {
    if (!Need(bytes)) return 0;
    quint64 v = 0;
    for (int i = 0; i < bytes; ++i)
      v |= quint64(quint8(FData[FPos + i])) << (8 * i);
    FPos += bytes;
    return v;
  }
  QByteArray Take(qsizetype n) {
    if (!Need(n)) return {};
    const QByteArray b = FData.mid(FPos, n);
    FPos += n;
    return b;
  }
  quint8 Peek() const { return FPos < FData.size() ? quint8(FData[FPos]) : 0; }

private:
  bool Need(qsizetype n) {
    if (n < 0 || FPos + n > FData.size()) FOk = false;
    return FOk;
  }
  const QByteArray& FData;
  qsizetype FPos;
  bool FOk = true;
};

QString Chars(const QByteArray& bytes, bool wide) {
  if (!wide) return QString::fromLatin1(bytes);
  return ReadUcs2(bytes, 0, bytes.size() / 2).value_or(QString());
}

bool ReadParam(TReader& r, const TWireFormat& fmt, TRpcParam& p) {
  const qsizetype nameChars = qsizetype(r.Le(1));
  p.Name = Chars(r.Take(nameChars * 2), true);
  p.Status = quint8(r.Le(1));
  const quint8 type = quint8(r.Le(1));
  switch (type) {
  case 0x26: { // INTN
    r.Le(1);
    const int len = int(r.Le(1));
    if (len != 0 && len != 1 && len != 2 && len != 4 && len != 8) return false;
    p.IsNull = len == 0;
    if (len) {
      const quint64 raw = r.Le(len);
      const int shift = 64 - 8 * len;
      p.Int = qint64(raw << shift) >> shift; // sign-extend
    }
    return r.Ok();
  }
  case 0x30:
  case 0x34:
  case 0x38:
  case 0x7F: { // fixed integers
    const int len = type == 0x30 ? 1 : type == 0x34 ? 2 : type == 0x38 ? 4 : 8;
    const quint64 raw = r.Le(len);
    const int shift = 64 - 8 * len;
    p.Int = qint64(raw << shift) >> shift;
    p.IsNull = false;
    return r.Ok();
  }
  case 0xE7:
  case 0xEF:
  case 0xA7:
  case 0xAF: { // n/varchar, n/char
    const bool wide = type == 0xE7 || type == 0xEF;
    const quint16 maxLen = quint16(r.Le(2));
    if (fmt.Version >= Tds71) r.Take(5);
    if (maxLen == 0xFFFF) { // PLP: total length, then chunks up to a zero-length one
      const quint64 total = r.Le(8);
      p.IsNull = total == 0xFFFFFFFFFFFFFFFFull;
      if (p.IsNull) return r.Ok();
      QByteArray data;
      for (;;) {
        const quint32 chunk = quint32(r.Le(4));
        if (!r.Ok() || chunk == 0) break;
        data += r.Take(chunk);
      }
      p.Text = Chars(data, wide);
      return r.Ok();
    }
    const quint16 len = quint16(r.Le(2));
    p.IsNull = len == 0xFFFF;
    if (!p.IsNull) p.Text = Chars(r.Take(len), wide);
    return r.Ok();
  }
  case 0x63:
  case 0x23: { // ntext, text
    r.Le(4);
    if (fmt.Version >= Tds71) r.Take(5);
    const quint32 len = quint32(r.Le(4));
    p.IsNull = len == 0xFFFFFFFFu;
    if (!p.IsNull) p.Text = Chars(r.Take(len), type == 0x63);
    return r.Ok();
  }
  default:
    return false;
  }
}

} // namespace

std::optional<TRpcRequest> ParseRpc(const QByteArray& body, const TWireFormat& fmt) {
  qsizetype start = 0;
  if (fmt.Is72OrNewer()) {
    if (body.size() < 4) return std::nullopt;
    const quint32 total = quint32(TReader(body).Le(4));
    if (total < 4 || total > quint32(body.size())) return std::nullopt;
    start = total;
  }
  TReader r(body, start);
  TRpcRequest req;
  const quint16 nameLen = quint16(r.Le(2));
  if (nameLen == 0xFFFF)
    req.ProcId = quint16(r.Le(2));
  else
    req.ProcName = Chars(r.Take(qsizetype(nameLen) * 2), true);
  r.Le(2); // option flags
  if (!r.Ok()) return std::nullopt;
  // Parameters up to the end, or to the separator of a second request (not served).
  while (!r.AtEnd() && r.Peek() != 0x80 && r.Peek() != 0xFF) {
    TRpcParam p;
    if (!ReadParam(r, fmt, p)) return std::nullopt;
    req.Params << p;
  }
  return req;
}

QByteArray PreloginReply(quint8 major, quint8 minor, quint16 build) {
  // Option table: VERSION, ENCRYPTION, INSTOPT, THREADID, MARS, terminator.
  const char version[6] = {char(major), char(minor), char(build >> 8), char(build & 0xFF), 0, 0};
  struct Opt {
    quint8 token;
    QByteArray data;
  };
  const QList<Opt> opts = {
      {0x00, QByteArray::fromRawData(version, sizeof version)},
      {0x01, QByteArray(1, char(0x02))}, // ENCRYPT_NOT_SUP
      {0x02, QByteArray(1, char(0x00))},
      {0x03, QByteArray()},
      {0x04, QByteArray(1, char(0x00))},
  };
  QByteArray table, data;
  quint16 offset = quint16(opts.size() * 5 + 1);
  for (const Opt& o : opts) {
    table.append(char(o.token));
    table.append(char(offset >> 8));
    table.append(char(offset & 0xFF));
    table.append(char(o.data.size() >> 8));
    table.append(char(o.data.size() & 0xFF));
    data.append(o.data);
    offset = quint16(offset + o.data.size());
  }
  table.append(char(0xFF));
  return table + data;
}

QByteArray DefaultCollation() {
  return QByteArray("\x09\x04\xD0\x00\x34", 5);
}

std::optional<__int128> ParseDecimal(const QString& digits) {
  const QString t = digits.trimmed();
  if (t.isEmpty()) return std::nullopt;
  qsizetype i = 0;
  bool negative = false;
  if (t[0] == u'-' || t[0] == u'+') {
    negative = t[0] == u'-';
    i = 1;
  }
  if (i >= t.size() || t.size() - i > 28) return std::nullopt;
  __int128 v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < u'0' || t[i] > u'9') return std::nullopt;
    v = v * 10 + (t[i].unicode() - u'0');
  }
  return negative ? -v : v;
}

} // namespace Tds
