// The header text decoders of the mail filter and ExtractAddress.
//
// Header text arrives as bytes that the program reads in its ANSI code page
// (Big5, code page 950). The decoders work on those bytes and return the
// decoded bytes; the caller turns them into text once, with the character
// set the message names (ConvertCodePage), so nothing is lost on a round
// trip through Big5. A decoder never reports an error: on bad input it
// returns empty bytes, which the caller cannot tell from an empty payload.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace iw::filter {

// Base64 with the filter's own rules: "=" fill only at the end, no blanks or
// line ends, a body whose length is not a multiple of 4 completed by zero
// values. The result ends before the first zero byte. Empty on failure.
std::string DecodeBase64(std::string_view text);

// Quoted-printable with the filter's own rules: "=XY" gives 16*H(X)+H(Y)
// where "1"-"9" and "A"-"F" in either case have their hex values ("0" and
// any other character count 0, a missing character counts 1); every other
// byte stands for itself, and in an encoded word (`encodedWord`) "_" is a
// blank. A double-byte Big5 character makes the decode fail (empty).
std::string DecodeQuotedPrintable(std::string_view text, bool encodedWord = false);

// Bytes read in code page `codePage` (one of platform::CodePageId), up to
// the first zero byte. Invalid sequences become what the platform's
// converter makes of them.
std::u16string ConvertCodePage(const platform::CodePage& cp, std::string_view bytes, int codePage);

// The code page of a MIME charset label (letter case ignored, an RFC 2231
// language suffix "*lang" dropped): the IANA names and the aliases mail
// programs write, 0 for a label the program does not know. Whether the
// system can read that page is CodePage::canDecode's answer.
int CharsetCodePage(std::string_view label);

// What went wrong with an encoded word that cannot be read at all.
enum class WordFault {
    None,
    NoEncoding,    // "=?charset?=": the word closes before its encoding letter
    Unterminated,  // "=?charset?B?..." with no "?=" after it
};

// A header value (unfolded, bytes as received) as the user sees it.
struct DecodedHeader {
    std::u16string text;
    // The code page of the last encoded word that was decoded, 0 when none.
    int lastCodePage = 0;
    WordFault fault = WordFault::None;
};

// Every encoded word "=?charset?B|Q?payload?=" of a header value decoded in
// place; white space between two decoded words dropped; every other byte,
// and a word whose charset is unknown or not on this system, read as the
// ANSI page (Big5), so such a word stays as written.
// Adjacent words of one charset are joined as bytes before they become
// text, so a character split over two words stays whole. A word whose
// payload does not decode gives no text, like an empty payload. With
// `guardBrackets`, "<" and ">" that come out of a decoded word are shown
// as their full-width forms, so a name cannot pose as the address.
DecodedHeader DecodeHeaderText(const platform::CodePage& cp, std::string_view value, bool guardBrackets = false);

// ExtractAddress raises this when a "<" has no ">" after it.
class AddressError : public std::runtime_error {
public:
    AddressError() : std::runtime_error("a \"<\" without \">\" after it") {}
};

// The text between the first "<" and the last ">" (or the whole text),
// without leading and trailing blanks (U+0020 only). Throws AddressError
// when there is a "<" and no ">" after it.
std::u16string ExtractAddress(std::u16string_view text);
// The same on bytes (the delimiters are ASCII and never part of a Big5
// double-byte character).
std::string ExtractAddressBytes(std::string_view text);

// The address of a From value as received (unfolded, encoded words not yet
// decoded): the last "<...>" that is not inside a quoted string or a
// comment, or, without one, the whole value with its comments removed;
// without surrounding blanks and tabs. Throws AddressError when that "<"
// has no ">" after it.
std::string SenderAddressBytes(std::string_view value);

}  // namespace iw::filter
