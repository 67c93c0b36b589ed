// Connection strings from arbitrary connection settings: the builder never crashes, and
// whatever it builds the driver reads back with exactly the values given and no keyword more.
//
// Input: the server name, database, login and password separated by 0x01 bytes; the first
// byte picks the provider.

#include "datastore/uOdbcConnectionString.h"
#include "uConnectionStringReaders.h"

#include <QByteArray>
#include <QList>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckRoundTrip(const TSQLConnectionProperties& props, const QString& driver) {
  const TOdbcConnectionString cs = BuildConnectionString(props, {driver}, "Tessaly GUI", false);
  Check(cs.Error.isEmpty() != cs.Text.isEmpty());
  if (!cs.Error.isEmpty()) return;
  const bool freeTds = cs.Family == TOdbcDriverFamily::FreeTDS;
  const QMap<QString, QString> read = freeTds ? ParseLikeFreeTds(cs.Text) : ParseLikeOdbc(cs.Text);
  QStringList expected = {"DRIVER", "SERVER", "APP"};
  if (freeTds) expected << "TDS_VERSION";
  if (read.contains("PORT")) expected << "PORT";
  if (!props.Database.isEmpty()) expected << "DATABASE";
  if (props.SQLLogin.isEmpty())
    expected << "TRUSTED_CONNECTION";
  else
    expected << "UID"
             << "PWD";
  if (!freeTds)
    expected << "ENCRYPT"
             << "TRUSTSERVERCERTIFICATE";
  QStringList keys = read.keys();
  keys.sort();
  expected.sort();
  Check(keys == expected);
  Check(read.value("DRIVER") == driver);
  Check(read.value("APP") == "Tessaly GUI");
  if (!props.Database.isEmpty()) Check(read.value("DATABASE") == props.Database);
  if (!props.SQLLogin.isEmpty()) {
    Check(read.value("UID") == props.SQLLogin);
    Check(read.value("PWD") == props.SQLPassword);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const QList<QByteArray> fields =
      QByteArray(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1)).split('\x01');
  TSQLConnectionProperties props;
  props.Provider = data[0] & 1;
  props.Instance = QString::fromUtf8(fields.value(0));
  props.Database = QString::fromUtf8(fields.value(1));
  props.SQLLogin = QString::fromUtf8(fields.value(2));
  props.SQLPassword = QString::fromUtf8(fields.value(3));
  CheckRoundTrip(props, "FreeTDS");
  CheckRoundTrip(props, "ODBC Driver 18 for SQL Server");
  return 0;
}
