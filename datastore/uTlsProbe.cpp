#include "datastore/uTlsProbe.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimeZone>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {

QString Tr(const char* text) {
  return QCoreApplication::translate("TTlsProbe", text);
}

constexpr quint8 PktReply = 0x04;
constexpr quint8 PktPrelogin = 0x12;

QByteArray Packet(quint8 type, const QByteArray& payload) {
  QByteArray p;
  const int length = int(payload.size()) + 8;
  p.append(char(type)).append(char(0x01)); // end of message
  p.append(char(length >> 8)).append(char(length & 0xFF));
  p.append(4, char(0));
  return p + payload;
}

// VERSION and ENCRYPTION (ON); the server's answer says what it can.
QByteArray PreloginRequest() {
  QByteArray body;
  body.append("\x00\x00\x0B\x00\x06", 5); // VERSION at 11, 6 bytes
  body.append("\x01\x00\x11\x00\x01", 5); // ENCRYPTION at 17, 1 byte
  body.append(char(0xFF));
  body.append("\x11\x00\x00\x00\x00\x00", 6);
  body.append(char(0x01)); // ENCRYPT_ON
  return Packet(PktPrelogin, body);
}

class TConnection {
public:
  TConnection(const TTlsProbeRequest& r) : FTimeout(r.TimeoutMs) { FClock.start(); }
  QTcpSocket Socket;
  int Left() const { return int(qMax<qint64>(1, FTimeout - FClock.elapsed())); }
  bool Write(const QByteArray& bytes) {
    Socket.write(bytes);
    while (Socket.bytesToWrite() > 0)
      if (!Socket.waitForBytesWritten(Left())) return false;
    return true;
  }
  bool ReadSome(QByteArray& into) {
    if (Socket.bytesAvailable() == 0 && !Socket.waitForReadyRead(Left())) return false;
    into += Socket.readAll();
    return true;
  }
  // One TDS message (up to its end-of-message packet); its payload.
  bool ReadMessage(QByteArray& payload, quint8* type = nullptr) {
    payload.clear();
    for (;;) {
      while (FIn.size() < 8)
        if (!ReadSome(FIn)) return false;
      const int length = (quint8(FIn[2]) << 8) | quint8(FIn[3]);
      if (length < 8) return false;
      while (FIn.size() < length)
        if (!ReadSome(FIn)) return false;
      if (type) *type = quint8(FIn[0]);
      const bool eom = quint8(FIn[1]) & 0x01;
      payload += FIn.mid(8, length - 8);
      FIn.remove(0, length);
      if (eom) return true;
    }
  }

private:
  QElapsedTimer FClock;
  int FTimeout;
  QByteArray FIn;
};

std::optional<quint8> PreloginEncryption(const QByteArray& body) {
  const auto* d = reinterpret_cast<const unsigned char*>(body.constData());
  for (qsizetype at = 0; at + 1 <= body.size(); at += 5) {
    if (d[at] == 0xFF) return std::nullopt;
    if (at + 5 > body.size()) return std::nullopt;
    const int offset = (d[at + 1] << 8) | d[at + 2];
    const int length = (d[at + 3] << 8) | d[at + 4];
    if (d[at] == 0x01 && length >= 1 && offset < body.size()) return quint8(d[offset] & 0x7F);
  }
  return std::nullopt;
}

struct TSslFree {
  void operator()(SSL* s) const { SSL_free(s); }
  void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
  void operator()(X509* x) const { X509_free(x); }
};

QString NameText(X509_NAME* name) {
  if (!name) return QString();
  const int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (at >= 0) {
    unsigned char* utf8 = nullptr;
    const int n =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
    if (n >= 0) {
      const QString cn = QString::fromUtf8(reinterpret_cast<char*>(utf8), n);
      OPENSSL_free(utf8);
      return cn;
    }
  }
  char buf[512];
  X509_NAME_oneline(name, buf, sizeof buf);
  return QString::fromUtf8(buf);
}

void Describe(X509* cert, TTlsProbeResult& r) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, cert);
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio, &data);
  r.CertificatePem = QByteArray(data, int(n));
  BIO_free(bio);
  r.Subject = NameText(X509_get_subject_name(cert));
  r.Issuer = NameText(X509_get_issuer_name(cert));
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdLength = 0;
  X509_digest(cert, EVP_sha256(), md, &mdLength);
  r.Sha256 = QString::fromLatin1(QByteArray(reinterpret_cast<char*>(md), int(mdLength)).toHex(':'))
                 .toUpper();
  if (auto* names = static_cast<GENERAL_NAMES*>(
          X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr))) {
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
      const GENERAL_NAME* g = sk_GENERAL_NAME_value(names, i);
      if (g->type == GEN_DNS) {
        r.Names << QString::fromUtf8(
            reinterpret_cast<const char*>(ASN1_STRING_get0_data(g->d.dNSName)),
            ASN1_STRING_length(g->d.dNSName));
      } else if (g->type == GEN_IPADD) {
        const int len = ASN1_STRING_length(g->d.iPAddress);
        const unsigned char* ip = ASN1_STRING_get0_data(g->d.iPAddress);
        QHostAddress a;
        if (len == 4) a.setAddress(quint32((ip[0] << 24) | (ip[1] << 16) | (ip[2] << 8) | ip[3]));
        if (len == 16) a.setAddress(ip);
        if (!a.isNull()) r.Names << a.toString();
      }
    }
    GENERAL_NAMES_free(names);
  }
  if (r.Names.isEmpty() && !r.Subject.isEmpty()) r.Names << r.Subject;
  ASN1_TIME* notAfter = X509_getm_notAfter(cert);
  struct tm t = {};
  if (notAfter && ASN1_TIME_to_tm(notAfter, &t) == 1)
    r.NotAfter = QDateTime(QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday),
                           QTime(t.tm_hour, t.tm_min, t.tm_sec), Qt::UTC);
}

QString Reason(long code, const TTlsProbeRequest& q, const TTlsProbeResult& r) {
  const QString checked = q.HostNameInCertificate.isEmpty() ? q.Host : q.HostNameInCertificate;
  const QString trustedBy = !q.ServerCertificate.isEmpty() ? Tr("the certificate kept for it")
                            : q.CAFile.isEmpty()           ? Tr("this computer's CAs")
                                                           : Tr("the CA file %1").arg(q.CAFile);
  switch (code) {
  case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
  case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    return Tr("The server's certificate is self-signed: the server made it itself (it names "
              "itself \"%1\"), so no CA you trust vouches for it.")
        .arg(r.Subject);
  case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
  case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
  case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    return Tr("The server's certificate was issued by \"%1\", which is not among %2.")
        .arg(r.Issuer, trustedBy);
  case X509_V_ERR_CERT_HAS_EXPIRED:
    return Tr("The server's certificate expired on %1.")
        .arg(r.NotAfter.toLocalTime().toString(Qt::ISODate));
  case X509_V_ERR_CERT_NOT_YET_VALID:
    return Tr("The server's certificate is not valid yet (check this computer's clock).");
  case X509_V_ERR_HOSTNAME_MISMATCH:
  case X509_V_ERR_IP_ADDRESS_MISMATCH:
    return Tr("The server's certificate is for %1, not for \"%2\".")
        .arg(r.Names.join(QStringLiteral(", ")), checked);
  default:
    return Tr("The server's certificate was refused: %1.")
        .arg(QString::fromUtf8(X509_verify_cert_error_string(code)));
  }
}

} // namespace

TTlsProbeResult ProbeServerCertificate(const TTlsProbeRequest& q) {
  TTlsProbeResult r;
  TConnection c(q);
  c.Socket.connectToHost(q.Host, q.Port);
  if (!c.Socket.waitForConnected(c.Left())) {
    r.Reason = c.Socket.errorString();
    return r;
  }
  if (!q.Strict) {
    QByteArray reply;
    quint8 type = 0;
    if (!c.Write(PreloginRequest()) || !c.ReadMessage(reply, &type) || type != PktReply) {
      r.Reason = Tr("The server did not answer as SQL Server does.");
      return r;
    }
    const std::optional<quint8> encryption = PreloginEncryption(reply);
    if (encryption == 0x02) {
      r.Outcome = TTlsProbeResult::TOutcome::NoEncryption;
      r.Reason = Tr("The server offers no encryption at all: it has no certificate.");
      return r;
    }
  }

  std::unique_ptr<SSL_CTX, TSslFree> ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx) return r;
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  const QString trust = !q.ServerCertificate.isEmpty() ? q.ServerCertificate : q.CAFile;
  if (trust.isEmpty())
    SSL_CTX_set_default_verify_paths(ctx.get());
  else if (SSL_CTX_load_verify_locations(ctx.get(), trust.toLocal8Bit().constData(), nullptr) !=
           1) {
    ERR_clear_error();
    r.Reason = Tr("The certificate file %1 cannot be read.").arg(trust);
    return r;
  }
  std::unique_ptr<SSL, TSslFree> ssl(SSL_new(ctx.get()));
  if (!q.Strict) SSL_set_max_proto_version(ssl.get(), TLS1_2_VERSION);
  if (q.Strict) {
    static const unsigned char alpn[] = {7, 't', 'd', 's', '/', '8', '.', '0'};
    SSL_set_alpn_protos(ssl.get(), alpn, sizeof alpn);
  }
  const QString name = q.HostNameInCertificate.isEmpty() ? q.Host : q.HostNameInCertificate;
  // A pinned certificate stands for itself: its names are not checked.
  if (q.ServerCertificate.isEmpty()) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl.get());
    if (QHostAddress(name).isNull()) {
      X509_VERIFY_PARAM_set1_host(param, name.toUtf8().constData(), 0);
      SSL_set_tlsext_host_name(ssl.get(), name.toUtf8().constData());
    } else {
      X509_VERIFY_PARAM_set1_ip_asc(param, name.toLatin1().constData());
    }
  } else {
    X509_VERIFY_PARAM_set_flags(SSL_get0_param(ssl.get()), X509_V_FLAG_PARTIAL_CHAIN);
  }
  SSL_set_verify(ssl.get(), SSL_VERIFY_NONE, nullptr);
  SSL_set_bio(ssl.get(), BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
  SSL_set_connect_state(ssl.get());

  for (int round = 0; round < 16; ++round) {
    const int rc = SSL_do_handshake(ssl.get());
    QByteArray out;
    char buf[16384];
    int n;
    while ((n = BIO_read(SSL_get_wbio(ssl.get()), buf, sizeof buf)) > 0)
      out.append(buf, n);
    if (rc == 1) break;
    const int e = SSL_get_error(ssl.get(), rc);
    if (e != SSL_ERROR_WANT_READ) {
      ERR_clear_error();
      r.Reason = Tr("The TLS handshake with the server failed.");
      return r;
    }
    QByteArray in;
    if (q.Strict) {
      if (!out.isEmpty() && !c.Write(out)) return r;
      if (!c.ReadSome(in)) break;
    } else {
      if (!out.isEmpty() && !c.Write(Packet(PktPrelogin, out))) return r;
      if (!c.ReadMessage(in)) break;
    }
    BIO_write(SSL_get_rbio(ssl.get()), in.constData(), int(in.size()));
  }
  std::unique_ptr<X509, TSslFree> cert(SSL_get1_peer_certificate(ssl.get()));
  if (!cert) {
    if (r.Reason.isEmpty()) r.Reason = Tr("The server sent no certificate.");
    return r;
  }
  Describe(cert.get(), r);
  const long code = SSL_get_verify_result(ssl.get());
  if (code == X509_V_OK) {
    r.Outcome = TTlsProbeResult::TOutcome::Trusted;
  } else {
    r.Outcome = TTlsProbeResult::TOutcome::Untrusted;
    r.Reason = Reason(code, q, r);
  }
  return r;
}
