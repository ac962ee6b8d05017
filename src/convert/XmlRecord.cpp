#include "convert/XmlRecord.h"

#include <libxml/SAX2.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

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

namespace {

constexpr std::size_t kChunk = 512;  // bytes a push
constexpr std::size_t kRead = 4096;  // bytes a read of the file

}  // namespace

// The reader when the callback comes from the document itself; null inside an entity's content,
// which libxml2 parses on a context of its own and which is built as its nodes, as always.
XmlRecordReader* XmlRecordReader::Of(void* ctx) {
    auto* parser = static_cast<xmlParserCtxtPtr>(ctx);
    auto* reader = static_cast<XmlRecordReader*>(parser->_private);
    return reader != nullptr && reader->parser_ == parser ? reader : nullptr;
}

void XmlRecordReader::OnStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                                     int nb_namespaces, const xmlChar** namespaces, int nb_attributes,
                                     int nb_defaulted, const xmlChar** attributes) {
    if (auto* reader = static_cast<XmlRecordReader*>(static_cast<xmlParserCtxtPtr>(ctx)->_private))
        reader->element_started_ = true;
    XmlRecordReader* self = Of(ctx);
    if (self == nullptr) {
        xmlSAX2StartElementNs(ctx, localname, prefix, uri, nb_namespaces, namespaces, nb_attributes, nb_defaulted,
                              attributes);
        return;
    }
    self->root_seen_ = true;
    self->Followed();
    const std::string_view name(reinterpret_cast<const char*>(localname));
    if (!self->nodes_.InRecord() && name != "JPMGH" && name != "JPTRM") return;
    // An element keeps the line of its start tag up to 65535, as libxml2's nodes do.
    const xmlParserInputPtr input = self->parser_->input;
    self->nodes_.StartElement(name, input != nullptr ? std::min(input->line, 65535) : 0);
}

void XmlRecordReader::OnEndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
    XmlRecordReader* self = Of(ctx);
    if (self == nullptr) {
        xmlSAX2EndElementNs(ctx, localname, prefix, uri);
    } else if (self->nodes_.InRecord()) {
        const Index record = self->nodes_.EndElement();
        if (record != XmlRecordNodes::kNone) self->completed_.push_back(record);
    }
}

// Text and CDATA sections alike; `build` makes the node inside an entity.
void XmlRecordReader::AddText(void* ctx, const xmlChar* text, int length, void (*build)(void*, const xmlChar*, int)) {
    if (XmlRecordReader* self = Of(ctx)) {
        self->Followed();
        self->nodes_.AddText(std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)));
    } else {
        build(ctx, text, length);
    }
}

void XmlRecordReader::OnText(void* ctx, const xmlChar* text, int length) {
    AddText(ctx, text, length, &xmlSAX2Characters);
}

void XmlRecordReader::OnCdata(void* ctx, const xmlChar* text, int length) {
    AddText(ctx, text, length, &xmlSAX2CDataBlock);
}

void XmlRecordReader::OnReference(void* ctx, const xmlChar* name) {
    if (XmlRecordReader* self = Of(ctx)) {
        self->Followed();
        self->nodes_.AddEntity(reinterpret_cast<const char*>(name));
    } else {
        xmlSAX2Reference(ctx, name);
    }
}

// Comments and processing instructions carry no text.
void XmlRecordReader::OnComment(void* ctx, const xmlChar* text) {
    if (XmlRecordReader* self = Of(ctx)) {
        self->Followed();
    } else {
        xmlSAX2Comment(ctx, text);
    }
}

void XmlRecordReader::OnInstruction(void* ctx, const xmlChar* target, const xmlChar* data) {
    if (XmlRecordReader* self = Of(ctx)) {
        self->Followed();
    } else {
        xmlSAX2ProcessingInstruction(ctx, target, data);
    }
}

// At the end of the document every record is handed out; before, only those followed by something.
bool XmlRecordReader::HandOut(bool all) {
    const std::size_t ready = all ? completed_.size() : followed_;
    for (std::size_t i = 0; i < ready; ++i) {
        if (!handler_->Record(completed_[i])) {
            result_.status = Status::kStopped;
            return false;
        }
    }
    completed_.erase(completed_.begin(), completed_.begin() + static_cast<std::ptrdiff_t>(ready));
    followed_ = 0;
    const Index moved = nodes_.DropBefore(completed_.empty() ? XmlRecordNodes::kNone : completed_.front());
    for (Index& record : completed_) record -= moved;
    return true;
}

bool XmlRecordReader::Push(const char* bytes, std::size_t size, bool last) {
    element_started_ = false;
    const int status = xmlParseChunk(parser_, bytes, static_cast<int>(size), last ? 1 : 0);
    if (status != 0 || parser_->wellFormed == 0) {
        result_ = {Status::kMalformed, name_ + " " + (errors_->HasError() ? errors_->First() : "cannot be parsed")};
        return false;
    }
    // The reader goes on with the next chunk until one starts an element or the input runs short.
    if (!last && size == kChunk && !element_started_) return true;
    if (root_seen_ && !begun_) {
        begun_ = true;
        if (!handler_->Begin(parser_->myDoc)) {
            result_.status = Status::kStopped;
            return false;
        }
    }
    return HandOut(last);
}

XmlRecordReader::Result XmlRecordReader::Read(const std::string& name, const ByteView* document, Handler& handler) {
    EnsureXmlLibrary();
    XmlErrorCollector errors;
    errors_ = &errors;
    handler_ = &handler;
    name_ = name;
    std::unique_ptr<xmlParserInputBuffer, void (*)(xmlParserInputBufferPtr)> input(nullptr,
                                                                                    &xmlFreeParserInputBuffer);
    std::string buffer;  // the file's bytes read but not yet pushed
    bool end_of_file = false;
    auto read = [&](std::size_t size) {
        const std::size_t old = buffer.size();
        buffer.resize(old + size);
        const int got = input->readcallback(input->context, buffer.data() + old, static_cast<int>(size));
        buffer.resize(old + static_cast<std::size_t>(std::max(got, 0)));
        if (got <= 0) end_of_file = true;
    };
    // The document is pushed as libxml2's own reader pushes it: the first four bytes make the
    // parser (the encoding is guessed from them), then 512 bytes at a time, the file read 4096
    // bytes at a time whenever less than a chunk is left.
    const char* bytes = nullptr;
    std::size_t size = 0;
    if (document != nullptr) {
        bytes = reinterpret_cast<const char*>(document->data());
        size = std::min<std::size_t>(document->size(), INT32_MAX);
    } else {
        // A missing file would only be reported as a generic I/O error; say what is wrong.
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> probe(std::fopen(name.c_str(), "rb"), &std::fclose);
        if (!probe) return {Status::kCannotRead, name + ": " + std::strerror(errno)};
        input.reset(xmlParserInputBufferCreateFilename(name.c_str(), XML_CHAR_ENCODING_NONE));
        if (!input || input->readcallback == nullptr) return {Status::kCannotRead, name};
        read(4);
        bytes = buffer.data();
        size = buffer.size();
    }
    const std::size_t head = size >= 4 ? 4 : 0;
    xmlSAXHandler sax;
    xmlSAXVersion(&sax, 2);
    sax.startElementNs = &OnStartElement;
    sax.endElementNs = &OnEndElement;
    sax.characters = &OnText;
    sax.ignorableWhitespace = &OnText;
    sax.cdataBlock = &OnCdata;
    sax.reference = &OnReference;
    sax.comment = &OnComment;
    sax.processingInstruction = &OnInstruction;
    struct ParserFree {
        void operator()(xmlParserCtxtPtr parser) const {
            if (parser->myDoc != nullptr) xmlFreeDoc(parser->myDoc);
            xmlFreeParserCtxt(parser);
        }
    };
    std::unique_ptr<xmlParserCtxt, ParserFree> parser(
        xmlCreatePushParserCtxt(&sax, nullptr, head != 0 ? bytes : nullptr, static_cast<int>(head), name.c_str()));
    if (!parser) return {Status::kCannotRead, name};
    parser_ = parser.get();
    parser_->_private = this;
    xmlCtxtUseOptions(parser_, XML_PARSE_NONET | XML_PARSE_COMPACT);
    parser_->linenumbers = 1;
    parser_->dictNames = 1;
    errors.Attach(parser_);

    bool pushed_all = false;
    if (document != nullptr) {
        // Bytes in memory: the rest after the last whole chunk goes alone, then one empty push
        // before the last (it can move where the parser reports trailing garbage).
        std::size_t at = head;
        for (; at < size; at += kChunk)
            if (!Push(bytes + at, std::min(kChunk, size - at), false)) return result_;
        pushed_all = Push(bytes + size, 0, false) && Push(bytes + size, 0, true);
    } else {
        // From a file, what is left when the file ends goes with the last push.
        std::size_t at = head;
        for (;;) {
            if (buffer.size() - at < kChunk) {
                buffer.erase(0, at);
                at = 0;
                read(kRead);
                if (end_of_file) break;
            }
            const std::size_t n = std::min(kChunk, buffer.size() - at);
            if (!Push(buffer.data() + at, n, false)) return result_;
            at += n;
        }
        pushed_all = Push(buffer.data() + at, buffer.size() - at, true);
    }
    if (pushed_all && errors.HasError()) result_ = {Status::kMalformed, name + " " + errors.First()};
    return result_;
}

}  // namespace edi
