// Encoded words: header text with any bytes decodes safely; Q and B words over any bytes decode
// back to them; splitting for words keeps every byte.
#include "charset/ContentCoding.h"
#include "mime/StringParse.h"

#include <cstdlib>

using norvane::ContentCoding;
using norvane::DataBuffer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string bytes;
    ContentCoding::decodeWordsToBytes(text, bytes);
    std::string utf8(text);
    ContentCoding::decodeWordsToUtf8(utf8);
    DataBuffer qtext;
    ContentCoding::qDecodeWordText(text, qtext);

    for (int b = 0; b < 2; ++b) {
        std::string word;
        if (b)
            ContentCoding::encodeWordB(text, "x-fuzz", word);
        else
            ContentCoding::encodeWordQ(text, "x-fuzz", word);
        std::string back;
        ContentCoding::decodeWordsToBytes(word, back);
        if (back != text)
            std::abort();
    }

    int maxLen = size ? data[0] % 90 : 40;
    std::string joined;
    for (const auto& piece : norvane::StringParse::splitForWords(text, maxLen))
        joined += piece;
    if (joined != text)
        std::abort();
    return 0;
}
