// What a job reaches outside the transfer library: the screen that shows the rows, the two
// converters and the registration program's starter. The window, the headless runner and the
// tests each give their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/CiiCheck.h"
#include "startup/WorkArea.h"

namespace edi {

// The center grid as the job runner sees it. Each text goes to the row's field first, then here.
class JobDisplay {
public:
    virtual ~JobDisplay() = default;
    virtual void ShowStatus(int row, int column, const std::string& text) = 0;
    virtual void SetRowState(int row, std::int16_t state) = 0;
    virtual void MakeRowCurrent(int row) = 0;
};

// The values the converters leave behind for the conversion rows of the history. They live
// as long as the program: a job's XML rows carry what the previous CII conversion left.
struct ConversionValues {
    std::string 格納モード;    // storage mode of the last XML-to-CII conversion's format
    std::string BPID;          // business process of the last CII-to-local conversion
    std::string 取引情報区分;  // information kind of the last CII-to-local conversion
    // Of the last CII-to-local conversion: the local records written, those of test groups
    // (運用モード "1"), and whether those went to the test-data files instead of registration.
    std::int64_t lines = 0;
    std::int64_t test_lines = 0;
    bool test_held_back = false;
    std::string detail;  // 詳細コード of the job's CII conversion row (a failed check's fault code)
};

// The test-data file of a kind: the local file's name with this extension in place of ".LOC".
inline constexpr std::string_view kTestDataExtension = ".TST";
// 詳細コード of a CII conversion row (終了コード "0000") whose test groups were held back, or
// registered because EDI.ini says so ([CIICHECK] RegisterTestData=1).
inline constexpr std::string_view kTestDataHeldBack = "5210";
inline constexpr std::string_view kTestDataRegistered = "5211";

// The two converters the conversion stage calls.
class Converters {
public:
    virtual ~Converters() = default;
    // The integrity check of a received CII file, before any of it is converted; ERR.LOG says
    // what it found.
    virtual void CheckReceivedCii(WorkArea& work, const std::string& cii_path, std::int32_t serial,
                                  CiiCheckOutcome& outcome) = 0;
    // Turns one XML file into the CII file (appending when the CII file of this job already
    // holds an earlier XML file's groups); reports through ERR.LOG only. Sets 格納モード.
    virtual void XmlCiiConvert(WorkArea& work, const std::string& xml_path, const std::string& cii_path,
                               std::int32_t serial, ConversionValues& values) = 0;
    // Kind "2": the CII file into one local file per information kind, named from the template.
    // result is "0000" when the local files were written. Sets BPID and 取引情報区分.
    virtual void RunLocalCiiConversion(WorkArea& work, const std::string& center_code, std::int32_t serial,
                                       const std::string& kind, const std::string& cii_path,
                                       const std::string& local_path, std::string& result,
                                       ConversionValues& values) = 0;
    // A run begins: masters the converters keep from earlier conversions are read again.
    virtual void ForgetMasters() {}
};

// Starts a command line and waits for it to end, however long that takes.
class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // False when the program could not be started or waited for. The exit status is not looked at.
    // A started_marker that is not empty names a file that the new process itself creates before
    // the program runs: once it is there, the program was started, even if this process died
    // before it could note so.
    virtual bool RunAndWait(const std::string& command_line, const std::string& started_marker) = 0;
};

// The command line split as a POSIX shell splits words: blanks separate, single quotes keep
// everything, double quotes keep everything but \" \\ \$ \`, a backslash outside quotes keeps
// the next character. Nothing when a quote is left open.
bool SplitCommandLine(const std::string& command_line, std::vector<std::string>& words);

// posix_spawnp of the split command line, then waitpid without a time limit. The program gets
// /dev/null as standard input, this process's standard error as its standard output and error,
// a process group of its own (a Ctrl-C meant for the runner leaves it working) and SIGPIPE
// ignored, as the runner has it.
//
// The parameter file names the local files through %EDI_IN%, which the registration program
// takes from its environment. Given the work area's receive folder (read at each start, so a
// folder set later counts), the program gets EDI_IN set to it when this process's environment
// has none: no wrapper process is needed to set it.
class SpawnProcessStarter final : public ProcessStarter {
public:
    SpawnProcessStarter() = default;
    explicit SpawnProcessStarter(const std::string& receive_folder) : receive_folder_(&receive_folder) {}
    bool RunAndWait(const std::string& command_line, const std::string& started_marker) override;

private:
    const std::string* receive_folder_ = nullptr;
};

}  // namespace edi
