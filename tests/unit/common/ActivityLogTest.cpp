#include "common/Logger.h"
#include "facade/ClsBase.h"
#include "support/LogText.h"
#include "support/TestDirs.h"

#include <gtest/gtest.h>

using namespace norvane;
using test::logText;
using test::logXml;

namespace {

std::string html(const Logger& log) {
    StringBuffer sb;
    log.getLastErrorHtml(sb);
    return sb.str();
}

// A façade whose member records nothing, or what the test asks, through the usual frame.
class Probe : public ClsBase {
public:
    void member(bool recordSomething) {
        m_log.clearLog();
        m_log.enterContext("Probe");
        if (recordSomething)
            m_log.logInfo("line one\nline two");
        m_log.leaveContext();
    }
};

} // namespace

TEST(ActivityLogTest, WorkedExampleRendersAsDocumented) {
    Logger log;
    log.clearLog();
    log.enterContext("SendEmail");
    log.logData("certificate_store", "My");
    log.logError("Failed to find certificate for digital signature");
    log.leaveContext();
    EXPECT_EQ(logXml(log), "<NorvaneLog>\n"
                           "<SendEmail>\n"
                           "    <certificate_store>My</certificate_store>\n"
                           "    <error>Failed to find certificate for digital signature</error>\n"
                           "</SendEmail>\n"
                           "</NorvaneLog>\n");
    EXPECT_EQ(logText(log),
              "certificate_store: My\r\nFailed to find certificate for digital signature\r\n");
    EXPECT_EQ(html(log),
              "certificate_store: My<br>Failed to find certificate for digital signature<br>");
}

TEST(ActivityLogTest, EmptyMemberLeavesEmptyFormsAndEmptyDocument) {
    test::TempDir dir;
    Probe p;
    p.member(false);
    EXPECT_EQ(p.get_LastErrorText(), "");
    EXPECT_EQ(p.get_LastErrorXml(), "");
    EXPECT_EQ(p.get_LastErrorHtml(), "");
    ASSERT_TRUE(p.SaveLastError(dir.file("log.xml").c_str()));
    EXPECT_EQ(test::readFile(dir.file("log.xml")),
              "<?xml version=\"1.0\"  encoding=\"utf-8\" standalone=\"yes\" ?>\n"
              "<NorvaneLog>The log is empty</NorvaneLog>");
}

TEST(ActivityLogTest, MultiLineErrorBecomesContinuationLinesAndOneCdataElement) {
    Logger log;
    log.logError("first\r\n\r\nsecond");
    EXPECT_EQ(logText(log), "first\r\n  second\r\n");
    EXPECT_EQ(logXml(log),
              "<NorvaneLog>\n<error><![CDATA[first\n  second]]></error>\n</NorvaneLog>\n");
    log.enterContext("Ctx");
    log.logError("a\nb");
    log.leaveContext();
    EXPECT_EQ(logXml(log), "<NorvaneLog>\n<error><![CDATA[first\n  second]]></error>\n"
                           "<Ctx>\n    <error><![CDATA[a\n  b]]></error>\n</Ctx>\n</NorvaneLog>\n");
}

TEST(ActivityLogTest, MessageArgumentRules) {
    Logger log;
    EXPECT_FALSE(log.logError(""));
    EXPECT_TRUE(log.logError("\r\n\r"));
    EXPECT_EQ(log.entryCount(), 0u);
    EXPECT_TRUE(log.logInfo("x", "SendEmail"));
    EXPECT_EQ(logXml(log), "<NorvaneLog>\n<info keyword=\"SendEmail\">x</info>\n</NorvaneLog>\n");
}

TEST(ActivityLogTest, DataValuesAreWrappedOrEscapedByContent) {
    Logger log;
    log.logData("a", "x<y");
    log.logData("b", "letters");
    log.logData("c", "<![CDATA[ & ]]>");
    log.logData("d", "tab\there");
    EXPECT_EQ(logXml(log), "<NorvaneLog>\n"
                           "<a><![CDATA[x<y]]></a>\n"
                           "<b>letters</b>\n"
                           "<c>&lt;![CDATA[ &amp; ]]&gt;</c>\n"
                           "<d><![CDATA[tab\there]]></d>\n"
                           "</NorvaneLog>\n");
}

TEST(ActivityLogTest, MessageWithBothCdataMarkersIsWrittenUnescaped) {
    Logger log;
    log.logInfo("<![CDATA[ a&b ]]>");
    EXPECT_EQ(logXml(log), "<NorvaneLog>\n<info><![CDATA[ a&b ]]></info>\n</NorvaneLog>\n");
    Logger amp;
    amp.logInfo("a&b");
    EXPECT_EQ(logXml(amp), "<NorvaneLog>\n<info><![CDATA[a&b]]></info>\n</NorvaneLog>\n");
}

TEST(ActivityLogTest, DataNamesAreTrimmedAndBlanksBecomeUnderscores) {
    Logger log;
    EXPECT_FALSE(log.logData(" \t ", "v"));
    EXPECT_TRUE(log.logData(" num attachments\t", ""));
    EXPECT_TRUE(log.logDataLong("index", -7));
    EXPECT_EQ(logText(log), "num_attachments: \r\nindex: -7\r\n");
}

TEST(ActivityLogTest, LeaveContextEdgeCases) {
    Logger log;
    log.leaveContext(); // empty log: nothing happens
    EXPECT_EQ(log.entryCount(), 0u);
    log.enterContext("Outer");
    log.enterContext("Inner");
    log.leaveContext(); // empty inner vanishes
    log.logInfo("i");
    log.leaveContext();
    log.leaveContext(); // nothing open: an 'E' that renders as nothing
    EXPECT_EQ(log.entryCount(), 4u);
    EXPECT_EQ(logXml(log), "<NorvaneLog>\n<Outer>\n    <info>i</info>\n</Outer>\n</NorvaneLog>\n");
}

TEST(ActivityLogTest, UnclosedContextsCloseAtEndWithoutIndentation) {
    Logger log;
    log.enterContext("A");
    log.enterContext("B");
    log.logError("e");
    EXPECT_EQ(logXml(log),
              "<NorvaneLog>\n<A>\n    <B>\n        <error>e</error>\n</B>\n</A>\n</NorvaneLog>\n");
}

TEST(ActivityLogTest, DebugOnlyInXmlAndRawXmlItemUnindented) {
    Logger log;
    log.enterContext("C");
    log.logDebug("dbg");
    log.logXml("<raw a=\"1\"/>");
    log.leaveContext();
    EXPECT_EQ(logText(log), "__xml__: <raw a=\"1\"/>\r\n");
    EXPECT_EQ(logXml(log),
              "<NorvaneLog>\n<C>\n    <debug>dbg</debug>\n<raw a=\"1\"/>\n</C>\n</NorvaneLog>\n");
}

TEST(ActivityLogTest, HtmlEscapesAndFacadeNormalisesLineEnds) {
    Probe p;
    p.member(true);
    EXPECT_EQ(p.get_LastErrorText(), "line one\r\n  line two\r\n");
    EXPECT_EQ(p.get_LastErrorXml(), "<NorvaneLog>\r\n<Probe>\r\n    <info><![CDATA[line one\r\n"
                                    "  line two]]></info>\r\n</Probe>\r\n</NorvaneLog>\r\n");
    Logger log;
    log.logError("a & \"b\" <c>");
    EXPECT_EQ(html(log), "a &amp; &quot;b&quot; &lt;c&gt;<br>");
}

TEST(ActivityLogTest, SaveLastErrorNameRules) {
    test::TempDir dir;
    Probe p;
    p.member(true);
    EXPECT_FALSE(p.SaveLastError(nullptr));
    EXPECT_FALSE(p.SaveLastError(" \r\n"));
    EXPECT_FALSE(p.SaveLastError((dir.path() + "/missing/dir/log.xml").c_str()));
    std::string name = dir.file("log.xml");
    ASSERT_TRUE(p.SaveLastError(("  " + name + "\n").c_str()));
    EXPECT_EQ(test::readFile(name),
              "<?xml version=\"1.0\"  encoding=\"utf-8\" standalone=\"yes\" ?>\n"
              "<NorvaneLog>\n<Probe>\n    <info><![CDATA[line one\n"
              "  line two]]></info>\n</Probe>\n</NorvaneLog>\n");
}
