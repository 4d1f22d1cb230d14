// The public e-mail object end to end, through its public members only: e-mails of every shape
// are built, rendered, saved, loaded back and inspected, and what comes back must be what was
// put in. Python's email package reads every saved file too, so a second, independent reader
// agrees with the first. Attachments saved to disk never leave the directory they are saved
// into, whatever names they carry.

#include "facade/ClsEmail.h"

#include "charset/ContentCoding.h"
#include "common/FileAccess.h"
#include "support/TestDirs.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <vector>

using namespace norvane;

namespace {

const std::string kScript = std::string(NORVANE_SOURCE_DIR) + "/tests/interop/email/check_email.py";
const std::string kNvmail = std::string(NORVANE_BINARY_DIR) + "/tools/nvmail";

std::span<const uint8_t> bytes(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string json(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

struct Item {
    std::string name; // file name (attachments) or Content-ID without brackets (inline)
    std::string type;
    std::string data;
};

// What was put into one e-mail; checked against the reloaded object and against Python.
struct Shape {
    std::string file{};
    std::string structure{};
    std::string subject{};
    std::string from{};                                    // display form
    std::vector<std::pair<std::string, std::string>> to{}; // (name, address)
    std::string plain{};                                   // empty: none
    std::string html{};                                    // a piece the HTML body must hold
    std::vector<Item> attachments{};
    std::vector<Item> inlineItems{};
    int attachedMessages = 0;
    std::string charset{};
    // Whether nvmail show must list what Python finds (not for items inside attached messages).
    bool show = true;

    std::string expectJson() const {
        std::string j = "{\"structure\": " + json(structure) + ", \"subject\": " + json(subject);
        if (!to.empty()) {
            j += ", \"to\": [";
            for (size_t i = 0; i < to.size(); ++i)
                j += (i ? ", [" : "[") + json(to[i].first) + ", " + json(to[i].second) + "]";
            j += "]";
        }
        if (!plain.empty())
            j += ", \"text\": " + json(plain);
        if (!html.empty())
            j += ", \"html_contains\": " + json(html);
        auto list = [&j](const char* key, const char* nameKey, const std::vector<Item>& items,
                         bool brackets) {
            j += std::string(", \"") + key + "\": [";
            for (size_t i = 0; i < items.size(); ++i) {
                const std::string name = brackets ? "<" + items[i].name + ">" : items[i].name;
                j += std::string(i ? ", {\"" : "{\"") + nameKey + "\": " + json(name) +
                     ", \"content_type\": " + json(items[i].type) +
                     ", \"data\": " + json(ContentCoding::base64Encode(bytes(items[i].data))) + "}";
            }
            j += "]";
        };
        list("attachments", "filename", attachments, false);
        list("inline", "cid", inlineItems, true);
        return j + (show ? ", \"show\": true}\n" : "}\n");
    }
};

// Everything a reader can ask the object about the shape, compared with what was put in.
void expectSame(ClsEmail& e, const Shape& s) {
    SCOPED_TRACE(s.file);
    EXPECT_EQ(e.get_Subject(), s.subject);
    EXPECT_EQ(e.get_From(), s.from);
    ASSERT_EQ(e.get_NumTo(), static_cast<int>(s.to.size()));
    for (int i = 0; i < e.get_NumTo(); ++i) {
        EXPECT_EQ(e.GetToName(i), s.to[static_cast<size_t>(i)].first);
        EXPECT_EQ(e.GetToAddr(i), s.to[static_cast<size_t>(i)].second);
    }
    EXPECT_EQ(e.GetPlainTextBody(), s.plain);
    EXPECT_EQ(e.HasPlainTextBody(), !s.plain.empty());
    EXPECT_EQ(e.HasHtmlBody(), !s.html.empty());
    if (!s.html.empty()) {
        EXPECT_NE(e.GetHtmlBody().find(s.html), std::string::npos) << e.GetHtmlBody();
    }
    ASSERT_EQ(e.get_NumAttachments(), static_cast<int>(s.attachments.size()));
    for (int i = 0; i < e.get_NumAttachments(); ++i) {
        const Item& a = s.attachments[static_cast<size_t>(i)];
        EXPECT_EQ(e.GetAttachmentFilename(i), a.name);
        EXPECT_EQ(e.GetAttachmentContentType(i), a.type);
        EXPECT_EQ(e.GetAttachmentData(i).toString(), a.data);
        EXPECT_EQ(e.GetAttachmentSize(i), static_cast<long>(a.data.size()));
    }
    ASSERT_EQ(e.get_NumRelatedItems(), static_cast<int>(s.inlineItems.size()));
    for (int i = 0; i < e.get_NumRelatedItems(); ++i) {
        const Item& r = s.inlineItems[static_cast<size_t>(i)];
        EXPECT_EQ(e.GetRelatedContentID(i), "<" + r.name + ">");
        EXPECT_EQ(e.GetRelatedData(i).toString(), r.data);
    }
    EXPECT_EQ(e.get_NumAttachedMessages(), s.attachedMessages);
    if (!s.charset.empty()) {
        EXPECT_EQ(e.get_Charset(), s.charset);
    }
}

std::string binary(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 7 + 3);
    return s;
}

class ClsEmailInteropTest : public ::testing::Test {
protected:
    // Renders, saves, reloads and compares one shape; leaves NAME.eml and NAME.json for Python.
    void roundTrip(ClsEmail& e, const Shape& s) {
        expectSame(e, s);
        const std::string mime = e.GetMime();
        const std::string path = dir_.file(s.file + ".eml");
        ASSERT_TRUE(e.SaveEml(path.c_str())) << e.get_LastErrorText();
        EXPECT_EQ(test::readFile(path), mime);
        ClsEmail loaded;
        ASSERT_TRUE(loaded.LoadEml(path.c_str()));
        expectSame(loaded, s);
        // What was read renders to text that reads back the same once more.
        ClsEmail again;
        ASSERT_TRUE(again.SetFromMimeText(loaded.GetMime().c_str()));
        expectSame(again, s);
        ASSERT_TRUE(file::writeWholeFile(dir_.file(s.file + ".json"), s.expectJson(), nullptr));
    }

    void checkWithPython() {
        std::string output;
        const std::string cmd = "python3 " + kScript + " " + dir_.path() + " " + kNvmail + " 2>&1";
        FILE* pipe = ::popen(cmd.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
            output.append(buf, n);
        EXPECT_EQ(::pclose(pipe), 0) << output;
        EXPECT_NE(output.find("checked"), std::string::npos) << output;
    }

    test::TempDir dir_;
};

} // namespace

TEST_F(ClsEmailInteropTest, EveryShapeComesBackAsItWasBuilt) {
    const std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<<>>\nendobj\n";
    const std::string png = "\x89PNG\r\n\x1A\n" + binary(600);
    const std::string txt = "line one\r\nline two caf\xC3\xA9\r\n=not an escape\r\n";
    const std::vector<std::pair<Shape, std::function<void(ClsEmail&, Shape&)>>> shapes = {
        {{.file = "01_plain",
          .structure = "text/plain",
          .subject = "Plain text",
          .from = "\"Ann Lee\" <ann@example.com>",
          .to = {{"", "bob@example.com"}},
          .plain = "Hello Bob,\r\nthis is plain text.\r\n"},
         [](ClsEmail& e, Shape& s) {
             e.put_From("Ann Lee <ann@example.com>");
             EXPECT_TRUE(e.AddTo("", "bob@example.com"));
             e.put_Subject(s.subject.c_str());
             e.put_Body(s.plain.c_str());
         }},
        {{.file = "02_html",
          .structure = "text/html",
          .subject = "HTML only",
          .html = "<p>Hello <b>HTML</b></p>"},
         [](ClsEmail& e, Shape& s) {
             e.put_Subject(s.subject.c_str());
             EXPECT_TRUE(e.SetHtmlBody(s.html.c_str()));
         }},
        {{.file = "03_alternative",
          .structure = "multipart/alternative(text/plain,text/html)",
          .subject = "Two versions",
          .plain = "Plain version",
          .html = "<i>HTML version</i>"},
         [](ClsEmail& e, Shape& s) {
             e.put_Subject(s.subject.c_str());
             e.put_Body(s.plain.c_str());
             EXPECT_TRUE(e.AddHtmlAlternativeBody(s.html.c_str()));
         }},
        {{.file = "04_related",
          .structure = "multipart/related(text/html,image/png,application/pdf)",
          .subject = "Inline items",
          .html = "<img src=\"cid:"},
         [&](ClsEmail& e, Shape& s) {
             e.put_Subject(s.subject.c_str());
             EXPECT_TRUE(e.SetHtmlBody("<p>pictures</p>"));
             const std::string c1 = e.AddRelatedData(bytes(png), "one.png");
             const std::string c2 = e.AddRelatedData(bytes(pdf), "doc.pdf");
             EXPECT_TRUE(e.SetHtmlBody(
                 ("<img src=\"cid:" + c1 + "\"><a href=\"cid:" + c2 + "\">doc</a>").c_str()));
             s.inlineItems = {{c1, "image/png", png}, {c2, "application/pdf", pdf}};
         }},
        {{.file = "05_mixed",
          .structure = "multipart/mixed(text/plain,application/pdf,image/png,text/plain)",
          .subject = "Three attachments",
          .plain = "See the three files.",
          .attachments = {{"report.pdf", "application/pdf", pdf},
                          {"photo.png", "image/png", png},
                          {"notes.txt", "text/plain", txt}}},
         [](ClsEmail& e, Shape& s) {
             e.put_Subject(s.subject.c_str());
             e.put_Body(s.plain.c_str());
             for (const Item& a : s.attachments)
                 EXPECT_EQ(e.AddDataAttachment(bytes(a.data), a.name.c_str()), a.type);
         }},
        {{.file = "06_everything",
          .structure = "multipart/mixed(multipart/related(multipart/alternative(text/plain,"
                       "text/html),image/png),application/pdf)",
          .subject = "All of it",
          .plain = "The plain words",
          .html = "<b>The HTML words</b>",
          .attachments = {{"report.pdf", "application/pdf", pdf}}},
         [&](ClsEmail& e, Shape& s) {
             e.put_Subject(s.subject.c_str());
             e.put_Body(s.plain.c_str());
             EXPECT_TRUE(e.AddHtmlAlternativeBody(s.html.c_str()));
             const std::string cid = e.AddRelatedData(bytes(png), "logo.png");
             s.inlineItems = {{cid, "image/png", png}};
             EXPECT_EQ(e.AddDataAttachment(bytes(pdf), "report.pdf"), "application/pdf");
         }},
        {{.file = "07_cjk",
          .structure = "text/plain",
          .subject = "\xE4\xBD\xA0\xE5\xA5\xBD",
          .plain = "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C\r\n",
          .charset = "gb2312"},
         [](ClsEmail& e, Shape& s) {
             e.put_Subject(s.subject.c_str());
             e.put_Body(s.plain.c_str());
         }},
    };
    for (const auto& [shape, build] : shapes) {
        Shape s = shape;
        ClsEmail e;
        build(e, s);
        roundTrip(e, s);
    }
    checkWithPython();
}

TEST_F(ClsEmailInteropTest, NonAsciiTextInFiveCharsets) {
    const std::pair<const char*, const char*> cases[] = {
        {"iso-8859-1", "Gr\xC3\xBC\xC3\x9F"
                       "e aus K\xC3\xB6ln"},
        {"iso-8859-2",
         "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84"},
        {"windows-1251",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80"},
        {"iso-8859-7", "\xCE\x93\xCE\xB5\xCE\xB9\xCE\xB1 \xCF\x83\xCE\xBF\xCF\x85"},
        {"shift_jis", "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF"},
    };
    int n = 0;
    for (const auto& [charset, word] : cases) {
        const std::string w = word;
        ClsEmail e;
        e.put_Charset(charset);
        e.put_From((w + " <from@example.com>").c_str());
        EXPECT_TRUE(e.AddTo(w.c_str(), "to@example.com"));
        e.put_Subject(("Re: " + w).c_str());
        e.put_Body((w + "\r\n" + w + "\r\n").c_str());
        EXPECT_TRUE(e.AddStringAttachment((w + ".txt").c_str(), "payload"));
        Shape s{.file = "10_charset_" + std::to_string(++n),
                .structure = "multipart/mixed(text/plain,text/plain)",
                .subject = "Re: " + w,
                .from = "\"" + w + "\" <from@example.com>",
                .to = {{w, "to@example.com"}},
                .plain = w + "\r\n" + w + "\r\n",
                .attachments = {{w + ".txt", "text/plain", "payload"}}};
        roundTrip(e, s);
    }
    checkWithPython();
}

TEST_F(ClsEmailInteropTest, AttachedMessageRoundTrips) {
    ClsEmail inner;
    inner.put_From("Inner <inner@example.com>");
    inner.put_Subject("The forwarded one");
    inner.put_Body("inner words\r\n");
    EXPECT_TRUE(inner.AddStringAttachment("inner.txt", "inner attachment"));
    const std::string innerMime = inner.GetMime();

    const std::string outerMime = "MIME-Version: 1.0\r\nSubject: Outer\r\n"
                                  "Content-Type: multipart/mixed; boundary=\"outer-b\"\r\n\r\n"
                                  "--outer-b\r\nContent-Type: text/plain\r\n\r\nsee below\r\n"
                                  "--outer-b\r\nContent-Type: message/rfc822\r\n\r\n" +
                                  innerMime + "\r\n--outer-b--\r\n";
    ClsEmail outer;
    ASSERT_TRUE(outer.SetFromMimeText(outerMime.c_str()));
    Shape s{.file = "20_attached_message",
            .structure = "multipart/mixed(text/plain,message/rfc822)",
            .subject = "Outer",
            .plain = "see below",
            .attachedMessages = 1};
    roundTrip(outer, s);
    // Python looks inside the attached message as well, where the inner attachment is.
    Shape python = s;
    python.structure = "multipart/mixed(text/plain,message/rfc822(multipart/mixed(text/plain,"
                       "text/plain)))";
    python.attachments = {{"inner.txt", "text/plain", "inner attachment"}};
    python.show = false;
    ASSERT_TRUE(file::writeWholeFile(dir_.file(s.file + ".json"), python.expectJson(), nullptr));

    ClsEmail reloaded;
    ASSERT_TRUE(reloaded.LoadEml(dir_.file("20_attached_message.eml").c_str()));
    auto got = reloaded.GetAttachedMessage(0);
    ASSERT_NE(got, nullptr);
    expectSame(*got, Shape{.file = "inner",
                           .subject = "The forwarded one",
                           .from = "\"Inner\" <inner@example.com>",
                           .plain = "inner words\r\n",
                           .attachments = {{"inner.txt", "text/plain", "inner attachment"}}});
    checkWithPython();
}

TEST_F(ClsEmailInteropTest, HostileAttachmentNamesStayInTheTargetDirectory) {
    const char* hostile[] = {"../../x", "/etc/x", "a/b/c.txt", "C:\\x\\y.txt", ".."};
    ClsEmail e;
    e.put_Body("files");
    // Each attachment holds its own name, so every saved file shows where it came from.
    for (const char* name : hostile)
        ASSERT_TRUE(e.AddStringAttachment("placeholder.bin", name));
    for (int i = 0; i < e.get_NumAttachments(); ++i)
        ASSERT_TRUE(e.SetAttachmentFilename(i, hostile[i]));
    // The names survive a trip through a file, as they would arrive from a sender.
    const std::string eml = dir_.file("hostile.eml");
    ASSERT_TRUE(e.SaveEml(eml.c_str()));
    ClsEmail loaded;
    ASSERT_TRUE(loaded.LoadEml(eml.c_str()));
    ASSERT_EQ(loaded.get_NumAttachments(), 5);
    EXPECT_EQ(loaded.GetAttachmentFilename(0), "../../x");

    const std::string target = dir_.file("deep/target");
    const std::string cwd = file::currentDirectory();
    ASSERT_TRUE(loaded.SaveAllAttachments(target.c_str())) << loaded.get_LastErrorText();
    EXPECT_EQ(file::currentDirectory(), cwd);
    std::set<std::string> names;
    if (DIR* d = ::opendir(target.c_str())) {
        while (const dirent* ent = ::readdir(d))
            if (std::string_view(ent->d_name) != "." && std::string_view(ent->d_name) != "..")
                names.insert(ent->d_name);
        ::closedir(d);
    }
    // The second "x" found the first in place and got a drawn name.
    std::set<std::string> drawn;
    for (const auto& n : names)
        if (std::regex_match(n, std::regex("x_[A-Z0-9]{4}\\.tmp")))
            drawn.insert(n);
    ASSERT_EQ(drawn.size(), 1u) << loaded.get_LastErrorText();
    EXPECT_EQ(names,
              (std::set<std::string>{"x", *drawn.begin(), "c.txt", "y.txt", "attachedFile.dat"}));
    EXPECT_EQ(test::readFile(target + "/x"), "../../x");
    EXPECT_EQ(test::readFile(target + "/" + *drawn.begin()), "/etc/x");
    EXPECT_EQ(loaded.GetAttachmentFilename(1), *drawn.begin());
    EXPECT_EQ(test::readFile(target + "/c.txt"), "a/b/c.txt");
    EXPECT_EQ(test::readFile(target + "/y.txt"), "C:\\x\\y.txt");
    EXPECT_EQ(test::readFile(target + "/attachedFile.dat"), "..");
    EXPECT_FALSE(file::fileExists(dir_.file("x")));
    EXPECT_FALSE(file::fileExists(dir_.file("deep/x")));
    EXPECT_FALSE(file::fileExists(cwd + "/x"));
}
