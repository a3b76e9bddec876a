// Fuzzes ExtractAddress on text and on bytes (both must agree on whether
// they raise, and on ASCII input on the result) and SenderAddressBytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "filter/decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::u16string text;
    for (unsigned char c : bytes) text.push_back(c);
    bool threwText = false, threwBytes = false;
    std::u16string a;
    std::string b;
    try {
        a = iw::filter::ExtractAddress(text);
    } catch (const iw::filter::AddressError&) {
        threwText = true;
    }
    try {
        b = iw::filter::ExtractAddressBytes(bytes);
    } catch (const iw::filter::AddressError&) {
        threwBytes = true;
    }
    if (threwText != threwBytes) std::abort();
    if (!threwText && std::u16string(b.begin(), b.end()).size() != a.size()) std::abort();
    // The address of a whole From value: never longer than the value, and
    // without a "<" there is nothing to raise.
    try {
        const std::string s = iw::filter::SenderAddressBytes(bytes);
        if (s.size() > bytes.size()) std::abort();
    } catch (const iw::filter::AddressError&) {
        if (bytes.find('<') == std::string::npos) std::abort();
    }
    return 0;
}
