// The job runner's screen for the headless runner: every status change becomes one printed line.
#pragma once

#include <iosfwd>
#include <string>

#include "startup/WorkArea.h"
#include "transfer/JobSeams.h"

namespace edi {

class ConsoleDisplay final : public JobDisplay {
public:
    ConsoleDisplay(std::ostream& out, const WorkArea& work) : out_(out), work_(work) {}
    void ShowStatus(int row, int column, const std::string& text) override;
    void SetRowState(int row, std::int16_t state) override;
    void MakeRowCurrent(int) override {}

private:
    std::ostream& out_;
    const WorkArea& work_;
};

// One center as the grid shows it: code, name, then the three status cells, "-" for an empty cell.
std::string CenterStatusLine(const CenterEntry& entry);

}  // namespace edi
