// One run of the EDI.ini reader on any bytes, shared by the libFuzzer target and the replay of its
// seeds: the profile parser with every key the program reads, at several buffer sizes, each value
// through the conversions the readers apply, and the start-up readers on the bytes as a file.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "startup/IniFile.h"
#include "startup/Settings.h"

namespace edi::bench {

// True when every value kept within its buffer.
inline bool ReadIniOnce(ByteView content, const std::filesystem::path& scratch_file) {
    static const std::pair<const char*, const char*> kKeys[] = {
        {"動作環境", "MACHINENAME"}, {"動作環境", "USERID"},        {"動作環境", "PASSWD"},
        {"動作環境", "DBSTRING"},    {"Setting0", "FormBackColor"}, {"Setting0", "LabelFontSize"},
        {"K700100", "MINIMAIZE"},    {"K700100", "DEMOMODE"},       {"PATH", "EDIINFIL"},
        {"PATH", "PRPATH"},          {"デバッグ", "MODE"},          {"COLOR", "通常"},
        {"MAPI", "ProfileName"},     {"MAPI", "Timeout"},           {"MAIL", "MAIL-TEXT"}};
    bool within = true;
    const IniFile ini = IniFile::Parse(content);
    for (const auto& [section, key] : kKeys) {
        for (const std::size_t size : {1u, 2u, 51u, 256u}) {
            const std::string value = IniValueOf(ini, section, key, size);
            within = within && ToAnsiBytes(value).size() < size;
            StrictInt16(value);
            LenientNumber(value);
            Field50(value);
        }
    }
    for (const char* section : {"動作環境", "Setting0", "PATH", "MAPI"}) {
        for (const auto& [key, value] : ini.Section(section)) StrictNumber(Field50(key) + value);
    }
    std::ofstream(scratch_file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    WorkArea work;
    work.IniOverride = scratch_file;
    ReadRunEnvironment(work);
    ReadSettings(work);
    ReadStatusColors(work);
    return within;
}

}  // namespace edi::bench
