// What a failed statement met, told from the driver's diagnostics, and the one line that
// reports it in ERR.LOG.
#pragma once

#include <string>
#include <string_view>

namespace edi {

enum class DbFailure {
    kNone,   // the last statement succeeded
    kBusy,   // a lock held by another session outlasted the busy wait, or the query time-out ran out
    kLost,   // the connection to the database is gone; DbSession::Reopen may bring it back
    kTaken,  // a key another session wrote first (a duplicate key)
    kOther,  // anything else: a statement the database refuses, a read-only or full file, no session
};

// The kind of a failure from its SQLSTATE, the driver's native code and message, and whether
// the driver reports the connection dead. The SQLite driver gives SQLite's result code as the
// native code and "HY000" as state; PostgreSQL gives the server's SQLSTATE.
DbFailure ClassifyDbFailure(std::string_view sqlstate, long native_code, std::string_view message, bool connection_dead,
                            bool sqlite);

// What a statement is for, from its text: "reading T", "adding a row to T", "updating T",
// "deleting from T"; the statement's first word otherwise.
std::string StatementPurpose(std::string_view sql);

// The ERR.LOG text of a failure, on one line: the cause (busy, lost, or a database error),
// what the statement was for, the driver's message and the statement (cut to 300 bytes);
// without a statement, the cause and the message alone.
std::string DbFailureReport(DbFailure kind, std::string_view sql, std::string_view driver_message);

// The cause's words at the head of a report: "the database is busy", "the connection to the
// database is lost", "the key is already taken", "database error".
std::string_view DbFailureCause(DbFailure kind);

}  // namespace edi
