#include "common/ActivityLog.h"

#include "common/FileAccess.h"
#include "common/LogBase.h"

#include <vector>

namespace norvane {

namespace {

constexpr std::string_view kMessagePlaceholder = "_MESSAGE_";

// Text that the XML form puts inside CDATA. A text that already carries both CDATA markers is
// never wrapped, since wrapping would end the section early.
bool needsCdata(std::string_view s) {
    if (s.find("<![CDATA[") != std::string_view::npos && s.find("]]>") != std::string_view::npos)
        return false;
    return s.find_first_of("\n\t&<>") != std::string_view::npos;
}

void appendCdata(StringBuffer& out, std::string_view s) {
    out.append("<![CDATA[");
    out.append(s);
    out.append("]]>");
}

std::string_view elementForSeverity(char severity) {
    switch (severity) {
    case 'E':
        return "error";
    case 'I':
        return "info";
    default:
        return "debug";
    }
}

} // namespace

void ActivityLog::addMessage(char severity, std::string_view text, std::string_view keyword,
                             bool continuation) {
    auto e = std::make_unique<LogEntry>();
    e->kind = 'M';
    e->severity = severity;
    e->text.assign(text);
    e->name.assign(keyword);
    e->continuation = continuation;
    entries_.appendObject(std::move(e));
}

void ActivityLog::enterContext(std::string_view name) {
    auto e = std::make_unique<LogEntry>();
    e->kind = 'C';
    e->text.assign(name);
    entries_.appendObject(std::move(e));
}

void ActivityLog::leaveContext() {
    LogEntry* last = entries_.lastElement();
    if (!last)
        return;
    if (last->kind == 'C') {
        // A context that recorded nothing leaves no trace.
        (void)entries_.removeAt(entries_.getSize() - 1);
        return;
    }
    auto e = std::make_unique<LogEntry>();
    e->kind = 'E';
    entries_.appendObject(std::move(e));
}

void ActivityLog::addData(std::string_view name, std::string_view value) {
    auto e = std::make_unique<LogEntry>();
    e->kind = 'D';
    e->name.assign(name);
    e->text.assign(value);
    entries_.appendObject(std::move(e));
}

void ActivityLog::renderLines(StringBuffer& out, std::string_view lineTemplate,
                              bool escapeHtml) const {
    size_t at = lineTemplate.find(kMessagePlaceholder);
    std::string_view before = lineTemplate.substr(0, at);
    std::string_view after = lineTemplate.substr(at + kMessagePlaceholder.size());
    std::string line;
    for (const auto& e : entries_) {
        if (e->kind == 'M' && (e->severity == 'E' || e->severity == 'I')) {
            line = e->text;
        } else if (e->kind == 'D') {
            line = e->name + ": " + e->text;
        } else {
            continue;
        }
        out.append(before);
        out.append(escapeHtml ? sb::htmlEscape(line) : line);
        out.append(after);
    }
}

void ActivityLog::renderText(StringBuffer& out) const {
    renderLines(out, "_MESSAGE_\r\n", false);
}

void ActivityLog::renderHtml(StringBuffer& out) const {
    renderLines(out, "_MESSAGE_<br>", true);
}

void ActivityLog::renderXml(StringBuffer& out) const {
    if (entries_.isEmpty())
        return;
    std::string indent;
    std::vector<const LogEntry*> open;
    out.append("<NorvaneLog>\n");
    const auto& items = entries_.items();
    for (size_t i = 0; i < items.size(); ++i) {
        const LogEntry& e = *items[i];
        switch (e.kind) {
        case 'C':
            open.push_back(&e);
            out.append(indent);
            out.append("<" + e.text + ">\n");
            indent.append("    ");
            break;
        case 'E':
            if (open.empty())
                break;
            indent.resize(indent.size() >= 4 ? indent.size() - 4 : 0);
            out.append(indent);
            out.append("</" + open.back()->text + ">\n");
            open.pop_back();
            break;
        case 'D':
            if (e.name == "__xml__") {
                out.append(e.text);
                out.appendChar('\n');
                break;
            }
            out.append(indent);
            out.append("<" + e.name + ">");
            if (needsCdata(e.text))
                appendCdata(out, e.text);
            else
                out.append(sb::xmlEscape(e.text));
            out.append("</" + e.name + ">\n");
            break;
        default: { // 'M' and the continuation lines that follow it form one element
            std::string content = e.text;
            size_t j = i + 1;
            for (; j < items.size() && items[j]->kind == 'M' && items[j]->continuation; ++j) {
                content.push_back('\n');
                content.append(items[j]->text);
            }
            bool group = j - i > 1;
            i = j - 1;
            std::string_view tag = elementForSeverity(e.severity);
            out.append(indent);
            out.append("<");
            out.append(tag);
            if (!e.name.empty())
                out.append(" keyword=\"" + e.name + "\"");
            out.append(">");
            if (group || needsCdata(content))
                appendCdata(out, content);
            else
                out.append(content);
            out.append("</");
            out.append(tag);
            out.append(">\n");
        }
        }
    }
    while (!open.empty()) {
        out.append("</" + open.back()->text + ">\n");
        open.pop_back();
    }
    out.append("</NorvaneLog>\n");
}

bool ActivityLog::saveXml(const char* path) const {
    if (!path)
        return false;
    StringBuffer doc("<?xml version=\"1.0\"  encoding=\"utf-8\" standalone=\"yes\" ?>\n");
    StringBuffer xml;
    renderXml(xml);
    if (xml.isEmpty())
        doc.append("<NorvaneLog>The log is empty</NorvaneLog>");
    else
        doc.append(xml);
    LogNull quiet;
    return file::writeWholeFile(path, doc.bytes(), &quiet);
}

} // namespace norvane
