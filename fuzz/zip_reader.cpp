// Opens arbitrary bytes as a zip archive, reads every entry's name and data, and writes the
// archive again: nothing may crash, hang or grow without bound, and an archive that was read
// and written must read back with the same entries.
#include "archive/ZipHandle.h"
#include "common/LogBase.h"

#include <cstdlib>

using namespace norvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LogNull log;
    auto zip = ZipHandle::create();
    if (!zip->openFromMemory({data, size}, log))
        return 0;
    // Keep each run small; the budget logic itself is what is exercised.
    (void)zip->setInflateBudget(4u << 20);
    int count = zip->numEntries();
    for (int i = 0; i < count; ++i) {
        auto e = zip->getEntryByIndex(i);
        std::string name, safe;
        if (!e || !e->getFileName(name) || !e->getSafeFileName(safe))
            std::abort();
        if (safe.empty() || safe == ".." || safe.find('/') != std::string::npos)
            std::abort();
        DataBuffer out;
        (void)e->inflate(out, log);
    }
    DataBuffer again;
    if (!zip->writeToMemory(again, log))
        return 0;
    auto back = ZipHandle::create();
    if (!back->openFromMemory(again.span(), log) || back->numEntries() != count)
        std::abort();
    return 0;
}
