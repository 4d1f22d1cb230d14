// nvmail to-xml and from-xml: an .eml to its XML form and back, and their failures.

#include "common/FileAccess.h"
#include "unit/nvmail/NvmailRun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace norvane;

using namespace norvane::test;
using Result = NvmailResult;

TEST(NvmailXmlTest, ToXmlAndBackKeepTheMessage) {
    test::TempDir dir;
    const std::string eml = dir.file("in.eml");
    ASSERT_TRUE(file::writeWholeFile(eml,
                                     "From: Ann <ann@example.com>\r\nSubject: Hi & bye\r\n"
                                     "Content-Type: text/plain\r\n\r\nline 1\r\nline 2\r\n",
                                     nullptr));
    Result r = nvmailMerged("to-xml " + eml);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "<?xml version=\"1.0\" ?>\n<mime_message>\n<header>\n<from>\n<address>\n"
                     "\t<addr>ann@example.com</addr>\n\t<name>Ann</name>\n</address>\n</from>\n"
                     "<subject>Hi &amp; bye</subject>\n<content-type>\ntext/plain\n"
                     "</content-type>\n</header>\n<body>\n<![CDATA[line 1\r\nline 2\r\n]]>\n"
                     "</body>\n</mime_message>\n");

    const std::string xml = dir.file("out.xml");
    ASSERT_EQ(nvmailMerged("to-xml " + eml + " " + xml).status, 0);
    EXPECT_EQ(test::readFile(xml), r.out);
    r = nvmailMerged("from-xml " + xml);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "from: \"Ann\" <ann@example.com>\r\nsubject: Hi & bye\r\n"
                     "content-type: text/plain\r\n\r\nline 1\r\nline 2\r\n");
}

TEST(NvmailXmlTest, WhatToXmlWritesFromXmlReads) {
    // An empty file used to give a declaration alone, which is no XML, with status 0.
    test::TempDir dir;
    const struct {
        const char* text;
        int status;
        const char* err;
    } cases[] = {
        {"", 1, "cannot read IN: the file is empty"},
        {"   ", 1, "no e-mail in IN: no header fields and no body"},
        // A blank line alone ends an empty header before an empty body.
        {"\r\n", 1, "no e-mail in IN: no header fields and no body"},
        {"\n\n\n", 0, ""},
        {"Subject: only a header\r\n", 0, ""},
        {"Subject: s\r\n\r\nbody\r\n", 0, ""},
    };
    for (const auto& c : cases) {
        const std::string in = dir.file("in.eml"), xml = dir.file("out.xml");
        std::remove(xml.c_str());
        ASSERT_TRUE(file::writeWholeFile(in, std::string_view(c.text), nullptr));
        const Result r = nvmail("to-xml " + in + " " + xml);
        EXPECT_EQ(r.status, c.status) << c.text;
        if (c.status != 0) {
            std::string err = c.err;
            err.replace(err.find("IN"), 2, in);
            EXPECT_EQ(r.err, "nvmail: " + err + "\n");
            EXPECT_FALSE(test::readFile(xml).size()) << "no output for a failure: " << c.text;
            continue;
        }
        const Result back = nvmail("from-xml " + xml);
        EXPECT_EQ(back.status, 0) << c.text << back.err;
    }
}

TEST(NvmailXmlTest, NoEmailInTheXml) {
    test::TempDir dir;
    const std::string bad = dir.file("bad.xml");
    ASSERT_TRUE(file::writeWholeFile(bad, "<email_bundle></email_bundle>", nullptr));
    const Result r = nvmail("from-xml " + bad + " " + dir.file("out.eml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("nvmail: no e-mail in " + bad + ": ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(test::readFile(dir.file("out.eml")), "");
}
