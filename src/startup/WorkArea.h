// The one program-wide state record. The entry point owns it and passes it by
// reference; tests build their own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "convert/codec/ErrorLog.h"

namespace edi {

class DbSession;

// One look group of the screens: labels, titles or text fields.
struct LookGroup {
    double BackColor = 0;
    double ForeColor = 0;
    std::string FontName;
    std::string FontSize;
    std::string FontBold;
    std::string FontItalic;
    std::string FontStrikethru;
    std::string FontUnderline;
};

// Colours and fonts of section Setting0.
struct AppearanceSettings {
    std::string FormBackColor;  // kept as text, made a whole number when applied
    LookGroup Label;
    LookGroup Text;
    LookGroup Title;
    double TextFocusColor = 0;
};

// Row text colours by job state, 0x00BBGGRR numbers.
struct StatusColors {
    double Normal = 0;   // 通常: waiting
    double Error = 0;    // エラー: the job failed
    double Done = 0;     // 処理済: the job ended well
    double Running = 0;  // 処理中: the job is running
};

// One center row of this terminal, as the monitor lists it and the job runner updates it.
struct CenterEntry {
    bool RunFlag = true;  // "○" takes part in a run, "×" skips
    std::string CenterCode;
    std::string CenterName;
    std::string Method;  // 送受信方式 code
    std::string ReceiveStatus;
    std::string ConversionStatus;
    std::string RegistrationStatus;
    std::int16_t RowState = 0;  // 0 waiting, 1 running, 2 done, 9 failed
};

struct WorkArea {
    // Where the program runs and where its configuration comes from.
    std::filesystem::path ProgramFolder;              // real folder of the running executable
    std::optional<std::filesystem::path> IniOverride;  // K500100_INI: the EDI.ini to read instead
    std::string IniFolder;                             // folder that holds EDI.ini

    std::string TerminalName;
    std::string ConnectString;
    std::shared_ptr<DbSession> Db;  // the one session, open for the program's life
    std::string SqlText;
    std::string LastOpenEmpty;

    // Section 動作環境, each a 50-character space-padded field.
    std::string MachineName;
    std::string DbUser;
    std::string DbPassword;
    std::string DbSource;

    AppearanceSettings Appearance;

    // Section PATH: folders end with "/" and are joined to file names by concatenation.
    std::string TCX100_PATH;
    std::string EDIINFIL;
    std::string EDIOUTFIL;
    std::string MGSTPATH;
    std::string OLD_FILE;

    std::int16_t MINIMAIZE = 0;
    std::int16_t DEMOMODE = 0;
    bool DebugMode = false;

    StatusColors Colors;

    std::string OperatorCode;
    std::string OperatorName;

    std::vector<CenterEntry> Centers;  // grid row i shows Centers[i]

    std::int16_t InputFieldCount = 0;
    std::int16_t RunState = 0;  // 0 idle, 1 a scheduled run in progress, 2 armed
    std::int16_t CurrentRow = 0;
    std::int16_t SelectedRow = 0;

    // The converters' error log and last failure code.
    ConversionLog Log;
};

}  // namespace edi
