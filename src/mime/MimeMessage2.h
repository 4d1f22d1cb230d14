#pragma once

// One node of a MIME entity tree: a header, a decoded body and, for multiparts, child nodes.
//
// Parsing never fails. Damaged line ends are repaired, a multipart whose boundary never occurs
// becomes one unsplit child, a missing close delimiter lets the last part run to the end, and
// the bounds of MimeParseLimits (nesting depth, node count) keep what lies beyond them as an
// opaque body. Defects are written to the log; the tree is always the best that could be read.
//
// The Content-* members are derived from the header, which is the master copy: every setter
// writes the header field and derives the members again. Bodies are held decoded; text bodies
// with a charset are held as UTF-8 and converted back when rendered.

#include "charset/Charset.h"
#include "common/DataBuffer.h"
#include "common/ExtPtrArray.h"
#include "common/LogBase.h"
#include "common/NorvaneObject.h"
#include "common/StringBuffer.h"
#include "mime/MimeHeader.h"
#include "mime/MimeParseLimits.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace norvane {

class MimeMessage2 : public NorvaneObject {
public:
    MimeMessage2() = default;
    MimeMessage2(const MimeMessage2&) = delete;
    MimeMessage2& operator=(const MimeMessage2&) = delete;

    // Empties members, header, body and children.
    void clear();

    // Parses MIME text into this node (see the file comment for damaged input).
    void loadFromText(std::string_view text, LogBase& log, const MimeParseLimits& limits = {});
    // Clears; loads headerText as the header; sets the body from encodedBody through the
    // node's transfer encoding and charset; takes over the children (children is left empty).
    void loadFromParts(std::string_view headerText, std::string_view encodedBody,
                       ExtPtrArray<MimeMessage2>& children, LogBase& log);

    // Header, blank line, the preamble line when the node has children (and emitPreamble), body.
    void render(StringBuffer& out) const;
    void renderHeader(StringBuffer& out) const;
    // Children between boundary lines, or the body converted to the charset and encoded.
    void renderBody(StringBuffer& out) const;

    // The first field called name, with encoded words decoded; false when there is none.
    [[nodiscard]] bool getHeaderField(std::string_view name, StringBuffer& out) const;
    // Trims both; an empty value removes the field. Content-* members follow the header.
    void setHeaderField(std::string_view name, std::string_view value);

    // Composes the Content-Type field from all its members (text types get us-ascii when no
    // charset is given) and derives the members from it again.
    void setContentType(std::string_view type, std::string_view name, std::string_view protocol,
                        std::string_view micalg, const Charset& charset, std::string_view boundary,
                        std::string_view smimeType, std::string_view typeParam);
    // Rebuild Content-Type with one member replaced.
    void setContentTypeOnly(std::string_view type);
    void setNameParam(std::string_view name);
    void setFormatFlowed(bool on);

    // Both empty removes Content-Disposition; otherwise writes type and a quoted filename.
    void setDisposition(std::string_view type, std::string_view filename);
    // Keeps the disposition type, "attachment" when there is none and filename is not empty.
    void setFilename(std::string_view filename);
    void setTransferEncoding(std::string_view token);

    // Decodes bytes by encoding (base64, quoted-printable, else as is) into the body; a text
    // body with a charset other than UTF-8 is converted to UTF-8. A base64 body with bytes
    // outside the alphabet is left empty and logged.
    void setBodyEncoded(std::string_view encoding, std::string_view bytes, const Charset& charset,
                        LogBase& log);

    [[nodiscard]] bool isMultipart() const;
    [[nodiscard]] bool isMultipartMixed() const { return contentType_ == "multipart/mixed"; }
    [[nodiscard]] bool isMultipartSigned() const { return contentType_ == "multipart/signed"; }
    [[nodiscard]] bool isAttachment() const;
    // application/(x-)pkcs7-mime that is not signed-data.
    [[nodiscard]] bool isEncrypted() const;
    // application/(x-)pkcs7-mime with smime-type signed-data.
    [[nodiscard]] bool isOpaqueSigned() const;

    [[nodiscard]] int partCount() const { return static_cast<int>(parts_.getSize()); }
    // Null for an index out of range. The node keeps ownership.
    [[nodiscard]] MimeMessage2* partAt(int index) const;
    void addPart(std::unique_ptr<MimeMessage2> part);
    void insertPartFirst(std::unique_ptr<MimeMessage2> part);
    // Hands the child back to the caller; null for an index out of range.
    std::unique_ptr<MimeMessage2> removePartAt(int index);

    // Cuts every filename and name parameter of the subtree to its last path component.
    void normalizeFileNames();
    // An X-UUencode body is decoded (empty when there is no "begin" line) and relabelled base64.
    void decodeUuencodedBody(LogBase& log);
    // multipart/appledouble: removes the data fork (child 1) and hands it to the caller.
    [[nodiscard]] std::unique_ptr<MimeMessage2> detachAppleDoubleData();

    // The step S/MIME unwrapping ends with: this node becomes content (its children, body and
    // header; the Content-* fields of this node are replaced by those of content).
    void adoptContent(std::unique_ptr<MimeMessage2> content);

    // Appends a fresh boundary "----=_NextPart_..." built from a new UUID.
    static void makeBoundary(StringBuffer& out);

    [[nodiscard]] const MimeHeader& header() const { return header_; }
    [[nodiscard]] const DataBuffer& body() const { return body_; }
    // The bytes this node had in the parsed text; kept for the signed content of
    // multipart/signed (rendered unchanged so that the signature stays valid) and for the
    // nothing else.
    [[nodiscard]] const std::string& rawText() const { return rawText_; }
    [[nodiscard]] bool emitPreamble() const { return emitPreamble_; }
    void setEmitPreamble(bool on) { emitPreamble_ = on; }

    [[nodiscard]] const std::string& contentType() const { return contentType_; }
    [[nodiscard]] const std::string& disposition() const { return disposition_; }
    [[nodiscard]] const std::string& transferEncoding() const { return transferEncoding_; }
    [[nodiscard]] const std::string& name() const { return name_; }
    [[nodiscard]] const std::string& filename() const { return filename_; }
    [[nodiscard]] const std::string& protocol() const { return protocol_; }
    [[nodiscard]] const std::string& micalg() const { return micalg_; }
    [[nodiscard]] const std::string& smimeType() const { return smimeType_; }
    [[nodiscard]] const std::string& typeParam() const { return typeParam_; }
    [[nodiscard]] const Charset& charset() const { return charset_; }
    [[nodiscard]] const std::string& boundary() const { return boundary_; }
    [[nodiscard]] const std::string& contentId() const { return contentId_; }
    [[nodiscard]] bool formatFlowed() const { return formatFlowed_; }

    // True for the one text/plain child that holds the body of a multipart in which no
    // delimiter was found; the parent renders that text back without delimiters.
    [[nodiscard]] bool unsplit() const { return unsplit_; }
    static constexpr std::string_view kPreamble =
        "This is a multi-part message in MIME format.\r\n\r\n";

private:
    struct ParseContext;

    // defaultType is the type of a part with no header fields at all. lfOnly: the text has LF
    // line ends and no CR at all, and is read as the same text with CR LF line ends (the
    // body, the raw text and the unsplit text get CR LF) without a copy of the whole.
    void parseText(std::string_view text, size_t depth, ParseContext& ctx,
                   std::string_view defaultType, bool lfOnly);
    void parseBody(std::string_view bodyText, size_t depth, ParseContext& ctx, bool lfOnly);
    void splitMultipart(std::string_view bodyText, size_t depth, ParseContext& ctx, bool lfOnly);
    void addChild(std::string_view text, bool keepRaw, size_t depth, ParseContext& ctx,
                  std::string_view defaultType, bool lfOnly);
    void parseUnsplit(std::string_view text, bool lfOnly);
    void decodeBody(std::string_view encoding, std::string_view bytes, bool lfOnly,
                    const Charset& charset, LogBase& log);
    void applyXHtml(std::string_view bodyText);

    void deriveAll();
    void deriveContentType();
    void deriveDisposition();
    void deriveContentId();
    void deriveTransferEncoding();
    void composeContentType();
    [[nodiscard]] bool isTextType() const;

    void renderLeafBody(StringBuffer& out) const;
    void renderChildren(StringBuffer& out) const;

    std::string rawText_;
    bool unsplit_ = false;
    DataBuffer body_;
    MimeHeader header_;
    bool emitPreamble_ = true;
    ExtPtrArray<MimeMessage2> parts_;
    std::string contentType_;
    std::string disposition_;
    std::string transferEncoding_;
    std::string name_;
    std::string filename_;
    std::string protocol_;
    std::string micalg_;
    std::string smimeType_;
    std::string typeParam_;
    Charset charset_;
    std::string boundary_;
    std::string contentId_;
    bool formatFlowed_ = false;
};

} // namespace norvane
