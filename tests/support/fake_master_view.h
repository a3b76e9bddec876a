// A recording view for the main window's presenter, and a recording filter
// window opener: tests read back what the window would show.
#pragma once

#include <string>
#include <vector>

#include "app/filter_window_opener.h"
#include "app/master.h"

namespace iw::test {

class FakeMasterView : public app::MasterView {
public:
    void addTrayIcon(app::TrayPicture picture, const std::u16string& tip) override {
        iconShown = true;
        this->picture = picture;
        this->tip = tip;
        calls.push_back("addTrayIcon");
    }
    void modifyTrayIcon(app::TrayPicture picture, const std::u16string& tip) override {
        this->picture = picture;
        this->tip = tip;
        tips.push_back(tip);
    }
    void removeTrayIcon() override {
        iconShown = false;
        calls.push_back("removeTrayIcon");
    }
    void updateMenu(const std::vector<app::MenuItem>& m) override { menu = m; }
    void popUpMenu(const std::vector<app::MenuItem>& m) override {
        menu = m;
        calls.push_back("popUpMenu");
    }
    void showSettingsDialog() override { calls.push_back("showSettingsDialog"); }
    void showAbout() override { calls.push_back("showAbout"); }
    void minimizeAllWindows() override { calls.push_back("minimizeAllWindows"); }
    void unloadAllWindows() override { calls.push_back("unloadAllWindows"); }

    // The mirrored item of a command, or nullptr.
    const app::MenuItem* item(app::MenuCommand c) const {
        for (const auto& m : menu) {
            if (m.command == c) return &m;
            for (const auto& s : m.submenu)
                if (s.command == c) return &s;
        }
        return nullptr;
    }

    bool iconShown = false;
    app::TrayPicture picture = app::TrayPicture::Program;
    std::u16string tip;
    std::vector<std::u16string> tips;
    std::vector<app::MenuItem> menu;
    std::vector<std::string> calls;
};

class FakeFilterWindowOpener : public app::FilterWindowOpener {
public:
    void showFilterWindow() override { ++shown; }
    void showFilterWindowQuietly(bool minimized) override {
        ++quiet;
        lastMinimized = minimized;
    }
    int shown = 0;
    int quiet = 0;
    bool lastMinimized = false;
};

}  // namespace iw::test
