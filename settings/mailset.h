// The settings dialog `mailset` ("信箱設定"): its three pages (options with
// the account list, filter rules with the black and trust lists, the
// web-address list with the pop-up size slider), the load order, save,
// discard, the lock of the web-address page, and the first-run completion.
//
// The presenter owns the dialog's state (rows, check boxes, choices, the
// lock) and its handlers; MailsetView mirrors it on screen. The small modal
// dialogs (account, list entry, password change, password prompt) are
// opened through settings::ModalDialogs and change this dialog's rows
// through the AccountRowsOpener / EntryRowsOpener the presenter hands them.
// The view forwards only the user's own actions: a change the presenter
// makes never comes back as a handler call.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "settings/preferences.h"
#include "settings/program_state.h"
#include "platform/platform.h"
#include "settings/modal_dialogs.h"
#include "settings/settings_store.h"

namespace iw::settings {

// ListView1 (accounts), ListView2 (black list), ListView3 (trust list),
// ListView4 (web addresses).
enum class MailsetList { Accounts, Black, Trust, Web };

enum class MailsetCombo { Combo1, Combo2, Combo3 };

// Controls the presenter enables and disables besides the option boxes.
enum class MailsetControl { Combo1, Combo2, Combo3, Text1, VScroll1 };

enum class MouseButton { Left, Right, Middle };

// The pop-up menu `list_set` ("名單設定").
enum class ListMenuItem { MailAdd, MailRemove, MailModify, DoFilter, OpenUrl, PopAdv };

struct MailsetRow {
    MailsetRow(std::u16string t = {}, std::u16string s = {}, bool c = false, bool r = false)
        : text(std::move(t)), second(std::move(s)), checked(c), red(r) {}
    std::u16string text;    // first column
    std::u16string second;  // second column (the account list's address)
    bool checked = false;   // check box (web-address list)
    bool red = false;       // red text (255, 0, 0); otherwise black
    friend bool operator==(const MailsetRow&, const MailsetRow&) = default;
};

// The state of `list_set` when it pops up. The first three items are always
// shown.
struct ListMenuState {
    bool doFilterVisible = false;
    bool doFilterChecked = false;
    bool openUrlVisible = false;
    bool popAdvVisible = false;
    bool popAdvChecked = false;
    friend bool operator==(const ListMenuState&, const ListMenuState&) = default;
};

inline constexpr int kScrollMin = 1, kScrollMax = 2048;

// The choice lists of Combo1 (minutes) and Combo2 (messages).
const std::vector<std::u16string>& CheckIntervalChoices();
const std::vector<std::u16string>& OpenThresholdChoices();

// "廣告視窗小於( w X h )" for a screen of `width` x `height` pixels and the
// slider at `percent`, each product in its shortest decimal form.
std::u16string PopupFrameCaption(int width, int height, int percent);

// The shortest decimal text that reads back as `value` ("614.4", "768").
std::u16string ShortestDecimal(double value);

class MailsetView {
public:
    virtual ~MailsetView() = default;

    virtual void setRows(MailsetList list, const std::vector<MailsetRow>& rows) = 0;
    virtual void addRow(MailsetList list, const MailsetRow& row) = 0;
    virtual void updateRow(MailsetList list, int row, const MailsetRow& value) = 0;
    virtual void removeRow(MailsetList list, int row) = 0;

    virtual void setComboItems(MailsetCombo combo, const std::vector<std::u16string>& items) = 0;
    virtual void setComboSelection(MailsetCombo combo, int index) = 0;
    virtual void setEnabled(MailsetControl control, bool enabled) = 0;

    // Option box k (0-11).
    virtual void setOption(int k, bool checked) = 0;
    virtual void setOptionEnabled(int k, bool enabled) = 0;

    virtual void setSizeText(const std::u16string& text) = 0;
    virtual void setScrollPosition(int position) = 0;
    virtual void setSlider(int position) = 0;
    virtual void setSliderTip(const std::u16string& tip) = 0;
    virtual void setFrameCaption(const std::u16string& caption) = 0;

    // The unlock button "設定" (Command7).
    virtual void setUnlockVisible(bool visible) = 0;

    // Pops `list_set` up at the mouse position and returns once it has
    // closed; the chosen item reaches the presenter afterwards through its
    // handler (never from inside this call).
    virtual void popUpListMenu(const ListMenuState& menu) = 0;

    // A message box with an OK button, modal over the dialog.
    virtual void showMessage(const std::u16string& text, const std::u16string& title) = 0;

    // Unloads the dialog (its window goes away).
    virtual void closeWindow() = 0;
};

struct MailsetHooks {
    // Loads the hidden main window (tray icon, timers): the first-run save.
    std::function<void()> loadMaster;
    // The dialog of a first run closed without saving: the program ends.
    std::function<void()> endProgram;
    // An account left the roster (its key and section are gone).
    std::function<void(const std::u16string& address)> accountRemoved;
};

class MailsetPresenter {
public:
    MailsetPresenter(platform::Platform& platform, SettingsStore& store, settings::ProgramState& state,
                     MailsetView& view, ModalDialogs& dialogs, MailsetHooks hooks = {});
    ~MailsetPresenter();
    MailsetPresenter(const MailsetPresenter&) = delete;
    MailsetPresenter& operator=(const MailsetPresenter&) = delete;

    void load();
    // Closing by the window's own close box: as "放棄".
    void closeRequested();

    // The user's actions.
    void optionClicked(int k, bool checked);
    void choiceSelected(MailsetCombo combo, int index);
    void sizeTextChanged(const std::u16string& text);
    void sizeScrolled(int position);
    void popupSizeChanged(int position);
    void RowSelected(MailsetList list, int row, bool selected);

    void save();  // 儲存
    void discard();  // 放棄
    void openSettingsPassword();  // 管制密碼
    void addAccount();  // 新增帳號
    void modifyAccount();  // 修改帳號
    void removeAccount();  // 移除帳號
    void unlockWebAddressPage();  // 設定 (unlock)

    void blackListMouseDown(MouseButton button);
    void trustListMouseDown(MouseButton button);
    void webListMouseUp(MouseButton button);
    void webEntryChecked(int row, bool checked);

    void mail_add_Click();
    void mail_remove_Click();
    void mail_modify_Click();
    void do_filter_Click();
    void open_url_Click();
    void pop_adv_Click();
    void menuChosen(ListMenuItem item);

    // Read back by tests and the view.
    const std::vector<MailsetRow>& rows(MailsetList list) const;
    bool rowSelected(MailsetList list, int row) const;
    int selectedRow(MailsetList list) const;  // the current row, -1 when none
    bool option(int k) const { return options_.get(k); }
    bool optionEnabled(int k) const { return optionEnabled_[static_cast<std::size_t>(k)]; }
    bool enabled(MailsetControl c) const { return enabled_[static_cast<std::size_t>(c)]; }
    int comboSelection(MailsetCombo c) const { return combo_[static_cast<std::size_t>(c)]; }
    const std::u16string& sizeText() const { return sizeText_; }
    int scrollPosition() const { return scroll_; }
    int slider() const { return slider_; }
    const std::u16string& frameCaption() const { return frameCaption_; }
    const std::u16string& sliderTip() const { return sliderTip_; }
    bool webPageLocked() const { return locked_; }
    bool unlockVisible() const { return unlockVisible_; }
    const std::optional<ListMenuState>& lastMenu() const { return lastMenu_; }
    bool closed() const { return closed_; }

private:
    class AccountOpener;
    class EntryOpener;
    struct ListModel {
        std::vector<MailsetRow> rows;
        std::vector<bool> selected;
        int current = -1;
    };

    ListModel& list(MailsetList l) { return lists_[static_cast<std::size_t>(l)]; }
    const ListModel& list(MailsetList l) const { return lists_[static_cast<std::size_t>(l)]; }
    void setRows(MailsetList l, std::vector<MailsetRow> rows);
    void addRow(MailsetList l, MailsetRow row);
    void updateRow(MailsetList l, int row, MailsetRow value);
    void removeRow(MailsetList l, int row);
    void setOption(int k, bool checked);
    void applyCompanion(int k);
    void setEnabled(MailsetControl c, bool on);
    void setOptionEnabled(int k, bool on);
    void setSlider(int position);
    void syncScrollToText();
    MailsetList listOfMode() const;
    void close();
    std::u16string blackSection() const;
    std::u16string trustSection() const;

    platform::Platform& p_;
    SettingsStore& store_;
    settings::ProgramState& s_;
    MailsetView& view_;
    ModalDialogs& dialogs_;
    MailsetHooks hooks_;

    std::array<ListModel, 4> lists_;
    Options options_{};  // the boxes as checked now
    std::array<bool, kOptionCount> optionEnabled_{};
    std::array<bool, 5> enabled_{};
    std::array<int, 3> combo_{};
    std::u16string sizeText_;
    int scroll_ = kScrollMin;
    int slider_ = 0;
    std::u16string frameCaption_;
    std::u16string sliderTip_;
    bool locked_ = false;
    bool unlockVisible_ = false;
    std::optional<ListMenuState> lastMenu_;
    bool closed_ = false;
};

}  // namespace iw::settings
