// Runs SQL batches through tedious against a TDS server and prints one JSON report.
// Input (stdin, JSON): { server, port, user, password, database?, appName?, tdsVersion?,
//   batches: [sql...], cancelAfterMs?: { "<batch index>": ms }, execSql?: bool,
//   encrypt?: false | true | "strict", trustServerCertificate?: bool, caFile?: path }
// execSql sends each batch as an RPC (sp_executesql) instead of a plain SQL batch.
// Output (stdout, JSON): { connected, loginError?, results: [{ sql, columns, rows, infos,
//   error?, rowCount }], ended }
'use strict';
const fs = require('fs');
const { Connection, Request } = require('tedious');

function readStdin() {
  return new Promise((resolve) => {
    let data = '';
    process.stdin.setEncoding('utf8');
    process.stdin.on('data', (c) => (data += c));
    process.stdin.on('end', () => resolve(data));
  });
}

function plain(value) {
  if (value instanceof Date) return value.toISOString();
  if (typeof value === 'bigint') return value.toString();
  return value;
}

function errorOf(err) {
  if (!err) return undefined;
  return { message: err.message, code: err.code, number: err.number, class: err.class,
           state: err.state };
}

const report = { connected: false, results: [], ended: false, infosBeforeFirstBatch: [] };

// tedious raises some protocol errors (an unknown token) outside any callback; they are what
// this client reports for a malformed answer, so they end the run with a report.
process.on('uncaughtException', (err) => {
  report.fatal = String(err && err.message || err);
  console.log(JSON.stringify(report));
  process.exit(0);
});

async function main() {
  const input = JSON.parse(await readStdin());
  let current = null;
  const connection = new Connection({
    server: input.server,
    authentication: { type: 'default', options: { userName: input.user, password: input.password } },
    options: {
      port: input.port,
      encrypt: input.encrypt === undefined ? false : input.encrypt,
      trustServerCertificate:
        input.trustServerCertificate === undefined ? true : input.trustServerCertificate,
      cryptoCredentialsDetails: input.caFile ? { ca: fs.readFileSync(input.caFile) } : {},
      database: input.database || undefined,
      appName: input.appName || 'sqlsim-tests',
      tdsVersion: input.tdsVersion || '7_4',
      connectTimeout: 15000,
      requestTimeout: 30000,
    },
  });
  connection.on('infoMessage', (info) => {
    const m = { number: info.number, message: info.message, state: info.state, class: info.class };
    (current ? current.infos : report.infosBeforeFirstBatch).push(m);
  });
  connection.on('errorMessage', (info) => {
    if (current) current.errors.push({ number: info.number, message: info.message,
                                       state: info.state, class: info.class });
  });
  connection.on('end', () => { report.ended = true; });
  connection.on('error', (err) => { report.connectionError = errorOf(err); });

  const connectErr = await new Promise((resolve) => {
    connection.on('connect', resolve);
    connection.connect();
  });
  if (connectErr) {
    report.loginError = errorOf(connectErr);
    console.log(JSON.stringify(report));
    return;
  }
  report.connected = true;

  for (let i = 0; i < input.batches.length; ++i) {
    const sql = input.batches[i];
    current = { sql, columns: [], rows: [], infos: [], errors: [] };
    report.results.push(current);
    if (report.ended) { current.error = { message: 'connection closed' }; continue; }
    const done = new Promise((resolve) => {
      const request = new Request(sql, (err, rowCount) => {
        current.rowCount = rowCount;
        current.error = errorOf(err);
        resolve();
      });
      request.on('columnMetadata', (cols) => {
        current.columns = cols.map((c) => ({ name: c.colName, type: c.type.name,
          precision: c.precision, scale: c.scale, dataLength: c.dataLength }));
      });
      request.on('row', (cols) => {
        current.rows.push(cols.map((c) => plain(c.value)));
      });
      if (input.execSql) connection.execSql(request); else connection.execSqlBatch(request);
    });
    const cancelAfter = input.cancelAfterMs && input.cancelAfterMs[String(i)];
    if (cancelAfter !== undefined) setTimeout(() => connection.cancel(), cancelAfter);
    await done;
  }
  current = null;
  connection.close();
  console.log(JSON.stringify(report));
}

main().catch((e) => {
  console.log(JSON.stringify({ fatal: String(e && e.stack || e) }));
  process.exitCode = 1;
});
