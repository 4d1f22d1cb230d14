// The internal e-mail bundle: ownership, hand-over from the last e-mail to the first, and the
// four stable sorts.

#include "store/MailBundle.h"

#include "common/Platform.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace norvane;

namespace {

struct Shape {
    std::string subject{};
    std::string from{};
    std::string to{};
    std::string date{};
    std::string tag{};
};

std::unique_ptr<Email2> make(const Shape& s) {
    auto e = std::make_unique<Email2>();
    if (!s.subject.empty())
        e->setHeaderField("Subject", s.subject);
    if (!s.from.empty()) {
        EXPECT_TRUE(e->setFrom(s.from));
    }
    if (!s.to.empty()) {
        EXPECT_TRUE(e->addTo("", s.to));
    }
    if (!s.date.empty())
        e->setDate(s.date);
    e->setHeaderField("X-Tag", s.tag);
    return e;
}

MailBundle bundleOf(const std::vector<Shape>& shapes) {
    MailBundle b;
    for (const Shape& s : shapes)
        b.add(make(s));
    return b;
}

std::string tags(const MailBundle& b) {
    std::string out;
    for (int i = 0; i < b.count(); ++i) {
        StringBuffer t;
        (void)b.get(i)->getHeaderField("X-Tag", t);
        out += t.str();
    }
    return out;
}

} // namespace

TEST(MailBundleTest, OutOfRangeIsNullAndTakeHandsOverOwnership) {
    MailBundle b = bundleOf({{.tag = "a"}, {.tag = "b"}, {.tag = "c"}});
    b.add(nullptr);
    EXPECT_EQ(tags(b), "abc");
    for (int bad : {-1, 3}) {
        EXPECT_EQ(b.get(bad), nullptr);
        EXPECT_EQ(b.take(bad), nullptr);
    }
    ASSERT_TRUE(b.take(0));
    EXPECT_EQ(tags(b), "bc");
}

TEST(MailBundleTest, TransferRunsFromTheLastToTheFirstAndNormalisesEncodings) {
    MailBundle b = bundleOf({{.tag = "a"}, {.tag = "b"}, {.tag = "c"}});
    // A text part declared 8bit is made safe for 7-bit transports on the way out.
    b.get(1)->setTransferEncoding("8bit");
    std::string order;
    std::vector<std::string> encodings;
    b.transferAll([&](std::unique_ptr<Email2> e) {
        ASSERT_TRUE(e);
        StringBuffer t;
        (void)e->getHeaderField("X-Tag", t);
        order += t.str();
        encodings.push_back(e->transferEncoding());
    });
    EXPECT_EQ(order, "cba");
    EXPECT_EQ(encodings, (std::vector<std::string>{"7bit", "quoted-printable", "7bit"}));
    EXPECT_EQ(b.count(), 0);
}

TEST(MailBundleTest, SortBySubjectIsByteWiseAndStableInBothDirections) {
    MailBundle b = bundleOf({{.subject = "apple", .tag = "1"},
                             {.subject = "Banana", .tag = "2"},
                             {.tag = "3"},
                             {.subject = "apple", .tag = "4"},
                             {.subject = "\xC3\xA9t\xC3\xA9", .tag = "5"}});
    b.sort(MailSortKey::Subject, true);
    // Empty first; upper case before lower case; bytes above 0x7F last (unsigned).
    EXPECT_EQ(tags(b), "32145");
    b.sort(MailSortKey::Subject, false);
    // Equal keys keep the order they had, descending too.
    EXPECT_EQ(tags(b), "51423");
}

TEST(MailBundleTest, SubjectsSortByTheStoredTextWhereEncodedWordsAreDecoded) {
    MailBundle b = bundleOf({{.subject = "=?utf-8?Q?Zebra?=", .tag = "z"},
                             {.subject = "Mango", .tag = "m"},
                             {.subject = "Apple", .tag = "a"}});
    b.sort(MailSortKey::Subject, true);
    EXPECT_EQ(tags(b), "amz");
}

TEST(MailBundleTest, SortBySenderAndRecipientUseTheDisplayForms) {
    MailBundle b = bundleOf({{.from = "zed@example.com", .to = "b@example.com", .tag = "1"},
                             {.tag = "2"},
                             {.from = "Amy <amy@example.com>", .to = "a@example.com", .tag = "3"},
                             {.tag = "4"}});
    b.sort(MailSortKey::Sender, true);
    // "\"Amy\" <...>" starts with a quote character, which sorts before letters.
    EXPECT_EQ(tags(b), "2431");
    b.sort(MailSortKey::Recipient, true);
    // Without To entries they stay together at the front, in their order.
    EXPECT_EQ(tags(b), "2431");
    b.sort(MailSortKey::Recipient, false);
    EXPECT_EQ(tags(b), "1324");
}

TEST(MailBundleTest, SortByDateOrdersByTimeAndKeepsEqualDatesInOrder) {
    MailBundle b = bundleOf({{.date = "Tue, 05 Mar 2024 14:07:09 +0000", .tag = "1"},
                             {.date = "Tue, 05 Mar 2024 15:07:09 +0200", .tag = "2"},
                             {.date = "Mon, 04 Mar 2024 23:00:00 +0000", .tag = "3"},
                             {.date = "Tue, 05 Mar 2024 14:07:09 +0000", .tag = "4"}});
    b.sort(MailSortKey::Date, true);
    EXPECT_EQ(tags(b), "3214");
    b.sort(MailSortKey::Date, false);
    EXPECT_EQ(tags(b), "1423");
}

TEST(MailBundleTest, ConcurrentSortsInOppositeDirectionsDoNotDisturbEachOther) {
    std::vector<Shape> shapes;
    for (int i = 0; i < 200; ++i)
        shapes.push_back({.subject = "s" + std::to_string(1000 + (i * 37) % 200), .tag = "x"});
    MailBundle up = bundleOf(shapes);
    MailBundle down = bundleOf(shapes);
    std::thread t1([&] {
        for (int i = 0; i < 20; ++i)
            up.sort(MailSortKey::Subject, true);
    });
    std::thread t2([&] {
        for (int i = 0; i < 20; ++i)
            down.sort(MailSortKey::Subject, false);
    });
    t1.join();
    t2.join();
    auto subject = [](const MailBundle& b, int i) {
        StringBuffer s;
        (void)b.get(i)->getHeaderField("Subject", s);
        return s.str();
    };
    for (int i = 0; i + 1 < up.count(); ++i) {
        EXPECT_LT(subject(up, i), subject(up, i + 1));
        EXPECT_GT(subject(down, i), subject(down, i + 1));
    }
}
