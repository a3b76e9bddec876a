// The filter window as the presenter sees it. The Win32 view implements it
// with real controls and forwards their notifications to FilterWindow; a
// change made through this interface must not come back as a notification
// (the view suppresses them while it applies one). Calls never pump the loop.
#pragma once

#include <string>
#include <vector>

#include "filter/message_model.h"

namespace iw::filter {

enum class Control { Command1, Command2, Command3, Check1, Check2, Check3, Check4, Combo1, Text1, Label2 };
enum class MenuEntry { Recheck, MailAdd, MailDel, MailModify, BlackAll, BlackAdd, AddDomain, TrustAdd };
enum class PopupMenu { Mail, BlackSet };
enum class MouseButton { Left, Right, Middle };

// A control rectangle in twips.
struct TwipRect {
    int left = 0, top = 0, width = 0, height = 0;
    friend bool operator==(const TwipRect&, const TwipRect&) = default;
};

// The places resized computes. `text1Visible` tells whether the preview
// box is shown; its rectangle is meaningful only then.
struct FilterLayout {
    TwipRect listView1, listView2, text1, command1;
    int check1Top = 0, check2Top = 0, check3Top = 0, check4Top = 0, combo1Top = 0, label1Top = 0;
    int check3Left = 0, check4Left = 0;
    bool text1Visible = false;
    friend bool operator==(const FilterLayout&, const FilterLayout&) = default;
};

// The icon of an account row (its number in the image list): an account of
// the session, an account removed or one added while the window is open.
inline constexpr int kAccountIconInSession = 1;
inline constexpr int kAccountIconRemoved = 2;
inline constexpr int kAccountIconAdded = 3;

class FilterWindowView {
public:
    virtual ~FilterWindowView() = default;

    virtual void setEnabled(Control c, bool enabled) = 0;
    virtual void setVisible(Control c, bool visible) = 0;
    virtual void setChecked(Control c, bool checked) = 0;            // Check1..Check4
    virtual void setText(Control c, const std::u16string& text) = 0;  // Label2, Text1
    virtual void setComboItems(const std::vector<std::u16string>& items, int selected) = 0;
    virtual void setStatus(const std::u16string& text) = 0;          // first status bar panel

    // The account list (ListView1): rows with one of the icons below.
    virtual void addAccountRow(const std::u16string& user, const std::u16string& address, int icon) = 0;
    virtual void setAccountIcon(int row, int icon) = 0;
    virtual void setAccountAddress(int row, const std::u16string& address) = 0;  // second column
    virtual void selectAccountRow(int row) = 0;  // 0-based

    // The visible message list (ListView2 element 0).
    virtual void clearMessages() = 0;
    virtual void addMessageRow(const MessageEntry& row) = 0;
    virtual void setMessageChecked(int row, bool checked) = 0;  // 0-based
    virtual void setColumnWidths(const std::vector<double>& twips) = 0;
    virtual std::vector<double> columnWidths() const = 0;

    // Pop-up menus at the mouse position.
    virtual void setMenuEnabled(MenuEntry e, bool enabled) = 0;
    virtual void setMenuChecked(MenuEntry e, bool checked) = 0;
    virtual void showPopupMenu(PopupMenu m) = 0;

    // A modal message box with the program title and an OK button.
    virtual void messageBox(const std::u16string& text) = 0;

    // The progress tip window mailtip.
    virtual void showTip() = 0;
    virtual void closeTip() = 0;
    virtual void setTipLabel(const std::u16string& text) = 0;

    // The window itself.
    virtual void applyLayout(const FilterLayout& layout) = 0;
    virtual void setOuterSize(int widthTwips, int heightTwips) = 0;
    virtual void minimize() = 0;
    virtual void restoreNormal() = 0;
    virtual void setTopmost(bool topmost) = 0;
    virtual void centreOnScreen() = 0;
    virtual void closeWindow() = 0;  // unloads the window; unload follows
};

}  // namespace iw::filter
