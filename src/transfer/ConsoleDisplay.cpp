#include "transfer/ConsoleDisplay.h"

#include <ostream>

namespace edi {
namespace {

const char* ColumnTitle(int column) {
    switch (column) {
        case 4:
            return "受信";
        case 5:
            return "変換";
        case 6:
            return "データ登録";
        default:
            return "?";
    }
}

std::string CodeOf(const WorkArea& work, int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= work.Centers.size()) return "?";
    return work.Centers[static_cast<std::size_t>(row)].CenterCode;
}

std::string Cell(const std::string& text) { return text.empty() ? "-" : text; }

}  // namespace

void ConsoleDisplay::ShowStatus(int row, int column, const std::string& text) {
    out_ << "  " << CodeOf(work_, row) << " " << ColumnTitle(column) << ": " << text << "\n" << std::flush;
}

void ConsoleDisplay::SetRowState(int row, std::int16_t state) {
    const char* name = state == 0 ? "通常" : state == 1 ? "処理中" : state == 2 ? "処理済" : "エラー";
    out_ << "  " << CodeOf(work_, row) << " 状態: " << name << "\n" << std::flush;
}

std::string CenterStatusLine(const CenterEntry& entry) {
    return entry.CenterCode + "\t" + entry.CenterName + "\t" + Cell(entry.ReceiveStatus) + "\t" +
           Cell(entry.ConversionStatus) + "\t" + Cell(entry.RegistrationStatus);
}

}  // namespace edi
