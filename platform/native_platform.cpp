// NativePlatform: one of each real service, in the order they depend on each other.
#include "platform/native.h"

namespace iw::platform {

NativePlatform::NativePlatform()
    : loop_(createEventLoop()),
      clock_(createSystemClock()),
      network_(createNetwork(*loop_)),
      codePage_(createCodePage()),
      registry_(createRegistry()),
      desktop_(createDesktop()),
      shell_(createShell()),
      files_(createFileStore()),
      bundle_(new Platform{*loop_, *clock_, *network_, *codePage_, *registry_, *desktop_, *shell_, *files_}) {}

NativePlatform::~NativePlatform() = default;

}  // namespace iw::platform
