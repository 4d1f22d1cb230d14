#pragma once

// A fixed-seed generator of realistic e-mail for the MIME parser benchmark: mixed charsets
// (converted with the system's iconv), quoted-printable and base64 bodies, encoded-word
// headers, alternative, related and mixed multiparts nested up to four levels, and binary
// attachments. Generated at run time so that no megabytes are committed.

#include <iconv.h>

#include <cctype>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace mime_corpus {

struct Corpus {
    std::vector<std::string> messages;
    size_t totalBytes = 0;
};

class Generator {
public:
    explicit Generator(uint64_t seed) : rng_(seed) {}

    // count messages of 1-20 KB each.
    Corpus smallMessages(size_t count) {
        Corpus c;
        for (size_t i = 0; i < count; ++i)
            add(c, message(between(1024, 20 * 1024), i));
        return c;
    }

    // count messages each carrying one attachment of 1-20 MB.
    Corpus largeMessages(size_t count) {
        Corpus c;
        for (size_t i = 0; i < count; ++i)
            add(c, withAttachment(between(1, 20) * 1024 * 1024, i));
        return c;
    }

    // One message whose base64 attachment holds exactly attachmentBytes bytes.
    std::string withAttachment(size_t attachmentBytes, size_t n) {
        const Charset& cs = kCharsets[n % std::size(kCharsets)];
        const std::string b = boundary(n, 0);
        std::string m = headers(cs, n);
        m += "Content-Type: multipart/mixed;\r\n\tboundary=\"" + b + "\"\r\n\r\n";
        m += "This is a multi-part message in MIME format.\r\n\r\n";
        m += "--" + b + "\r\n" + textPart(cs, 2000, false);
        m += "\r\n--" + b + "\r\n" + attachment(attachmentBytes);
        m += "\r\n--" + b + "--\r\n";
        return m;
    }

private:
    struct Charset {
        const char* name;
        // Words with letters the charset has; all are written in UTF-8 here.
        std::vector<std::string_view> words;
    };
    static inline const std::vector<std::string_view> kEnglish = {
        "the",      "meeting", "report",   "quarterly", "budget",  "please", "review", "attached",
        "thanks",   "regards", "schedule", "tomorrow",  "project", "update", "team",   "office",
        "customer", "invoice", "delivery", "question",  "answer",  "about",  "with",   "from"};
    static inline const Charset kCharsets[] = {
        {"utf-8", {"Grüße", "naïve", "café", "日本語", "привет", "Zürich", "€", "łódź", "ok"}},
        {"iso-8859-1", {"Grüße", "Straße", "café", "garçon", "señor", "Ärger", "öffnen"}},
        {"windows-1252", {"“quoted”", "café", "€", "naïve", "–", "Müller", "fiancé"}},
        {"iso-8859-2", {"łódź", "źdźbło", "Dvořák", "příliš", "žluťoučký", "kůň", "ąę"}},
        {"koi8-r", {"привет", "мир", "отчёт", "встреча", "бюджет", "спасибо", "завтра"}},
        {"iso-8859-15", {"€", "œuvre", "Grüße", "café", "Šárka", "ž"}},
        {"us-ascii", {"plain", "ascii", "words", "only"}},
    };

    size_t between(size_t lo, size_t hi) {
        return std::uniform_int_distribution<size_t>(lo, hi)(rng_);
    }
    bool chance(int percent) { return between(1, 100) <= static_cast<size_t>(percent); }

    static void add(Corpus& c, std::string m) {
        c.totalBytes += m.size();
        c.messages.push_back(std::move(m));
    }

    // UTF-8 text of about n bytes with lines of 60-76 characters.
    std::string utf8Text(const Charset& cs, size_t n) {
        std::string t;
        size_t line = 0;
        while (t.size() < n) {
            std::string_view w = chance(15) ? cs.words[between(0, cs.words.size() - 1)]
                                            : kEnglish[between(0, kEnglish.size() - 1)];
            t.append(w);
            line += w.size() + 1;
            if (line > 60 + between(0, 16)) {
                t.append(chance(10) ? ".\r\n\r\n" : "\r\n");
                line = 0;
            } else {
                t.push_back(' ');
            }
        }
        return t;
    }

    static std::string toCharset(std::string_view utf8, const char* cs) {
        iconv_t cd = iconv_open(cs, "UTF-8");
        if (cd == reinterpret_cast<iconv_t>(-1))
            return std::string(utf8);
        std::string out(utf8.size() * 2 + 16, '\0');
        char* in = const_cast<char*>(utf8.data());
        size_t inLeft = utf8.size();
        char* o = out.data();
        size_t outLeft = out.size();
        while (inLeft > 0) {
            if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) {
                ++in; // a character the charset lacks is left out
                --inLeft;
            }
        }
        iconv_close(cd);
        out.resize(out.size() - outLeft);
        return out;
    }

    static std::string base64(std::string_view in) {
        static constexpr char a[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        out.reserve(in.size() * 4 / 3 + in.size() / 38 + 8);
        size_t col = 0;
        for (size_t i = 0; i < in.size(); i += 3) {
            const uint32_t b0 = static_cast<uint8_t>(in[i]);
            const uint32_t b1 = i + 1 < in.size() ? static_cast<uint8_t>(in[i + 1]) : 0;
            const uint32_t b2 = i + 2 < in.size() ? static_cast<uint8_t>(in[i + 2]) : 0;
            const uint32_t v = (b0 << 16) | (b1 << 8) | b2;
            out.push_back(a[(v >> 18) & 63]);
            out.push_back(a[(v >> 12) & 63]);
            out.push_back(i + 1 < in.size() ? a[(v >> 6) & 63] : '=');
            out.push_back(i + 2 < in.size() ? a[v & 63] : '=');
            if ((col += 4) >= 76) {
                out.append("\r\n");
                col = 0;
            }
        }
        if (col)
            out.append("\r\n");
        return out;
    }

    static std::string quotedPrintable(std::string_view in) {
        static constexpr char hex[] = "0123456789ABCDEF";
        std::string out;
        size_t col = 0;
        for (size_t i = 0; i < in.size(); ++i) {
            const auto c = static_cast<uint8_t>(in[i]);
            if (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n') {
                out.append("\r\n");
                ++i;
                col = 0;
                continue;
            }
            const bool lit = (c >= 33 && c <= 126 && c != '=') ||
                             (c == ' ' && i + 1 < in.size() && in[i + 1] != '\r');
            if (col + (lit ? 1 : 3) > 75) {
                out.append("=\r\n");
                col = 0;
            }
            if (lit) {
                out.push_back(static_cast<char>(c));
                ++col;
            } else {
                out.push_back('=');
                out.push_back(hex[c >> 4]);
                out.push_back(hex[c & 15]);
                col += 3;
            }
        }
        return out;
    }

    std::string encodedWord(const Charset& cs, std::string_view utf8) {
        const std::string bytes = toCharset(utf8, cs.name);
        if (chance(50)) {
            std::string b = base64(bytes);
            while (!b.empty() && (b.back() == '\n' || b.back() == '\r'))
                b.pop_back();
            return "=?" + std::string(cs.name) + "?B?" + b + "?=";
        }
        std::string q;
        static constexpr char hex[] = "0123456789ABCDEF";
        for (unsigned char c : bytes) {
            if (c == ' ')
                q.push_back('_');
            else if (c < 128 && std::isalnum(c))
                q.push_back(static_cast<char>(c));
            else
                q += std::string("=") + hex[c >> 4] + hex[c & 15];
        }
        return "=?" + std::string(cs.name) + "?Q?" + q + "?=";
    }

    std::string headers(const Charset& cs, size_t n) {
        std::string h;
        for (size_t i = between(2, 5); i > 0; --i)
            h += "Received: from mx" + std::to_string(i) + ".example.net (mx" + std::to_string(i) +
                 ".example.net [192.0.2." + std::to_string(i) +
                 "])\r\n\tby mail.example.org with ESMTPS id " + std::to_string(n * 7 + i) +
                 ";\r\n\tTue, 14 May 2024 09:1" + std::to_string(i) + ":00 +0200\r\n";
        h += "From: " + encodedWord(cs, "Jürgen " + std::string(cs.words[0])) + " <sender" +
             std::to_string(n) + "@example.org>\r\n";
        h += "To: \"Team\" <team@example.com>";
        for (size_t i = between(0, 6); i > 0; --i)
            h += ",\r\n\t\"Member " + std::to_string(i) + "\" <m" + std::to_string(i) +
                 "@example.com>";
        h += "\r\nSubject: " + encodedWord(cs, utf8Text(cs, between(20, 70))) + "\r\n";
        h += "Date: Tue, 14 May 2024 09:30:" + std::to_string(10 + n % 50) + " +0200\r\n";
        h += "Message-ID: <" + std::to_string(n) + "." + std::to_string(between(1, 1u << 30)) +
             "@example.org>\r\nMIME-Version: 1.0\r\n";
        return h;
    }

    std::string boundary(size_t n, int level) {
        return "----=_Part_" + std::to_string(level) + "_" + std::to_string(n) + "." +
               std::to_string(between(100000, 999999));
    }

    std::string textPart(const Charset& cs, size_t n, bool html) {
        std::string text = utf8Text(cs, n);
        if (html)
            text = "<html><body><p>" + text + "</p></body></html>";
        const std::string bytes = toCharset(text, cs.name);
        std::string cte, body;
        switch (between(0, 3)) {
        case 0:
            cte = "base64";
            body = base64(bytes);
            break;
        case 1:
            cte = std::string_view(cs.name) == "us-ascii" ? "7bit" : "8bit";
            body = bytes + "\r\n";
            break;
        default:
            cte = "quoted-printable";
            body = quotedPrintable(bytes) + "\r\n";
        }
        return std::string("Content-Type: text/") + (html ? "html" : "plain") + "; charset=\"" +
               cs.name + "\"\r\nContent-Transfer-Encoding: " + cte + "\r\n\r\n" + body;
    }

    std::string attachment(size_t n) {
        static const char* kTypes[][2] = {{"application/pdf", "report.pdf"},
                                          {"image/png", "chart.png"},
                                          {"application/zip", "archive.zip"},
                                          {"image/jpeg", "photo.jpg"}};
        const auto& t = kTypes[between(0, 3)];
        std::string data(n, '\0');
        std::uniform_int_distribution<int> byte(0, 255);
        for (char& c : data)
            c = static_cast<char>(byte(rng_));
        return std::string("Content-Type: ") + t[0] + ";\r\n\tname=\"" + t[1] +
               "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n"
               "\tfilename=\"" +
               t[1] + "\"\r\n\r\n" + base64(data);
    }

    std::string alternative(const Charset& cs, size_t n, size_t id, int level) {
        const std::string b = boundary(id, level);
        return "Content-Type: multipart/alternative;\r\n\tboundary=\"" + b + "\"\r\n\r\n--" + b +
               "\r\n" + textPart(cs, n / 3, false) + "\r\n--" + b + "\r\n" +
               textPart(cs, n - n / 3, true) + "\r\n--" + b + "--\r\n";
    }

    std::string message(size_t size, size_t id) {
        const Charset& cs = kCharsets[between(0, std::size(kCharsets) - 1)];
        std::string m = headers(cs, id);
        const size_t shape = between(1, 100);
        if (shape <= 30)
            return m + textPart(cs, size, false);
        if (shape <= 60)
            return m + alternative(cs, size, id, 0);
        const std::string b = boundary(id, 0);
        m += "Content-Type: multipart/mixed;\r\n\tboundary=\"" + b + "\"\r\n\r\n";
        m += "This is a multi-part message in MIME format.\r\n\r\n--" + b + "\r\n";
        const size_t text = size / 3;
        if (shape <= 85) {
            m += chance(50) ? alternative(cs, text, id, 1) : textPart(cs, text, false);
        } else {
            // mixed > related > (alternative, inline image)
            const std::string r = boundary(id, 1);
            m += "Content-Type: multipart/related;\r\n\ttype=\"multipart/alternative\";\r\n"
                 "\tboundary=\"" +
                 r + "\"\r\n\r\n--" + r + "\r\n" + alternative(cs, text, id, 2) + "\r\n--" + r +
                 "\r\nContent-ID: <img" + std::to_string(id) + "@example.org>\r\n" +
                 attachment(between(200, 2000)) + "\r\n--" + r + "--\r\n";
        }
        const size_t attachments = between(1, 3);
        for (size_t i = 0; i < attachments; ++i)
            m += "\r\n--" + b + "\r\n" + attachment((size - text) * 3 / 4 / attachments);
        m += "\r\n--" + b + "--\r\n";
        return m;
    }

    std::mt19937_64 rng_;
};

// The two corpora every MIME benchmark reads, with fixed seeds so that the parse, render and
// e-mail benchmarks measure the same messages.
inline const Corpus& smallCorpus() {
    static const Corpus c = Generator(20240514).smallMessages(5000);
    return c;
}

inline const Corpus& largeCorpus() {
    static const Corpus c = Generator(20240515).largeMessages(20);
    return c;
}

// The same messages with LF line ends, as mbox files and Maildir folders hold them.
inline Corpus withLfLineEnds(const Corpus& crlf) {
    Corpus c;
    for (const std::string& m : crlf.messages) {
        std::string lf;
        lf.reserve(m.size());
        for (size_t i = 0; i < m.size(); ++i)
            if (m[i] != '\r' || i + 1 == m.size() || m[i + 1] != '\n')
                lf.push_back(m[i]);
        c.totalBytes += lf.size();
        c.messages.push_back(std::move(lf));
    }
    return c;
}

inline const Corpus& smallLfCorpus() {
    static const Corpus c = withLfLineEnds(smallCorpus());
    return c;
}

inline const Corpus& largeLfCorpus() {
    static const Corpus c = withLfLineEnds(largeCorpus());
    return c;
}

} // namespace mime_corpus
