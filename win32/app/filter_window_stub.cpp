// Stand-in for the filter window's opener until its Win32 view exists: the
// menu entry and the background check call it, and nothing opens.
#include "win32/app/filter_window_host.h"

namespace iw::win32app {

namespace {
class NoFilterWindow final : public app::FilterWindowOpener {
public:
    void showFilterWindow() override {}
    void showFilterWindowQuietly(bool) override {}
};
}  // namespace

std::unique_ptr<app::FilterWindowOpener> createFilterWindowOpener(FilterWindowDeps) {
    return std::make_unique<NoFilterWindow>();
}

}  // namespace iw::win32app
