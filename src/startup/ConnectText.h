// ODBC connect texts ("KEY=value;KEY={value};..."): building them so that no value can add
// a key, reading them back, and the text the driver is finally given.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace edi {

// A value as it goes after "KEY=": as it stands when it holds none of ";", "{", "}", else
// between braces with every "}" doubled ("a;b}c" gives "{a;b}}c}").
std::string ConnectValueText(std::string_view value);

// The value of a key, keys without regard to case, braces removed and "}}" made "}";
// nothing when the key is absent.
std::optional<std::string> ConnectValue(std::string_view connect_text, std::string_view key);

// True when the data source of the connect text (its DRIVER, or the driver odbc.ini names
// for its DSN) is the SQLite driver.
bool IsSqliteDataSource(std::string_view connect_text);

// The text handed to the driver. The SQLite driver splits its connect text at every ";",
// braces or not, and has no users: UID and PWD are left out for it, so that a password cannot
// name another database file. Its busy time-out (also the wait while connecting) is given
// as busy_wait unless the text sets one.
std::string DriverConnectText(std::string_view connect_text, std::chrono::milliseconds busy_wait);

}  // namespace edi
