#pragma once
// Answers the statements the monitor sends, as the server would, from a scenario.

#include "uSimScenario.h"
#include "uTdsStream.h"

struct TSimSessionState {
  QString Login;
  QString Database;
  quint16 Spid = 51;
  Tds::TWireFormat Format;
};

struct TSimReply {
  QByteArray Tokens;
  qsizetype RowsOffset = 0; // where the rows begin (after COLMETADATA); 0 when there are none
};

namespace SimEngine {

// The statement key of a batch ("loginfo", "use", ...), or an empty string for anything else.
QString Classify(const QString& sql);

// Runs one batch; may change the session's current database.
TSimReply Execute(const TSimScenario& scenario, TSimSessionState& state, const QString& sql);

// An error reply made of the given messages, closed by a DONE with the error bit.
TSimReply Errors(const TSimScenario& scenario, const TSimSessionState& state,
                 const QList<TSimMessage>& messages);

// A DONE acknowledging an attention.
QByteArray AttentionAck(const TSimSessionState& state);

// Unescapes a N'...' literal body ('' -> ') and a [...] identifier body (]] -> ]).
QString UnquoteString(const QString& body);
QString UnquoteIdentifier(const QString& body);

} // namespace SimEngine
