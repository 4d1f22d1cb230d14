#pragma once

// The public e-mail object. It owns one internal e-mail (never null) and the activity log of
// its last framed member, checks and converts arguments and delegates to Email2.
//
// Conventions of every member: strings cross as UTF-8; a string argument is a NUL-terminated
// pointer that may be null (read as empty unless the member says otherwise); string results are
// never null, an empty string meaning "nothing". Byte arrays arrive as spans and leave as
// DataBuffer. Index arguments are 0-based. A member that does work clears the log, opens a
// context named after itself and closes it on every path; the cheap getters and setters leave
// the log of the previous member in place. Nothing throws.
//
// Split by concern: ClsEmail.cpp (frame, body, sender, recipients, header fields, MIME text and
// files, small properties), ClsEmailAttach.cpp (attachments, related items, attached messages,
// saving them to disk), ClsEmailBody.cpp (plain and HTML bodies, alternatives, multi-byte
// bodies, text files, encoded words), ClsEmailXml.cpp (XML form, MIME objects),
// ClsEmailCopies.cpp (clone, reply, forward, replace patterns), ClsEmailPackaging.cpp (temporary
// MHT file, linked domains, attachment archives).

#include "common/DataBuffer.h"
#include "common/ExtPtrArray.h"
#include "common/StringPair.h"
#include "facade/ClsBase.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace norvane {

class ClsCert;
class ClsCSP;
class ClsMime;
class SmimeUnwrapper;
class ClsStringArray;
class Email2;
class LogBase;
class SecurityUnwrapper;
enum class RecipientKind;

class ClsEmail : public ClsBase {
public:
    // A new default e-mail.
    ClsEmail();
    // Adopts email; a null one gives a new default e-mail.
    explicit ClsEmail(std::unique_ptr<Email2> email);
    ~ClsEmail() override;

    // For in-process peers (bundle, mail manager, command-line tool): the object itself and the
    // e-mail it owns.
    [[nodiscard]] ClsEmail* GetImpl() { return this; }
    [[nodiscard]] Email2& email2() { return *email_; }
    [[nodiscard]] const Email2& email2() const { return *email_; }

    // S/MIME unwrapping used by LoadEml, LoadXml and SetFromXmlText; by default the object's
    // own, which reads the certificate stores; null loads signed and encrypted messages as
    // they are. The unwrapper must outlive the object.
    void setSecurityUnwrapper(SecurityUnwrapper* unwrapper) { unwrapper_ = unwrapper; }

    // ---- body and text ----
    [[nodiscard]] std::string get_Body() const;
    void put_Body(const char* text);
    void AppendToBody(const char* text);
    [[nodiscard]] std::string get_Subject() const;
    void put_Subject(const char* text);
    [[nodiscard]] std::string get_Mailer() const;
    void put_Mailer(const char* text);
    [[nodiscard]] std::string get_Uidl() const;

    // ---- sender and recipients ----
    [[nodiscard]] std::string get_From() const;
    void put_From(const char* text);
    [[nodiscard]] std::string get_FromName() const;
    void put_FromName(const char* name);
    [[nodiscard]] std::string get_FromAddress() const;
    void put_FromAddress(const char* address);
    [[nodiscard]] std::string get_ReplyTo() const;
    void put_ReplyTo(const char* text);
    [[nodiscard]] std::string get_BounceAddress();
    void put_BounceAddress(const char* address);

    bool AddTo(const char* friendlyName, const char* emailAddress);
    bool AddCC(const char* friendlyName, const char* emailAddress);
    bool AddBcc(const char* friendlyName, const char* emailAddress);
    bool AddMultipleTo(const char* commaSeparatedAddresses);
    bool AddMultipleCC(const char* commaSeparatedAddresses);
    bool AddMultipleBcc(const char* commaSeparatedAddresses);
    void ClearTo();
    void ClearCC();
    void ClearBcc();
    [[nodiscard]] int get_NumTo() const;
    [[nodiscard]] int get_NumCC() const;
    [[nodiscard]] int get_NumBcc() const;
    // Display form of entry index; empty when out of range.
    [[nodiscard]] std::string GetTo(int index);
    [[nodiscard]] std::string GetCC(int index);
    [[nodiscard]] std::string GetBcc(int index);
    [[nodiscard]] std::string GetToName(int index) const;
    [[nodiscard]] std::string GetCcName(int index) const;
    [[nodiscard]] std::string GetBccName(int index) const;
    [[nodiscard]] std::string GetToAddr(int index) const;
    [[nodiscard]] std::string GetCcAddr(int index) const;
    [[nodiscard]] std::string GetBccAddr(int index) const;

    // ---- header fields ----
    [[nodiscard]] std::string GetHeaderField(const char* fieldName);
    void AddHeaderField(const char* fieldName, const char* fieldValue);
    void RemoveHeaderField(const char* fieldName);
    [[nodiscard]] int get_NumHeaderFields() const;
    [[nodiscard]] std::string GetHeaderFieldName(int index);
    [[nodiscard]] std::string GetHeaderFieldValue(int index);
    [[nodiscard]] std::string get_Header() const;

    // ---- MIME text and files ----
    [[nodiscard]] std::string GetMime();
    // On failure the e-mail stays as it was.
    bool SetFromMimeText(const char* mimeText);
    // For in-process callers: the same for text that may hold NUL bytes.
    bool SetFromMimeText(std::string_view mimeText);
    // SetFromMimeText for text that may hold NUL bytes (a part sent as binary, a damaged
    // message), as read from a file or a socket.
    bool SetFromMimeBytes(std::span<const uint8_t> mimeBytes);
    // The MIME structure for a reader: one line per part, depth first, indented two spaces per
    // level below the top. Each line gives the content type ("(no type)" when there is none),
    // then "; charset=NAME" for a part without sub-parts that names one and "; type=TYPE" for a
    // type parameter; for a part without sub-parts ", ENCODING" when one is named and ", N
    // bytes" (the decoded body); then, when present, ", DISPOSITION", ", \"FILENAME\"" and ", id
    // CONTENT-ID". A line break inside a value becomes a space; other bytes are as the message
    // has them.
    [[nodiscard]] std::string GetMimeStructure();
    // Leaves the log alone; on failure the e-mail stays as it was.
    bool LoadEml(const char* emlFilename);
    bool SaveEml(const char* fileName);

    // ---- other properties ----
    [[nodiscard]] std::string get_Charset();
    void put_Charset(const char* name);
    // Automation dates (days since 1899-12-30); 0 when the date cannot be converted.
    [[nodiscard]] double get_EmailDate() const;
    [[nodiscard]] double get_LocalDate() const;
    [[nodiscard]] long get_Size() const;
    [[nodiscard]] bool get_ReturnReceipt() const;
    void put_ReturnReceipt(bool on);
    [[nodiscard]] std::string get_FileDistList() const;
    void put_FileDistList(const char* value);

    // ---- attachments ----
    [[nodiscard]] int get_NumAttachments() const;
    // The content type used; empty on failure.
    [[nodiscard]] std::string AddFileAttachment(const char* fileName);
    bool AddFileAttachment2(const char* fileName, const char* contentType);
    [[nodiscard]] std::string AddDataAttachment(std::span<const uint8_t> data,
                                                const char* fileName);
    bool AddStringAttachment(const char* fileName, const char* strData);
    void DropAttachments();
    bool DropSingleAttachment(int index);
    [[nodiscard]] std::string GetAttachmentFilename(int index);
    bool SetAttachmentFilename(int index, const char* fileName);
    [[nodiscard]] DataBuffer GetAttachmentData(int index);
    [[nodiscard]] std::string GetAttachmentString(int index, const char* charset);
    [[nodiscard]] std::string GetAttachmentStringCrLf(int index, const char* srcCharset);
    [[nodiscard]] std::string GetAttachmentContentType(int index);
    [[nodiscard]] std::string GetAttachmentContentID(int index);
    // Body length in bytes; 0 when there is no such attachment.
    [[nodiscard]] long GetAttachmentSize(int index);
    [[nodiscard]] std::string GetAttachmentHeader(int index, const char* fieldName);
    void AddAttachmentHeader(int index, const char* fieldName, const char* fieldValue);
    // Writes the attachment into directory (created when missing) under its own file name, or
    // a new unique one when that file exists. The name never leaves the directory.
    bool SaveAttachedFile(int index, const char* directory);
    bool SaveAllAttachments(const char* directory);
    void RemoveAttachmentPaths();
    [[nodiscard]] int get_NumAttachedMessages() const;
    // A new e-mail object; null when there is no attached message index.
    [[nodiscard]] std::unique_ptr<ClsEmail> GetAttachedMessage(int index);

    // ---- related items ----
    [[nodiscard]] int get_NumRelatedItems() const;
    // The new item's Content-ID without angle brackets; empty on failure.
    [[nodiscard]] std::string AddRelatedFile(const char* fileName);
    [[nodiscard]] std::string AddRelatedData(std::span<const uint8_t> data, const char* fileName);
    [[nodiscard]] std::string GetRelatedFilename(int index);
    [[nodiscard]] DataBuffer GetRelatedData(int index);
    [[nodiscard]] std::string GetRelatedString(int index, const char* srcCharset);
    [[nodiscard]] std::string GetRelatedStringCrLf(int index, const char* srcCharset);
    [[nodiscard]] std::string GetRelatedContentID(int index);
    // The item's content type ("image/png"); empty when there is no item index.
    [[nodiscard]] std::string GetRelatedContentType(int index);
    bool SaveRelatedItem(int index, const char* directory);
    void DropRelatedItems();
    void DropRelatedItem(int index);

    // ---- bodies and alternatives ----
    [[nodiscard]] std::string GetPlainTextBody();
    [[nodiscard]] std::string GetHtmlBody();
    [[nodiscard]] int get_NumAlternatives() const;
    [[nodiscard]] std::string GetAlternativeContentType(int index);
    [[nodiscard]] std::string GetAlternativeBody(int index);
    bool AddPlainTextAlternativeBody(const char* body);
    bool AddHtmlAlternativeBody(const char* body);
    bool SetHtmlBody(const char* html);
    [[nodiscard]] bool HasPlainTextBody() const;
    [[nodiscard]] bool HasHtmlBody() const;
    [[nodiscard]] bool IsMultipartReport() const;
    [[nodiscard]] DataBuffer GetMbPlainTextBody(const char* convertToCharset);
    [[nodiscard]] DataBuffer GetMbHtmlBody(const char* convertToCharset);
    bool SetMbPlainTextBody(const char* charset, std::span<const uint8_t> body);
    bool SetMbHtmlBody(const char* charset, std::span<const uint8_t> body);
    // The file's text in UTF-8; empty when it cannot be read. Leaves the log alone.
    [[nodiscard]] std::string LoadTextFileToUnicode(const char* fileName,
                                                    const char* srcCharset) const;

    // ---- encoded words ----
    [[nodiscard]] std::string QEncodeBytes(std::span<const uint8_t> mbBytes, const char* charset);
    [[nodiscard]] std::string BEncodeBytes(std::span<const uint8_t> mbBytes, const char* charset);
    [[nodiscard]] std::string QEncodeString(const char* str, const char* charset);
    [[nodiscard]] std::string BEncodeString(const char* str, const char* charset);
    [[nodiscard]] DataBuffer GetMbHeaderField(const char* fieldName, const char* charset);

    // ---- XML form and MIME objects ----
    [[nodiscard]] std::string GetXml();
    // Writes the XML declaration and the XML form with LF line ends; false when the name is
    // blank or the write fails.
    bool SaveXml(const char* fileName);
    // Both leave the log alone; on failure the e-mail stays as it was.
    bool LoadXml(const char* xmlFilename);
    bool SetFromXmlText(const char* xmlText);
    bool SetFromXmlText(std::string_view xmlText);
    // A new MIME object holding GetMime's text; the caller owns it.
    [[nodiscard]] std::unique_ptr<ClsMime> GetMimeObject();
    // SetFromMimeText with the object's text; false for a null object.
    bool SetFromMimeObject(const ClsMime* mime);

    // ---- security (ClsEmailSecurity.cpp) ----
    // What the last unwrapping found: encrypted or signed layers (or, without unwrapping, an
    // S/MIME content type), their results and the certificates met.
    [[nodiscard]] bool get_ReceivedEncrypted() const;
    [[nodiscard]] bool get_ReceivedSigned() const;
    [[nodiscard]] std::string get_SignedBy() const;
    [[nodiscard]] std::string get_EncryptedBy() const;
    // Every signature verified. Says nothing about whether the signer is trusted.
    [[nodiscard]] bool get_SignaturesValid() const;
    [[nodiscard]] bool get_Decrypted() const;
    // Every signer's chain verifies against the trust store (false without signers).
    [[nodiscard]] bool get_SignerTrusted() const;
    // Every signer's certificate was valid at its signing time.
    [[nodiscard]] bool get_SignerValidAtSigningTime() const;
    // Every signer's certificate carries the From address.
    [[nodiscard]] bool get_SignerMatchesFrom() const;
    [[nodiscard]] int get_NumSigners() const;
    // The same three per signer; false for an index out of range.
    [[nodiscard]] bool GetSignerTrusted(int index) const;
    [[nodiscard]] bool GetSignerValidAtSigningTime(int index) const;
    [[nodiscard]] bool GetSignerMatchesFrom(int index) const;
    [[nodiscard]] std::unique_ptr<ClsCert> GetSignerCert(int index);
    // The layers met, outermost first, comma-separated ("encrypted,signed").
    [[nodiscard]] std::string get_SecurityLayers() const;
    [[nodiscard]] bool get_SendSigned() const;
    void put_SendSigned(bool on);
    [[nodiscard]] bool get_SendEncrypted() const;
    void put_SendEncrypted(bool on);
    void SetSigningCert(const ClsCert* cert);
    void SetEncryptCert(const ClsCert* cert);
    // New objects owned by the caller; null when there is nothing to give.
    [[nodiscard]] std::unique_ptr<ClsCert> GetSigningCert();
    [[nodiscard]] std::unique_ptr<ClsCert> GetEncryptCert();
    [[nodiscard]] std::unique_ptr<ClsCert> GetSignedByCert();
    [[nodiscard]] std::unique_ptr<ClsCert> GetEncryptedByCert();
    void SetCSP(const ClsCSP* csp);
    // Password of encrypted private keys in the certificate stores, used when this object
    // decrypts or verifies; never logged.
    void SetPrivateKeyPassword(const char* password);

    // ---- copies and replace patterns ----
    // New, independent e-mail objects (owned by the caller); null when the copy cannot be
    // built.
    [[nodiscard]] std::unique_ptr<ClsEmail> Clone();
    [[nodiscard]] std::unique_ptr<ClsEmail> CreateReply();
    [[nodiscard]] std::unique_ptr<ClsEmail> CreateForward();
    // Replaces any pair with the same pattern and appends the pair at the end; false for an
    // empty pattern.
    bool SetReplacePattern(const char* pattern, const char* replaceString);
    [[nodiscard]] int get_NumReplacePatterns() const;
    // Empty (and logged) when there is no such pair.
    [[nodiscard]] std::string GetReplacePattern(int index);
    [[nodiscard]] std::string GetReplaceString(int index);
    [[nodiscard]] std::string GetReplaceString2(const char* pattern);
    // What the mail manager sends in place of this e-mail: a copy with every replace pattern
    // applied (an identical copy when there are none), each replacement recorded in log. The
    // e-mail itself is not changed; null only when the copy cannot be built.
    [[nodiscard]] std::unique_ptr<Email2> copyForSending(LogBase& log) const;

    // ---- HTML views and attachment archives ----
    // Writes the e-mail without attachments, its plain text shown as HTML, to inFilename
    // (trimmed) or to a new temporary file when it is blank. The name written; empty on
    // failure.
    [[nodiscard]] std::string CreateTempMht(const char* inFilename);
    // The web hosts and mail addresses the bodies link to, each once, in the order first found.
    // Leaves the log alone; the caller owns the array.
    [[nodiscard]] std::unique_ptr<ClsStringArray> GetLinkedDomains() const;
    // Body encryption is not offered by this object: both record their context and change
    // nothing.
    void AesEncrypt(const char* password);
    void AesDecrypt(const char* password);
    // Replaces all attachments by one zip archive named zipFilename ("attach.zip" when blank).
    // The outcome is in the log.
    void ZipAttachments(const char* zipFilename);
    // Replaces every attached *.zip file by its entries; false when an archive or an entry
    // cannot be read (the archives are removed all the same).
    bool UnzipAttachments();

private:
    // Makes email the object's e-mail (the old one is deleted); null or the same one does
    // nothing.
    void adoptEmail(std::unique_ptr<Email2> email);

    bool addRecipient(RecipientKind kind, std::string_view context, const char* name,
                      const char* address);
    bool addMultiple(RecipientKind kind, std::string_view context, const char* text);
    std::string recipientDisplay(RecipientKind kind, std::string_view context, int index);
    [[nodiscard]] std::string recipientName(RecipientKind kind, int index) const;
    [[nodiscard]] std::string recipientAddr(RecipientKind kind, int index) const;
    // Records a charset for text on an e-mail that has none.
    void chooseCharsetFor(std::string_view utf8);
    void setBodyText(std::string_view utf8);

    // The items behind the index checks; null (with the index message logged) when missing.
    [[nodiscard]] Email2* attachmentOrLog(int index);
    [[nodiscard]] Email2* relatedItemOrLog(int index);
    [[nodiscard]] bool saveItem(Email2& item, std::string_view directory, bool related);
    [[nodiscard]] std::string itemString(int index, const char* charset, bool related, bool crlf);
    [[nodiscard]] const Email2* plainTextBodyNode() const;
    void addHtmlAlternative(std::string_view html);

    std::unique_ptr<Email2> email_;
    // Replace patterns (pattern, replacement) in insertion order.
    ExtPtrArray<StringPair> replacePatterns_;
    std::unique_ptr<SmimeUnwrapper> ownUnwrapper_;
    SecurityUnwrapper* unwrapper_ = nullptr;
};

} // namespace norvane
