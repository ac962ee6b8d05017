// Masters in memory, documents and checks shared by the XML form's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "convert/XmlCii.h"
#include "support/TestSupport.h"

namespace edi::test {

inline constexpr const char* kInfoKind = "0101";
inline constexpr const char* kBpid = "BP000001";

// One message-side item of FL1903.
struct ItemDef {
    int serial;
    int level;
    int number;  // 項目№
    const char* attribute;
    int length;
    const char* multi = "0";  // マルチ明細番号
    int repeat = 0;
};

inline DbRow MessageItemRow(const ItemDef& d, const char* info_kind = kInfoKind, const char* bpid = kBpid) {
    return DbRow{{"フォーマット種別", "E"},
                 {"情報区分コード", info_kind},
                 {"BPID", bpid},
                 {"項目通番", std::to_string(d.serial)},
                 {"対応項目通番", std::to_string(d.serial)},
                 {"レベル番号", std::to_string(d.level)},
                 {"項目№", std::to_string(d.number)},
                 {"項目位置", "1"},
                 {"項目名称", "item"},
                 {"属性", d.attribute},
                 {"長さ", std::to_string(d.length)},
                 {"小数部長さ", "0"},
                 {"マルチ明細番号", d.multi},
                 {"繰返し数", std::to_string(d.repeat)}};
}

inline DbRow FormatRow(const char* xml_code = "M", const char* info_kind = kInfoKind, const char* bpid = kBpid) {
    return DbRow{{"情報区分コード", info_kind}, {"BPID", bpid},           {"様式識別", "S1"},
                 {"シンタックスIDバージョン", "V10"}, {"格納モード", "M"},      {"1バイト文字集合", "J"},
                 {"2バイト文字集合", "K"},        {"ローカル形式", "L"}, {"XML文字コード", xml_code}};
}

// The shared in-memory masters, counting the loads of format rows.
class RowMasters final : public FormatMasterSource {
    MemoryMasters rows_;  // first: the references below name its members

public:
    std::vector<DbRow>& format_rows = rows_.FormatRows;
    std::vector<DbRow>& item_rows = rows_.ItemRows;
    int loads = 0;

    void SetItems(const std::vector<ItemDef>& defs) {
        item_rows.clear();
        for (const ItemDef& d : defs) item_rows.push_back(MessageItemRow(d));
    }
    LoadResult LoadFormatInfo(std::string_view info_kind, std::string_view bpid, FormatInfo& info) override {
        ++loads;
        return rows_.LoadFormatInfo(info_kind, bpid, info);
    }
    LoadResult LoadMessageItems(std::string_view info_kind, std::string_view bpid, ItemList& items) override {
        return rows_.LoadMessageItems(info_kind, bpid, items);
    }
    LoadResult LoadLocalItems(std::string_view info_kind, std::string_view bpid, ItemList& items) override {
        return rows_.LoadLocalItems(info_kind, bpid, items);
    }
    LoadResult LoadMessageGroupInfo(std::string_view partner, std::string_view own_company, std::string_view info_kind,
                                    MessageGroupInfo& info) override {
        return rows_.LoadMessageGroupInfo(partner, own_company, info_kind, info);
    }
};

// The 25 header elements; every text fills its field exactly unless a test changes one.
struct HeaderTexts {
    std::vector<std::pair<std::string, std::string>> fields = {
        {"JPC03", "1"},           {"JPC04", "VANSEND00001"}, {"JPC05", "CENTERSEND01"}, {"JPC06", "SENDER000001"},
        {"JPC07", "VANRECV00001"}, {"JPC08", "CENTERRECV01"}, {"JPC09", "RECEIVER0001"}, {"JPC10", "BP00"},
        {"JPC11", "00"},          {"JPC12", "01"},           {"JPC14", "0101"},         {"JPC17", "11"},
        {"JPC18", "REF0000001"},  {"JPC19", "261205103000"}, {"JPC21", "V10ABC"},       {"JPC23", "M"},
        {"JPC24", "A"},           {"JPC25", "M"},            {"JPC29", "N"},            {"JPC30", "AG1"},
        {"JPC31", "AG2"},         {"JPC32", "AG3"},          {"JPC33", "AG4"},          {"JPC34", "AG5"},
        {"JPC35", "AG6"}};

    HeaderTexts& Set(const std::string& name, const std::string& text) {
        for (auto& [n, t] : fields)
            if (n == name) t = text;
        return *this;
    }
    std::string Xml() const {
        std::string out = "<JPMGH>";
        for (const auto& [n, t] : fields) out += "\r\n<" + n + ">" + t + "</" + n + ">";
        return out + "\r\n</JPMGH>";
    }
};

inline std::string SjisDocument(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<CII-BP0000010101-V10>" + body +
           "\r\n</CII-BP0000010101-V10>\r\n";
}

// xmllint's verdict on a file: 0 when it is well-formed.
inline int XmlLint(const std::filesystem::path& file) {
    const std::string command = "xmllint --noout '" + file.string() + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    return status == -1 ? -1 : WEXITSTATUS(status);
}

// Lines of ERR.LOG as CP932 bytes turned to text.
inline std::vector<std::string> LogLines(const std::filesystem::path& log) {
    std::vector<std::string> lines;
    if (!std::filesystem::exists(log)) return lines;
    std::string text = ToUnicodeText(ReadFile(log));
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = text.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace edi::test
