#include <gtest/gtest.h>

#include <string>

#include "support/TestSupport.h"
#include "transfer/MailAttachment.h"

namespace edi {
namespace {

class StringSink final : public AttachmentSink {
public:
    bool Write(const char* data, std::size_t size) override {
        bytes.append(data, size);
        return true;
    }
    bool Restart() override {
        bytes.clear();
        return true;
    }
    std::string bytes;
};

// A mail of a text part and the given parts, each "headers\r\n\r\nbody".
std::string Mixed(const std::vector<std::string>& parts, const std::string& eol = "\r\n") {
    std::string mail = "From: partner@example.com" + eol + "Content-Type: multipart/mixed; boundary=\"b 1\"" + eol +
                       eol + "preamble" + eol + "--b 1" + eol + "Content-Type: text/plain" + eol + eol + "hello" + eol;
    for (const std::string& part : parts) mail += "--b 1" + eol + part + eol;
    return mail + "--b 1--" + eol + "epilogue" + eol;
}

TEST(MailAttachmentTest, TakesTheAttachmentPartAndUndoesItsEncodingStrictly) {
    const std::string cii("UNB\x82\xa0\r\nEND\0\xff\n", 13);
    const std::string b64 = "VU5CgqANCkVORAD/Cg==";  // cii in base64
    const std::string att =
        "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; "
        "filename=\"a.CII\"\r\nContent-Transfer-Encoding: ";
    using enum AttachmentStatus;
    struct Row {
        const char* name;
        std::string mail;
        AttachmentStatus status;
        std::string bytes;  // stored when complete
        const char* detail = "";
    };
    const Row rows[] = {
        {"base64 attachment", Mixed({att + "base64\r\n\r\nVU5CgqAN\r\nCkVORAD/\r\nCg=="}), kComplete, cii},
        {"LF line ends as a store keeps them",
         Mixed({"Content-Disposition: attachment\nContent-Transfer-Encoding: "
                "base64\n\n" +
                b64},
               "\n"),
         kComplete, cii},
        {"inline parts only",
         Mixed({"Content-Type: text/html\r\nContent-Disposition: inline; filename=x.html\r\n\r\n<p>hi</p>"}), kNone, "",
         "no part is an attachment"},
        {"no MIME at all", "From: partner@example.com\r\n\r\nUNB body text\r\n", kNone, ""},
        {"damaged base64", Mixed({att + "base64\r\n\r\nVU5CgqAN\r\nCk*ORAD/\r\nCg=="}), kDamaged, "",
         "character 0x2A '*' at byte 12 is not base64"},
        {"base64 cut inside a group", Mixed({att + "base64\r\n\r\nVU5CgqANCkVORAD/Cg="}), kDamaged, "",
         "ends inside a group"},
        {"base64 text after the padding", Mixed({att + "base64\r\n\r\n" + b64 + "QUJD"}), kDamaged, "",
         "after the padding"},
        {"quoted-printable", Mixed({att + "quoted-printable\r\n\r\nUNB=82=a0  \r\nEND=00=FF=\r\n=0A"}), kComplete, cii},
        {"damaged quoted-printable", Mixed({att + "quoted-printable\r\n\r\nUNB=8G"}), kDamaged, "", "non-hex"},
        {"unknown encoding", Mixed({att + "x-uuencode\r\n\r\nbegin 644 a"}), kDamaged, "",
         "unknown transfer encoding x-uuencode"},
        {"8bit kept byte for byte", Mixed({att + "8bit\r\n\r\n" + std::string(cii, 0, 12)}), kComplete,
         std::string(cii, 0, 12)},
        {"named non-text part without disposition",
         Mixed({"Content-Type: application/xml; name=\"o.XML\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + b64}),
         kComplete, cii},
        {"an attachment part wins over a named one",
         Mixed({"Content-Type: image/png; name=logo.png\r\n\r\nPNG", att + "base64\r\n\r\n" + b64}), kComplete, cii},
        {"the first attachment part is taken", Mixed({att + "base64\r\n\r\n" + b64, att + "7bit\r\n\r\nsecond"}),
         kComplete, cii},
        {"nested multipart, lines that only look like boundaries",
         "Content-Type: multipart/mixed; boundary=out\r\n\r\n--out\r\nContent-Type: multipart/alternative; "
         "boundary=in\r\n\r\n--in\r\n\r\ntext\r\n--in\r\nContent-Type: text/html\r\n\r\n<p/>\r\n--in--\r\n--out\r\n" +
             att + "7bit\r\n\r\n--outer\r\n--in\r\n--out-x\r\n--out--\r\n",
         kComplete, "--outer\r\n--in\r\n--out-x"},
        {"single-part attachment", "Content-Disposition: attachment\r\nContent-Transfer-Encoding: base64\r\n\r\n" + b64,
         kComplete, cii},
        {"mail cut inside the attachment",
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n" + att + "base64\r\n\r\n" + b64 + "\r\n", kDamaged,
         "", "closing boundary"},
    };
    for (const Row& row : rows) {
        // The same outcome whatever pieces the mail arrives in.
        for (const std::size_t piece : {row.mail.size(), std::size_t{1}, std::size_t{7}}) {
            SCOPED_TRACE(std::string(row.name) + ", pieces of " + std::to_string(piece));
            StringSink sink;
            AttachmentExtractor extractor(sink);
            for (std::size_t i = 0; i < row.mail.size(); i += piece) {
                extractor.Write(row.mail.data() + i, std::min(piece, row.mail.size() - i));
            }
            EXPECT_EQ(extractor.Finish(), row.status) << extractor.detail();
            if (row.status == kComplete) {
                EXPECT_EQ(sink.bytes, row.bytes);
            }
            EXPECT_NE(extractor.detail().find(row.detail), std::string::npos) << extractor.detail();
        }
    }
}

TEST(MailAttachmentTest, FileAppearsOnlyWhenCommittedWhole) {
    test::TempDir dir;
    const auto destination = dir / "00000012_RCV_ABC.CII";
    test::WriteFile(destination, std::string_view("older"));
    {
        AttachmentFile file(destination);
        ASSERT_TRUE(file.Write("first", 5));
        ASSERT_TRUE(file.Restart());
        ASSERT_TRUE(file.Write("new", 3));
        EXPECT_EQ(test::ReadText(destination), "older");  // not before the commit
    }
    EXPECT_EQ(test::ReadText(destination), "older");  // dropped without a commit
    AttachmentFile file(destination);
    ASSERT_TRUE(file.Write("new", 3));
    ASSERT_TRUE(file.Commit()) << file.error();
    EXPECT_EQ(test::ReadText(destination), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    AttachmentFile nowhere(dir / "missing" / "x.CII");
    EXPECT_FALSE(nowhere.Write("x", 1));
    EXPECT_NE(nowhere.error().find("No such file or directory"), std::string::npos) << nowhere.error();
}

}  // namespace
}  // namespace edi
