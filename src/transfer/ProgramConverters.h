// The converters the program's jobs call.
#pragma once

#include <filesystem>
#include <string>

#include "convert/CiiCheck.h"
#include "convert/MasterCache.h"
#include "convert/XmlCii.h"
#include "transfer/JobSeams.h"

namespace edi {

// Section CIICHECK of EDI.ini, read whenever a received file is checked or converted.
struct CiiCheckSettings {
    CiiCheckPolicy policy;            // WarnGroups ... WarnTrailing=1: that check only warns
    bool register_test_data = false;  // RegisterTestData=1: test groups are registered like the rest
};
CiiCheckSettings ReadCiiCheckSettings(const WorkArea& work);

// Where a test group's records go: the local template with kTestDataExtension in place of its own.
std::filesystem::path TestDataTemplate(const std::string& local_template);

class ProgramConverters final : public Converters {
public:
    void CheckReceivedCii(WorkArea& work, const std::string& cii_path, std::int32_t serial,
                          CiiCheckOutcome& outcome) override;
    void XmlCiiConvert(WorkArea& work, const std::string& xml_path, const std::string& cii_path, std::int32_t serial,
                       ConversionValues& values) override;
    // Test groups' records go to the test-data files unless EDI.ini registers them.
    void RunLocalCiiConversion(WorkArea& work, const std::string& center_code, std::int32_t serial,
                               const std::string& kind, const std::string& cii_path, const std::string& local_path,
                               std::string& result, ConversionValues& values) override;
    void ForgetMasters() override { local_masters_.Clear(); }

private:
    // The local/CII converter's masters, read once per run.
    MasterCache local_masters_;
    // The XML converter keeps its group header and masters from one conversion to the next.
    XmlCiiState xml_state_;
};

}  // namespace edi
