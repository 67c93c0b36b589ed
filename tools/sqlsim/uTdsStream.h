#pragma once
// Byte-level building blocks of the TDS protocol as a server writes and reads them.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace Tds {

// Packet types.
constexpr quint8 PktSqlBatch = 0x01;
constexpr quint8 PktRpc = 0x03;
constexpr quint8 PktReply = 0x04;
constexpr quint8 PktAttention = 0x06;
constexpr quint8 PktTransMgr = 0x0E;
constexpr quint8 PktLogin7 = 0x10;
constexpr quint8 PktPrelogin = 0x12;
constexpr quint8 StatusEom = 0x01;
constexpr int HeaderSize = 8;

// Token types.
constexpr quint8 TokColMetadata = 0x81;
constexpr quint8 TokError = 0xAA;
constexpr quint8 TokInfo = 0xAB;
constexpr quint8 TokLoginAck = 0xAD;
constexpr quint8 TokRow = 0xD1;
constexpr quint8 TokEnvChange = 0xE3;
constexpr quint8 TokDone = 0xFD;
constexpr quint8 TokDoneProc = 0xFE;
constexpr quint8 TokDoneInProc = 0xFF;
constexpr quint8 TokReturnStatus = 0x79;
constexpr quint8 TokReturnValue = 0xAC;

// DONE status bits.
constexpr quint16 DoneFinal = 0x00;
constexpr quint16 DoneMore = 0x01;
constexpr quint16 DoneError = 0x02;
constexpr quint16 DoneCount = 0x10;
constexpr quint16 DoneAttn = 0x20;

// TDS versions as LOGIN7 carries them.
constexpr quint32 Tds71 = 0x71000001;
constexpr quint32 Tds72 = 0x72090002;
constexpr quint32 Tds74 = 0x74000004;

enum class TColType {
  Int,
  SmallInt,
  TinyInt,
  BigInt,
  Real,
  Float,
  DateTime,
  Numeric,
  NVarChar,
  Variant
};

struct TColumn {
  QString Name;
  TColType Type = TColType::Int;
  int Chars = 0;        // NVarChar: declared length in characters
  quint8 Precision = 0; // Numeric
  quint8 Scale = 0;     // Numeric
};

// The session's negotiated protocol details that change the byte layout.
struct TWireFormat {
  quint32 Version = Tds74;
  bool Is72OrNewer() const { return Version >= Tds72; }
};

// Appends TDS tokens to a growing byte array.
class TTokenWriter {
public:
  explicit TTokenWriter(TWireFormat fmt) : FFormat(fmt) {}

  QByteArray& Bytes() { return FBytes; }
  const TWireFormat& Format() const { return FFormat; }

  void U8(quint8 v) { FBytes.append(char(v)); }
  void U16(quint16 v);
  void U32(quint32 v);
  void U64(quint64 v);
  void U16BE(quint16 v);
  void U32BE(quint32 v);
  void Ucs2(const QString& s);
  void BVarChar(const QString& s);  // 1-byte length in characters
  void UsVarChar(const QString& s); // 2-byte length in characters

  void EnvChange(quint8 type, const QString& newValue, const QString& oldValue);
  void EnvChangeCollation();
  void Message(bool isError, qint32 number, quint8 state, quint8 severity, const QString& text,
               const QString& serverName);
  void LoginAck(quint32 tdsVersion, const QString& progName, quint8 major, quint8 minor,
                quint16 build);
  void Done(quint16 status, quint16 curCmd, quint64 rowCount, quint8 token = TokDone);
  void ReturnStatus(qint32 value);
  void ReturnValueInt(quint16 ordinal, const QString& name, qint32 value);
  void ColMetadata(const QList<TColumn>& columns);

  // Row values; call Row() first, then one value per column.
  void Row() { U8(TokRow); }
  void IntN(int bytes, qint64 value);
  void IntNNull() { U8(0); }
  void Real(float value);
  void Float(double value);
  void FloatNull() { U8(0); }
  void DateTimeN(const QDateTime& value);
  void DateTimeNull() { U8(0); }
  void NumericN(__int128 value);
  void NVarChar(const QString& value);
  void NVarCharNull() { U16(0xFFFF); }
  void VariantNVarChar(const QString& value);
  void VariantNull() { U32(0); }

private:
  TWireFormat FFormat;
  QByteArray FBytes;
};

// Splits a token stream into reply packets of at most packetSize bytes.
QByteArray Packetize(const QByteArray& tokens, int packetSize, quint16 spid,
                     quint8 type = PktReply);

// Reads UTF-16LE text of `chars` characters at `offset`; nullopt when it lies outside `data`.
std::optional<QString> ReadUcs2(const QByteArray& data, qsizetype offset, qsizetype chars);

struct TLogin7 {
  quint32 TdsVersion = 0;
  quint32 PacketSize = 0;
  QString HostName, UserName, Password, AppName, ServerName, Library, Language, Database;
};

// Decodes a LOGIN7 message body; nullopt when it is malformed.
std::optional<TLogin7> ParseLogin7(const QByteArray& body);

// Decodes the SQL text of a batch, skipping ALL_HEADERS from TDS 7.2 on.
std::optional<QString> ParseSqlBatch(const QByteArray& body, const TWireFormat& fmt);

struct TRpcParam {
  QString Name;
  quint8 Status = 0; // 0x01: output parameter
  bool IsNull = true;
  std::optional<QString> Text;
  std::optional<qint64> Int;
};

struct TRpcRequest {
  quint16 ProcId = 0; // 0 when called by name
  QString ProcName;
  QList<TRpcParam> Params;
};

// Well-known procedure ids of RPC requests.
constexpr quint16 ProcExecuteSql = 10;
constexpr quint16 ProcPrepare = 11;
constexpr quint16 ProcExecute = 12;
constexpr quint16 ProcPrepExec = 13;
constexpr quint16 ProcUnprepare = 15;

// Decodes an RPC request with integer and character parameters; nullopt when it is malformed
// or uses a parameter type outside those.
std::optional<TRpcRequest> ParseRpc(const QByteArray& body, const TWireFormat& fmt);

// The reply to a PRELOGIN request: our version, no encryption, no MARS.
QByteArray PreloginReply(quint8 major, quint8 minor, quint16 build);

// The 5-byte collation SQL_Latin1_General_CP1_CI_AS.
QByteArray DefaultCollation();

// Parses a decimal digit string (optionally signed) into a 128-bit integer.
std::optional<__int128> ParseDecimal(const QString& digits);

} // namespace Tds
