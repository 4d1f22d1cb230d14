#pragma once

// The in-memory e-mail. One Email2 is one MIME entity: a header, a body and an ordered list of
// sub-parts, each again an Email2. The top node is the message; a node with sub-parts is a
// multipart whose kind (mixed, alternative, related, report, signed) is its content type.
//
// Besides the header fields every node keeps the structured values the component edits
// (content type and its parameters, disposition, transfer encoding, Content-ID, charset); the
// top node also keeps the sender, the recipient lists, the date and the security state. Every
// operation that changes a structured value rewrites its header field, so the two never
// disagree. Text bodies are held as UTF-8 and converted to the node's charset only when the
// tree is rendered; other bodies are held decoded.
//
// Operations that cannot do anything (an unparsable address, an index out of range, a charset
// without code page) return false or an empty value and leave the e-mail unchanged. Building
// from MIME never fails once the parser has produced a tree, and stays within the parser's
// bounds. Sub-parts are moved between nodes without copying their bodies.
//
// The code is split by concern: Email2.cpp (model, header, Content-Type, identifiers),
// Email2Address.cpp (sender and recipients), Email2Body.cpp (bodies, charsets, tree searches),
// Email2Render.cpp, Email2FromMime.cpp and Email2Attach.cpp (tree building, attachments),
// Email2Copies.cpp (clone, reply, forward, replacements).

#include "charset/Charset.h"
#include "charset/DateParser.h"
#include "common/DataBuffer.h"
#include "common/ExtPtrArray.h"
#include "common/LogBase.h"
#include "common/NorvaneObject.h"
#include "common/StringBuffer.h"
#include "common/StringPair.h"
#include "email/ExpressionTermSource.h"
#include "mime/MimeHeader.h"
#include "mime/MimeParseLimits.h"
#include "mime/Rfc822Address.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

class MimeMessage2;

// What certificate objects implement so that a copied e-mail carries its own copies of them.
class CopyableObject : public NorvaneObject {
public:
    [[nodiscard]] virtual std::unique_ptr<NorvaneObject> copyObject() const = 0;
};

// What S/MIME unwrapping found while an e-mail was built from MIME text.
struct SecurityOutcome {
    bool secured = false;
    bool signaturesValid = true;
    bool decrypted = true;
    int numSigned = 0;
    int numEncrypted = 0;
    // Certificates met; their type belongs to the security layer above this one (copies of an
    // e-mail copy those that are CopyableObject).
    ExtPtrArray<NorvaneObject> signerCerts;
    ExtPtrArray<NorvaneObject> decryptCerts;
    // The S/MIME layers met, outermost first: "encrypted", "signed", or "signed-part" for a
    // signature that covers only one part of the message.
    std::vector<std::string> layers;
};

// The security layer sits above this one and hands its unwrapping in through this interface.
class SecurityUnwrapper {
public:
    virtual ~SecurityUnwrapper() = default;
    // Decrypts and verifies entity in place, adding what it found to out. With saveCerts the
    // certificates met are also kept in the save store.
    virtual void unwrap(MimeMessage2& entity, bool saveCerts, SecurityOutcome& out,
                        LogBase& log) = 0;
};

// How fromMime reads its input.
struct FromMimeOptions {
    // Null: no S/MIME unwrapping.
    SecurityUnwrapper* unwrapper = nullptr;
    bool saveCerts = false;
    MimeParseLimits limits;
};

// The eight values a Content-Type field is composed from.
struct ContentTypeParams {
    std::string type{};
    std::string name{};
    std::string protocol{};
    std::string micalg{};
    Charset charset{};
    std::string boundary{};
    std::string smimeType{};
    std::string typeParam{};
};

enum class RecipientKind { To, Cc, Bcc };

class Email2 : public NorvaneObject, public ExpressionTermSource {
public:
    // Tag of the constructor that makes an e-mail without any header field.
    struct Blank {};

    // The default e-mail: header MIME-Version, Date (now), Message-ID, Content-Type text/plain,
    // Content-Transfer-Encoding 7bit, X-Mailer, X-Priority; empty body.
    Email2();
    // No header fields and no structured values; the date is the current UTC time.
    explicit Email2(Blank);
    ~Email2() override;
    Email2(const Email2&) = delete;
    Email2& operator=(const Email2&) = delete;

    // A sub-part as every tree operation makes them: Content-Type text/plain and
    // Content-Transfer-Encoding 7bit only.
    [[nodiscard]] static std::unique_ptr<Email2> newPart();
    // The X-Mailer text of new e-mails.
    [[nodiscard]] static std::string_view defaultMailer();

    // Builds an e-mail from MIME text; never null. See Email2FromMime.cpp.
    [[nodiscard]] static std::unique_ptr<Email2> fromMime(std::string_view bytes, LogBase& log,
                                                          const FromMimeOptions& options = {});
    // Builds an e-mail from an already parsed tree, which it may change (alternative repair,
    // unwrapping, detached sub-entities).
    [[nodiscard]] static std::unique_ptr<Email2> fromMimeTree(MimeMessage2& root,
                                                              std::string_view rawText,
                                                              LogBase& log,
                                                              const FromMimeOptions& options = {});

    // Gives dst src's header, structured values, sender, recipients, date and POP3 number
    // (used to wrap a rendered e-mail for S/MIME).
    static void copyEnvelope(Email2& dst, const Email2& src);

    // ---- header fields and structured values ----

    // Routes Content-Transfer-Encoding, Content-ID, Date, From and Reply-To to their setters;
    // any other name replaces every field of that name by one at the end (an empty value only
    // removes). An empty name does nothing.
    // False (nothing changed) for a name that is not a valid field name (MimeField::isValidName).
    bool setHeaderField(std::string_view name, std::string_view value);
    // Sets Subject to text as it stands: text that looks like an encoded word stays that text.
    void setSubjectText(std::string_view text) { (void)header_.setField("subject", text, false); }
    // Removes every field of that name and resets the structured values behind it.
    void removeHeaderField(std::string_view name);
    // Appends the value of the first field of that name; false when there is none.
    [[nodiscard]] bool getHeaderField(std::string_view name, StringBuffer& out) const;

    // Rebuilds the structured Content-Type values and the field from scratch. An empty type
    // keeps the current one (text/plain when there is none).
    void setContentType(const ContentTypeParams& params);
    // The eight current values, for rebuilding with one of them changed.
    [[nodiscard]] ContentTypeParams contentTypeParams() const;
    void setDisposition(std::string_view disposition, std::string_view filename);
    void setTransferEncoding(std::string_view encoding);
    // 7bit for us-ascii, base64 for multi-byte code pages, quoted-printable otherwise.
    void setEncodingForCodePage(int codePage);
    void setContentId(std::string_view id);
    // Parses the text into the date (kept unchanged when it does not parse) and sets the
    // Date field to the text as given.
    void setDate(std::string_view text);
    // New name parameter and disposition filename, every other parameter kept.
    void setFilename(std::string_view filename);
    // Records the charset and rebuilds the Content-Type with every other parameter kept.
    void setCharset(const Charset& charset);
    // Takes effect on the next composition of the Content-Type.
    void setFormatFlowed(bool on) { formatFlowed_ = on; }

    // Whether text in this code page must be sent base64 (CJK, UTF-8 and other multi-byte
    // code pages).
    [[nodiscard]] static bool isMultiByteCodePage(int codePage);

    // ---- identifiers ----

    // Message-ID "<NORVANE-MID-uuid@host>".
    void newMessageId();
    // Content-ID "<NORVANE-CID-uuid>".
    void newContentId();
    // "----=_NextPart_" + pieces of a new UUID + suffix ("_.MIX", "_.ALT", "_.REL").
    [[nodiscard]] static std::string newBoundary(std::string_view suffix);

    // ---- sender and recipients ----

    // Parses one address; the name is written back as one UTF-8 encoded word. Sets From, and
    // return-path when the header has none. False (nothing changed) when it does not parse or
    // holds a control byte.
    bool setFrom(std::string_view text);
    void setFromName(std::string_view name);
    // False (nothing changed) unless addr contains '@' and is acceptable (see
    // Rfc822Address::isAcceptable).
    bool setFromAddress(std::string_view addr);
    bool setReplyTo(std::string_view text);
    // False for an empty or unacceptable address (control bytes, blanks or brackets in it).
    // To and Cc rewrite their header field; Bcc has none.
    bool addRecipient(RecipientKind kind, std::string_view name, std::string_view address);
    bool addTo(std::string_view name, std::string_view addr) {
        return addRecipient(RecipientKind::To, name, addr);
    }
    bool addCc(std::string_view name, std::string_view addr) {
        return addRecipient(RecipientKind::Cc, name, addr);
    }
    bool addBcc(std::string_view name, std::string_view addr) {
        return addRecipient(RecipientKind::Bcc, name, addr);
    }
    // Adds every address of a comma-separated list that is not already in the list; returns
    // the number of entries that parsed, duplicates included.
    int addMultiple(RecipientKind kind, std::string_view text);
    // Empties the list and removes its field.
    void clearRecipients(RecipientKind kind);
    [[nodiscard]] int numRecipients(RecipientKind kind) const;
    // Null for an index out of range.
    [[nodiscard]] const Rfc822Address* recipient(RecipientKind kind, int index) const;
    // Null when the e-mail has no sender address.
    [[nodiscard]] const Rfc822Address* from() const { return from_.get(); }
    [[nodiscard]] const std::string& pendingFromName() const { return pendingFromName_; }

    // ---- bodies and charsets ----

    // The body of the main text part: down through first sub-parts, skipping attachments.
    [[nodiscard]] const DataBuffer& getBody() const;
    // Puts the text where the main body belongs, choosing a charset and transfer encoding for
    // it; on an alternative e-mail it becomes (or replaces) the plain or HTML alternative.
    void setBody(std::string_view utf8, bool isHtml);
    // As setBody, after making sure the HTML declares its charset, and marks the part that
    // received it as text/html.
    void setHtmlBody(std::string_view html);
    // Gives the top node the charset of its HTML or plain-text part when it has none.
    void resolveCharset();
    // A name without code page does nothing; without an HTML part the charset is kept for later.
    void setHtmlCharset(std::string_view name);
    void setPlainTextCharset(std::string_view name);
    [[nodiscard]] const Charset& pendingHtmlCharset() const { return pendingHtmlCharset_; }

    // ---- searching the tree (results are owned by the tree) ----

    [[nodiscard]] Email2* findAlternativeNode() const;
    [[nodiscard]] Email2* plainTextNode() const;
    [[nodiscard]] Email2* htmlNode() const;
    [[nodiscard]] int numAlternatives() const;
    // False, with a log entry, for an index out of range.
    [[nodiscard]] bool getAlternativeBody(int index, DataBuffer& out, LogBase& log) const;
    [[nodiscard]] bool getAlternativeContentType(int index, std::string& out, LogBase& log) const;
    // The related node new items go to: the top node, or the first sub-part of a mixed top.
    [[nodiscard]] Email2* findRelatedNodeForAdd() const;
    // The first related node down the first sub-parts.
    [[nodiscard]] Email2* relatedNode() const;
    [[nodiscard]] int numRelatedItems() const;
    [[nodiscard]] Email2* relatedItem(int index) const;
    [[nodiscard]] int numAttachedMessages() const;
    [[nodiscard]] Email2* attachedMessagePart(int index) const;
    // A new e-mail built from attached message index; null when there is none.
    [[nodiscard]] std::unique_ptr<Email2> getAttachedMessage(int index, LogBase& log) const;

    // ---- whole tree ----

    // Gives text parts the transfer encoding their charset and content need.
    void normalizeTransferEncodings();
    // Bytes of header fields and bodies of the whole tree (the announced size of a
    // header-only download).
    [[nodiscard]] int64_t size() const;
    // What sending will transfer, for progress reports.
    [[nodiscard]] int64_t sendSizeEstimate() const;
    // Appends the MIME text of the tree, leaving out header fields whose name begins with
    // skipPrefix (any case; empty leaves none out).
    void renderMime(StringBuffer& out, std::string_view skipPrefix, LogBase& log) const;
    // For filters: "body" (any case) appends the main body bytes as getBody finds them, any
    // other name the value of the first header field of that name; nothing when there is none.
    void getTermValue(std::string_view name, StringBuffer& out) const override;

    // ---- building the tree ----

    // Turns the node (or the first sub-part of a related node) into multipart/mixed whose
    // first sub-part holds the former content. Returns the node that became mixed.
    Email2* makeMixed();
    // Turns the node (or the first sub-part of a related or mixed node) into
    // multipart/alternative holding the former content. Returns the node that changed.
    Email2* makeAlternative();
    // Turns the node into multipart/related holding the former content.
    void makeRelated();
    // Moves the sub-parts of this related node into a new related sub-part and makes this
    // node multipart/mixed.
    void wrapRelatedInMixed();
    // Appends part to the mixed top node (made mixed first); returns its content type.
    std::string addAttachmentPart(std::unique_ptr<Email2> part);
    void addRelated(std::unique_ptr<Email2> part);
    void addAlternative(std::unique_ptr<Email2> part);

    [[nodiscard]] static std::unique_ptr<Email2> makePlainAlternativePart(std::string_view utf8);
    // A charset without code page keeps the one the body setter chose.
    [[nodiscard]] static std::unique_ptr<Email2> makeHtmlAlternativePart(std::string_view html,
                                                                         const Charset& charset);
    // An attachment part; an empty contentType is chosen from the file name.
    [[nodiscard]] static std::unique_ptr<Email2>
    makeAttachmentPart(std::string_view fileName, DataBuffer&& data, std::string_view contentType);
    // A related part with a new Content-ID and no disposition.
    [[nodiscard]] static std::unique_ptr<Email2> makeRelatedPart(std::string_view fileName,
                                                                 DataBuffer&& data);

    // Reads the file and adds it; false (nothing added) when it cannot be read. usedType
    // receives the content type.
    bool addFileAttachment(std::string_view path, std::string_view contentType,
                           std::string& usedType, LogBase& log);
    // An empty file name becomes "attach.dat". Returns the content type used.
    std::string addDataAttachment(std::string_view fileName, DataBuffer&& data,
                                  std::string_view contentType);
    // contentId receives the new Content-ID (angle brackets included).
    bool addRelatedFile(std::string_view path, std::string& contentId, LogBase& log);
    void addRelatedData(std::string_view fileName, DataBuffer&& data, std::string& contentId);

    // The attachments of the tree, in order (owned by the tree).
    [[nodiscard]] std::vector<Email2*> attachments() const;
    [[nodiscard]] int numAttachments() const;
    [[nodiscard]] Email2* attachmentAt(int index) const;
    // Deletes attachment index; false when there is none.
    bool removeAttachment(int index);
    void dropAllAttachments();
    // A missing item is ignored.
    void dropRelatedItem(int index);
    // Keeps only the HTML body of the related node.
    void dropRelatedItems();
    // The filename parameter, else the name parameter, else "attachedFile.dat"; encoded words
    // decoded.
    [[nodiscard]] std::string attachmentFilename() const;
    // Content type for an attachment file name: the extension table, else
    // application/octet-stream.
    [[nodiscard]] static std::string contentTypeForFileName(std::string_view fileName);

    // ---- new e-mails from this one (Email2Copies.cpp) ----

    // A deep copy: the MIME text rebuilt (without S/MIME unwrapping) plus what the text does
    // not carry (Bcc, security state, certificates, signing and encryption choices). Null when
    // the text does not build again.
    [[nodiscard]] std::unique_ptr<Email2> clone(LogBase& log) const;
    // Turns this e-mail (normally a fresh clone) into a reply to its sender: "RE: " subject,
    // quoted original above the body, To the former sender, no Cc or Bcc, new Date and
    // Message-ID, transport fields removed.
    void makeReply();
    // The same with "FW: " and no recipients at all.
    void makeForward();
    // A copy with every (pattern, replacement) pair applied, in order, to text bodies, the
    // subject and the addresses; this e-mail is not changed.
    [[nodiscard]] std::unique_ptr<Email2> withReplacements(const ExtPtrArray<StringPair>& pairs,
                                                           LogBase& log) const;
    // Applies the pairs to this node and, recursively, its sub-parts.
    void applyReplacements(const ExtPtrArray<StringPair>& pairs);

    // ---- node access ----

    [[nodiscard]] const MimeHeader& header() const { return header_; }
    [[nodiscard]] const DataBuffer& body() const { return body_; }
    // Replaces the body bytes as they are (no charset or encoding choice).
    void setBodyBytes(DataBuffer&& body) { body_ = std::move(body); }
    [[nodiscard]] int partCount() const { return static_cast<int>(parts_.getSize()); }
    // Null for an index out of range; the node keeps ownership.
    [[nodiscard]] Email2* partAt(int index) const;
    void addPart(std::unique_ptr<Email2> part);
    void insertPart(int index, std::unique_ptr<Email2> part);
    // Hands the sub-part to the caller; null for an index out of range.
    std::unique_ptr<Email2> removePart(int index);

    [[nodiscard]] const std::string& contentType() const { return contentType_; }
    [[nodiscard]] const std::string& disposition() const { return disposition_; }
    [[nodiscard]] const std::string& transferEncoding() const { return transferEncoding_; }
    [[nodiscard]] const std::string& contentId() const { return contentId_; }
    [[nodiscard]] const std::string& name() const { return name_; }
    [[nodiscard]] const std::string& protocol() const { return protocol_; }
    [[nodiscard]] const std::string& micalg() const { return micalg_; }
    [[nodiscard]] const Charset& charset() const { return charset_; }
    [[nodiscard]] const std::string& boundary() const { return boundary_; }
    [[nodiscard]] const std::string& smimeType() const { return smimeType_; }
    [[nodiscard]] const std::string& filename() const { return filename_; }
    [[nodiscard]] const std::string& typeParam() const { return typeParam_; }
    [[nodiscard]] bool formatFlowed() const { return formatFlowed_; }
    [[nodiscard]] const SystemTime& date() const { return date_; }
    // The code page detected when the header was parsed (0 when none).
    [[nodiscard]] int headerCodePage() const { return headerCodePage_; }

    [[nodiscard]] int popNumber() const { return popNumber_; }
    void setPopNumber(int n) { popNumber_ = n; }
    [[nodiscard]] const SecurityOutcome& security() const { return security_; }
    [[nodiscard]] bool sendSigned() const { return sendSigned_; }
    [[nodiscard]] bool sendEncrypted() const { return sendEncrypted_; }
    void setSendSigned(bool on) { sendSigned_ = on; }
    void setSendEncrypted(bool on) { sendEncrypted_ = on; }
    [[nodiscard]] const std::string& signingCert() const { return signingCert_; }
    [[nodiscard]] const std::string& encryptCert() const { return encryptCert_; }
    void setSigningCert(std::string_view c) { signingCert_ = c; }
    void setEncryptCert(std::string_view c) { encryptCert_ = c; }
    [[nodiscard]] const std::string& cspSpec() const { return cspSpec_; }
    void setCspSpec(std::string_view s) { cspSpec_ = s; }
    // The exact bytes of the signed content of a multipart/signed node (its first sub-part):
    // rendered unchanged so that the detached signature stays valid. Empty for other nodes.
    [[nodiscard]] const std::string& rawText() const { return rawText_; }
    void setRawText(std::string text) { rawText_ = std::move(text); }

    // Node roles.
    [[nodiscard]] bool isMultipart() const;
    [[nodiscard]] bool isMixed() const;
    [[nodiscard]] bool isAlternative() const;
    [[nodiscard]] bool isRelated() const;
    [[nodiscard]] bool isReport() const;
    [[nodiscard]] bool isAttachedMessage() const;
    // Disposition attachment; or a base64 part with a name that is not inline; or an inline
    // leaf with a filename. Never a message/rfc822 part.
    [[nodiscard]] bool isAttachmentNode() const;
    // Disposition attachment, not message/rfc822.
    [[nodiscard]] bool isAttachmentDispositionNode() const;

private:
    friend class Email2Builder;

    [[nodiscard]] ExtPtrArray<Rfc822Address>& list(RecipientKind kind);
    [[nodiscard]] const ExtPtrArray<Rfc822Address>& list(RecipientKind kind) const;
    void rewriteRecipientField(RecipientKind kind);
    void setSenderField();
    [[nodiscard]] bool chooseCharsetFor(std::string_view utf8);
    void setBodyOnNode(std::string_view utf8, bool isHtml, std::string encoding);
    void copyStructuredValues(const Email2& src);
    void takeContentFrom(Email2& src, bool withSubParts);
    [[nodiscard]] bool collectAttachments(std::vector<Email2*>& list, int removeIndex,
                                          std::unique_ptr<Email2>& removed);
    void renderNode(const Email2& root, StringBuffer& out, std::string_view skipPrefix,
                    int depth) const;
    void renderLeafBody(StringBuffer& out) const;
    [[nodiscard]] Charset renderCharset(int depth) const;
    void quoteForResponse(std::string_view subjectPrefix, bool toSender);
    void applyReplacementsHere(std::string_view pattern, std::string_view replacement);

    // A list found by walking the tree, valid while no e-mail has been edited since it was
    // found: a program that reads n items by index walks the tree once, not n times.
    struct TreeList {
        uint64_t edits = 0; // edits_ when found; 0: never
        std::vector<Email2*> items;
        const Email2* leaf = nullptr;
    };
    // Called by every change of a tree's shape or of a node's role (content type,
    // disposition, filename, name, transfer encoding); makes every TreeList stale.
    static void noteEdit() { edits_.fetch_add(1, std::memory_order_relaxed); }
    [[nodiscard]] const std::vector<Email2*>& attachmentList() const;
    // The alternatives; see alternativeParts in Email2Body.cpp for leaf.
    [[nodiscard]] const std::vector<Email2*>& alternativeList(const Email2*& leaf) const;

    static inline std::atomic<uint64_t> edits_{1};
    mutable TreeList attachmentList_;
    mutable TreeList alternativeList_;
    DataBuffer body_;
    MimeHeader header_;
    int headerCodePage_ = 0;
    ExtPtrArray<Email2> parts_;
    ExtPtrArray<Rfc822Address> to_;
    ExtPtrArray<Rfc822Address> cc_;
    ExtPtrArray<Rfc822Address> bcc_;
    std::string pendingFromName_;
    std::unique_ptr<Rfc822Address> from_;
    SystemTime date_;
    std::string contentType_;
    std::string disposition_;
    std::string transferEncoding_;
    std::string contentId_;
    std::string name_;
    std::string protocol_;
    std::string micalg_;
    Charset charset_;
    std::string boundary_;
    std::string smimeType_;
    std::string filename_;
    std::string typeParam_;
    bool formatFlowed_ = false;
    int popNumber_ = -1;
    std::string cspSpec_;
    std::string rawText_;
    SecurityOutcome security_;
    bool sendSigned_ = false;
    bool sendEncrypted_ = false;
    std::string signingCert_;
    std::string encryptCert_;
    Charset pendingHtmlCharset_;
};

} // namespace norvane
