// One message of a filter run as the engine keeps it: a row of an account's
// message list (its position, counted from 1, is the POP3 message number)
// and of the visible list that mirrors the shown account row for row.
#pragma once

#include <cstdint>
#include <string>

namespace iw::filter {

// The list's own text colour: the row is shown in the default colour.
inline constexpr std::uint32_t kDefaultTextColor = 0xFFFFFFFFu;

struct MessageRow {
    std::u16string SenderText;
    std::u16string Subject;
    std::u16string SizeText;
    std::u16string ReceivedText;
    std::u16string PreviewText;  // kept in the account's list only
    bool Checked = false;
    std::uint32_t TextColor = kDefaultTextColor;  // 0xRRGGBB or kDefaultTextColor
    // The POP3 message number of the reply the row was parsed from; 0 when
    // unknown, in which case the row's position stands for it.
    std::int32_t Number = 0;
};

// The address between "<" and the last ">", or the whole text, without
// surrounding blanks. Returns false (and leaves `out` empty) when a "<" has
// no ">" after it.
bool ExtractSenderAddress(const std::u16string& text, std::u16string& out);

}  // namespace iw::filter
