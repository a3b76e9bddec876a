// A recording view for the settings dialog's presenter and a scripted
// ModalDialogs: tests read back what the dialog would show and decide what
// each small dialog does when it is opened.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "settings/mailset.h"
#include "settings/modal_dialogs.h"

namespace iw::test {

class FakeMailsetView : public settings::MailsetView {
public:
    using List = settings::MailsetList;

    std::map<List, std::vector<settings::MailsetRow>> rows;
    std::map<settings::MailsetCombo, std::vector<std::u16string>> comboItems;
    std::map<settings::MailsetCombo, int> comboSelection;
    std::map<settings::MailsetControl, bool> enabled;
    bool options[12] = {};
    bool optionEnabled[12] = {true, true, true, true, true, true, true, true, true, true, true, true};
    std::u16string sizeText, sliderTip, frameCaption;
    int scroll = -1, slider = -1;
    bool unlockVisible = false;
    std::vector<settings::ListMenuState> menus;
    std::vector<std::pair<std::u16string, std::u16string>> messages;  // text, title
    bool closed = false;

    void setRows(List l, const std::vector<settings::MailsetRow>& r) override { rows[l] = r; }
    void addRow(List l, const settings::MailsetRow& r) override { rows[l].push_back(r); }
    void updateRow(List l, int row, const settings::MailsetRow& r) override {
        rows[l].at(static_cast<std::size_t>(row)) = r;
    }
    void removeRow(List l, int row) override { rows[l].erase(rows[l].begin() + row); }
    void setComboItems(settings::MailsetCombo c, const std::vector<std::u16string>& items) override {
        comboItems[c] = items;
    }
    void setComboSelection(settings::MailsetCombo c, int i) override { comboSelection[c] = i; }
    void setEnabled(settings::MailsetControl c, bool on) override { enabled[c] = on; }
    void setOption(int k, bool checked) override { options[k] = checked; }
    void setOptionEnabled(int k, bool on) override { optionEnabled[k] = on; }
    void setSizeText(const std::u16string& t) override { sizeText = t; }
    void setScrollPosition(int p) override { scroll = p; }
    void setSlider(int p) override { slider = p; }
    void setSliderTip(const std::u16string& t) override { sliderTip = t; }
    void setFrameCaption(const std::u16string& c) override { frameCaption = c; }
    void setUnlockVisible(bool v) override { unlockVisible = v; }
    void popUpListMenu(const settings::ListMenuState& m) override { menus.push_back(m); }
    void showMessage(const std::u16string& text, const std::u16string& title) override {
        messages.emplace_back(text, title);
    }
    void closeWindow() override { closed = true; }
};

class FakeModalDialogs : public settings::ModalDialogs {
public:
    // What each dialog does while it is "open"; empty ones just close.
    std::function<void(settings::AccountRowsOpener&, const std::u16string&)> onAccount;
    std::function<void(int, const std::optional<std::u16string>&, settings::EntryRowsOpener&)> onEntry;
    std::optional<std::u16string> answer;  // what askText returns

    std::vector<std::u16string> accountCalls;  // address given
    std::vector<std::pair<int, std::optional<std::u16string>>> entryCalls;
    std::vector<std::u16string> prompts;  // prompt + "|" + title (+ "|*" when masked)
    int loginPassCalls = 0;

    void openAccount(settings::AccountRowsOpener& opener, const std::u16string& address) override {
        accountCalls.push_back(address);
        if (onAccount) onAccount(opener, address);
    }
    void openEntry(int listMode, const std::optional<std::u16string>& editText,
                   settings::EntryRowsOpener& opener) override {
        entryCalls.emplace_back(listMode, editText);
        if (onEntry) onEntry(listMode, editText, opener);
    }
    void openLoginPass() override { ++loginPassCalls; }
    std::optional<std::u16string> askText(const std::u16string& prompt, const std::u16string& title,
                                          bool masked) override {
        prompts.push_back(prompt + u"|" + title + (masked ? u"|*" : u""));
        return answer;
    }
};

}  // namespace iw::test
