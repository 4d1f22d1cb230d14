#include "email/Email2.h"

#include "EmailTestSupport.h"
#include "charset/ContentCoding.h"
#include "common/Logger.h"
#include "mime/MimeMessage2.h"
#include "support/LogText.h"

using namespace norvane;
using namespace norvane::test;

namespace {

// "begin 644 NAME" block of data, uuencoded.
std::string uuencode(std::string_view name, std::string_view data, std::string_view mode = "666") {
    std::string out = "begin " + std::string(mode) + " " + std::string(name) + "\r\n";
    auto enc = [](unsigned v) { return static_cast<char>(v == 0 ? '`' : v + 32); };
    for (size_t i = 0; i < data.size(); i += 45) {
        const std::string_view line = data.substr(i, 45);
        out += enc(static_cast<unsigned>(line.size()));
        for (size_t j = 0; j < line.size(); j += 3) {
            unsigned b[3] = {0, 0, 0};
            for (size_t k = 0; k < 3 && j + k < line.size(); ++k)
                b[k] = static_cast<unsigned char>(line[j + k]);
            out += enc(b[0] >> 2);
            out += enc(((b[0] & 3) << 4) | (b[1] >> 4));
            out += enc(((b[1] & 15) << 2) | (b[2] >> 6));
            out += enc(b[2] & 63);
        }
        out += "\r\n";
    }
    out += "`\r\nend\r\n";
    return out;
}

// Stands in for the security layer: it records the call and reports what it is told to.
class RecordingUnwrapper : public SecurityUnwrapper {
public:
    void unwrap(MimeMessage2& entity, bool saveCerts, SecurityOutcome& out, LogBase&) override {
        ++calls;
        sawSaveCerts = saveCerts;
        if (entity.contentType() == "application/pkcs7-mime") {
            out.secured = true;
            out.numSigned = 1;
            out.numEncrypted = 1;
            out.decrypted = false;
        }
    }
    int calls = 0;
    bool sawSaveCerts = false;
};

} // namespace

class Email2FromMimeTest : public DeterministicEmailTest {};

TEST_F(Email2FromMimeTest, RenderedEmailRoundTripsByteForByte) {
    Email2 e;
    ASSERT_TRUE(e.setFrom("Ann <ann@example.com>"));
    ASSERT_TRUE(e.addTo("Bob", "bob@example.com"));
    ASSERT_TRUE(e.addCc("", "carl@example.com"));
    e.setHeaderField("subject", "Status report");
    e.setBody("Hello Bob,\r\nsee the report.\r\n", false);
    e.addAlternative(Email2::makeHtmlAlternativePart("<p>Hello <b>Bob</b></p>", Charset()));
    std::string cid;
    e.addRelatedData("logo.png", DataBuffer(std::string_view("\x89PNG\r\n\x1A\n")), cid);
    (void)e.addDataAttachment("data.bin", DataBuffer(std::string(300, '\x07')), "");
    const std::string first = render(e);
    auto back = parse(first);
    EXPECT_EQ(render(*back), first);
    EXPECT_EQ(back->numAttachments(), 1);
    EXPECT_EQ(back->numRelatedItems(), 1);
    EXPECT_EQ(back->relatedItem(0)->contentId(), cid);
    EXPECT_EQ(back->numRecipients(RecipientKind::To), 1);
    EXPECT_EQ(back->numRecipients(RecipientKind::Cc), 1);
    EXPECT_EQ(back->from()->getAddress(), "ann@example.com");
    EXPECT_EQ(back->getBody().toString(), "Hello Bob,\r\nsee the report.\r\n");
    EXPECT_EQ(back->date(), e.date());
}

TEST_F(Email2FromMimeTest, NonAsciiTextRoundTripsThroughItsCharset) {
    Email2 e;
    e.setHeaderField("subject", "Gr\xC3\xBC\xC3\x9F"
                                "e");
    e.setBody("Gr\xC3\xBC\xC3\x9F"
              "e aus K\xC3\xB6ln",
              false);
    const std::string first = render(e);
    EXPECT_NE(first.find("subject: =?iso-8859-1?Q?Gr=FC=DFe?="), std::string::npos) << first;
    auto back = parse(first);
    EXPECT_EQ(field(*back, "subject"), "Gr\xC3\xBC\xC3\x9F"
                                       "e");
    EXPECT_EQ(back->getBody().toString(), "Gr\xC3\xBC\xC3\x9F"
                                          "e aus K\xC3\xB6ln");
    EXPECT_EQ(back->charset().getCodePage(), 28591);
    EXPECT_EQ(render(*back), first);
}

TEST_F(Email2FromMimeTest, AddressesDateAndStructuredValuesAreTaken) {
    auto e = parse("From: \"Ann\" <ann@example.com>\r\n"
                   "To: a@example.com, B <b@example.com>\r\nCc: c@example.com\r\n"
                   "Bcc: d@example.com\r\nDate: Wed, 06 Mar 2024 08:00:00 -0500\r\n"
                   "Content-Type: text/plain; charset=\"UTF-8\"; format=flowed\r\n"
                   "Content-ID: <cid@x>\r\nContent-Transfer-Encoding: 8bit\r\n\r\nbody");
    EXPECT_EQ(e->from()->getAddress(), "ann@example.com");
    EXPECT_EQ(e->numRecipients(RecipientKind::To), 2);
    EXPECT_EQ(e->numRecipients(RecipientKind::Cc), 1);
    EXPECT_EQ(e->numRecipients(RecipientKind::Bcc), 1);
    EXPECT_EQ(e->date().day, 6);
    EXPECT_EQ(e->date().hour, 13);
    EXPECT_EQ(e->contentType(), "text/plain");
    EXPECT_EQ(e->charset().getCodePage(), 65001);
    EXPECT_EQ(e->contentId(), "<cid@x>");
    EXPECT_EQ(e->transferEncoding(), "8bit");
    EXPECT_TRUE(e->formatFlowed());
    // The header is copied as it came, order included.
    EXPECT_EQ(e->header().fieldAt(0)->name(), "From");
}

TEST_F(Email2FromMimeTest, SenderIsTheFirstMailboxOfFrom) {
    const struct {
        const char* from;
        const char* name;
        const char* address;
    } cases[] = {
        {"Ann <ann@example.com>, Bob <bob@example.org>", "Ann", "ann@example.com"},
        {"ann@example.com (Ann Lee)", "Ann Lee", "ann@example.com"},
        {"Lee, Ann <ann@example.com>", "Lee, Ann", "ann@example.com"},
        {"Mailer Daemon", "Mailer Daemon", ""}, // no address: the text is the name
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        auto e = parse(std::string("From: ") + c.from + "\r\n\r\nx");
        if (*c.address == '\0') {
            EXPECT_EQ(e->from(), nullptr);
            EXPECT_EQ(e->pendingFromName(), c.name);
            continue;
        }
        ASSERT_NE(e->from(), nullptr);
        EXPECT_EQ(e->from()->getName(), c.name);
        EXPECT_EQ(e->from()->getAddress(), c.address);
        EXPECT_EQ(e->header().fieldAt(0)->value(), c.from); // every author stays in the field
    }
}

TEST_F(Email2FromMimeTest, EmptyInputGivesAnEmptyEmail) {
    auto e = parse("");
    EXPECT_EQ(e->header().fieldCount(), 0);
    EXPECT_TRUE(e->body().isEmpty());
    EXPECT_EQ(render(*e), "\r\n"); // an empty header is the blank line alone
}

TEST_F(Email2FromMimeTest, MixedWithOnlyTextAndHtmlBecomesAlternative) {
    auto e = parse("Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                   "--b\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
                   "--b\r\nContent-Type: text/html\r\n\r\n<b>html</b>\r\n--b--\r\n");
    EXPECT_TRUE(e->isAlternative());
    EXPECT_EQ(e->boundary(), "b");
    EXPECT_EQ(e->numAlternatives(), 2);
    EXPECT_EQ(e->plainTextNode()->body().toString(), "plain");
    EXPECT_EQ(e->htmlNode()->body().toString(), "<b>html</b>");
}

TEST_F(Email2FromMimeTest, MixedWithTextHtmlAndMoreGetsANewFirstAlternative) {
    auto e = parse("Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                   "--b\r\nContent-Type: application/pdf; name=a.pdf\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n"
                   "--b\r\nContent-Type: text/html\r\n\r\n<b>html</b>\r\n"
                   "--b\r\nContent-Type: text/plain\r\n\r\nplain\r\n--b--\r\n");
    ASSERT_TRUE(e->isMixed());
    ASSERT_EQ(e->partCount(), 2);
    Email2* alt = e->partAt(0);
    ASSERT_TRUE(alt->isAlternative());
    EXPECT_EQ(alt->boundary(), test::testBoundary(1, "_.ALT"));
    // The two bodies keep their order.
    EXPECT_EQ(alt->partAt(0)->contentType(), "text/html");
    EXPECT_EQ(alt->partAt(1)->contentType(), "text/plain");
    EXPECT_EQ(e->numAttachments(), 1);
    EXPECT_EQ(e->attachmentAt(0)->body().toString(), "%PDF");
}

TEST_F(Email2FromMimeTest, HtmlAttachmentIsNotTakenForAnAlternative) {
    auto e = parse("Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                   "--b\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
                   "--b\r\nContent-Type: text/html\r\nContent-Disposition: attachment\r\n\r\n"
                   "<b>html</b>\r\n--b--\r\n");
    EXPECT_TRUE(e->isMixed());
    EXPECT_EQ(e->numAttachments(), 1);
}

TEST_F(Email2FromMimeTest, OutlookBegin666BlocksBecomeAttachmentsAndHtml) {
    const std::string body = "Hello there\r\n\r\n" + uuencode("notes.txt", "file one\n") + "\r\n" +
                             uuencode("page.htm", "<p>page</p>") + "\r\n" +
                             uuencode("data.bin", std::string("\x00\x01\x02", 3));
    auto e = parse("X-MimeOLE: Produced By Microsoft MimeOLE V6.00\r\n"
                   "Content-Type: text/plain\r\n\r\n" +
                   body);
    EXPECT_EQ(e->getBody().toString(), "Hello there");
    ASSERT_EQ(e->numAttachments(), 2);
    EXPECT_EQ(e->attachmentAt(0)->attachmentFilename(), "notes.txt");
    EXPECT_EQ(e->attachmentAt(0)->body().toString(), "file one\n");
    EXPECT_EQ(e->attachmentAt(0)->contentType(), "text/plain");
    EXPECT_EQ(e->attachmentAt(1)->attachmentFilename(), "data.bin");
    EXPECT_EQ(e->attachmentAt(1)->body().toString(), std::string("\x00\x01\x02", 3));
    ASSERT_NE(e->htmlNode(), nullptr);
    EXPECT_NE(e->htmlNode()->body().toString().find("<p>page</p>"), std::string::npos);
}

TEST_F(Email2FromMimeTest, Begin666WithoutMicrosoftMarkerStaysText) {
    const std::string body = "x\r\n" + uuencode("notes.txt", "file");
    auto e = parse("Content-Type: text/plain\r\n\r\n" + body);
    EXPECT_EQ(e->numAttachments(), 0);
    EXPECT_EQ(e->getBody().toString(), body);
}

TEST_F(Email2FromMimeTest, HasAttachUuencodedFileBecomesAnAttachmentAndTheTextStays) {
    const std::string body =
        "See <<report.txt>>\r\n\r\n" + uuencode("report.txt", "numbers", "644") + "Regards\r\n";
    auto e = parse("X-MS-Has-Attach: yes\r\nContent-Type: text/plain\r\n\r\n" + body);
    ASSERT_EQ(e->numAttachments(), 1);
    EXPECT_EQ(e->attachmentAt(0)->attachmentFilename(), "report.txt");
    EXPECT_EQ(e->attachmentAt(0)->body().toString(), "numbers");
    EXPECT_EQ(e->getBody().toString(), "See <<report.txt>>\r\n\r\nRegards\r\n");
}

TEST_F(Email2FromMimeTest, HasAttachBodyWithFilenameBecomesADataAttachment) {
    auto e = parse("X-MS-Has-Attach: yes\r\nContent-Type: application/vnd.ms-excel\r\n"
                   "Content-Disposition: attachment; filename=\"Sheet.xls\"\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\nAAEC\r\n");
    ASSERT_TRUE(e->isMixed());
    EXPECT_EQ(e->partAt(0)->contentType(), "text/plain");
    EXPECT_TRUE(e->partAt(0)->body().isEmpty());
    ASSERT_EQ(e->numAttachments(), 1);
    EXPECT_EQ(e->attachmentAt(0)->attachmentFilename(), "Sheet.xls");
    EXPECT_EQ(e->attachmentAt(0)->contentType(), "application/vnd.ms-excel");
    EXPECT_EQ(e->attachmentAt(0)->body().toString(), std::string("\x00\x01\x02", 3));
}

TEST_F(Email2FromMimeTest, ControlMailerTextIsReplacedInPlace) {
    auto e = parse("X-Mailer: Some ActiveX Mailer\r\nSubject: s\r\n\r\nx");
    EXPECT_EQ(e->header().fieldAt(0)->name(), "X-Mailer");
    EXPECT_EQ(field(*e, "X-Mailer"), Email2::defaultMailer());
    auto other = parse("X-Mailer: Thunderbird\r\n\r\nx");
    EXPECT_EQ(field(*other, "X-Mailer"), "Thunderbird");
}

TEST_F(Email2FromMimeTest, AppleDoubleIsReplacedByItsDataFork) {
    auto e = parse("Content-Type: multipart/mixed; boundary=m\r\n\r\n"
                   "--m\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
                   "--m\r\nContent-Type: multipart/appledouble; boundary=a\r\n\r\n"
                   "--a\r\nContent-Type: application/applefile\r\n\r\nRSRC\r\n"
                   "--a\r\nContent-Type: image/jpeg; name=pic.jpg\r\n"
                   "Content-Disposition: attachment; filename=pic.jpg\r\n\r\nJPEG\r\n--a--\r\n"
                   "--m--\r\n");
    ASSERT_EQ(e->partCount(), 2);
    EXPECT_EQ(e->partAt(1)->contentType(), "image/jpeg");
    EXPECT_EQ(e->partAt(1)->body().toString(), "JPEG");
    EXPECT_EQ(e->numAttachments(), 1);
}

TEST_F(Email2FromMimeTest, XUuencodePartsAreDecoded) {
    auto e = parse("Content-Type: multipart/mixed; boundary=m\r\n\r\n"
                   "--m\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
                   "--m\r\nContent-Type: application/octet-stream; name=f.bin\r\n"
                   "Content-Transfer-Encoding: x-uuencode\r\n"
                   "Content-Disposition: attachment; filename=f.bin\r\n\r\n" +
                   uuencode("f.bin", "payload", "644") + "--m--\r\n");
    ASSERT_EQ(e->numAttachments(), 1);
    EXPECT_EQ(e->attachmentAt(0)->body().toString(), "payload");
    EXPECT_EQ(e->attachmentAt(0)->transferEncoding(), "base64");
}

TEST_F(Email2FromMimeTest, ParseLimitsReachTheParser) {
    // How deep nesting is cut is the MIME tree's; this checks that the options get there.
    std::string text;
    for (int i = 0; i < 5; ++i)
        text += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" +
                std::to_string(i) + "\r\n";
    FromMimeOptions options;
    options.limits.maxDepth = 2;
    LogNull log;
    auto e = Email2::fromMime(text + "Content-Type: text/plain\r\n\r\ndeep\r\n", log, options);
    int depth = 0;
    for (const Email2* n = e.get(); n->partCount() > 0; n = n->partAt(0))
        ++depth;
    EXPECT_EQ(depth, 2);
}

TEST_F(Email2FromMimeTest, SecurityUnwrappingIsReportedInTheLog) {
    RecordingUnwrapper unwrapper;
    FromMimeOptions options;
    options.unwrapper = &unwrapper;
    options.saveCerts = true;
    Logger log;
    auto e = Email2::fromMime("From: a@example.com\r\nMessage-ID: <m1@x>\r\n"
                              "Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n"
                              "\r\nAAAA",
                              log, options);
    EXPECT_EQ(unwrapper.calls, 1);
    EXPECT_TRUE(unwrapper.sawSaveCerts);
    EXPECT_TRUE(e->security().secured);
    EXPECT_EQ(e->security().numEncrypted, 1);
    EXPECT_NE(logXml(log).find("<security>"), std::string::npos) << logXml(log);

    auto plain = Email2::fromMime("Subject: x\r\n\r\nbody", log);
    EXPECT_FALSE(plain->security().secured);
}

TEST_F(Email2FromMimeTest, EncodedDisplayNameWithACommaStaysOneAddress) {
    for (const char* to : {"=?utf-8?Q?M=C3=BCller=2C_Hans?= <h@example.com>, b@example.com",
                           "=?utf-8?Q?M=C3=BCller,_Hans?=\r\n <h@example.com>, b@example.com",
                           "\"=?utf-8?Q?M=C3=BCller,_Hans?=\" <h@example.com>, b@example.com"}) {
        auto e =
            parse(std::string("To: ") + to + "\r\nCc: =?utf-8?Q?A,_B?= <ab@example.com>\r\n\r\nx");
        ASSERT_EQ(e->numRecipients(RecipientKind::To), 2) << to;
        EXPECT_EQ(e->recipient(RecipientKind::To, 0)->getName(), "M\xC3\xBCller, Hans") << to;
        EXPECT_EQ(e->recipient(RecipientKind::To, 0)->getAddress(), "h@example.com");
        EXPECT_EQ(e->recipient(RecipientKind::To, 1)->getAddress(), "b@example.com");
        ASSERT_EQ(e->numRecipients(RecipientKind::Cc), 1);
        EXPECT_EQ(e->recipient(RecipientKind::Cc, 0)->getName(), "A, B");
    }
}

TEST_F(Email2FromMimeTest, RenderedNonAsciiNameWithACommaReadsBack) {
    Email2 e;
    Charset cs;
    cs.setByName("windows-1251");
    e.setCharset(cs);
    ASSERT_TRUE(e.addTo("\xD0\x9F\xD1\x80\xD0\xB8, \xD0\xBC\xD0\xB8\xD1\x80", "to@example.com"));
    ASSERT_TRUE(e.addTo("", "second@example.com"));
    auto back = parse(render(e));
    ASSERT_EQ(back->numRecipients(RecipientKind::To), 2);
    EXPECT_EQ(back->recipient(RecipientKind::To, 0)->getName(),
              "\xD0\x9F\xD1\x80\xD0\xB8, \xD0\xBC\xD0\xB8\xD1\x80");
}
