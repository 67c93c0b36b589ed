#include "uSimTls.h"

#include <QHostAddress>

#include <functional>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {

QString OpenSslError(const char* what) {
  QString text = QString::fromLatin1(what);
  while (const unsigned long e = ERR_get_error()) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    text += QStringLiteral(": ") + QString::fromLatin1(buf);
  }
  return text;
}

struct TKeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct TCertFree {
  void operator()(X509* c) const { X509_free(c); }
};
using TKey = std::unique_ptr<EVP_PKEY, TKeyFree>;
using TCert = std::unique_ptr<X509, TCertFree>;

QByteArray Pem(const std::function<int(BIO*)>& write) {
  BIO* bio = BIO_new(BIO_s_mem());
  QByteArray out;
  if (bio && write(bio) == 1) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    out = QByteArray(data, int(n));
  }
  BIO_free(bio);
  return out;
}

bool AddExtension(X509* cert, X509* issuer, int nid, const QByteArray& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.constData());
  if (!ext) return false;
  const bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

// A certificate for `key`, named `commonName`, signed by `issuerKey` (itself when null).
TCert MakeCert(EVP_PKEY* key, const QString& commonName, X509* issuer, EVP_PKEY* issuerKey,
               long serial, bool ca, const QStringList& altNames) {
  TCert cert(X509_new());
  if (!cert) return nullptr;
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  // A day back covers clocks that differ a little; a week ahead outlives any test run.
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7 * 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  const QByteArray cn = commonName.toUtf8();
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>("sqlsim"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(cn.constData()), -1, -1, 0);
  X509* signer = issuer ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  bool ok = true;
  if (ca) {
    ok = ok && AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    ok = ok && AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    ok = ok && AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  } else {
    ok = ok && AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    ok = ok && AddExtension(cert.get(), signer, NID_key_usage,
                            "critical,digitalSignature,keyEncipherment");
    ok = ok && AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    ok = ok && AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    ok = ok && AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid");
    QStringList alt;
    for (const QString& n : altNames) {
      QHostAddress ip;
      alt << (ip.setAddress(n) ? QStringLiteral("IP:") : QStringLiteral("DNS:")) + n;
    }
    if (!alt.isEmpty())
      ok = ok && AddExtension(cert.get(), signer, NID_subject_alt_name, alt.join(u',').toUtf8());
  }
  if (!ok || X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) <= 0) return nullptr;
  return cert;
}

TKey NewKey() {
  return TKey(EVP_EC_gen("P-256"));
}

} // namespace

std::optional<TSimCertificates> MakeSimCertificates(const QStringList& names, QString* error) {
  const TKey caKey = NewKey(), serverKey = NewKey(), otherKey = NewKey();
  if (!caKey || !serverKey || !otherKey) {
    if (error) *error = OpenSslError("cannot make a key");
    return std::nullopt;
  }
  const TCert ca =
      MakeCert(caKey.get(), QStringLiteral("sqlsim test CA"), nullptr, nullptr, 1, true, {});
  const TCert other = MakeCert(otherKey.get(), QStringLiteral("sqlsim unrelated CA"), nullptr,
                               nullptr, 1, true, {});
  const QString cn = names.isEmpty() ? QStringLiteral("localhost") : names.first();
  const TCert server =
      ca ? MakeCert(serverKey.get(), cn, ca.get(), caKey.get(), 2, false, names) : nullptr;
  if (!ca || !other || !server) {
    if (error) *error = OpenSslError("cannot make a certificate");
    return std::nullopt;
  }
  TSimCertificates out;
  out.CaPem = Pem([&](BIO* b) { return PEM_write_bio_X509(b, ca.get()); });
  out.OtherCaPem = Pem([&](BIO* b) { return PEM_write_bio_X509(b, other.get()); });
  out.ServerCertPem = Pem([&](BIO* b) { return PEM_write_bio_X509(b, server.get()); });
  out.ServerKeyPem = Pem([&](BIO* b) {
    return PEM_write_bio_PrivateKey(b, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  return out;
}

TSimTlsContext::~TSimTlsContext() {
  SSL_CTX_free(FCtx);
}

namespace {
// TDS 8.0 clients offer "tds/8.0"; one that offers other protocols only is turned away.
int SelectAlpn(SSL*, const unsigned char** out, unsigned char* outlen, const unsigned char* in,
               unsigned int inlen, void*) {
  static const unsigned char tds8[] = {7, 't', 'd', 's', '/', '8', '.', '0'};
  unsigned char* selected = nullptr;
  if (SSL_select_next_proto(&selected, outlen, tds8, sizeof tds8, in, inlen) !=
      OPENSSL_NPN_NEGOTIATED)
    return SSL_TLSEXT_ERR_ALERT_FATAL;
  *out = selected;
  return SSL_TLSEXT_ERR_OK;
}
} // namespace

std::shared_ptr<TSimTlsContext> TSimTlsContext::Create(const TSimCertificates& certs,
                                                       QString* error) {
  std::shared_ptr<TSimTlsContext> ctx(new TSimTlsContext);
  ctx->FCtx = SSL_CTX_new(TLS_server_method());
  if (!ctx->FCtx) {
    if (error) *error = OpenSslError("cannot create the TLS context");
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx->FCtx, TLS1_2_VERSION);
  // Session tickets would arrive after the client's last handshake flight, where a TDS client
  // does not read them.
  SSL_CTX_set_num_tickets(ctx->FCtx, 0);
  SSL_CTX_set_alpn_select_cb(ctx->FCtx, &SelectAlpn, nullptr);

  BIO* certBio = BIO_new_mem_buf(certs.ServerCertPem.constData(), int(certs.ServerCertPem.size()));
  BIO* keyBio = BIO_new_mem_buf(certs.ServerKeyPem.constData(), int(certs.ServerKeyPem.size()));
  X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
  EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
  BIO_free(certBio);
  BIO_free(keyBio);
  const bool ok = cert && key && SSL_CTX_use_certificate(ctx->FCtx, cert) == 1 &&
                  SSL_CTX_use_PrivateKey(ctx->FCtx, key) == 1 &&
                  SSL_CTX_check_private_key(ctx->FCtx) == 1;
  X509_free(cert);
  EVP_PKEY_free(key);
  if (!ok) {
    if (error) *error = OpenSslError("cannot load the server certificate");
    return nullptr;
  }
  return ctx;
}

TSimTls::TSimTls(std::shared_ptr<TSimTlsContext> ctx, bool strict) : FCtx(std::move(ctx)) {
  FSsl = SSL_new(FCtx->Handle());
  if (!FSsl) {
    Fail();
    return;
  }
  if (!strict) SSL_set_max_proto_version(FSsl, TLS1_2_VERSION);
  SSL_set_bio(FSsl, BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
  SSL_set_accept_state(FSsl);
}

TSimTls::~TSimTls() {
  SSL_free(FSsl);
}

void TSimTls::Fail() {
  FState = TState::Failed;
  FError = OpenSslError("TLS failed");
}

void TSimTls::Feed(const QByteArray& records) {
  if (FSsl && !records.isEmpty())
    BIO_write(SSL_get_rbio(FSsl), records.constData(), int(records.size()));
}

TSimTls::TState TSimTls::Handshake() {
  if (FState != TState::Handshaking) return FState;
  const int rc = SSL_do_handshake(FSsl);
  if (rc == 1) {
    FState = TState::Established;
  } else {
    const int e = SSL_get_error(FSsl, rc);
    if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) Fail();
  }
  return FState;
}

QByteArray TSimTls::ReadPlain() {
  QByteArray out;
  if (FState != TState::Established) return out;
  char buf[16384];
  for (;;) {
    const int n = SSL_read(FSsl, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, n);
      continue;
    }
    const int e = SSL_get_error(FSsl, n);
    if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_ZERO_RETURN) Fail();
    break;
  }
  return out;
}

void TSimTls::WritePlain(const QByteArray& plain) {
  if (FState != TState::Established || plain.isEmpty()) return;
  if (SSL_write(FSsl, plain.constData(), int(plain.size())) <= 0) Fail();
}

QByteArray TSimTls::TakeRecords() {
  QByteArray out;
  if (!FSsl) return out;
  BIO* wbio = SSL_get_wbio(FSsl);
  char buf[16384];
  int n;
  while ((n = BIO_read(wbio, buf, sizeof buf)) > 0)
    out.append(buf, n);
  return out;
}

QString TSimTls::Alpn() const {
  const unsigned char* data = nullptr;
  unsigned int len = 0;
  if (FSsl) SSL_get0_alpn_selected(FSsl, &data, &len);
  return QString::fromLatin1(reinterpret_cast<const char*>(data), int(len));
}
