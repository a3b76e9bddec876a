// Fuzzes the four header decoders: the first byte picks the decoder (and the
// code page), the rest is the input.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "filter/decoders.h"
#include "platform/native.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::unique_ptr<iw::platform::CodePage> cp = iw::platform::createCodePage();
    if (size == 0) return 0;
    const std::string in(reinterpret_cast<const char*>(data + 1), size - 1);
    static const int pages[] = {iw::platform::kBig5, iw::platform::kGb18030, iw::platform::kUtf8, iw::platform::kUtf7};
    const int page = pages[(data[0] >> 2) & 3];
    switch (data[0] & 3) {
    case 0: (void)iw::filter::ConvertCodePage(*cp, iw::filter::DecodeBase64(in), page); break;
    case 1: (void)iw::filter::ConvertCodePage(*cp, iw::filter::DecodeQuotedPrintable(in), page); break;
    case 2: (void)iw::filter::DecodeHeaderText(*cp, in, (data[0] & 4) != 0); break;
    default: (void)iw::filter::ConvertCodePage(*cp, in, page); break;
    }
    return 0;
}
