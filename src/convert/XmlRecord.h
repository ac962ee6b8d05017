// The XML form's records (JPMGH, JPTRM) as the push parser delivers them, held in a few reused
// arrays until a record is converted: its elements, the text that can be a value and the entity
// references in it, which are expanded only when a value is read. Nothing outside a record is
// kept, nor the whitespace between a record's structural elements (the record itself, its groups
// and occurrences), whose text is never a value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace edi {

class XmlRecordNodes {
public:
    using Index = std::uint32_t;
    static constexpr Index kNone = UINT32_MAX;
    enum class Kind : std::uint8_t { kElement, kText, kEntity };
    struct Node {
        Kind kind = Kind::kElement;
        bool structural = false;  // the record, or a "JPM" element whose parent is structural
        Index first_child = kNone;
        Index last_child = kNone;
        Index next = kNone;
        std::size_t begin = 0;  // the name, text or entity name in the character store
        std::size_t size = 0;
        int line = 0;  // of an element's start tag
    };

    bool InRecord() const { return !open_.empty(); }
    // Opens a record when none is open, else a child of the innermost open element.
    void StartElement(std::string_view name, int line);
    // Closes the innermost element; kNone, or the record's index when this closed it.
    Index EndElement();
    void AddText(std::string_view text);
    void AddEntity(std::string_view name);
    // Drops the nodes made before `first` (kNone: every closed record's) but never those of the
    // open record; the nodes kept move down by the index returned.
    Index DropBefore(Index first);

    const Node& operator[](Index i) const { return nodes_[i]; }
    std::string_view Chars(const Node& node) const { return std::string_view(chars_).substr(node.begin, node.size); }
    Index NextElement(Index i) const;
    Index FirstElement(Index parent) const;

private:
    Index Append(Kind kind, std::string_view chars);
    std::vector<Node> nodes_;
    std::vector<Index> open_;
    std::string chars_;
};

}  // namespace edi
