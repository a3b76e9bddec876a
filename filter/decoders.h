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
// where only "1"-"9" and "A"-"F" have values ("0", lower case and anything
// else count 0, a missing character counts 1); every other byte stands for
// itself. A double-byte Big5 character makes the decode fail (empty).
std::string DecodeQuotedPrintable(std::string_view text);

// Every encoded word of a stretch of header text, each decoded as Base64,
// joined, for as long as "big5" (any letter case) still occurs in what is
// left. The result is Big5 bytes. Never fails.
std::string DecodeBig5Words(std::string_view text);

// Bytes read in code page `codePage` (950, 936, 65001, 65000), up to the
// first zero byte. Invalid sequences become what the platform's converter
// makes of them.
std::u16string ConvertCodePage(const platform::CodePage& cp, std::string_view bytes, int codePage);

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

}  // namespace iw::filter
