// The settings dialog `mailset` ("信箱設定") on screen: a modeless,
// per-monitor DPI aware window with a tab control of three pages, the option
// boxes and their companions, four list views, the slider with its tooltip,
// and the buttons below the pages. The view mirrors MailsetPresenter: every
// change the presenter makes goes through the MailsetView calls, and while
// one is applied the notifications it causes are suppressed, so only the
// user's own actions reach the presenter.
//
// MailsetHost owns one dialog at a time: it loads it when asked (or brings
// the open one to the front), and destroys view and presenter from the loop
// once the window has closed, never from inside one of their handlers.
// No exception leaves a window procedure.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <vector>

#include "settings/program_state.h"
#include "platform/platform.h"
#include "settings/mailset.h"
#include "settings/modal_dialogs.h"
#include "settings/settings_store.h"
#include "win32/platform/handles.h"

namespace iw::win32app {

// Control identifiers, also used by tests to find the controls.
enum MailsetControlId : int {
    kMsTab = 201,
    kMsListView1,
    kMsListView2,
    kMsListView3,
    kMsListView4,
    kMsCommand1,  // 儲存
    kMsCommand2,  // 放棄
    kMsCommand3,  // 新增帳號
    kMsCommand4,  // 移除帳號
    kMsCommand5,  // 修改帳號
    kMsCommand6,  // 管制密碼
    kMsCommand7,  // 設定
    kMsCombo1,
    kMsCombo2,
    kMsCombo3,
    kMsText1,
    kMsVScroll1,
    kMsSlider1,
    kMsFrame5,
    kMsLabelMinutes,
    kMsLabelMessages,
    kMsLabelKb,
    kMsLabel0,
    kMsLabel100,
    kMsCheck1 = 240,  // Check1 element k is kMsCheck1 + k
};

// Menu identifiers of `list_set`: this base plus the ListMenuItem's value.
inline constexpr int kMsMenuBase = 41001;

inline constexpr wchar_t kMailsetClass[] = L"InkwardenMailset";

class MailsetWindow final : public settings::MailsetView {
public:
    explicit MailsetWindow(platform::EventLoop& loop);
    ~MailsetWindow() override;
    MailsetWindow(const MailsetWindow&) = delete;
    MailsetWindow& operator=(const MailsetWindow&) = delete;

    // Forwards the controls' notifications to `presenter` from now on (null
    // stops it).
    void attach(settings::MailsetPresenter* presenter) { presenter_ = presenter; }
    HWND window() const { return window_.get(); }
    HWND control(int id) const { return GetDlgItem(window_.get(), id); }
    int page() const { return page_; }
    void showPage(int page);
    bool closing() const { return closing_; }
    // Runs from the loop once the window has closed and no handler is on
    // the stack; the owner may destroy the view from there.
    std::function<void()> onClosed;
    // The pop-up menu as last shown (tests read its items instead of
    // clicking them, since TrackPopupMenu waits for the mouse).
    const std::vector<std::pair<int, std::u16string>>& lastMenuItems() const { return lastMenuItems_; }
    // Makes the next popUpListMenu return at once with this item chosen
    // (tests; 0 clears it).
    void chooseNextMenuItem(int menuId) { scriptedMenuChoice_ = menuId; }

    // settings::MailsetView
    void setRows(settings::MailsetList list, const std::vector<settings::MailsetRow>& rows) override;
    void addRow(settings::MailsetList list, const settings::MailsetRow& row) override;
    void updateRow(settings::MailsetList list, int row, const settings::MailsetRow& value) override;
    void removeRow(settings::MailsetList list, int row) override;
    void setComboItems(settings::MailsetCombo combo, const std::vector<std::u16string>& items) override;
    void setComboSelection(settings::MailsetCombo combo, int index) override;
    void setEnabled(settings::MailsetControl control, bool enabled) override;
    void setOption(int k, bool checked) override;
    void setOptionEnabled(int k, bool enabled) override;
    void setSizeText(const std::u16string& text) override;
    void setScrollPosition(int position) override;
    void setSlider(int position) override;
    void setSliderTip(const std::u16string& tip) override;
    void setFrameCaption(const std::u16string& caption) override;
    void setUnlockVisible(bool visible) override;
    void popUpListMenu(const settings::ListMenuState& menu) override;
    void showMessage(const std::u16string& text, const std::u16string& title) override;
    void closeWindow() override;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK frameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                      DWORD_PTR data);
    HBRUSH pageBrush() const;
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onCommand(int id, int code);
    LRESULT onNotify(NMHDR* h);
    void onScroll(HWND bar, int code);
    void onDpiChanged(UINT dpi, const RECT* suggested);
    void createFont();
    void createControls();
    void placeAll();
    void paintBackground(HDC dc);
    int px(int designPixels) const { return MulDiv(designPixels, static_cast<int>(dpi_), 96); }
    int textWidth(const wchar_t* text) const;
    HWND createChild(const wchar_t* cls, const wchar_t* text, DWORD style, int id, DWORD exStyle = 0);
    HWND listOf(settings::MailsetList list) const;
    void writeRow(HWND lv, int row, const settings::MailsetRow& value, bool insert);
    template <typename F>
    void forward(F&& f);
    void finishCloseWhenIdle();

    platform::EventLoop& loop_;
    win32::UniqueWindow window_;
    win32::UniqueFont font_;
    win32::UniqueIcon icon_, bigIcon_;
    HWND tooltip_ = nullptr;
    UINT dpi_ = 96;
    int page_ = 0;
    int suppress_ = 0;
    int depth_ = 0;
    bool closing_ = false;
    bool closePosted_ = false;
    bool unlockVisible_ = false;
    std::u16string sliderTip_;
    std::vector<bool> blackRed_, webRed_;
    std::vector<std::pair<int, std::u16string>> lastMenuItems_;
    int scriptedMenuChoice_ = 0;
    settings::MailsetPresenter* presenter_ = nullptr;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Creates the small modal dialogs over the settings dialog's window.
using ModalDialogsFactory = std::function<std::unique_ptr<settings::ModalDialogs>(HWND owner)>;

class MailsetHost {
public:
    MailsetHost(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state,
                ModalDialogsFactory dialogs, settings::MailsetHooks hooks);
    ~MailsetHost();
    MailsetHost(const MailsetHost&) = delete;
    MailsetHost& operator=(const MailsetHost&) = delete;

    // Loads the dialog, or brings the open one to the front.
    void show();
    // The dialog is loaded and not closing.
    bool isOpen() const;
    // The program ends: the dialog goes without saving (as by "放棄", but
    // never ending the program a second time).
    void unloadNow();

    // For tests: the loaded dialog, or null.
    MailsetWindow* view();
    settings::MailsetPresenter* presenter();

private:
    struct Loaded;
    platform::Platform& p_;
    settings::SettingsStore& store_;
    settings::ProgramState& state_;
    ModalDialogsFactory dialogs_;
    settings::MailsetHooks hooks_;
    std::unique_ptr<Loaded> loaded_;
    bool unloaded_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace iw::win32app
