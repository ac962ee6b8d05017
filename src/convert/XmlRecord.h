// The XML form's records (JPMGH, JPTRM) as libxml2's push parser delivers them: XmlRecordReader
// parses a document with SAX callbacks and hands out each record, held in XmlRecordNodes, a few
// reused arrays of its elements, the text that can be a value and its entity references (expanded
// only when a value is read). Nothing outside a record is kept, nor the text standing directly in
// a record's structural elements (the record itself, its groups and occurrences), which is never
// a value, whitespace between elements mostly; no libxml2 node is built for the document.
#pragma once

#include <libxml/parser.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/XmlSupport.h"
#include "convert/codec/Codec.h"

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

class XmlRecordReader {
public:
    class Handler {
    public:
        // The root element has begun: what the document declares (encoding, DTD) is known.
        // False stops the reading (the handler has said why).
        virtual bool Begin(xmlDocPtr doc) = 0;
        // One whole record of Nodes(); false stops the reading.
        virtual bool Record(XmlRecordNodes::Index record) = 0;

    protected:
        ~Handler() = default;
    };
    enum class Status { kRead, kStopped, kCannotRead, kMalformed };
    struct Result {
        Status status = Status::kRead;
        std::string text;  // for kCannotRead and kMalformed: the name and what is wrong
    };

    // Reads the file, or the document in memory when one is given; name is the file's name or
    // the document's name in the messages. Records are handed out when libxml2's own reader
    // would hand them out, so a damaged document yields the records it always yielded. One
    // document a reader.
    Result Read(const std::string& name, const ByteView* document, Handler& handler);

    const XmlRecordNodes& Nodes() const { return nodes_; }
    xmlDocPtr Document() const { return parser_ != nullptr ? parser_->myDoc : nullptr; }

private:
    using Index = XmlRecordNodes::Index;
    // Pushes one chunk to the parser and hands out the records it may; false when the reading
    // ends here (result_ says why).
    bool Push(const char* bytes, std::size_t size, bool last);
    bool HandOut(bool all);
    void Followed() { followed_ = completed_.size(); }
    static XmlRecordReader* Of(void* ctx);
    static void OnStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                               int nb_namespaces, const xmlChar** namespaces, int nb_attributes, int nb_defaulted,
                               const xmlChar** attributes);
    static void OnEndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri);
    static void AddText(void* ctx, const xmlChar* text, int length, void (*build)(void*, const xmlChar*, int));
    static void OnText(void* ctx, const xmlChar* text, int length);
    static void OnCdata(void* ctx, const xmlChar* text, int length);
    static void OnReference(void* ctx, const xmlChar* name);
    static void OnComment(void* ctx, const xmlChar* text);
    static void OnInstruction(void* ctx, const xmlChar* target, const xmlChar* data);

    Handler* handler_ = nullptr;
    xmlParserCtxtPtr parser_ = nullptr;
    XmlErrorCollector* errors_ = nullptr;
    std::string name_;
    Result result_;
    XmlRecordNodes nodes_;
    // Records closed and not yet handed out; the first `followed_` of them have something after
    // them in the document, which the reader waits for.
    std::vector<XmlRecordNodes::Index> completed_;
    std::size_t followed_ = 0;
    bool root_seen_ = false;
    bool begun_ = false;
    bool element_started_ = false;  // in the chunk being parsed, also inside an entity
};

}  // namespace edi
