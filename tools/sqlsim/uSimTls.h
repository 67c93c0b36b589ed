#pragma once
// TLS for the simulator, over OpenSSL with memory buffers on both sides. TDS carries the
// handshake inside PRELOGIN packets before it runs TLS straight on TCP, so the records have to
// be fed in and taken out by hand; a socket-bound TLS class (QSslSocket) cannot do that.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

struct ssl_ctx_st;
struct ssl_st;

// A CA made at start-up and a server certificate it signed. Nothing is read from disk: no key
// ever sits in the repository.
struct TSimCertificates {
  QByteArray CaPem;         // the CA's certificate, for clients that check
  QByteArray ServerCertPem; // the server's certificate alone (for clients that pin it)
  QByteArray ServerKeyPem;
  QByteArray OtherCaPem; // an unrelated CA: a client that trusts only it must refuse
};

// Names: DNS names and IP addresses for the certificate's subjectAltName; the first is also
// its common name. Empty on failure, with *error set.
std::optional<TSimCertificates> MakeSimCertificates(const QStringList& names, QString* error);

class TSimTlsContext {
public:
  ~TSimTlsContext();
  static std::shared_ptr<TSimTlsContext> Create(const TSimCertificates& certs, QString* error);
  ssl_ctx_st* Handle() const { return FCtx; }

private:
  TSimTlsContext() = default;
  ssl_ctx_st* FCtx = nullptr;
};

// One server-side TLS session.
class TSimTls {
public:
  // strict: TDS 8.0, where TLS comes first (TLS 1.3 allowed, ALPN tds/8.0 accepted). Otherwise
  // TLS 1.2 at most, as SQL Server negotiates inside PRELOGIN.
  TSimTls(std::shared_ptr<TSimTlsContext> ctx, bool strict);
  ~TSimTls();
  TSimTls(const TSimTls&) = delete;
  TSimTls& operator=(const TSimTls&) = delete;

  enum class TState { Handshaking, Established, Failed };

  // Records from the client.
  void Feed(const QByteArray& records);
  // Drives the handshake as far as the records fed so far allow.
  TState Handshake();
  // Plain text decrypted from the records fed so far.
  QByteArray ReadPlain();
  // Encrypts plain text; the records come out of TakeRecords.
  void WritePlain(const QByteArray& plain);
  // Records for the client.
  QByteArray TakeRecords();

  TState State() const { return FState; }
  QString Alpn() const;
  QString Error() const { return FError; }

private:
  void Fail();

  std::shared_ptr<TSimTlsContext> FCtx;
  ssl_st* FSsl = nullptr;
  TState FState = TState::Handshaking;
  QString FError;
};
