// POSIX: ReceivedText uses the fixed, documented form of FixedDateFormat.
#include "platform/date_format.h"

namespace iw::platform {

std::unique_ptr<DateFormat> createDateFormat() { return std::make_unique<FixedDateFormat>(); }

}  // namespace iw::platform
