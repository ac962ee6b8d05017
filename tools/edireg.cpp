// edireg: a sample registration program. Any program that reads the parameter file and writes
// the status file will do; this one registers nothing, it counts.
// Usage: edireg @PARAMETER-FILE
// Reads the lines /[EDI]<kind>TXT='<local file>', OPERATOR, STATUS_FILE and MAKER (code page
// 932), puts the value of the environment variable EDI_IN in place of %EDI_IN%, counts the
// records (lines) of every local file and writes the status file's first line:
// "1", the first information kind (4 columns), the maker (12), records read (6), records
// registered (6) and the end code "00", or "01" when a named local file is missing.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "convert/codec/Codec.h"

namespace {

std::string ReadAll(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

std::string Fit(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

std::string Count(long n) {
    std::string digits = std::to_string(n < 0 ? 0 : n > 999999 ? 999999 : n);
    return std::string(6 - digits.size(), '0') + digits;
}

}  // namespace

int main(int argc, char** argv) {
    std::string argument;
    for (int i = 1; i < argc; ++i) argument += argv[i];
    if (argument.size() < 2 || argument[0] != '@') {
        std::cerr << "usage: edireg @PARAMETER-FILE\n";
        return 2;
    }
    bool ok = false;
    const std::string parameters = edi::ToUnicodeText(std::string_view(ReadAll(argument.substr(1), ok)));
    if (!ok) {
        std::cerr << "edireg: cannot read " << argument.substr(1) << "\n";
        return 2;
    }
    const char* edi_in_env = std::getenv("EDI_IN");
    std::string edi_in = edi_in_env ? edi_in_env : "";
    if (!edi_in.empty() && edi_in.back() != '/') edi_in += '/';

    std::string first_kind, maker, status_file;
    long records = 0;
    bool missing = false;
    for (const std::string& line : Lines(parameters)) {
        const std::size_t eq = line.find("='");
        if (line.rfind("/[EDI]", 0) != 0 || eq == std::string::npos || line.size() < eq + 3 || line.back() != '\'') {
            continue;
        }
        const std::string key = line.substr(6, eq - 6);
        std::string value = line.substr(eq + 2, line.size() - eq - 3);
        if (key == "MAKER") {
            maker = value;
        } else if (key == "STATUS_FILE") {
            status_file = value;
        } else if (key.size() > 3 && key.compare(key.size() - 3, 3, "TXT") == 0) {
            if (first_kind.empty()) first_kind = key.substr(0, key.size() - 3);
            for (std::size_t at; (at = value.find("%EDI_IN%")) != std::string::npos;) value.replace(at, 8, edi_in);
            bool readable = false;
            const std::string local = ReadAll(value, readable);
            if (!readable) {
                std::cerr << "edireg: missing local file " << value << "\n";
                missing = true;
                continue;
            }
            const long lines = static_cast<long>(Lines(local).size());
            std::cout << "edireg: " << value << ": " << lines << " record(s)\n";
            records += lines;
        }
    }
    if (status_file.empty()) {
        std::cerr << "edireg: the parameter file names no STATUS_FILE\n";
        return 2;
    }
    const std::string status = "1" + Fit(first_kind, 4) + Fit(maker, 12) + Count(records) +
                               Count(missing ? 0 : records) + (missing ? "01" : "00") + "\r\n";
    const edi::Bytes bytes = edi::ToAnsiBytes(status);
    std::ofstream out(status_file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::cerr << "edireg: cannot write " << status_file << "\n";
        return 2;
    }
    return missing ? 1 : 0;
}
