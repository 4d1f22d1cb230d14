// Transfer encodings against Python's email package: Python decodes what our encoders write,
// and our decoders read what Python's encoders write.
#include "charset/Charset.h"
#include "charset/ContentCoding.h"
#include "charset/EncodingConvert.h"
#include "charset/Uu.h"
#include "common/FileAccess.h"
#include "mime/Rfc822Address.h"
#include "support/Bytes.h"
#include "support/RunCommand.h"
#include "support/TestDirs.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <vector>

using namespace norvane;
using namespace norvane::test;

namespace {

const std::string kScript =
    std::string(NORVANE_SOURCE_DIR) + "/tests/interop/coding/email_interop.py";

// Runs the helper script and returns its standard output lines.
std::vector<std::string> runPython(const std::string& args) {
    std::string out;
    EXPECT_EQ(test::runCommand("python3 " + kScript + " " + args, &out), 0) << args;
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct Message {
    std::string subjectUtf8; // what Python should read from the Subject
    std::string body;        // what Python should read from the body
    std::string text;        // the message we wrote
};

Message message(std::string subjectUtf8, std::string subjectField, std::string cte,
                std::string body, std::string encodedBody) {
    Message m{std::move(subjectUtf8), std::move(body), ""};
    m.text = "Subject: " + subjectField + "\r\nMIME-Version: 1.0\r\n" +
             "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: " + cte +
             "\r\n\r\n" + encodedBody;
    return m;
}

// Writes each message to a file, has Python parse them all and compares what it read.
void expectPythonReads(const std::vector<Message>& messages) {
    test::TempDir dir;
    std::string args = "parse";
    for (size_t i = 0; i < messages.size(); ++i) {
        std::string path = dir.file("m" + std::to_string(i) + ".eml");
        ASSERT_TRUE(file::writeWholeFile(path, messages[i].text, nullptr)) << path;
        args += " " + path;
    }
    std::vector<std::string> lines = runPython(args);
    ASSERT_EQ(lines.size(), messages.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        std::istringstream in(lines[i]);
        std::string subject, body;
        in >> subject >> body;
        EXPECT_EQ(fromHex(subject), messages[i].subjectUtf8) << messages[i].text.substr(0, 300);
        EXPECT_EQ(fromHex(body), messages[i].body) << messages[i].text.substr(0, 300);
    }
}

struct Sample {
    std::string kind, expected, encoded;
};

std::vector<Sample> pythonSamples(const std::string& kind) {
    test::TempDir dir;
    std::string path = dir.file("samples.txt");
    runPython("make " + path);
    std::vector<Sample> samples;
    std::istringstream in(test::readFile(path));
    for (std::string k, e, x; in >> k >> e >> x;)
        if (k == kind)
            samples.push_back({k, fromHex(e), fromHex(x)});
    EXPECT_FALSE(samples.empty()) << kind;
    return samples;
}

const std::vector<std::pair<std::string, std::string>> kSubjects = {
    {"Grüße aus Köln: die Größe der Übung ist äußerst schön, sagt Jürgen", "utf-8"},
    {"Zażółć gęślą jaźń, Łódź i Wrocław", "iso-8859-2"},
    {"Привет, это проверка длинной темы письма", "windows-1251"},
    {"Привет, это проверка длинной темы письма", "koi8-r"},
    {"日本語の件名をいくつかの符号化された単語に分割するテストです", "shift_jis"},
    {"日本語の件名をいくつかの符号化された単語に分割するテストです", "iso-2022-jp"},
    {"这是一个用于测试编码词分割的较长中文邮件主题行", "gb2312"},
    {"這是一個用於測試編碼詞分割的較長中文郵件主題行", "big5"},
    {"Symbols ?_= (and) \"quotes\", all sent", "utf-8"},
};

} // namespace

TEST(PythonEmailTest, PythonDecodesOurEncodedWords) {
    std::vector<Message> messages;
    for (const auto& [text, charset] : kSubjects) {
        std::string bytes = fromUtf8(text, charset);
        std::string q, b, one, header;
        ContentCoding::encodeWordsQ(bytes, charset, q);
        ContentCoding::encodeWordsB(bytes, charset, b);
        ContentCoding::encodeWordQ(bytes, charset, one);
        ContentCoding::encodeHeaderText(bytes, charset, header);
        for (const std::string& field : {q, b, one, header})
            messages.push_back(message(text, field, "7bit", "", ""));
    }
    expectPythonReads(messages);
}

TEST(PythonEmailTest, PythonDecodesOurQuotedPrintableAndBase64Bodies) {
    std::vector<std::string> bodies = {
        "From the start\r\n.\r\nFrom here. And a line with trailing blanks   \r\nand tabs\t\t\r\n"
        "end with a space ",
        std::string(300, 'x') + "\r\n" + std::string(150, '=') + "\r\n" + std::string(200, ' ') +
            "y",
        "Grüße, café, naïve, Łódź — 日本語 " + std::string(100, 'z') + "\t\r\n\r\n\r\n",
        "=FF" + std::string("\xFF") + "FFFFE9 and x\xFF" + "ffffff",
    };
    std::mt19937 rng(5);
    for (int i = 0; i < 20; ++i) {
        std::string data(static_cast<size_t>(rng() % 400), '\0');
        for (char& c : data)
            c = static_cast<char>(rng() % 4 == 0 ? rng() & 0xFF : "ab \t\r\n.F="[rng() % 9]);
        bodies.push_back(data);
    }
    std::vector<Message> messages;
    for (const std::string& body : bodies) {
        std::string enc;
        ContentCoding::qpEncode(body, enc);
        messages.push_back(message("qp", "qp", "quoted-printable", body, enc));
    }
    for (size_t n : {0, 1, 2, 3, 53, 54, 55, 108, 1000, 4097}) {
        std::string data(n, '\0');
        for (char& c : data)
            c = static_cast<char>(rng() & 0xFF);
        std::string enc;
        ContentCoding::base64EncodeLines(data, enc);
        messages.push_back(message("b64", "b64", "base64", data, enc));
    }
    expectPythonReads(messages);
}

TEST(PythonEmailTest, WeDecodePythonEncodedWords) {
    for (const Sample& s : pythonSamples("header")) {
        std::string text = s.encoded;
        ContentCoding::decodeWordsToUtf8(text);
        EXPECT_EQ(text, s.expected) << s.encoded;
    }
}

TEST(PythonEmailTest, WeParsePythonAddresses) {
    for (const Sample& s : pythonSamples("address")) {
        auto a = Rfc822Address::parseAddress(s.encoded);
        ASSERT_TRUE(a) << s.encoded;
        std::string expected = s.expected;
        // Quote characters inside a quoted name are dropped with their backslashes.
        std::erase(expected, '"');
        EXPECT_EQ(a->getName() + "|" + a->getAddress(), expected) << s.encoded;
    }
}

TEST(PythonEmailTest, WeDecodePythonQuotedPrintableBase64AndUuencode) {
    for (const Sample& s : pythonSamples("qp")) {
        DataBuffer out;
        ContentCoding::qpDecode(s.encoded, out);
        EXPECT_EQ(out.toString(), s.expected) << s.encoded;
    }
    for (const Sample& s : pythonSamples("base64")) {
        DataBuffer out;
        ASSERT_TRUE(ContentCoding::base64DecodeStrict(s.encoded, out)) << s.encoded;
        EXPECT_EQ(out.toString(), s.expected);
    }
    for (const Sample& s : pythonSamples("uu")) {
        Uu uu;
        DataBuffer out;
        ASSERT_TRUE(uu.uuDecode(s.encoded, out));
        EXPECT_EQ(out.toString(), s.expected);
        EXPECT_EQ(uu.fileName(), "data.bin");
    }
}
