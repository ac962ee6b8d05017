// Reader for the Shift-JIS private-profile file EDI.ini.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/codec/Codec.h"

namespace edi {

// A parsed profile file. Sections and keys are found by their Shift-JIS bytes,
// Latin letters compared without case; the first of duplicate sections or keys wins.
// Lines end with LF, CR LF or CR; a line without "=" outside a section header is ignored.
class IniFile {
public:
    // Loads the file; a missing or unreadable file gives an empty profile.
    static IniFile Load(const std::filesystem::path& path);
    static IniFile Parse(ByteView content);

    // The value's bytes with the blanks around it removed, or nothing when absent.
    std::optional<Bytes> Find(std::string_view section, std::string_view key) const;

    // Every key of a section in file order, as (key, value) texts.
    std::vector<std::pair<std::string, std::string>> Section(std::string_view section) const;

private:
    struct Entry {
        Bytes key;
        Bytes value;
    };
    struct Group {
        Bytes name;
        std::vector<Entry> entries;
    };
    const Group* FindGroup(const Bytes& name) const;
    std::vector<Group> groups_;
};

// The text before the first NUL of a buffer, or "" when the buffer holds no NUL.
std::string TextBeforeNul(std::string_view buffer);

// Reads one key as the platform's profile reader does into a buffer of buffer_size
// bytes: a missing file, section or key gives "", a longer value is cut to
// buffer_size - 1 bytes (never inside a double-byte character), the text ends at a NUL.
std::string ReadIniValue(std::string_view section, std::string_view key, const std::filesystem::path& file,
                         std::size_t buffer_size);
std::string IniValueOf(const IniFile& ini, std::string_view section, std::string_view key, std::size_t buffer_size);
// A switch's value: "1", "yes", "true" or "on" in any letter case turn it on.
bool IniSwitchOn(std::string_view value);

}  // namespace edi
