// Start-up settings from EDI.ini: where the file is, the value conversions, the three readers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "startup/WorkArea.h"

namespace edi {

// Two folder levels above the program's folder: the text up to, not including, the
// second-last "/". Nothing when the folder has fewer than two separators.
std::optional<std::string> ConfigFolderOf(std::string_view program_folder);

// The EDI.ini to read: K500100_INI's file when set, else the configuration folder's.
// Also sets IniFolder. Nothing when the configuration folder cannot be derived.
std::optional<std::filesystem::path> LocateIni(WorkArea& work);

// Fills ProgramFolder from the running executable and IniOverride from K500100_INI.
void LocateProgram(WorkArea& work);

// Strict conversion: decimal with optional sign and decimal point, or &H hexadecimal,
// blanks around allowed. Empty or anything else is no number.
std::optional<double> StrictNumber(std::string_view text);
// Strict conversion, then the nearest whole number (halves to even) within -32768..32767.
std::optional<std::int16_t> StrictInt16(std::string_view text);
// Lenient conversion: leading blanks skipped, the longest decimal prefix, 0 when none.
double LenientNumber(std::string_view text);
// Space-padded or cut to exactly 50 characters.
std::string Field50(std::string_view text);

// Section 動作環境. False on any failure; the caller tells the operator.
bool ReadRunEnvironment(WorkArea& work);
// Sections Setting0, K700100, PATH and デバッグ, in that order; stops at the first failure.
// PATH's ERRLOGPATH, when set, moves ERR.LOG (Log.file) into that folder.
bool ReadSettings(WorkArea& work);
// Section COLOR; missing or non-numeric values become 0.
void ReadStatusColors(WorkArea& work);

// The message every failing reader leads to.
inline constexpr const char* kIniReadError = "INIﾌｧｲﾙ読込エラー";

}  // namespace edi
