#include "security/StoreFileCache.h"

#include <mutex>
#include <unordered_map>

namespace norvane {

namespace {

struct Entry {
    std::string bytes;
    StoreFileContents contents;
};

// Entries of files that were removed stay until the cache is full; then it starts over, which
// bounds its memory whatever the number of files seen.
constexpr size_t kMaxEntries = 4096;

std::mutex cacheMutex;
std::unordered_map<std::string, Entry>& entries() {
    static std::unordered_map<std::string, Entry> map;
    return map;
}

void copyInto(const StoreFileContents& from, StoreFileContents& to) {
    for (const auto& c : from.certs)
        to.certs.push_back(c->copy());
    for (const auto& k : from.keys) {
        EVP_PKEY_up_ref(k.get());
        to.keys.emplace_back(k.get());
    }
}

} // namespace

bool StoreFileCache::find(const std::string& path, std::string_view bytes, StoreFileContents& out) {
    std::lock_guard lock(cacheMutex);
    const auto it = entries().find(path);
    if (it == entries().end() || it->second.bytes != bytes)
        return false;
    copyInto(it->second.contents, out);
    return true;
}

void StoreFileCache::put(const std::string& path, std::string_view bytes,
                         const StoreFileContents& contents) {
    Entry entry{std::string(bytes), {}};
    copyInto(contents, entry.contents);
    std::lock_guard lock(cacheMutex);
    auto& map = entries();
    if (map.size() >= kMaxEntries && map.find(path) == map.end())
        map.clear();
    map.insert_or_assign(path, std::move(entry));
}

} // namespace norvane
