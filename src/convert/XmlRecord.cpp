#include "convert/XmlRecord.h"

#include <algorithm>

namespace edi {

XmlRecordNodes::Index XmlRecordNodes::Append(Kind kind, std::string_view chars) {
    const auto index = static_cast<Index>(nodes_.size());
    Node& node = nodes_.emplace_back();
    node.kind = kind;
    node.begin = chars_.size();
    node.size = chars.size();
    chars_.append(chars);
    if (!open_.empty()) {
        Node& parent = nodes_[open_.back()];
        if (parent.last_child == kNone) {
            parent.first_child = index;
        } else {
            nodes_[parent.last_child].next = index;
        }
        parent.last_child = index;
    }
    return index;
}

void XmlRecordNodes::StartElement(std::string_view name, int line) {
    const bool structural = open_.empty() || (nodes_[open_.back()].structural && name.starts_with("JPM"));
    const Index index = Append(Kind::kElement, name);
    nodes_[index].structural = structural;
    nodes_[index].line = line;
    open_.push_back(index);
}

XmlRecordNodes::Index XmlRecordNodes::EndElement() {
    const Index closed = open_.back();
    open_.pop_back();
    return open_.empty() ? closed : kNone;
}

void XmlRecordNodes::AddText(std::string_view text) {
    if (open_.empty() || nodes_[open_.back()].structural) return;
    const Index last = nodes_[open_.back()].last_child;
    if (last != kNone && nodes_[last].kind == Kind::kText && nodes_[last].begin + nodes_[last].size == chars_.size()) {
        nodes_[last].size += text.size();
        chars_.append(text);
        return;
    }
    Append(Kind::kText, text);
}

void XmlRecordNodes::AddEntity(std::string_view name) {
    if (!open_.empty() && !nodes_[open_.back()].structural) Append(Kind::kEntity, name);
}

XmlRecordNodes::Index XmlRecordNodes::DropBefore(Index first) {
    if (!open_.empty()) first = std::min(first, open_.front());
    if (first == kNone) {
        nodes_.clear();
        chars_.clear();
        return 0;
    }
    // The nodes kept are the last ones made, and so are their characters.
    const std::size_t chars_from = nodes_[first].begin;
    if (first == 0) return 0;
    nodes_.erase(nodes_.begin(), nodes_.begin() + first);
    chars_.erase(0, chars_from);
    auto shift = [first](Index& i) {
        if (i != kNone) i -= first;
    };
    for (Node& node : nodes_) {
        shift(node.first_child);
        shift(node.last_child);
        shift(node.next);
        node.begin -= chars_from;
    }
    for (Index& i : open_) i -= first;
    return first;
}

XmlRecordNodes::Index XmlRecordNodes::FirstElement(Index parent) const {
    Index i = nodes_[parent].first_child;
    while (i != kNone && nodes_[i].kind != Kind::kElement) i = nodes_[i].next;
    return i;
}

XmlRecordNodes::Index XmlRecordNodes::NextElement(Index i) const {
    i = nodes_[i].next;
    while (i != kNone && nodes_[i].kind != Kind::kElement) i = nodes_[i].next;
    return i;
}

}  // namespace edi
