// The filter window mailfilter and its progress tip window mailtip as real
// Win32 windows. The view mirrors the FilterWindow presenter's model: every
// change the presenter makes goes through the FilterWindowView calls below,
// and while one is applied the control notifications it causes are
// suppressed, so only the user's own actions reach the presenter's handlers.
//
// Ownership: the view owns its windows, fonts, image list and menus. The
// presenter is attached after both exist and must outlive every forwarded
// call; `onClosed` runs (posted to the loop, never inside a presenter call)
// once the window has unloaded, and the owner destroys presenter and view
// from there. No exception leaves a window procedure.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "filter/filter_window.h"
#include "filter/filter_window_view.h"
#include "platform/event_loop.h"
#include "win32/platform/handles.h"

namespace iw::win32app {

// Control identifiers, also used by tests to find the controls.
enum FilterControlId : int {
    kIdListView1 = 101,
    kIdListView2,
    kIdCommand1,
    kIdCommand2,
    kIdCommand3,
    kIdLabel2,
    kIdText1,
    kIdCheck1,
    kIdCheck2,
    kIdCheck3,
    kIdCheck4,
    kIdCombo1,
    kIdLabel1,
    kIdStatusBar1,
};

inline constexpr wchar_t kFilterWindowClass[] = L"InkwardenMailFilter";
inline constexpr wchar_t kTipWindowClass[] = L"InkwardenMailTip";
inline constexpr wchar_t kProgramTitle[] = L"Inkwarden";

class FilterWindowWin32View final : public filter::FilterWindowView {
public:
    explicit FilterWindowWin32View(platform::EventLoop& loop);
    ~FilterWindowWin32View() override;
    FilterWindowWin32View(const FilterWindowWin32View&) = delete;
    FilterWindowWin32View& operator=(const FilterWindowWin32View&) = delete;

    // Forwards the controls' notifications to `presenter` from now on
    // (nullptr: to nobody) and lays the window out at its present size.
    void attach(filter::FilterWindow* presenter);
    // ShowWindow with `command` (SW_SHOWNORMAL, SW_SHOWNOACTIVATE, ...).
    void show(int command);
    // The Windows session ends (WM_ENDSESSION) or the program exits: runs
    // unload at once, hides the window and forwards nothing more. The
    // window is not destroyed here (a presenter wait may be on the stack);
    // `onClosed` is not called.
    void unloadForExit();
    // Called once, from a posted callback, after the window unloaded.
    std::function<void()> onClosed;

    HWND window() const { return window_.get(); }
    HWND control(int id) const { return GetDlgItem(window_.get(), id); }
    HWND tipWindow() const { return tip_.get(); }
    HWND tipLabel() const { return tipLabel_; }
    HMENU popupMenu(filter::PopupMenu m) const;
    // The text colour a row is drawn in (COLORREF), nullopt for the default.
    std::optional<COLORREF> rowColour(int row) const;
    // Why a row is or is not marked, as its tooltip says it (with the row's
    // present check mark); "" for no row.
    std::u16string rowReason(int row) const;
    // The message list's tooltip window, which shows rowReason() of the row
    // under the mouse.
    HWND reasonTip() const { return reasonTip_.get(); }
    UINT dpi() const { return dpi_; }
    bool closing() const { return closing_; }

    // filter::FilterWindowView
    void setEnabled(filter::Control c, bool enabled) override;
    void setVisible(filter::Control c, bool visible) override;
    void setChecked(filter::Control c, bool checked) override;
    void setText(filter::Control c, const std::u16string& text) override;
    void setComboItems(const std::vector<std::u16string>& items, int selected) override;
    void setStatus(const std::u16string& text) override;
    void addAccountRow(const std::u16string& user, const std::u16string& address, int icon) override;
    void setAccountIcon(int row, int icon) override;
    void setAccountAddress(int row, const std::u16string& address) override;
    void selectAccountRow(int row) override;
    void clearMessages() override;
    void addMessageRow(const filter::MessageEntry& row) override;
    void setMessageChecked(int row, bool checked) override;
    void setColumnWidths(const std::vector<double>& twips) override;
    std::vector<double> columnWidths() const override;
    void setMenuEnabled(filter::MenuEntry e, bool enabled) override;
    void setMenuChecked(filter::MenuEntry e, bool checked) override;
    void showPopupMenu(filter::PopupMenu m) override;
    void messageBox(const std::u16string& text) override;
    void showTip() override;
    void closeTip() override;
    void setTipLabel(const std::u16string& text) override;
    void applyLayout(const filter::FilterLayout& layout) override;
    void setOuterSize(int widthTwips, int heightTwips) override;
    void minimize() override;
    void restoreNormal() override;
    void setTopmost(bool topmost) override;
    void centreOnScreen() override;
    void closeWindow() override;

private:
    static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK accountListProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    static LRESULT CALLBACK messageListProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void createReasonTip();
    void hoverReason(POINT client);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onNotify(NMHDR* header);
    void onCommand(int id, int code);
    // Runs a presenter handler: never while a change is applied, never after
    // the window closed, and no exception gets out.
    void forward(const std::function<void(filter::FilterWindow&)>& fn);
    void finishCloseWhenIdle();

    void createControls();
    void createFont();
    void createImageList();
    void createMenus();
    void placeAll();
    void placeLabel2();
    void onDpiChanged(UINT dpi, const RECT* suggested);
    SIZE minimumOuterSize() const;
    // The first size: the design height and every column whole.
    SIZE defaultOuterSize() const;
    void applyDefaultSize();
    int px(int twips) const { return MulDiv(twips, static_cast<int>(dpi_), 1440); }
    int twipsOf(int pixels) const { return static_cast<int>(static_cast<long long>(pixels) * 1440 / dpi_); }
    HWND createChild(const wchar_t* cls, const wchar_t* text, DWORD style, int id, DWORD exStyle = 0);
    int selectedRow(HWND list) const;
    void ensureTip();

    platform::EventLoop& loop_;
    filter::FilterWindow* presenter_ = nullptr;
    win32::UniqueWindow window_;
    win32::UniqueWindow tip_;
    HWND tipFrame_ = nullptr, tipLabel_ = nullptr;
    win32::UniqueFont font_;
    HIMAGELIST images_ = nullptr;
    win32::UniqueMenu menuMail_, menuBlack_;  // hold the pop-ups as their only item
    UINT dpi_ = 96;
    int suppress_ = 0;   // >0 while a change of the program's is applied
    int depth_ = 0;      // presenter handlers on the stack
    bool closing_ = false, closePosted_ = false, inOuterSize_ = false, shown_ = false;
    filter::FilterLayout layout_;
    bool haveLayout_ = false;
    std::vector<double> widthsTwips_{2440, 3080, 1440, 1950, 1440};
    std::vector<std::optional<COLORREF>> colours_;
    // Per visible row: the classification's colour and reason (the tooltip
    // adds the present check mark).
    struct RowReason {
        filter::RowColor colour = filter::RowColor::Default;
        std::u16string reason;
    };
    std::vector<RowReason> reasons_;
    win32::UniqueWindow reasonTip_;
    int hoverRow_ = -1;
    std::u16string hoverText_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace iw::win32app
