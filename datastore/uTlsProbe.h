#pragma once
// Fetches a server's certificate the way a TDS client meets it, and says whether and why it
// would be refused. The ODBC drivers report a refused certificate only as a failed connection
// ("Adaptive Server connection failed"), which does not tell the user what was wrong or let
// them trust that one certificate. OpenSSL does the TLS; TDS carries its handshake inside
// PRELOGIN packets, which no library frames, so that part is ours. No login is ever sent.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

struct TTlsProbeRequest {
  QString Host;
  quint16 Port = 1433;
  bool Strict = false;           // TDS 8.0: TLS first, ALPN tds/8.0
  QString CAFile;                // PEM of the CAs to trust; empty: the system's
  QString ServerCertificate;     // PEM of the one certificate trusted; empty: none
  QString HostNameInCertificate; // the name to check instead of Host
  int TimeoutMs = 10000;
};

struct TTlsProbeResult {
  enum class TOutcome {
    Trusted,      // the certificate passes the checks
    Untrusted,    // it does not: Reason says why
    NoEncryption, // the server offers no encryption at all
    Failed,       // no answer, or not TDS
  };
  TOutcome Outcome = TOutcome::Failed;
  QString Reason; // one plain sentence about what was wrong
  QByteArray CertificatePem;
  QString Subject, Issuer;
  QStringList Names; // DNS names and addresses it is for
  QDateTime NotAfter;
  QString Sha256; // fingerprint, hex pairs joined by ':'
};

TTlsProbeResult ProbeServerCertificate(const TTlsProbeRequest& request);
