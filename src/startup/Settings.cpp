#include "startup/Settings.h"

#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <system_error>

#include "startup/IniFile.h"

namespace edi {
namespace {

constexpr std::size_t kWideBuffer = 256;   // appearance and folder keys
constexpr std::size_t kNarrowBuffer = 64;  // database and colour keys

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads the keys of one reader from one loaded file.
struct Reader {
    const IniFile& ini;
    bool ok = true;

    std::string Text(std::string_view section, std::string_view key, std::size_t size = kWideBuffer) const {
        return IniValueOf(ini, section, key, size);
    }
    double Number(std::string_view section, std::string_view key) {
        if (!ok) return 0;
        const auto value = StrictNumber(Text(section, key));
        ok = value.has_value();
        return value.value_or(0);
    }
    std::int16_t Int16(std::string_view section, std::string_view key) {
        if (!ok) return 0;
        const auto value = StrictInt16(Text(section, key));
        ok = value.has_value();
        return value.value_or(0);
    }
};

void ReadLookFonts(Reader& r, std::string_view prefix, LookGroup& g) {
    const std::string p(prefix);
    g.FontBold = r.Text("Setting0", p + "FontBold");
    g.FontItalic = r.Text("Setting0", p + "FontItalic");
    g.FontName = r.Text("Setting0", p + "FontName");
    g.FontSize = r.Text("Setting0", p + "FontSize");
    g.FontStrikethru = r.Text("Setting0", p + "FontStrikethru");
    g.FontUnderline = r.Text("Setting0", p + "FontUnderline");
}

}  // namespace

std::optional<std::string> ConfigFolderOf(std::string_view program_folder) {
    const auto last = program_folder.rfind('/');
    if (last == std::string_view::npos || last == 0) return std::nullopt;
    const auto second_last = program_folder.rfind('/', last - 1);
    if (second_last == std::string_view::npos) return std::nullopt;
    return std::string(program_folder.substr(0, second_last));
}

void LocateProgram(WorkArea& work) {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) work.ProgramFolder = exe.parent_path();
    if (const char* ini = std::getenv("K500100_INI"); ini != nullptr && *ini != '\0') work.IniOverride = ini;
    if (work.Log.file.empty()) work.Log.file = work.ProgramFolder / "ERR.LOG";
}

std::optional<std::filesystem::path> LocateIni(WorkArea& work) {
    if (work.IniOverride) {
        work.IniFolder = work.IniOverride->parent_path().string();
        return *work.IniOverride;
    }
    const auto folder = ConfigFolderOf(work.ProgramFolder.string());
    if (!folder) return std::nullopt;
    work.IniFolder = *folder;
    return std::filesystem::path(*folder + "/EDI.ini");
}

std::optional<double> StrictNumber(std::string_view text) {
    const std::string t = TrimBlanks(text);
    if (t.empty()) return std::nullopt;
    if (t.size() > 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h')) {
        if (t.size() - 2 > 8) return std::nullopt;
        std::uint32_t value = 0;
        for (std::size_t i = 2; i < t.size(); ++i) {
            const int d = HexDigit(t[i]);
            if (d < 0) return std::nullopt;
            value = value * 16 + static_cast<std::uint32_t>(d);
        }
        return static_cast<double>(value);
    }
    std::size_t i = 0;
    if (t[i] == '+' || t[i] == '-') ++i;
    std::size_t digits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    }
    if (digits == 0 || i != t.size()) return std::nullopt;
    return std::strtod(t.c_str(), nullptr);
}

std::optional<std::int16_t> StrictInt16(std::string_view text) {
    const auto value = StrictNumber(text);
    if (!value) return std::nullopt;
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(*value);
    std::fesetround(saved);
    if (rounded < -32768.0 || rounded > 32767.0) return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}

double LenientNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t end = start;
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits, end = i;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) ++i, ++digits, end = i;
    }
    if (digits == 0) return 0;
    return std::strtod(std::string(text.substr(start, end - start)).c_str(), nullptr);
}

std::string Field50(std::string_view text) {
    // Count characters, not bytes: a full-width character is one character of the field.
    std::string out;
    std::size_t chars = 0;
    std::size_t pos = 0;
    while (pos < text.size() && chars < 50) {
        std::size_t next = pos + 1;
        while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
        out.append(text.substr(pos, next - pos));
        pos = next;
        ++chars;
    }
    out.append(50 - chars, ' ');
    return out;
}

bool ReadRunEnvironment(WorkArea& work) {
    const auto path = LocateIni(work);
    if (!path) return false;
    const IniFile ini = IniFile::Load(*path);
    const Reader r{ini};
    const std::string machine = r.Text("動作環境", "MACHINENAME", kNarrowBuffer);
    const std::string user = r.Text("動作環境", "USERID", kNarrowBuffer);
    const std::string password = r.Text("動作環境", "PASSWD", kNarrowBuffer);
    const std::string source = r.Text("動作環境", "DBSTRING", kNarrowBuffer);
    work.MachineName = Field50(machine);
    work.DbUser = Field50(user);
    work.DbPassword = Field50(password);
    work.DbSource = Field50(source);
    return true;
}

bool ReadSettings(WorkArea& work) {
    const auto path = LocateIni(work);
    if (!path) return false;
    const IniFile ini = IniFile::Load(*path);
    Reader r{ini};
    // Values are collected first and used only when every key converted.
    AppearanceSettings a;
    a.FormBackColor = r.Text("Setting0", "FormBackColor");
    a.Label.BackColor = r.Number("Setting0", "LabelBackColor");
    ReadLookFonts(r, "Label", a.Label);
    a.Label.ForeColor = r.Number("Setting0", "LabelForeColor");
    a.Text.BackColor = r.Number("Setting0", "TextBackColor");
    a.TextFocusColor = r.Number("Setting0", "TextFocusColor");
    ReadLookFonts(r, "Text", a.Text);
    a.Text.ForeColor = r.Number("Setting0", "TextForeColor");
    a.Title.BackColor = r.Number("Setting0", "TitleBackColor");
    ReadLookFonts(r, "Title", a.Title);
    a.Title.ForeColor = r.Number("Setting0", "TitleForeColor");
    const std::int16_t minimize = r.Int16("K700100", "MINIMAIZE");
    const std::int16_t demo = r.Int16("K700100", "DEMOMODE");
    if (!r.ok) return false;

    work.Appearance = a;
    work.MINIMAIZE = minimize;
    work.DEMOMODE = demo;
    work.TCX100_PATH = r.Text("PATH", "TCX100_PATH");
    work.EDIINFIL = r.Text("PATH", "EDIINFIL");
    work.EDIOUTFIL = r.Text("PATH", "EDIOUTFIL");
    work.MGSTPATH = r.Text("PATH", "MGSTPATH");
    work.OLD_FILE = r.Text("PATH", "OLD_FILE");
    // ERR.LOG stays in the program's folder unless ERRLOGPATH names another one: an installed
    // program's folder is not writable by the user the scheduled receive runs as.
    if (const std::string log_folder = r.Text("PATH", "ERRLOGPATH"); !log_folder.empty()) {
        work.Log.file = std::filesystem::path(log_folder) / "ERR.LOG";
    }
    work.DebugMode = r.Text("デバッグ", "MODE") == "1";
    return true;
}

void ReadStatusColors(WorkArea& work) {
    const auto path = LocateIni(work);
    const IniFile ini = path ? IniFile::Load(*path) : IniFile{};
    const Reader r{ini};
    work.Colors.Normal = LenientNumber(r.Text("COLOR", "通常", kNarrowBuffer));
    work.Colors.Error = LenientNumber(r.Text("COLOR", "エラー", kNarrowBuffer));
    work.Colors.Done = LenientNumber(r.Text("COLOR", "処理済", kNarrowBuffer));
    work.Colors.Running = LenientNumber(r.Text("COLOR", "処理中", kNarrowBuffer));
}

}  // namespace edi
