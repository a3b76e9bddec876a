// The message lists of one filter-window run, as plain data the filter
// window's presenter owns: one list per account of the session (index =
// roster position), the visible list that mirrors one of them, and the
// session values the header parser reads and updates. The parser, the
// classification, the session, the deletion run and the list actions all
// work on this one model; the view only mirrors it.
//
// The header parser (filter/header_parser.h) reports through the small
// ParseReporter interface below and never touches a window.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace iw::filter {

// Why a row is checked, which decides its text colour. The colours are
// 0xRRGGBB values given by rowColorRgb(); Default is the list's own text
// colour (the view keeps whatever the control uses).
enum class RowColor {
    Default,
    BlackList,    // (255, 0, 0)
    DomainList,   // (255, 118, 64)
    SizeLimit,    // (41, 0, 223)
    BlankSender,  // (255, 0, 48)
};

// 0xRRGGBB for a rule's colour; nullopt for Default.
constexpr std::optional<std::uint32_t> rowColorRgb(RowColor c) {
    switch (c) {
    case RowColor::BlackList: return 0xFF0000u;
    case RowColor::DomainList: return 0xFF7640u;
    case RowColor::SizeLimit: return 0x2900DFu;
    case RowColor::BlankSender: return 0xFF0030u;
    case RowColor::Default: break;
    }
    return std::nullopt;
}

// One message seen on a server during a filter run. Its position in its
// account's list, counted from 1, is its POP3 message number.
struct MessageEntry {
    std::u16string SenderText;    // column 1: decoded sender, "name <address>" or the bare address
    std::u16string Subject;       // column 2
    std::u16string SizeText;      // column 3: "12.3KB", "3KB", "0KB"
    std::u16string ReceivedText;  // column 4: date and time in the user's general format
    std::u16string PreviewText;   // column 5: first body lines, each followed by CR LF;
                                  // kept only in the account's list, empty in the visible list
    bool Checked = false;         // junk: the deletion run deletes it
    RowColor TextColor = RowColor::Default;
    std::u16string Reason;        // why the classification marked the row or left it (one line);
                                  // empty when it was not judged

    friend bool operator==(const MessageEntry&, const MessageEntry&) = default;
};

using MessageList = std::vector<MessageEntry>;

// The state shared by the session, the parser and the window.
struct FilterModel {
    // Per account, index = roster position (0-based), all of one size.
    std::vector<std::u16string> AccountSections;  // the account's section name (e-mail address)
    std::vector<std::int32_t> MessageCounts;      // messages to fetch
    std::vector<MessageList> AccountLists;        // the account's hidden message list

    // The visible list: row n mirrors row n of one account's list (every
    // field but PreviewText).
    MessageList VisibleList;
    // Which account list the visible list shows: account position + 1; 0
    // while none is shown.
    int ShownList = 0;

    // The LIST lines, "n size" CR LF each, as received (bytes). The parser
    // consumes one line per parsed reply by moving ListingRead past it, so a
    // long listing is read in linear time; RemainingListing() is what is
    // left. Whoever clears or replaces ListingText goes through
    // clearListing() or setListing(), which start reading from the front.
    std::string ListingText;
    std::size_t ListingRead = 0;

    std::string_view RemainingListing() const {
        return std::string_view(ListingText).substr(std::min(ListingRead, ListingText.size()));
    }
    void setListing(std::string listing) {
        ListingText = std::move(listing);
        ListingRead = 0;
    }
    void clearListing() { setListing({}); }
    // Whole seconds since midnight of the last parsed header.
    std::int32_t LastActivity = 0;
    // Set by the parser when an account's last message has been parsed.
    bool PhaseDone = false;
    // TOP asks for three body lines; the parser then builds PreviewText.
    bool PreviewLines = false;

    // Sizes every per-account vector for `sections` and empties the lists.
    void resetAccounts(std::vector<std::u16string> sections) {
        AccountSections = std::move(sections);
        MessageCounts.assign(AccountSections.size(), 0);
        AccountLists.assign(AccountSections.size(), MessageList{});
        VisibleList.clear();
        ShownList = 0;
    }
};

// Where the parser's progress texts and error messages go. The filter
// window implements it with its status bar, the progress tip window and a
// message box; the CLI and tests record the calls. Calls come from inside
// ParseMessageHeader; an implementation must not call the parser again and
// must not throw.
class ParseReporter {
public:
    virtual ~ParseReporter() = default;
    // The first panel of the status bar.
    virtual void statusText(const std::u16string& text) = 0;
    // The progress tip's label; the tip is created when missing but not shown.
    virtual void tipLabel(const std::u16string& text) = 0;
    // A message box with an OK button and the program's title. `text` is the
    // error number directly followed by "LIST", CR LF and the description.
    virtual void errorBox(const std::u16string& text) = 0;
};

}  // namespace iw::filter
