// ClassifyEntry: decides whether a newly parsed row is junk by the trust,
// black and domain lists, the size limit and a blank sender, and marks it
// with the colour of the rule that caught it.
#pragma once

#include <cstdint>
#include <string>

#include "filter/message_model.h"
#include "settings/preferences.h"

namespace iw::settings {
class SettingsStore;
}

namespace iw::filter {

// The three sender lists as the classification asks them: one lookup per
// question, read afresh for every row so that a list action takes effect
// for every row parsed after it.
class SenderLists {
public:
    virtual ~SenderLists() = default;
    virtual bool isTrusted(const std::u16string& address) = 0;
    virtual bool isBlackListed(const std::u16string& address) = 0;
    virtual bool isDomainListed(const std::u16string& domain) = 0;
};

// The lists of one Windows user in set.ini, through the settings store.
class StoreSenderLists : public SenderLists {
public:
    StoreSenderLists(settings::SettingsStore& store, std::u16string userSection)
        : store_(store), userSection_(std::move(userSection)) {}
    bool isTrusted(const std::u16string& address) override;
    bool isBlackListed(const std::u16string& address) override;
    bool isDomainListed(const std::u16string& domain) override;

private:
    settings::SettingsStore& store_;
    std::u16string userSection_;
};

struct ClassifyContext {
    SenderLists& lists;
    settings::Options options;  // the lists, size and blank-sender switches are used
    int sizeLimitKB = 50;        // read when the filter window loads
};

// A size in bytes as tenths of a KB: bytes / 1024 rounded to one decimal
// place, a half going to the even neighbour.
std::uint64_t SizeTenthsOfKB(std::uint64_t bytes);
// The size column's text: shortest form of the tenths, then "KB".
std::u16string SizeText(std::uint64_t bytes);

// Classifies `row` (already filled) whose bare sender address is
// `senderAddress` and whose size is `sizeBytes`. Only ever sets the check
// mark and the colour, never clears them. Also sets the row's Reason: the
// rule that decided (the one whose colour the row shows) with the list
// entry or the two sizes, and any other rule the row matches; for a row
// left unmarked, the trust-list entry that spared it, a matching list whose
// switch is off, or that no rule matched.
void ClassifyEntry(MessageEntry& row, const std::u16string& senderAddress, std::uint64_t sizeBytes,
                   const ClassifyContext& context);

// The reason as the user should read it now: the classification's reason,
// preceded by the row's present state when the user (or a list action)
// changed the check mark since.
std::u16string MarkReasonText(const MessageEntry& row);

}  // namespace iw::filter
