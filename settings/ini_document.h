// One INI file held in memory, parsed and written with the Windows
// private-profile rules, keeping every line it does not change exactly as it
// was (comments, blank lines, lines without "=", odd spacing, bytes the code
// page cannot decode), so a file written by others survives a round trip.
//
// Rules kept:
//  - A line whose first non-blank character is "[" and that holds a "]"
//    opens a section; its name is the text between the "[" and the last "]",
//    trimmed. A line with "=" is an entry: the name is the text before the
//    first "=", the value the text after it, both trimmed of spaces and tabs.
//    Lines starting with ";" are comments; other lines are kept but are not
//    keys. Lines before the first section belong to no section.
//  - Names match without regard to letter case: A-Z, the Latin-1 capitals
//    (U+00C0-U+00DE except U+00D7) and the fullwidth capitals (U+FF21-U+FF3A)
//    fold to their small forms; every other character (all of Big5's Chinese
//    characters) matches only itself.
//  - When a section or key name occurs twice, the first one wins for reads
//    and writes, as on Windows. Deleting a key or a section removes every
//    occurrence, so it really is gone afterwards.
//  - A new key goes after the last non-blank line of its section (blank
//    lines that separate it from the next section stay where they are); a
//    new section goes to the end of the file.
//  - The file's encoding: without a byte-order mark it is code page 950. A
//    UTF-8 BOM file is read as UTF-8 and a UTF-16 LE (or BE) BOM file as
//    UTF-16, as Windows reads them, and each is written back in its own
//    encoding with its BOM, so nothing in it is lost. Unchanged lines keep
//    their own line ends; changed and new lines end with CR LF.
//
// Keyed reads use an index per section over the folded names: O(1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/code_page.h"

namespace iw::settings {

// The case folding used for every section and key name.
std::u16string FoldName(std::u16string_view name);

// Spaces and tabs removed from both ends, as the private-profile functions trim.
std::u16string TrimBlanks(std::u16string_view text);

// The leading decimal number of a value, with an optional minus sign; 0 when
// it does not start with one; clamped to the 32-bit range.
std::int32_t LeadingNumber(std::u16string_view value);

class IniDocument {
public:
    enum class Encoding { Ansi950, Utf8Bom, Utf16LeBom, Utf16BeBom };

    IniDocument() = default;
    static IniDocument parse(const platform::CodePage& cp, std::string_view bytes);
    std::string serialise(const platform::CodePage& cp) const;

    Encoding encoding() const { return encoding_; }

    // Value of the first matching key of the first matching section.
    const std::u16string* find(std::u16string_view section, std::u16string_view key) const;

    // Whether a name or value may be written without changing the file's
    // structure (no line breaks; no "=" and no leading "[" or ";" in a key;
    // no "]" in a section name; names not empty after trimming).
    static bool validSectionName(std::u16string_view section);
    static bool validKeyName(std::u16string_view key);
    static bool validValue(std::u16string_view value);

    // Replaces in place or appends (rule 2). The caller checks validity.
    void set(std::u16string_view section, std::u16string_view key, std::u16string_view value);
    // Returns whether anything was removed.
    bool erase(std::u16string_view section, std::u16string_view key);
    bool eraseSection(std::u16string_view section);

    std::vector<std::u16string> keys(std::u16string_view section) const;

    // Every line's text in file order, without line ends.
    std::vector<std::u16string> lines() const;

private:
    enum class Kind { Other, Entry, Header };
    struct Line {
        std::string raw;         // the line's bytes as read; empty when changed
        std::string eol;         // its line end as read ("" on a last line without one)
        bool changed = false;    // written from `text` on output
        Kind kind = Kind::Other;
        std::u16string text;     // the whole line, decoded
        std::u16string name;     // trimmed key or section name
        std::u16string value;    // trimmed value of an entry
    };
    struct Section {
        Line header;
        std::vector<Line> lines;
        std::unordered_map<std::u16string, std::size_t> index;  // folded key -> first line
        void reindex();
    };

    static Line makeLine(std::u16string text);
    const Section* findSection(std::u16string_view section) const;
    Section* findSection(std::u16string_view section);
    void reindexSections();

    Encoding encoding_ = Encoding::Ansi950;
    std::vector<Line> preamble_;
    std::vector<Section> sections_;
    std::unordered_map<std::u16string, std::size_t> sectionIndex_;  // folded name -> first section
};

}  // namespace iw::settings
