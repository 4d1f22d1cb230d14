// The e-mail object's attachments, related (inline) items and attached messages, and saving
// them to disk.
//
// Saving treats the item's file name as written by a stranger: only its last path component
// is used, "." and ".." are refused, and the path is built under the given directory instead
// of changing the process's current directory, so a name can never place a file elsewhere and
// other threads keep their working directory.

#include "facade/ClsEmail.h"

#include "common/FileAccess.h"
#include "email/Email2.h"
#include "facade/FacadeText.h"

#include <sys/stat.h>

#include <cstdio>

namespace norvane {

using facade_text::arg;
using facade_text::trimmed;

namespace {

constexpr std::string_view kFallbackName = "attachedFile.dat";

// The text after the last '/' or '\'.
std::string_view lastComponent(std::string_view path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// File names longer than this are shortened: Linux file systems take 255 bytes (NAME_MAX), and
// the rest leaves room for the suffix that makes a taken name unique.
constexpr size_t kMaxSavedName = 200;
// An extension longer than this is no extension worth keeping.
constexpr size_t kMaxExtension = 32;

// name cut to kMaxSavedName bytes, keeping its extension and never splitting a UTF-8 sequence.
std::string shortenedName(std::string_view name) {
    if (name.size() <= kMaxSavedName)
        return std::string(name);
    const size_t dot = name.rfind('.');
    const std::string_view ext =
        dot != std::string_view::npos && dot > 0 && name.size() - dot <= kMaxExtension
            ? name.substr(dot)
            : std::string_view();
    size_t stem = kMaxSavedName - ext.size();
    while (stem > 0 && (static_cast<unsigned char>(name[stem]) & 0xC0) == 0x80)
        --stem; // name[stem] would continue the character cut at stem
    return std::string(name.substr(0, stem)) + std::string(ext);
}

// A name that stays inside the directory it is joined to and fits a file system.
std::string safeFileName(std::string_view name) {
    std::string out(lastComponent(name));
    for (char& c : out)
        if (c == '\0')
            c = '_';
    if (out.empty() || out == "." || out == "..")
        return std::string(kFallbackName);
    return shortenedName(out);
}

// Creates every missing directory of path; true when path is a directory afterwards.
bool makeDirectories(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1))
        (void)file::createDirectory(path.substr(0, pos));
    (void)file::createDirectory(path);
    return file::isDirectory(path);
}

// Whether anything (a file, a directory, a link, even a dangling one) has that name.
bool nameTaken(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A new name for an item: only the name parameter when the item has no disposition, so that
// no Content-Disposition without a type is made up for it.
void renameItem(Email2& item, std::string_view name) {
    if (item.disposition().empty()) {
        ContentTypeParams p = item.contentTypeParams();
        p.name = std::string(name);
        item.setContentType(p);
        return;
    }
    item.setFilename(name);
}

void removePaths(Email2& node) {
    const std::string& current = node.filename().empty() ? node.name() : node.filename();
    if (!current.empty()) {
        const std::string cut(lastComponent(current));
        if (cut != current)
            renameItem(node, cut);
    }
    for (int i = 0; i < node.partCount(); ++i)
        removePaths(*node.partAt(i));
}

std::string withoutAngleBrackets(std::string id) {
    std::erase(id, '<');
    std::erase(id, '>');
    return id;
}

std::string indexMessage(const char* what, int index) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "Index out of range: no %s at index = %d.", what, index);
    return buf;
}

} // namespace

// ---- index checks ----

Email2* ClsEmail::attachmentOrLog(int index) {
    Email2* a = email_->attachmentAt(index);
    if (!a) {
        m_log.fail(ErrorCode::BadArgument, indexMessage("attachment", index));
        m_log.logDataLong("index", index);
        m_log.logDataLong("num_attachments", email_->numAttachments());
    }
    return a;
}

Email2* ClsEmail::relatedItemOrLog(int index) {
    Email2* r = email_->relatedItem(index);
    if (!r) {
        m_log.fail(ErrorCode::BadArgument, indexMessage("related item", index));
        m_log.logDataLong("index", index);
        m_log.logDataLong("num_related_items", email_->numRelatedItems());
    }
    return r;
}

// ---- attachments ----

int ClsEmail::get_NumAttachments() const {
    return email_->numAttachments();
}

std::string ClsEmail::AddFileAttachment(const char* fileName) {
    Frame frame(m_log, "AddFileAttachment");
    std::string used;
    if (!email_->addFileAttachment(trimmed(fileName), "", used, m_log)) {
        m_log.logError("Failed to add file attachment");
        return {};
    }
    return used;
}

bool ClsEmail::AddFileAttachment2(const char* fileName, const char* contentType) {
    Frame frame(m_log, "AddFileAttachment");
    std::string type = trimmed(contentType);
    if (type.empty())
        type = "application/octet-stream";
    std::string used;
    if (!email_->addFileAttachment(trimmed(fileName), type, used, m_log)) {
        m_log.logError("Failed to add file attachment");
        return false;
    }
    return true;
}

std::string ClsEmail::AddDataAttachment(std::span<const uint8_t> data, const char* fileName) {
    Frame frame(m_log, "AddDataAttachment");
    std::string used = email_->addDataAttachment(trimmed(fileName), DataBuffer(data), "");
    if (used.empty())
        m_log.logError("Failed to add data attachment");
    return used;
}

bool ClsEmail::AddStringAttachment(const char* fileName, const char* strData) {
    Frame frame(m_log, "AddStringAttachment");
    const std::string used =
        email_->addDataAttachment(trimmed(fileName), DataBuffer(arg(strData)), "");
    if (used.empty()) {
        m_log.logError("Failed to add data attachment");
        return false;
    }
    return true;
}

void ClsEmail::DropAttachments() {
    Frame frame(m_log, "DropAttachments");
    email_->dropAllAttachments();
}

bool ClsEmail::DropSingleAttachment(int index) {
    Frame frame(m_log, "DropSingleAttachment");
    if (!attachmentOrLog(index))
        return false;
    return email_->removeAttachment(index);
}

std::string ClsEmail::GetAttachmentFilename(int index) {
    Frame frame(m_log, "GetAttachmentFilename");
    const Email2* a = attachmentOrLog(index);
    return a ? a->attachmentFilename() : std::string();
}

bool ClsEmail::SetAttachmentFilename(int index, const char* fileName) {
    Frame frame(m_log, "SetAttachmentFilename");
    Email2* a = attachmentOrLog(index);
    if (!a)
        return false;
    const std::string name = trimmed(fileName);
    m_log.logData("filename", name);
    a->setFilename(name);
    return true;
}

DataBuffer ClsEmail::GetAttachmentData(int index) {
    Frame frame(m_log, "GetAttachmentData");
    const Email2* a = attachmentOrLog(index);
    return a ? DataBuffer(a->body().span()) : DataBuffer();
}

std::string ClsEmail::itemString(int index, const char* charset, bool related, bool crlf) {
    Frame frame(m_log, related ? "GetRelatedData" : "GetAttachmentData");
    const Email2* item = related ? relatedItemOrLog(index) : attachmentOrLog(index);
    if (!item)
        return {};
    std::string text = facade_text::toUtf8(item->body().span(), arg(charset));
    return crlf ? facade_text::crBeforeBareLf(text) : text;
}

std::string ClsEmail::GetAttachmentString(int index, const char* charset) {
    return itemString(index, charset, false, false);
}

std::string ClsEmail::GetAttachmentStringCrLf(int index, const char* srcCharset) {
    return itemString(index, srcCharset, false, true);
}

std::string ClsEmail::GetAttachmentContentType(int index) {
    Frame frame(m_log, "GetAttachmentContentType");
    const Email2* a = attachmentOrLog(index);
    return a ? a->contentType() : std::string();
}

std::string ClsEmail::GetAttachmentContentID(int index) {
    Frame frame(m_log, "GetAttachmentContentID");
    const Email2* a = attachmentOrLog(index);
    StringBuffer v;
    if (a)
        (void)a->getHeaderField("Content-ID", v);
    return std::move(v.str());
}

long ClsEmail::GetAttachmentSize(int index) {
    Frame frame(m_log, "GetAttachmentSize");
    const Email2* a = attachmentOrLog(index);
    return a ? static_cast<long>(a->body().getSize()) : 0;
}

std::string ClsEmail::GetAttachmentHeader(int index, const char* fieldName) {
    Frame frame(m_log, "GetAttachmentHeader");
    if (!fieldName) {
        m_log.fail(ErrorCode::BadArgument, "Field name is NULL");
        return {};
    }
    const std::string name = trimmed(fieldName);
    if (name.empty()) {
        m_log.logError("Field name is empty");
        return {};
    }
    const Email2* a = attachmentOrLog(index);
    StringBuffer v;
    if (a)
        (void)a->getHeaderField(name, v);
    return std::move(v.str());
}

void ClsEmail::AddAttachmentHeader(int index, const char* fieldName, const char* fieldValue) {
    Frame frame(m_log, "AddAttachmentHeader");
    if (Email2* a = email_->attachmentAt(index);
        a && !a->setHeaderField(arg(fieldName), arg(fieldValue)))
        m_log.fail(ErrorCode::BadArgument,
                   "Invalid header field name: " + std::string(arg(fieldName)));
}

bool ClsEmail::saveItem(Email2& item, std::string_view directory, bool related) {
    const std::string dir(sb::trimView(directory));
    if (!dir.empty() && !makeDirectories(dir)) {
        m_log.logError("Failed to create directory");
        m_log.logData("directory", dir);
        return false;
    }
    const std::string base = dir.empty() ? std::string(".") : dir;
    const std::string prefix = base.back() == '/' ? base : base + "/";
    std::string name = safeFileName(item.attachmentFilename());
    if (lastComponent(item.attachmentFilename()).size() > kMaxSavedName) {
        m_log.logInfo("The file name is too long for the file system; it is shortened.");
        renameItem(item, name);
    }
    if (nameTaken(prefix + name)) {
        name = std::string(lastComponent(file::makeTempFileName(base, name)));
        renameItem(item, name);
    }
    if (!file::writeWholeFile(prefix + name, item.body().span(), &m_log))
        return false;
    m_log.logData(related ? "filename" : "saved", name);
    return true;
}

bool ClsEmail::SaveAttachedFile(int index, const char* directory) {
    // No clearing: SaveAllAttachments collects one of these contexts per file.
    Frame frame(m_log, "SaveAttachedFile", Frame::Clear::No);
    Email2* a = attachmentOrLog(index);
    return a && saveItem(*a, arg(directory), false);
}

bool ClsEmail::SaveAllAttachments(const char* directory) {
    Frame frame(m_log, "SaveAllAttachments");
    const int n = email_->numAttachments();
    if (n == 0) {
        m_log.logInfo("No attachments to save.");
        return true;
    }
    int saved = 0;
    for (int i = 0; i < n; ++i)
        saved += SaveAttachedFile(i, directory) ? 1 : 0;
    m_log.logDataLong("numSaved", saved);
    return saved == n;
}

void ClsEmail::RemoveAttachmentPaths() {
    removePaths(*email_);
}

int ClsEmail::get_NumAttachedMessages() const {
    return email_->numAttachedMessages();
}

std::unique_ptr<ClsEmail> ClsEmail::GetAttachedMessage(int index) {
    Frame frame(m_log, "GetAttachedMessage");
    std::unique_ptr<Email2> e =
        email_->attachedMessagePart(index) ? email_->getAttachedMessage(index, m_log) : nullptr;
    if (!e) {
        m_log.fail(ErrorCode::BadArgument, indexMessage("attached message", index));
        m_log.logDataLong("index", index);
        m_log.logDataLong("num_attached_msgs", email_->numAttachedMessages());
        return nullptr;
    }
    StringBuffer mime;
    e->renderMime(mime, "", m_log);
    auto out = std::make_unique<ClsEmail>();
    (void)out->SetFromMimeText(mime.view());
    return out;
}

// ---- related items ----

int ClsEmail::get_NumRelatedItems() const {
    return email_->numRelatedItems();
}

std::string ClsEmail::AddRelatedFile(const char* fileName) {
    Frame frame(m_log, "AddRelatedContent");
    if (!fileName) {
        m_log.fail(ErrorCode::BadArgument, "fileName argument is NULL");
        return {};
    }
    std::string cid;
    if (!email_->addRelatedFile(trimmed(fileName), cid, m_log)) {
        m_log.logError("Failed to add related content");
        return {};
    }
    return withoutAngleBrackets(std::move(cid));
}

std::string ClsEmail::AddRelatedData(std::span<const uint8_t> data, const char* fileName) {
    Frame frame(m_log, "AddRelatedData");
    if (!fileName) {
        m_log.fail(ErrorCode::BadArgument, "fileName argument is NULL");
        return {};
    }
    std::string cid;
    email_->addRelatedData(trimmed(fileName), DataBuffer(data), cid);
    if (cid.empty()) {
        m_log.logError("Failed to add related content");
        return {};
    }
    return withoutAngleBrackets(std::move(cid));
}

std::string ClsEmail::GetRelatedFilename(int index) {
    Frame frame(m_log, "GetRelatedFilename");
    const Email2* r = relatedItemOrLog(index);
    return r ? r->attachmentFilename() : std::string();
}

DataBuffer ClsEmail::GetRelatedData(int index) {
    Frame frame(m_log, "GetRelatedData");
    const Email2* r = relatedItemOrLog(index);
    return r ? DataBuffer(r->body().span()) : DataBuffer();
}

std::string ClsEmail::GetRelatedString(int index, const char* srcCharset) {
    return itemString(index, srcCharset, true, false);
}

std::string ClsEmail::GetRelatedStringCrLf(int index, const char* srcCharset) {
    return itemString(index, srcCharset, true, true);
}

std::string ClsEmail::GetRelatedContentID(int index) {
    Frame frame(m_log, "GetRelatedContentID");
    const Email2* r = relatedItemOrLog(index);
    StringBuffer v;
    if (r)
        (void)r->getHeaderField("Content-ID", v);
    return std::move(v.str());
}

std::string ClsEmail::GetRelatedContentType(int index) {
    Frame frame(m_log, "GetRelatedContentType");
    const Email2* r = relatedItemOrLog(index);
    return r ? r->contentType() : std::string();
}

bool ClsEmail::SaveRelatedItem(int index, const char* directory) {
    Frame frame(m_log, "SaveRelatedItem");
    Email2* r = relatedItemOrLog(index);
    return r && saveItem(*r, arg(directory), true);
}

void ClsEmail::DropRelatedItems() {
    email_->dropRelatedItems();
}

void ClsEmail::DropRelatedItem(int index) {
    email_->dropRelatedItem(index);
}

} // namespace norvane
