#include "transfer/MailHeader.h"

namespace edi {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Parameters of a Content-Type or Content-Disposition value after its first words.
struct Parameter {
    std::string name;  // lower case
    std::string value;
};

std::vector<Parameter> ParametersOf(const std::vector<HeaderWord>& words, std::size_t from) {
    std::vector<Parameter> parameters;
    for (std::size_t i = from; i + 3 < words.size(); ++i) {
        const bool separator = words[i].kind == HeaderWord::kSpecial && words[i].text == ";";
        const HeaderWord& name = words[i + 1];
        const HeaderWord& value = words[i + 3];
        if (!separator || name.kind != HeaderWord::kAtom || words[i + 2].text != "=" ||
            value.kind == HeaderWord::kSpecial) {
            continue;
        }
        parameters.push_back({LowerAscii(name.text), value.text});
        i += 3;
    }
    return parameters;
}

bool NamesFile(const Parameter& parameter, std::string_view base) {
    return parameter.name == base || parameter.name.rfind(std::string(base) + "*", 0) == 0;
}

constexpr std::string_view kMimeSpecials = "<>@,;:\\/[]?=";

}  // namespace

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::vector<HeaderField> ParseHeaderBlock(std::string_view block) {
    std::vector<HeaderField> fields;
    bool continuing = false;  // the last line read was a field (a continuation may follow)
    std::size_t pos = 0;
    while (pos < block.size()) {
        std::size_t end = block.find('\n', pos);
        if (end == std::string_view::npos) end = block.size();
        std::string_view line = block.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;
        if (line.front() == ' ' || line.front() == '\t') {
            if (continuing) fields.back().value += line;
            continue;
        }
        const std::size_t colon = line.find(':');
        continuing = false;
        if (colon == 0 || colon == std::string_view::npos) continue;
        const std::string_view name = line.substr(0, colon);
        bool valid = true;
        for (const char c : name) valid = valid && c > ' ' && c < 127;
        if (!valid) continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        fields.push_back({std::string(name), std::string(value)});
        continuing = true;
    }
    return fields;
}

std::vector<std::string> FieldValues(const std::vector<HeaderField>& header, std::string_view name) {
    const std::string wanted = LowerAscii(name);
    std::vector<std::string> values;
    for (const HeaderField& field : header) {
        if (LowerAscii(field.name) == wanted) values.push_back(field.value);
    }
    return values;
}

std::optional<std::vector<HeaderWord>> SplitWords(std::string_view value, std::string_view specials) {
    std::vector<HeaderWord> words;
    const bool literals = specials.find('[') != std::string_view::npos;
    std::size_t i = 0;
    while (i < value.size()) {
        const char c = value[i];
        if (IsBlank(c)) {
            ++i;
        } else if (c == '(') {
            int depth = 0;
            do {
                if (i >= value.size()) return std::nullopt;
                if (value[i] == '\\') {
                    ++i;
                } else if (value[i] == '(') {
                    ++depth;
                } else if (value[i] == ')') {
                    --depth;
                }
                ++i;
            } while (depth > 0);
        } else if (c == '"' || (literals && c == '[')) {
            const char close = c == '"' ? '"' : ']';
            HeaderWord word{c == '"' ? HeaderWord::kQuoted : HeaderWord::kLiteral, {}};
            for (++i;; ++i) {
                if (i >= value.size()) return std::nullopt;
                if (value[i] == '\\' && i + 1 < value.size()) {
                    word.text += value[++i];
                } else if (value[i] == close) {
                    break;
                } else if (value[i] != '\r' && value[i] != '\n') {
                    word.text += value[i];
                }
            }
            ++i;
            words.push_back(std::move(word));
        } else if (specials.find(c) != std::string_view::npos || c == ')') {
            words.push_back({HeaderWord::kSpecial, std::string(1, c)});
            ++i;
        } else {
            HeaderWord word{HeaderWord::kAtom, {}};
            while (i < value.size() && !IsBlank(value[i]) && value[i] != '(' && value[i] != '"' && value[i] != ')' &&
                   specials.find(value[i]) == std::string_view::npos) {
                word.text += value[i++];
            }
            words.push_back(std::move(word));
        }
    }
    return words;
}

PartInfo DescribePart(const std::vector<HeaderField>& header) {
    PartInfo info;
    const std::vector<std::string> types = FieldValues(header, "Content-Type");
    if (!types.empty()) {
        const auto words = SplitWords(types.front(), kMimeSpecials);
        // An unreadable Content-Type counts as the default, text/plain.
        if (words && words->size() >= 3 && (*words)[0].kind == HeaderWord::kAtom && (*words)[1].text == "/" &&
            (*words)[2].kind == HeaderWord::kAtom) {
            info.media_type = LowerAscii((*words)[0].text + "/" + (*words)[2].text);
            for (const Parameter& parameter : ParametersOf(*words, 3)) {
                if (parameter.name == "boundary") info.boundary = parameter.value;
                if (NamesFile(parameter, "name")) info.has_file_name = true;
            }
        }
    }
    const std::vector<std::string> dispositions = FieldValues(header, "Content-Disposition");
    if (!dispositions.empty()) {
        const auto words = SplitWords(dispositions.front(), kMimeSpecials);
        if (words && !words->empty() && (*words)[0].kind == HeaderWord::kAtom) {
            info.disposition = LowerAscii((*words)[0].text);
            for (const Parameter& parameter : ParametersOf(*words, 1)) {
                if (NamesFile(parameter, "filename")) info.has_file_name = true;
            }
        }
    }
    const std::vector<std::string> encodings = FieldValues(header, "Content-Transfer-Encoding");
    if (!encodings.empty()) {
        const auto words = SplitWords(encodings.front(), kMimeSpecials);
        if (words && !words->empty()) info.encoding = LowerAscii((*words)[0].text);
    }
    return info;
}

}  // namespace edi
