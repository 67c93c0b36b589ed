#pragma once
// freetds.conf as FreeTDS 1.3 reads it, and the private file through which Velmora hands FreeTDS
// the settings its ODBC connection string cannot carry.
//
// FreeTDS 1.3.17 takes only "Encryption" from a connection string; the CA file and the host-name
// check exist only in freetds.conf. So every FreeTDS connection goes through a section that
// Velmora writes into a private freetds.conf and names with Servername=. FREETDSCONF points at
// that file, which FreeTDS tries first; because it holds the section, the search stops there.
// FreeTDS would have applied the [global] of every file it tried on the way to the first file
// that holds the server's section, so the section is built from exactly that: Resolve() walks
// the files in FreeTDS's order, and the section carries the merged options, with Velmora's TLS
// settings on top. A file that FREETDSCONF named before Velmora changed it is copied in front of
// the private sections, so its sections (and data sources that name them) still resolve.

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QTemporaryDir;

struct TFreeTdsOption {
  QString Key; // lower case, inner blanks collapsed to one, as FreeTDS compares them
  QString Value;
  bool operator==(const TFreeTdsOption&) const = default;
};
using TFreeTdsOptions = QList<TFreeTdsOption>;

// The last value of `key` in `options`, or nullopt.
std::optional<QString> FreeTdsValue(const TFreeTdsOptions& options, const QString& key);

struct TFreeTdsConfFile {
  QString Path;
  struct TSection {
    QString Name; // as written, without brackets
    TFreeTdsOptions Options;
  };
  QList<TSection> Sections; // in file order; a name may occur more than once

  // Parses the text the way FreeTDS 1.3 does: ';' or '#' starts a comment at the start of a
  // line and ends a value anywhere; blanks are collapsed; lines longer than 255 bytes are read
  // in pieces, as fgets gives them to FreeTDS.
  static TFreeTdsConfFile Parse(const QString& path, const QByteArray& text);
  bool HasSection(const QString& name) const;
  // The options of every section of that name (compared without case), in file order.
  TFreeTdsOptions Section(const QString& name) const;
};

// The files FreeTDS 1.3 tries, in its order: $FREETDSCONF, $FREETDS/etc/freetds.conf,
// ~/.freetds.conf, then the system file.
struct TFreeTdsSearch {
  QString FreeTdsConf; // the value of FREETDSCONF before Velmora set it
  QString FreeTds;
  QString Home;
  QString SystemFile = QStringLiteral("/etc/freetds/freetds.conf");
  static TFreeTdsSearch FromEnvironment();
  QStringList Files() const;
};

struct TFreeTdsConfig {
  QList<TFreeTdsConfFile> Files; // the readable ones, in search order

  static TFreeTdsConfig Load(const QStringList& paths);

  struct TResolved {
    bool Found = false; // some file holds the section
    QString File;       // the file that holds it
    TFreeTdsOptions Options;
  };
  // What FreeTDS applies for the server `name`: the [global] of each file tried, then the
  // section from the first file that has it.
  TResolved Resolve(const QString& name) const;
  // Every section name but [global], first spelling wins, in search order.
  QStringList SectionNames() const;
};

// The private freetds.conf of this process. Thread-safe.
class TFreeTdsPrivateConf {
public:
  static TFreeTdsPrivateConf& Instance();
  ~TFreeTdsPrivateConf();

  // Makes sure the section is in the file (written atomically, mode 0600). False with *error
  // when the file cannot be written.
  bool Ensure(const QString& name, const QString& sectionText, QString* error);
  QString Path() const;

private:
  TFreeTdsPrivateConf();
  mutable QMutex FLock;
  std::unique_ptr<QTemporaryDir> FDir;
  QList<std::pair<QString, QString>> FSections;
};

// The value FREETDSCONF had when the process first asked; Velmora changes it later.
QString OriginalFreeTdsConfEnvironment();
