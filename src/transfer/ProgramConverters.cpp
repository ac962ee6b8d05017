#include "transfer/ProgramConverters.h"

#include "convert/LocalCiiConversion.h"
#include "convert/codec/ErrorLog.h"
#include "startup/IniFile.h"
#include "transfer/JobRunner.h"

namespace edi {

namespace {

constexpr std::size_t kSwitchBuffer = 16;
constexpr std::string_view kSection = "CIICHECK";

}  // namespace

CiiCheckSettings ReadCiiCheckSettings(const WorkArea& work) {
    const IniFile ini = IniFile::Load(StageIniPath(work));
    CiiCheckSettings settings;
    for (std::size_t i = 0; i < kCiiCheckCount; ++i) {
        const std::string_view key = CiiCheckWarningKey(static_cast<CiiCheck>(i));
        settings.policy.warn[i] = IniSwitchOn(IniValueOf(ini, kSection, key, kSwitchBuffer));
    }
    settings.register_test_data = IniSwitchOn(IniValueOf(ini, kSection, "RegisterTestData", kSwitchBuffer));
    return settings;
}

std::filesystem::path TestDataTemplate(const std::string& local_template) {
    return std::filesystem::path(local_template).replace_extension(kTestDataExtension);
}

void ProgramConverters::CheckReceivedCii(WorkArea& work, const std::string& cii_path, std::int32_t serial,
                                         CiiCheckOutcome& outcome) {
    const SystemClock clock;
    outcome = edi::CheckReceivedCii(cii_path, serial, ReadCiiCheckSettings(work).policy, work.Log, clock);
}

void ProgramConverters::XmlCiiConvert(WorkArea& work, const std::string& xml_path, const std::string& cii_path,
                                      std::int32_t serial, ConversionValues& values) {
    edi::XmlCiiConvert(work, xml_state_, xml_path, cii_path, serial);
    values.格納モード = xml_state_.format.格納モード;
}

void ProgramConverters::RunLocalCiiConversion(WorkArea& work, const std::string& center_code, std::int32_t serial,
                                              const std::string& kind, const std::string& cii_path,
                                              const std::string& local_path, std::string& result,
                                              ConversionValues& values) {
    const bool register_test_data = ReadCiiCheckSettings(work).register_test_data;
    CiiGroupSummary summary;
    LocalCiiOptions options;
    options.summary = &summary;
    if (!register_test_data) options.test_template = TestDataTemplate(local_path);
    DatabaseMasters database(work);
    CachedMasters masters(database, local_masters_);
    const SystemClock clock;
    result = edi::RunLocalCiiConversion(center_code, serial, kind, cii_path, local_path, masters, work.Log, clock,
                                        options);
    // A conversion that reached no group leaves the values of the one before.
    if (!summary.Bpid.empty()) values.BPID = summary.Bpid;
    if (!summary.InfoKind.empty()) values.取引情報区分 = summary.InfoKind;
    values.lines = summary.Lines;
    values.test_lines = summary.TestLines;
    values.test_held_back = !register_test_data;
    if (summary.TestLines == 0) return;
    const std::string counts = std::to_string(summary.TestLines) + " of " + std::to_string(summary.Lines) +
                               " messages are test data (運用モード 1)";
    if (register_test_data) {
        WriteErrorLog(work.Log, std::stoi(std::string(kTestDataRegistered)), "test data registered (RegisterTestData=1): " + counts, 1);
    } else {
        WriteErrorLog(work.Log, std::stoi(std::string(kTestDataHeldBack)),
                      "test data, not registered: " + counts + ", kept in " +
                          LocalPathFor(TestDataTemplate(local_path), "<kind>").filename().string(),
                      1);
    }
}

}  // namespace edi
