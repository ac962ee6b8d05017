// The one ODBC session and its result sets. Speaks std types only: UTF-8 text,
// std::optional for Null. Qt SQL stays inside DbSession.cpp.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "startup/Clock.h"
#include "startup/DbFailure.h"
#include "startup/WorkArea.h"

namespace edi {

// Whether a commit is on disk when it returns, or reaches it with the next flushed commit. A
// deferred commit is as final as any for every session and survives the program's end, however
// abrupt; only a power failure before the next flush can undo it. A commit is deferred only
// where nothing outside the database acts on it before the next flushed one.
enum class CommitFlush { kNow, kWithNext };

// How long a statement waits for a lock another session holds before it fails as busy: the
// PostgreSQL lock time-out; on SQLite the busy time-out is half of it, since a write asks for
// its lock twice. Connecting to a busy SQLite file waits the same half.
inline constexpr std::chrono::milliseconds kBusyWait{10000};

// A column value: nothing for Null.
using DbValue = std::optional<std::string>;

// A result set opened by OpenQuery or OpenQueryForUpdate. Owns its statement;
// Close() is idempotent and the destructor calls it.
class ResultSet {
public:
    ResultSet();
    ~ResultSet();
    ResultSet(ResultSet&&) noexcept;
    ResultSet& operator=(ResultSet&&) noexcept;

    bool IsOpen() const;
    bool EndOfSet() const;  // true past the last row, and at once for an empty set
    void MoveFirst();
    void MoveNext();
    // The current row's value of a column found by name without regard to case;
    // nothing for Null, for an unknown column or when no row is current. Dates read as
    // "yyyy/mm/dd", times as "hh:mm:ss", decimals as the database writes them.
    DbValue Value(std::string_view column) const;
    bool HasColumn(std::string_view column) const;
    // Edit of the current row of an updatable set, then write-back. A date or time column
    // takes "yyyy/mm/dd" or "yyyy-mm-dd", "hh:mm:ss". Update writes the edited columns of
    // that one row (found by its key as read) and fails when the row no longer matches.
    bool SetValue(std::string_view column, const DbValue& value);
    bool Update();
    void Close();

private:
    friend class DbSession;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class DbSession {
public:
    // Opens a session on an ODBC connect text ("DSN=...;UID=...;PWD=...;") without
    // prompting, login time-out 120 s, query time-out 300 s, the busy wait given. On
    // PostgreSQL, texts keep every backslash (standard_conforming_strings is set on and
    // checked), so no quoted value can end its literal early. Nothing on failure, with the
    // driver's message in error.
    static std::unique_ptr<DbSession> Open(std::string_view connect_string, std::string_view environment_name,
                                           std::string& error, std::chrono::milliseconds busy_wait = kBusyWait);
    ~DbSession();
    DbSession(const DbSession&) = delete;
    DbSession& operator=(const DbSession&) = delete;

    // Closes the connection and opens it again on the same connect text with the same
    // settings. Result sets of the old connection fail from then on. False, with the
    // driver's message in error (and in LastError), when the database cannot be reached;
    // the session then stays closed until a later Reopen succeeds.
    bool Reopen(std::string& error);

    // The driver's message of the last failure.
    const std::string& LastError() const;
    // What the last statement met: kNone after a success.
    DbFailure LastFailure() const;
    // The line the last failure wrote to ERR.LOG (without its code); empty after a success.
    const std::string& LastReport() const;

    // The first failure (a taken key is none) since the session was opened or since
    // ForgetFailures, and its ERR.LOG line: kNone and empty when there was none, whatever
    // succeeded since. A job forgets before it starts and asks when it ends.
    DbFailure FirstFailure() const;
    const std::string& FirstReport() const;
    void ForgetFailures();

    // Every report written to ERR.LOG is also handed to echo (the headless runner prints it).
    void SetReportEcho(std::function<void(const std::string&)> echo);

    // While held, a write (INSERT, UPDATE, DELETE) opens a transaction when none is open, and
    // the statements after it run inside it until CommitWrites: the writes between two commits
    // reach the disk together, with one flush. A statement that fails inside it rolls the whole
    // transaction back at once (the writes before it are undone too; a key another session
    // took then counts as a failure) and is recorded as any other failure. Releasing rolls
    // back what was not committed. Reads outside a transaction run on their own.
    void HoldWrites(bool hold);

private:
    friend bool OpenQuery(WorkArea&, ResultSet&);
    friend bool OpenQueryForUpdate(WorkArea&, ResultSet&);
    friend bool ExecuteSql(WorkArea&, std::int64_t&);
    friend bool CommitWrites(WorkArea&, CommitFlush);
    friend bool FlushCommits(WorkArea&);
    friend bool EnsureDatabase(WorkArea&);
    DbSession();
    // Runs sql and leaves result open on its first row; empty tells whether it had none.
    // A failure is reported in the log file.
    bool OpenSet(const std::string& sql, bool updatable, ResultSet& result, bool& empty,
                 const std::filesystem::path& log_file);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The three operations run work.SqlText on work.Db. The two opens set LastOpenEmpty
// to "9" for a set without rows and "0" otherwise, and leave the set open in both cases.
// False on a database failure (no session, a statement the server rejects, a lost
// connection, a lock held past the busy wait); the caller turns that into its own
// ResultCode or message, and work.Db->LastFailure() tells which it was. Every failure but
// a taken key writes one line to work.Log's ERR.LOG: code 9999, the cause, what the
// statement was for, the driver's message and the statement.
bool OpenQuery(WorkArea& work, ResultSet& result);
bool OpenQueryForUpdate(WorkArea& work, ResultSet& result);
bool ExecuteSql(WorkArea& work);
// The same, telling how many rows the statement inserted, changed or deleted.
bool ExecuteSql(WorkArea& work, std::int64_t& rows_affected);

// Commits the writes held since the last commit. True when there were none or they are now
// committed (on disk, unless deferred); a failed commit is recorded like a failed statement
// (ERR.LOG, LastFailure, FirstFailure) and the writes are rolled back.
bool CommitWrites(WorkArea& work, CommitFlush flush = CommitFlush::kNow);
// Puts the commits deferred since the last flush on disk. True when there were none or they
// now are; a failure is recorded like a failed statement.
bool FlushCommits(WorkArea& work);

// Holds the writes of work.Db for its lifetime (one job): what is not committed when it ends
// is rolled back.
class HeldWrites {
public:
    explicit HeldWrites(WorkArea& work);
    ~HeldWrites();
    HeldWrites(const HeldWrites&) = delete;
    HeldWrites& operator=(const HeldWrites&) = delete;

private:
    WorkArea& work_;
};

// Builds ConnectString from the trimmed DbSource, DbUser, DbPassword (a value holding ";",
// "{" or "}" goes between braces, "}" doubled) and opens work.Db. On failure the driver's
// reason goes to ERR.LOG and into reason (the data source and user are named, the password
// never).
bool ConnectDatabase(WorkArea& work);
bool ConnectDatabase(WorkArea& work, std::string& reason);

// Before a job: a session whose connection was lost (its last statement met kLost, or a
// trivial statement now fails so) is opened again, once. True when the session can be used;
// false when there is no session or it could not be opened again (the reason is in ERR.LOG
// and in work.Db->LastReport()).
bool EnsureDatabase(WorkArea& work);

// SQL literals. Every text value goes through SqlQuote so a quote cannot change a statement.
std::string SqlQuote(std::string_view value);        // 'A''B'
std::string SqlDate(const LocalDateTime& t);          // {d 'yyyy-mm-dd'}
std::string SqlTime(const LocalDateTime& t);          // {t 'hh:mm:ss'}

std::string TrimOrDefault(const DbValue& value, std::string_view fallback);
std::string ValueOrDefault(const DbValue& value, std::string_view fallback);
std::int32_t ByteLength(const DbValue& value);  // code page 932 bytes; 0 for Null

// True when the ODBC driver manager knows a driver of this name (odbcinst.ini).
bool IsOdbcDriverRegistered(std::string_view name);

}  // namespace edi
