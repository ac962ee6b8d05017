#include "startup/IniFile.h"

#include <cctype>
#include <fstream>
#include <iterator>

namespace edi {
namespace {

bool IsBlank(std::uint8_t b) { return b == ' ' || b == '\t'; }

Bytes Trimmed(ByteView bytes) {
    std::size_t first = 0;
    std::size_t last = bytes.size();
    while (first < last && IsBlank(bytes[first])) ++first;
    while (last > first && IsBlank(bytes[last - 1])) --last;
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(first), bytes.begin() + static_cast<std::ptrdiff_t>(last));
}

// Latin letters fold to upper case; the trail byte of a double-byte character never does.
Bytes NameKey(ByteView name) {
    Bytes key(name.begin(), name.end());
    for (std::size_t i = 0; i < key.size(); i += CharLengthAt(key, i)) {
        if (key[i] >= 'a' && key[i] <= 'z') key[i] = static_cast<std::uint8_t>(key[i] - 'a' + 'A');
    }
    return key;
}

Bytes NameKey(std::string_view utf8_name) {
    const Bytes sjis = ToAnsiBytes(utf8_name);
    return NameKey(ByteView(sjis));
}

}  // namespace

IniFile IniFile::Load(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return IniFile{};
    const Bytes content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Parse(content);
}

IniFile IniFile::Parse(ByteView content) {
    IniFile ini;
    Group* current = nullptr;
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t end = pos;
        while (end < content.size() && content[end] != '\n' && content[end] != '\r') ++end;
        const Bytes line = Trimmed(content.subspan(pos, end - pos));
        pos = end;
        if (pos < content.size() && content[pos] == '\r') ++pos;
        if (pos < content.size() && content[pos] == '\n') ++pos;

        if (!line.empty() && line.front() == '[') {
            std::size_t close = 1;
            while (close < line.size() && line[close] != ']') close += CharLengthAt(line, close);
            const Bytes name = NameKey(Trimmed(ByteView(line).subspan(1, std::min(close, line.size()) - 1)));
            current = nullptr;
            for (Group& g : ini.groups_) {
                if (g.name == name) current = &g;
            }
            if (current == nullptr) {
                ini.groups_.push_back(Group{name, {}});
                current = &ini.groups_.back();
            }
            continue;
        }
        if (current == nullptr || line.empty() || line.front() == ';') continue;
        std::size_t eq = 0;
        while (eq < line.size() && line[eq] != '=') eq += CharLengthAt(line, eq);
        if (eq >= line.size()) continue;
        const ByteView view(line);
        Entry entry{NameKey(Trimmed(view.subspan(0, eq))), Trimmed(view.subspan(eq + 1))};
        // A value in matching quotes loses them, as the platform's reader does.
        if (entry.value.size() >= 2 && (entry.value.front() == '"' || entry.value.front() == '\'') &&
            entry.value.back() == entry.value.front()) {
            entry.value = Bytes(entry.value.begin() + 1, entry.value.end() - 1);
        }
        current->entries.push_back(std::move(entry));
    }
    return ini;
}

const IniFile::Group* IniFile::FindGroup(const Bytes& name) const {
    for (const Group& g : groups_) {
        if (g.name == name) return &g;
    }
    return nullptr;
}

std::optional<Bytes> IniFile::Find(std::string_view section, std::string_view key) const {
    const Group* group = FindGroup(NameKey(section));
    if (group == nullptr) return std::nullopt;
    const Bytes wanted = NameKey(key);
    for (const Entry& e : group->entries) {
        if (e.key == wanted) return e.value;
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> IniFile::Section(std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> out;
    const Group* group = FindGroup(NameKey(section));
    if (group == nullptr) return out;
    for (const Entry& e : group->entries) {
        out.emplace_back(ToUnicodeText(ByteView(e.key)), ToUnicodeText(ByteView(e.value)));
    }
    return out;
}

std::string TextBeforeNul(std::string_view buffer) {
    const auto nul = buffer.find('\0');
    if (nul == std::string_view::npos) return {};
    return std::string(buffer.substr(0, nul));
}

std::string IniValueOf(const IniFile& ini, std::string_view section, std::string_view key, std::size_t buffer_size) {
    if (buffer_size == 0) return {};
    const std::optional<Bytes> found = ini.Find(section, key);
    if (!found) return {};
    // The buffer keeps buffer_size - 1 bytes and a terminating NUL.
    std::size_t keep = 0;
    while (keep < found->size()) {
        const std::size_t len = CharLengthAt(*found, keep);
        if (keep + len > buffer_size - 1) break;
        keep += len;
    }
    std::string buffer(reinterpret_cast<const char*>(found->data()), keep);
    buffer.push_back('\0');
    return ToUnicodeText(std::string_view(TextBeforeNul(buffer)));
}

std::string ReadIniValue(std::string_view section, std::string_view key, const std::filesystem::path& file,
                         std::size_t buffer_size) {
    return IniValueOf(IniFile::Load(file), section, key, buffer_size);
}

bool IniSwitchOn(std::string_view value) {
    std::string lower;
    for (const char c : value) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "1" || lower == "yes" || lower == "true" || lower == "on";
}

}  // namespace edi
