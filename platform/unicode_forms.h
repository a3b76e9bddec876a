// Conversions shared by both builds, written out so that both give the same
// results: UTF-8 (code page 65001, and on POSIX the file paths and command
// lines handed to the system) and the single-byte pages 1252 and 20127.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace iw::platform {

// Each maximal invalid piece of the bytes becomes one U+FFFD; overlong
// forms, surrogates and values above U+10FFFF are invalid.
std::u16string utf8ToUtf16(std::string_view bytes);
// A lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

// Code page 1252 (Western European) and 20127 (US-ASCII), as
// platform/code_page.h describes them. `codePage` is one of the two.
std::u16string singleByteToUtf16(int codePage, std::string_view bytes);
std::string utf16ToSingleByte(int codePage, std::u16string_view text);

// Code page 54936 (GB18030) walked one sequence at a time: ASCII bytes stand
// for themselves, a byte that starts no sequence becomes "?" (the next byte
// is read again), and each two- or four-byte sequence goes to `one`, which
// appends its character and returns false for one the page leaves
// unassigned (then "?").
using Gb18030Sequence = std::function<bool(std::string_view sequence, std::u16string& out)>;
std::u16string gb18030ToUtf16(std::string_view bytes, const Gb18030Sequence& one);

}  // namespace iw::platform
