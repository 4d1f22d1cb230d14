#pragma once

// The four orders of e-mail lists (by subject, sender, first To recipient, date), shared by the
// internal bundle and the public one, whose list holds façades around e-mails.
//
// Each key is computed once per e-mail before sorting. The direction is an argument of the
// comparison, never shared state, so sorts running at the same time cannot disturb each other;
// the sort is stable, so e-mails with equal keys keep their order (also when descending).

#include "email/Email2.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace norvane {

enum class MailSortKey { Subject, Sender, Recipient, Date };

class MailSort {
public:
    struct Key {
        std::string text;
        int64_t time = 0;
    };

    // The key of one e-mail. A missing e-mail (null) gets the empty key, which sorts first.
    //  - Subject: the Subject field as stored (empty when absent);
    //  - Sender: the sender in display form (empty without a sender address);
    //  - Recipient: the first To entry in display form (empty when there is none);
    //  - Date: the date in local time, as a number that orders like the time.
    [[nodiscard]] static Key keyOf(const Email2* email, MailSortKey key);
    // Negative, 0 or positive: byte-wise unsigned for the texts, earlier first for dates.
    [[nodiscard]] static int compare(const Key& a, const Key& b, MailSortKey key);
    // a before b in the given direction.
    [[nodiscard]] static bool before(const Key& a, const Key& b, MailSortKey key, bool ascending) {
        return ascending ? compare(a, b, key) < 0 : compare(b, a, key) < 0;
    }

    // Sorts items in place; emailOf(const T&) gives the e-mail an item holds (or null).
    template <class T, class EmailOf>
    static void sort(std::vector<std::unique_ptr<T>>& items, MailSortKey key, bool ascending,
                     EmailOf emailOf) {
        struct Entry {
            Key key;
            std::unique_ptr<T> item;
        };
        std::vector<Entry> entries;
        entries.reserve(items.size());
        for (auto& item : items) {
            Key k = keyOf(item ? emailOf(*item) : nullptr, key);
            entries.push_back({std::move(k), std::move(item)});
        }
        std::stable_sort(entries.begin(), entries.end(),
                         [key, ascending](const Entry& a, const Entry& b) {
                             return before(a.key, b.key, key, ascending);
                         });
        for (size_t i = 0; i < entries.size(); ++i)
            items[i] = std::move(entries[i].item);
    }
};

} // namespace norvane
