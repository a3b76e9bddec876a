// Writes the browser toolbar button's icon files from the program's icon
// art at build time:
//
//   make_icons OUTPUT_FOLDER
//
// writes OUTPUT_FOLDER/IE1.ico (the button under the pointer) and
// OUTPUT_FOLDER/IE2.ico (the button otherwise), several sizes in each.
// Built for the build machine, so it runs in the Windows build too.
#include <cstdio>
#include <fstream>
#include <string>

#include "app/icon_art.h"

namespace {

bool write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out) return true;
    std::fprintf(stderr, "make_icons: cannot write %s\n", path.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    using namespace iw::app;
    const bool ok = write(folder + "IE1.ico", IcoFile(ButtonHotStyle(), kButtonIconSizes)) &&
                    write(folder + "IE2.ico", IcoFile(ButtonNormalStyle(), kButtonIconSizes));
    return ok ? 0 : 1;
}
