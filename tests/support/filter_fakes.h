// Fakes for driving the filter window presenter: a recording view, an
// in-memory profile (roster, account sections, options, sender lists), a
// recording main-window link, stand-ins for the registry, shell, desktop
// and file store, and the profile's sender lists for the classification.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "filter/filter_profile.h"
#include "filter/filter_window_view.h"
#include "filter/classify.h"
#include "filter/main_window_link.h"
#include "platform/platform.h"

namespace iw::test {

class RecordingFilterView : public filter::FilterWindowView {
public:
    std::vector<std::u16string> statuses;   // every status bar text, in order
    std::vector<std::u16string> tips;       // every tip label text, in order
    std::vector<std::u16string> messageBoxes;
    std::vector<std::u16string> label2Texts;
    std::vector<filter::PopupMenu> menusShown;
    std::vector<filter::MessageEntry> rows;   // the visible list as the view shows it
    std::map<filter::MenuEntry, bool> menuMarks;
    std::vector<std::pair<std::u16string, int>> accountRows;
    std::vector<std::u16string> accountAddresses;  // second column, by row
    std::vector<filter::FilterLayout> layouts;
    std::vector<std::pair<int, int>> outerSizes;
    std::vector<double> widths{2440, 3080, 1440, 1950, 1440};
    std::map<filter::Control, std::u16string> texts;
    std::map<filter::Control, bool> visible;
    int selectedAccount = -1;
    int tipShown = 0, tipClosed = 0, minimized = 0, restored = 0, closedWindow = 0, centred = 0;
    std::vector<bool> topmost;

    void setEnabled(filter::Control, bool) override {}
    void setVisible(filter::Control c, bool v) override { visible[c] = v; }
    void setChecked(filter::Control, bool) override {}
    void setText(filter::Control c, const std::u16string& t) override {
        texts[c] = t;
        if (c == filter::Control::Label2) label2Texts.push_back(t);
    }
    void setComboItems(const std::vector<std::u16string>&, int) override {}
    void setStatus(const std::u16string& t) override { statuses.push_back(t); }
    void addAccountRow(const std::u16string& user, const std::u16string& address, int icon) override {
        accountRows.push_back({user, icon});
        accountAddresses.push_back(address);
    }
    void setAccountAddress(int row, const std::u16string& address) override {
        accountAddresses.at(static_cast<std::size_t>(row)) = address;
    }
    void setAccountIcon(int row, int icon) override { accountRows.at(static_cast<std::size_t>(row)).second = icon; }
    void selectAccountRow(int row) override { selectedAccount = row; }
    void clearMessages() override { rows.clear(); }
    void addMessageRow(const filter::MessageEntry& r) override { rows.push_back(r); }
    void setMessageChecked(int row, bool c) override { rows.at(static_cast<std::size_t>(row)).Checked = c; }
    void setColumnWidths(const std::vector<double>& w) override { widths = w; }
    std::vector<double> columnWidths() const override { return widths; }
    void setMenuEnabled(filter::MenuEntry, bool) override {}
    void setMenuChecked(filter::MenuEntry e, bool c) override { menuMarks[e] = c; }
    void showPopupMenu(filter::PopupMenu m) override { menusShown.push_back(m); }
    void messageBox(const std::u16string& t) override { messageBoxes.push_back(t); }
    void showTip() override { ++tipShown; }
    void closeTip() override { ++tipClosed; }
    void setTipLabel(const std::u16string& t) override { tips.push_back(t); }
    void applyLayout(const filter::FilterLayout& l) override { layouts.push_back(l); }
    void setOuterSize(int w, int h) override { outerSizes.push_back({w, h}); }
    void minimize() override { ++minimized; }
    void restoreNormal() override { ++restored; }
    void setTopmost(bool t) override { topmost.push_back(t); }
    void centreOnScreen() override { ++centred; }
    void closeWindow() override { ++closedWindow; }
};

class FakeFilterProfile : public filter::FilterProfile {
public:
    std::vector<std::u16string> rosterList;
    std::map<std::u16string, std::map<std::u16string, std::u16string>> sections;  // account sections
    std::map<std::u16string, std::u16string> options;                              // user section
    std::map<filter::SenderList, std::map<std::u16string, std::int32_t>> lists;    // keys lower-cased
    std::vector<std::u16string> writes;  // "key=value" of every option write

    // An account "host:port" with user and plain password.
    void addAccount(const std::u16string& address, const std::u16string& user, const std::u16string& password,
                    const std::u16string& host) {
        rosterList.push_back(address);
        sections[address] = {{u"Account", user}, {u"PassWord", password}, {u"PoP3", host}};
    }

    std::vector<std::u16string> roster() override { return rosterList; }
    std::u16string accountValue(const std::u16string& s, const std::u16string& k) override;
    std::u16string unscramblePassword(const std::u16string& stored) override { return stored; }
    std::u16string readOption(const std::u16string& k, const std::u16string& d) override;
    std::int32_t readOptionNumber(const std::u16string& k, std::int32_t d) override;
    void writeOption(const std::u16string& k, const std::u16string& v) override;
    std::int32_t listNumber(filter::SenderList l, const std::u16string& k, std::int32_t d) override;
    void listAdd(filter::SenderList l, const std::u16string& k) override;
    void listRemove(filter::SenderList l, const std::u16string& k) override;
    bool listed(filter::SenderList l, const std::u16string& k) const;
};

class RecordingMainLink : public filter::MainWindowLink {
public:
    std::map<filter::TrayMenuEntry, bool> enabled{{filter::TrayMenuEntry::Exit, true},
                                                  {filter::TrayMenuEntry::CheckNow, true},
                                                  {filter::TrayMenuEntry::Preview, true}};
    std::vector<std::pair<filter::TrayMenuEntry, bool>> calls;
    void setTrayMenuEnabled(filter::TrayMenuEntry e, bool on) override {
        enabled[e] = on;
        calls.push_back({e, on});
    }
};

class StubRegistry : public platform::Registry {
public:
    std::map<std::u16string, std::u16string> strings;  // key + "\\" + name
    std::optional<std::u16string> readString(platform::RegistryRoot, const std::u16string& key,
                                             const std::u16string& name) const override {
        auto it = strings.find(key + u"\\" + name);
        if (it == strings.end()) return std::nullopt;
        return it->second;
    }
    std::optional<std::uint32_t> readDword(platform::RegistryRoot, const std::u16string&, const std::u16string&) const override {
        return std::nullopt;
    }
    platform::RegistryResult writeString(platform::RegistryRoot, const std::u16string& key, const std::u16string& name,
                                         const std::u16string& value) override {
        strings[key + u"\\" + name] = value;
        return platform::RegistryResult::Ok;
    }
    platform::RegistryResult writeDword(platform::RegistryRoot, const std::u16string&, const std::u16string&, std::uint32_t) override {
        return platform::RegistryResult::Ok;
    }
    platform::RegistryResult deleteValue(platform::RegistryRoot, const std::u16string&, const std::u16string&) override {
        return platform::RegistryResult::Ok;
    }
    platform::RegistryResult deleteKey(platform::RegistryRoot, const std::u16string&) override {
        return platform::RegistryResult::Ok;
    }
};

class StubShell : public platform::Shell {
public:
    std::vector<std::u16string> started;
    bool openDocument(const std::u16string&) override { return true; }
    bool startCommandLine(const std::u16string& c) override {
        started.push_back(c);
        return true;
    }
    std::u16string userName() const override { return u"tester"; }
    std::u16string newGuid() override { return u"{00000000-0000-0000-0000-000000000000}"; }
    bool isConnected() const override { return true; }
    std::u16string programFolder() const override { return u"/tmp"; }
    bool previousInstanceRunning() override { return false; }
};

class StubDesktop : public platform::Desktop {
public:
    std::vector<platform::WindowHandle> topLevelWindows() const override { return {}; }
    platform::WindowHandle findTopLevel(const std::u16string&, const std::optional<std::u16string>&) const override { return 0; }
    std::vector<platform::WindowHandle> childWindows(platform::WindowHandle) const override { return {}; }
    bool exists(platform::WindowHandle) const override { return false; }
    std::u16string className(platform::WindowHandle) const override { return {}; }
    std::u16string windowText(platform::WindowHandle) const override { return {}; }
    platform::WindowRect rect(platform::WindowHandle) const override { return {}; }
    bool isVisible(platform::WindowHandle) const override { return false; }
    bool isMinimized(platform::WindowHandle) const override { return false; }
    bool isMaximized(platform::WindowHandle) const override { return false; }
    void postClose(platform::WindowHandle) override {}
    void postSystemCommand(platform::WindowHandle, platform::SystemCommand) override {}
    void showAsync(platform::WindowHandle, platform::ShowCommand) override {}
    platform::WindowHandle foreground() const override { return 0; }
    void setForeground(platform::WindowHandle) override {}
    platform::WindowRect screen() const override { return {0, 0, 1024, 768}; }
};

class StubFileStore : public platform::FileStore {
public:
    std::optional<platform::FileStamp> stamp(const std::u16string&) const override { return std::nullopt; }
    std::optional<std::string> readAll(const std::u16string&) const override { return std::nullopt; }
    bool replaceAll(const std::u16string&, const std::string&) override { return false; }
    char16_t separator() const override { return u'/'; }
};

// The sender lists of a FakeFilterProfile as the classification asks them,
// with the meanings of the stored values in set.ini (trusted: 0; black:
// anything but 2; domain: 0).
class ProfileSenderLists : public filter::SenderLists {
public:
    explicit ProfileSenderLists(filter::FilterProfile& profile) : profile_(profile) {}
    bool isTrusted(const std::u16string& a) override { return profile_.listNumber(filter::SenderList::Trust, a, 1) == 0; }
    bool isBlackListed(const std::u16string& a) override { return profile_.listNumber(filter::SenderList::Black, a, 2) != 2; }
    bool isDomainListed(const std::u16string& d) override { return profile_.listNumber(filter::SenderList::Domain, d, 2) == 0; }

private:
    filter::FilterProfile& profile_;
};

}  // namespace iw::test
