// The small modal dialogs on screen; see modal_dialogs_win32.h. One base
// class runs a dialog (a template without controls; the controls are made
// and placed here, from the dialog's font at its DPI) and its modal loop;
// one class per dialog creates its controls in tab order, lays them out
// and mirrors its presenter.
#include "win32/app/modal_dialogs_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "app/account_signin.h"
#include "app/certificate_probe.h"
#include "settings/account_dialog.h"
#include "settings/entry_dialog.h"
#include "settings/login_pass_dialog.h"
#include "settings/provider_presets.h"
#include "settings/registry_values.h"
#include "win32/app/dpi_support.h"
#include "win32/platform/handles.h"
#include "win32/platform/win32_event_loop.h"

namespace iw::win32app {

namespace {

using win32::wide;

void report(const char* where) {
    char text[160];
    std::snprintf(text, sizeof text, "Inkwarden: an exception was stopped in a settings dialog (%s)\n", where);
    OutputDebugStringA(text);
}

// Measures at 96 DPI, scaled to the dialog's own.
constexpr int kMargin = 11, kGap = 7, kLabelGap = 8, kButtonW = 80, kButtonMinH = 23;

class DialogWindow;
std::vector<DialogWindow*>& openDialogs() {
    static std::vector<DialogWindow*> open;
    return open;
}

class DialogWindow {
public:
    DialogWindow(platform::EventLoop& loop, const wchar_t* fontFace = nullptr) : loop_(loop), fontFace_(fontFace) {}
    virtual ~DialogWindow() = default;
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    // Opens the dialog over `owner` and returns once it has closed.
    void runModal(HWND owner);
    // Ends the dialog as a cancel without asking the presenter's buttons.
    void abandon() { abandoned_ = true; }

protected:
    // Creates the controls in tab order (add() below).
    virtual void createControls() = 0;
    // Places the controls at dpi_ and returns the client size.
    virtual SIZE layout() = 0;
    // Runs the presenter's load; the first enabled tab stop gets the focus.
    virtual void load() = 0;
    // The user's commands: IDOK, IDCANCEL (also Esc and the close box) and
    // the controls' notifications.
    virtual void command(int id, int code) = 0;
    // The dialog goes away without a button (the owner or program ends).
    virtual void unload() = 0;

    HWND add(const wchar_t* cls, const std::u16string& text, DWORD style, int id, DWORD exStyle = 0) {
        HWND h = CreateWindowExW(exStyle, cls, wide(text), WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        return h;
    }
    HWND addLabel(const std::u16string& text, int id) { return add(L"STATIC", text, SS_LEFT | SS_NOPREFIX, id); }
    HWND addEdit(int id, bool masked) {
        HWND h = add(L"EDIT", u"", ES_AUTOHSCROLL | WS_TABSTOP | (masked ? ES_PASSWORD : 0), id, WS_EX_CLIENTEDGE);
        if (masked) SendMessageW(h, EM_SETPASSWORDCHAR, L'*', 0);
        return h;
    }
    void addButtons() {
        add(L"BUTTON", u"確定", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK);
        add(L"BUTTON", u"取消", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL);
        SendMessageW(hwnd_, DM_SETDEFID, IDOK, 0);
    }

    HWND item(int id) const { return GetDlgItem(hwnd_, id); }
    int px(int v) const { return MulDiv(v, static_cast<int>(dpi_), 96); }
    int lineHeight() const { return tm_.tmHeight; }
    int editHeight() const { return std::max(px(kButtonMinH), lineHeight() + px(9)); }
    int textWidth(const std::u16string& text) const {
        HDC dc = GetDC(hwnd_);
        HGDIOBJ old = SelectObject(dc, font_.get());
        SIZE size{0, 0};
        GetTextExtentPoint32W(dc, wide(text), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(hwnd_, dc);
        return size.cx;
    }
    void place(int id, int x, int y, int w, int h) {
        SetWindowPos(item(id), nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // A label beside a field of height `h`, centred on the field's text line.
    void placeLabel(int id, int x, int y, int w, int h) { place(id, x, y + (h - lineHeight()) / 2, w, lineHeight() + 1); }
    // 確定 and 取消 side by side, ending at `right`; returns their bottom.
    int placeButtons(int right, int top) {
        const int w = std::max({px(kButtonW), textWidth(u"確定") + px(24), textWidth(u"取消") + px(24)});
        const int h = editHeight();
        place(IDCANCEL, right - w, top, w, h);
        place(IDOK, right - 2 * w - px(kGap), top, w, h);
        return top + h;
    }

    std::u16string textOf(int id) const {
        HWND h = item(id);
        const int n = GetWindowTextLengthW(h);
        std::wstring buf(static_cast<std::size_t>(n) + 1, L'\0');
        const int got = GetWindowTextW(h, buf.data(), n + 1);
        return win32::fromWide(buf.data(), static_cast<std::size_t>(std::max(got, 0)));
    }
    // Program changes never come back as the user's.
    void setText(int id, const std::u16string& text) {
        ++suppress_;
        SetWindowTextW(item(id), wide(text));
        --suppress_;
    }
    void focus(int id) { SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(id)), TRUE); }
    void selectAll(int id) { SendMessageW(item(id), EM_SETSEL, 0, -1); }
    void messageBox(const std::u16string& text, const std::u16string& title) {
        MessageBoxW(hwnd_, wide(text), wide(title), MB_OK | MB_ICONWARNING);
    }
    void setCaption(const std::u16string& text) { SetWindowTextW(hwnd_, wide(text)); }
    // Closes the dialog: nothing more reaches the presenter.
    void close() {
        done_ = true;
        ShowWindow(hwnd_, SW_HIDE);
    }
    bool suppressed() const { return suppress_ > 0 || done_; }
    // The dialog is to go without a button (abandoned, its window or owner
    // gone, the program quitting): a wait inside it should end now, since
    // the modal loop that would notice runs only once the wait returns.
    bool ending() const {
        win32::Win32EventLoop* w = win32::asWin32(loop_);
        return abandoned_ || !IsWindow(hwnd_) || (owner_ && !IsWindow(owner_)) || (w && w->quitRequested());
    }

    HWND hwnd_ = nullptr;
    UINT dpi_ = 96;

private:
    static INT_PTR CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
    void applyFont();
    void applyLayout(const RECT* suggested);
    void centre();

    platform::EventLoop& loop_;
    const wchar_t* fontFace_;
    win32::UniqueFont font_;
    TEXTMETRICW tm_{};
    HWND owner_ = nullptr;
    int suppress_ = 0;
    bool done_ = false;
    bool abandoned_ = false;
};

void DialogWindow::runModal(HWND owner) {
    owner_ = owner && IsWindow(owner) ? owner : nullptr;
    // A dialog frame without controls; the controls come from createControls.
    alignas(4) WORD tmpl[16] = {};
    auto* t = reinterpret_cast<DLGTEMPLATE*>(tmpl);
    t->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    HWND made = nullptr;
    {
        PerMonitorDpi context;
        made = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), t, owner_, &DialogWindow::proc,
                                          reinterpret_cast<LPARAM>(this));
    }
    if (!made) {
        try {
            unload();
        } catch (...) {
            report("unload");
        }
        return;
    }
    const bool disableOwner = owner_ && IsWindowEnabled(owner_);
    if (disableOwner) EnableWindow(owner_, FALSE);
    win32::Win32EventLoop* w = win32::asWin32(loop_);
    if (w) w->addDialog(hwnd_);
    openDialogs().push_back(this);
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    while (!done_) {
        const bool ownerGone = owner && !IsWindow(owner);
        if (abandoned_ || ownerGone || !IsWindow(hwnd_) || (w && w->quitRequested())) {
            done_ = true;
            try {
                unload();
            } catch (...) {
                report("unload");
            }
            break;
        }
        if (w) {
            loop_.pump(platform::Milliseconds(100));
        } else {
            MSG msg;
            if (GetMessageW(&msg, nullptr, 0, 0) <= 0) {
                abandoned_ = true;
                continue;
            }
            if (!IsDialogMessageW(hwnd_, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
    std::erase(openDialogs(), this);
    if (w) w->removeDialog(hwnd_);
    // The owner is enabled before the dialog goes, so that it is activated.
    if (disableOwner && IsWindow(owner_)) EnableWindow(owner_, TRUE);
    if (IsWindow(hwnd_)) {
        SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
        DestroyWindow(hwnd_);
    }
    hwnd_ = nullptr;
}

void DialogWindow::applyFont() {
    font_ = createMessageFont(dpi_, fontFace_);
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_.get());
    GetTextMetricsW(dc, &tm_);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    for (HWND child = GetWindow(hwnd_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
}

void DialogWindow::applyLayout(const RECT* suggested) {
    const SIZE client = layout();
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
    RECT r{0, 0, client.cx, client.cy};
    AdjustWindowRectExForDpi(&r, style, FALSE, exStyle, dpi_);
    if (suggested) {
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void DialogWindow::centre() {
    RECT wr;
    GetWindowRect(hwnd_, &wr);
    const int w = wr.right - wr.left, h = wr.bottom - wr.top;
    RECT over{};
    const bool onOwner = owner_ && IsWindowVisible(owner_) && !IsIconic(owner_) && GetWindowRect(owner_, &over);
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    HMONITOR mon = onOwner ? MonitorFromRect(&over, MONITOR_DEFAULTTOPRIMARY) : [] {
        POINT cursor{};
        GetCursorPos(&cursor);
        return MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY);
    }();
    GetMonitorInfoW(mon, &mi);
    if (!onOwner) over = mi.rcWork;
    int x = over.left + (over.right - over.left - w) / 2, y = over.top + (over.bottom - over.top - h) / 2;
    // Whole on its screen's work area.
    x = std::clamp<int>(x, mi.rcWork.left, std::max<int>(mi.rcWork.left, mi.rcWork.right - w));
    y = std::clamp<int>(y, mi.rcWork.top, std::max<int>(mi.rcWork.top, mi.rcWork.bottom - h));
    SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR DialogWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam), code = HIWORD(wParam);
            if (suppressed()) return TRUE;
            command(id, code);
            return TRUE;
        }
        case WM_DPICHANGED: {
            dpi_ = HIWORD(wParam) ? HIWORD(wParam) : 96;
            applyFont();
            applyLayout(reinterpret_cast<const RECT*>(lParam));
            return TRUE;
        }
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK DialogWindow::proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        if (message == WM_INITDIALOG) {
            auto* self = reinterpret_cast<DialogWindow*>(lParam);
            SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
            self->hwnd_ = hwnd;
            // The dialog manager would scale a dialog by itself on a DPI
            // change; this one lays itself out.
            using SetBehavior = BOOL(WINAPI*)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
            if (auto fn = reinterpret_cast<SetBehavior>(
                    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetDialogDpiChangeBehavior"))))
                fn(hwnd, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
            self->dpi_ = GetDpiForWindow(hwnd);
            if (self->dpi_ == 0) self->dpi_ = 96;
            self->applyFont();
            // Controls get their places before their texts, so that an
            // edit box does not keep a scroll position from a smaller size.
            ++self->suppress_;
            self->createControls();
            self->applyLayout(nullptr);
            self->load();
            --self->suppress_;
            self->applyLayout(nullptr);
            self->centre();
            // Focus goes to the first enabled tab stop.
            return TRUE;
        }
        auto* self = reinterpret_cast<DialogWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
        if (!self || self->hwnd_ != hwnd) return FALSE;
        const INT_PTR r = self->handle(message, wParam, lParam);
        if (message == WM_DPICHANGED) SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, 0);
        return r;
    } catch (...) {
        report("the dialog procedure");
        return FALSE;
    }
}

// --- 伺服器憑證 -------------------------------------------------------------

// A fetched certificate, read-only, with "信任此憑證" when trust is offered.
// "關閉" is the default button, so Enter never trusts by accident.
class CertificateWindow final : public DialogWindow {
public:
    CertificateWindow(platform::EventLoop& loop, std::u16string text, bool offerTrust)
        : DialogWindow(loop), text_(std::move(text)), offer_(offerTrust) {}
    bool trusted() const { return trusted_; }

private:
    static constexpr char16_t kLeadOffer[] =
        u"伺服器憑證未通過檢查。請確定這是您自己的郵件伺服器,再信任這個憑證:";
    static constexpr char16_t kLeadShow[] = u"伺服器憑證:";

    const char16_t* lead() const { return offer_ ? kLeadOffer : kLeadShow; }

    void createControls() override {
        setCaption(u"伺服器憑證");
        addLabel(lead(), kIdCertificateLead);
        add(L"EDIT", text_, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP, kIdCertificateText,
            WS_EX_CLIENTEDGE);
        if (offer_) add(L"BUTTON", u"信任此憑證", BS_PUSHBUTTON | WS_TABSTOP, IDOK);
        add(L"BUTTON", u"關閉", BS_DEFPUSHBUTTON | WS_TABSTOP, IDCANCEL);
        SendMessageW(hwnd_, DM_SETDEFID, IDCANCEL, 0);
    }
    SIZE layout() override {
        const int m = px(kMargin), gap = px(kGap);
        // As wide as the longest line (the fingerprint), within reason.
        int widest = 0, lines = 0;
        for (std::size_t from = 0; from <= text_.size();) {
            std::size_t to = text_.find(u'\n', from);
            if (to == std::u16string::npos) to = text_.size();
            std::u16string line = text_.substr(from, to - from);
            if (!line.empty() && line.back() == u'\r') line.pop_back();
            widest = std::max(widest, textWidth(line));
            ++lines;
            from = to + 1;
        }
        const int w = std::clamp(std::max(widest + px(30), textWidth(lead()) + 2), px(360), px(720));
        RECT r{0, 0, w, 0};
        HDC dc = GetDC(hwnd_);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(item(kIdCertificateLead), WM_GETFONT, 0, 0)));
        const std::u16string leadText = lead();
        DrawTextW(dc, wide(leadText), static_cast<int>(leadText.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(hwnd_, dc);
        const int leadH = std::max<int>(r.bottom - r.top, lineHeight()) + 1;
        place(kIdCertificateLead, m, m, w, leadH);
        const int textTop = m + leadH + gap;
        const int textH = (std::max(lines, 5) + 1) * lineHeight() + px(8);
        place(kIdCertificateText, m, textTop, w, textH);
        const int top = textTop + textH + gap + px(4), h = editHeight();
        const int closeW = std::max(px(kButtonW), textWidth(u"關閉") + px(24));
        place(IDCANCEL, m + w - closeW, top, closeW, h);
        if (offer_) {
            const int trustW = std::max(px(kButtonW), textWidth(u"信任此憑證") + px(24));
            place(IDOK, m + w - closeW - gap - trustW, top, trustW, h);
        }
        return SIZE{m + w + m, top + h + m};
    }
    // The text box takes the focus (Enter still means 關閉); its text is
    // not left selected.
    void load() override { PostMessageW(item(kIdCertificateText), EM_SETSEL, static_cast<WPARAM>(-1), 0); }
    void command(int id, int) override {
        if (id == IDOK && offer_) {
            trusted_ = true;
            close();
        } else if (id == IDCANCEL) {
            close();
        }
    }
    void unload() override {}

    std::u16string text_;
    bool offer_;
    bool trusted_ = false;
};

// --- 建立信箱帳號 ----------------------------------------------------------

class AccountWindow final : public DialogWindow, private settings::AccountDialogView, private settings::AccountSignIn {
public:
    AccountWindow(const ModalDialogDeps& d, settings::AccountRowsOpener& opener, std::u16string address,
                  OpenAddress open)
        : DialogWindow(d.loop),
          loop_(d.loop),
          platform_(d.platform),
          profileFolder_(d.store.appPath()),
          openAddress_(std::move(open)),
          presenter_(d.store, d.codePage, d.state, opener, *this),
          address_(std::move(address)) {}

private:
    static int idOf(settings::AccountField f) {
        switch (f) {
            case settings::AccountField::User: return kIdAccountUser;
            case settings::AccountField::Password: return kIdAccountPassword;
            case settings::AccountField::Host: return kIdAccountHost;
            case settings::AccountField::Address: return kIdAccountAddress;
            case settings::AccountField::Security: return kIdAccountSecurity;
            case settings::AccountField::Ok: return IDOK;
            case settings::AccountField::Cancel: return IDCANCEL;
            case settings::AccountField::Login: return kIdAccountLogin;
            case settings::AccountField::AuthorizeUrl: return kIdAccountAuthorizeUrl;
            case settings::AccountField::TokenUrl: return kIdAccountTokenUrl;
            case settings::AccountField::Scope: return kIdAccountScope;
            case settings::AccountField::ClientId: return kIdAccountClientId;
            case settings::AccountField::ClientSecret: return kIdAccountClientSecret;
            case settings::AccountField::SignIn: return kIdAccountSignIn;
        }
        return 0;
    }
    // The OAuth2 boxes, their labels and fields, in tab order; the client
    // secret is masked like the password.
    struct OAuthBox {
        int label, edit;
        const char16_t* text;
        settings::AccountField field;
        bool masked;
    };
    static constexpr OAuthBox kOAuthBoxes[] = {
        {kIdAccountLabelAuthorizeUrl, kIdAccountAuthorizeUrl, settings::kAccountAuthorizeUrlLabel,
         settings::AccountField::AuthorizeUrl, false},
        {kIdAccountLabelTokenUrl, kIdAccountTokenUrl, settings::kAccountTokenUrlLabel, settings::AccountField::TokenUrl,
         false},
        {kIdAccountLabelScope, kIdAccountScope, settings::kAccountScopeLabel, settings::AccountField::Scope, false},
        {kIdAccountLabelClientId, kIdAccountClientId, settings::kAccountClientIdLabel, settings::AccountField::ClientId,
         false},
        {kIdAccountLabelClientSecret, kIdAccountClientSecret, settings::kAccountClientSecretLabel,
         settings::AccountField::ClientSecret, true},
    };

    // The widest line the hint may show (the example host or any provider's
    // hint), or the sign-in's status line before a sign-in.
    int widestHint() const {
        int w = textWidth(settings::kAccountHostHint);
        for (const settings::ProviderPreset& p : settings::ProviderPresets())
            w = std::max(w, textWidth(std::u16string(p.hint)));
        // The sign-in's status line shares the width.
        for (int way = 0; way < static_cast<int>(std::size(settings::kLoginChoices)); ++way)
            w = std::max(w, textWidth(settings::LoginWayGuide(static_cast<settings::LoginWay>(way))));
        return w;
    }
    int certificateButtonWidth() const {
        return std::max(textWidth(settings::kViewCertificateCaption), textWidth(settings::kStopCertificateCaption)) +
               px(24);
    }
    int signInButtonWidth() const {
        return std::max(textWidth(settings::kSignInCaption), textWidth(settings::kCancelSignInCaption)) + px(24);
    }
    int widestLoginChoice() const {
        int w = 0;
        for (const char16_t* c : settings::kLoginChoices) w = std::max(w, textWidth(c));
        return w;
    }
    HWND addChoiceList(int id, const auto& choices) {
        HWND combo = add(L"COMBOBOX", u"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, id);
        for (const char16_t* c : choices) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(c)));
        return combo;
    }
    // A drop-down list at (x, y), `w` wide: its height includes the opened
    // list; the closed box is made as high as the text boxes (its selection
    // field grows by what the box lacks). Returns the closed box's height.
    int placeChoiceList(int id, int x, int y, int w, int h) {
        HWND combo = item(id);
        SetWindowPos(combo, nullptr, x, y, w, h + lineHeight() * 6, SWP_NOZORDER | SWP_NOACTIVATE);
        auto comboHeight = [&] {
            RECT cr;
            GetWindowRect(combo, &cr);
            return static_cast<int>(cr.bottom - cr.top);
        };
        const int field = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
        if (field > 0 && comboHeight() < h)
            SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field + (h - comboHeight()));
        return comboHeight();
    }

    void createControls() override {
        setCaption(settings::kAccountCaption);
        // Tab order: user, password, host, address, security, 檢視憑證, the
        // login way, 登入..., the OAuth2 boxes, 確定, 取消.
        addLabel(settings::kAccountUserLabel, kIdAccountLabelUser);
        addEdit(kIdAccountUser, false);
        addLabel(settings::kAccountPasswordLabel, kIdAccountLabelPassword);
        addEdit(kIdAccountPassword, true);
        addLabel(settings::kAccountHostLabel, kIdAccountLabelHost);
        addEdit(kIdAccountHost, false);
        addLabel(settings::kAccountHostHint, kIdAccountHint);
        addLabel(settings::kAccountAddressLabel, kIdAccountLabelAddress);
        addEdit(kIdAccountAddress, false);
        addLabel(settings::kAccountSecurityLabel, kIdAccountLabelSecurity);
        addChoiceList(kIdAccountSecurity, settings::kSecurityChoices);
        HWND cert = add(L"BUTTON", settings::kViewCertificateCaption, BS_PUSHBUTTON | WS_TABSTOP, kIdAccountCertificate);
        EnableWindow(cert, FALSE);
        // Then the login way, its sign-in button and the OAuth2 boxes.
        addLabel(settings::kAccountLoginLabel, kIdAccountLabelLogin);
        addChoiceList(kIdAccountLogin, settings::kLoginChoices);
        HWND sign = add(L"BUTTON", settings::kSignInCaption, BS_PUSHBUTTON | WS_TABSTOP, kIdAccountSignIn);
        EnableWindow(sign, FALSE);
        for (const OAuthBox& b : kOAuthBoxes) {
            addLabel(b.text, b.label);
            addEdit(b.edit, b.masked);
        }
        addLabel(u"", kIdAccountSignInStatus);
        addButtons();
    }

    SIZE layout() override {
        const int m = px(kMargin), gap = px(kGap), h = editHeight();
        int labelW = 0;
        for (const char16_t* l : {settings::kAccountUserLabel, settings::kAccountPasswordLabel, settings::kAccountHostLabel,
                                  settings::kAccountAddressLabel, settings::kAccountSecurityLabel,
                                  settings::kAccountLoginLabel})
            labelW = std::max(labelW, textWidth(l) + 2);
        for (const OAuthBox& b : kOAuthBoxes) labelW = std::max(labelW, textWidth(b.text) + 2);
        const int fieldX = m + labelW + px(kLabelGap);
        const int comboW = px(120) + textWidth(u"STARTTLS");
        const int loginW = widestLoginChoice() + px(48);
        const int fieldW = std::max({px(230), widestHint() + 2, comboW + px(kGap) + certificateButtonWidth(),
                                     loginW + px(kGap) + signInButtonWidth()});
        int y = m;
        auto row = [&](int label, int field) {
            placeLabel(label, m, y, labelW, h);
            place(field, fieldX, y, fieldW, h);
            y += h + gap;
        };
        row(kIdAccountLabelUser, kIdAccountUser);
        row(kIdAccountLabelPassword, kIdAccountPassword);
        row(kIdAccountLabelHost, kIdAccountHost);
        place(kIdAccountHint, fieldX, y - gap + px(2), fieldW, lineHeight() + 1);
        y += lineHeight() + px(2);
        row(kIdAccountLabelAddress, kIdAccountAddress);
        // The drop-down lists take the height the system gives the closed
        // box, which the label and the button beside them follow.
        const int comboH = placeChoiceList(kIdAccountSecurity, fieldX, y, comboW, h);
        placeLabel(kIdAccountLabelSecurity, m, y, labelW, comboH);
        const int certW = certificateButtonWidth();
        place(kIdAccountCertificate, fieldX + fieldW - certW, y, certW, comboH);
        y += comboH + gap;
        const int loginH = placeChoiceList(kIdAccountLogin, fieldX, y, loginW, h);
        placeLabel(kIdAccountLabelLogin, m, y, labelW, loginH);
        const int signW = signInButtonWidth();
        place(kIdAccountSignIn, fieldX + fieldW - signW, y, signW, loginH);
        y += loginH + gap;
        for (const OAuthBox& b : kOAuthBoxes) row(b.label, b.edit);
        // The sign-in's status: two lines, wrapped.
        place(kIdAccountSignInStatus, fieldX, y - gap + px(2), fieldW, 2 * lineHeight() + 1);
        y += 2 * lineHeight() + px(2) + px(4);
        const int right = fieldX + fieldW;
        const int bottom = placeButtons(right, y);
        return SIZE{right + m, bottom + m};
    }

    void load() override {
        if (platform_) {
            platform::Platform* p = platform_;
            presenter_.setCertificateProber([p](const std::string& host, std::uint16_t port,
                                                platform::MailSecurity security, const std::string& pin,
                                                const std::function<bool()>& stop) {
                return app::LookAtCertificate(app::ProbeCertificate(*p, host, port, security, pin, kProbeSeconds, stop),
                                              p->codePage);
            });
            app::BrowserAccountSignIn::OpenAddress open = openAddress_;
            if (!open) open = [p](const std::u16string& address) { return p->shell.openDocument(address); };
            signIn_ = std::make_unique<app::BrowserAccountSignIn>(*p, profileFolder_, std::move(open));
            presenter_.setSignIn(this);
        }
        presenter_.load(address_);
    }

    void command(int id, int code) override {
        switch (id) {
            case IDOK: presenter_.confirm(); return;
            case IDCANCEL: presenter_.cancel(); return;
            case kIdAccountCertificate:
                if (code == BN_CLICKED) presenter_.viewCertificate();
                return;
            case kIdAccountSecurity:
                if (code == CBN_SELCHANGE)
                    presenter_.securityChosen(static_cast<int>(SendMessageW(item(id), CB_GETCURSEL, 0, 0)));
                return;
            case kIdAccountLogin:
                if (code == CBN_SELCHANGE)
                    presenter_.loginChosen(static_cast<int>(SendMessageW(item(id), CB_GETCURSEL, 0, 0)));
                return;
            case kIdAccountSignIn:
                if (code == BN_CLICKED) presenter_.signIn();
                return;
            default: break;
        }
        if (code != EN_CHANGE) return;
        const std::u16string text = textOf(id);
        for (const OAuthBox& b : kOAuthBoxes)
            if (b.edit == id) return presenter_.oauthFieldChanged(b.field, text);
        switch (id) {
            case kIdAccountHost: presenter_.hostChanged(text); break;
            case kIdAccountUser: presenter_.userChanged(text); break;
            case kIdAccountPassword: presenter_.passwordChanged(text); break;
            case kIdAccountAddress: presenter_.addressChanged(text); break;
            default: break;
        }
    }

    void unload() override { presenter_.unload(); }

    // AccountDialogView
    void setText(settings::AccountField f, const std::u16string& text) override { DialogWindow::setText(idOf(f), text); }
    void setSecurity(int position) override { SendMessageW(item(kIdAccountSecurity), CB_SETCURSEL, position, 0); }
    void setEnabled(settings::AccountField f, bool enabled) override { EnableWindow(item(idOf(f)), enabled); }
    void focus(settings::AccountField f) override { DialogWindow::focus(idOf(f)); }
    void messageBox(const std::u16string& text, const std::u16string& title) override {
        DialogWindow::messageBox(text, title);
    }
    void close() override { DialogWindow::close(); }
    void setHint(const std::u16string& text) override { DialogWindow::setText(kIdAccountHint, text); }
    void setCertificateButton(bool enabled, const std::u16string& caption) override {
        DialogWindow::setText(kIdAccountCertificate, caption);
        EnableWindow(item(kIdAccountCertificate), enabled);
    }
    void setLoginWay(int position) override { SendMessageW(item(kIdAccountLogin), CB_SETCURSEL, position, 0); }
    void setSignInButton(bool enabled, const std::u16string& caption) override {
        DialogWindow::setText(kIdAccountSignIn, caption);
        EnableWindow(item(kIdAccountSignIn), enabled);
    }
    void setSignInStatus(const std::u16string& text) override { DialogWindow::setText(kIdAccountSignInStatus, text); }
    bool showCertificate(const std::u16string& description, bool offerTrust) override {
        CertificateWindow w(loop_, description, offerTrust);
        w.runModal(hwnd_);
        // Back to the account dialog: without a window manager (and at times
        // on Windows) the activation does not come back by itself.
        if (IsWindow(hwnd_)) {
            SetForegroundWindow(hwnd_);
            SetActiveWindow(hwnd_);
        }
        return w.trusted();
    }

    // AccountSignIn: the browser sign-in, which also ends when the dialog
    // is going away without a button.
    settings::SignInReport signIn(const settings::MailAccount& account, const std::function<bool()>& stop,
                                  const std::function<void(const std::u16string&)>& progress) override {
        return signIn_->signIn(account, [&] { return stop() || ending(); }, progress);
    }
    bool hasTokens(const std::u16string& address) override { return signIn_->hasTokens(address); }
    bool moveTokens(const std::u16string& from, const std::u16string& to) override {
        return signIn_->moveTokens(from, to);
    }

    // How long the certificate step waits for the server before it gives up.
    static constexpr double kProbeSeconds = 20;

    platform::EventLoop& loop_;
    platform::Platform* platform_;
    std::u16string profileFolder_;
    app::BrowserAccountSignIn::OpenAddress openAddress_;
    // Made at load with the platform; goes after the presenter.
    std::unique_ptr<app::BrowserAccountSignIn> signIn_;
    settings::AccountDialog presenter_;
    std::u16string address_;
};

// --- 設定黑名單 / 設定信任名單 / 設定網站網址 -----------------------------

class EntryWindow final : public DialogWindow, private settings::EntryDialogView {
public:
    EntryWindow(const ModalDialogDeps& d, int mode, std::optional<std::u16string> editText,
                settings::EntryRowsOpener& opener)
        : DialogWindow(d.loop), presenter_(d.store, d.state, mode, opener, *this), editText_(std::move(editText)) {}

private:
    void createControls() override {
        addEdit(kIdEntryText, false);
        addButtons();
    }
    SIZE layout() override {
        const int m = px(kMargin), h = editHeight();
        const int w = std::max(px(300), textWidth(settings::kWebAddressCaption) + px(120));
        place(kIdEntryText, m, m, w, h);
        const int bottom = placeButtons(m + w, m + h + px(kGap) + px(4));
        return SIZE{m + w + m, bottom + m};
    }
    void load() override { presenter_.load(editText_); }
    void command(int id, int code) override {
        if (id == IDOK) presenter_.confirm();
        else if (id == IDCANCEL) presenter_.cancel();
        else if (id == kIdEntryText && code == EN_CHANGE) presenter_.textChanged(textOf(id));
    }
    void unload() override { presenter_.unload(); }

    // EntryDialogView
    void setCaption(const std::u16string& caption) override { DialogWindow::setCaption(caption); }
    void setText(const std::u16string& text) override { DialogWindow::setText(kIdEntryText, text); }
    void selectAllText() override { selectAll(kIdEntryText); }
    void focusText() override { focus(kIdEntryText); }
    void messageBox(const std::u16string& text, const std::u16string& title) override {
        DialogWindow::messageBox(text, title);
    }
    void close() override { DialogWindow::close(); }

    settings::EntryDialog presenter_;
    std::optional<std::u16string> editText_;
};

// --- 密碼變更 ---------------------------------------------------------------

class LoginPassWindow final : public DialogWindow, private settings::LoginPassView {
public:
    explicit LoginPassWindow(const ModalDialogDeps& d)
        : DialogWindow(d.loop, reinterpret_cast<const wchar_t*>(settings::kLoginPassFont)),
          values_(d.registry),
          presenter_(values_, d.state, *this) {}

private:
    static int idOf(settings::LoginPassField f) {
        switch (f) {
            case settings::LoginPassField::Text1: return kIdLoginOld;
            case settings::LoginPassField::NewPassword: return kIdLoginNew;
            case settings::LoginPassField::TxtPassword: return kIdLoginAgain;
            case settings::LoginPassField::Ok: return IDOK;
            case settings::LoginPassField::Cancel: return IDCANCEL;
        }
        return 0;
    }
    void createControls() override {
        setCaption(settings::kLoginPassCaption);
        addLabel(u"輸入舊密碼", kIdLoginLabelOld);
        addEdit(kIdLoginOld, true);
        addLabel(u"輸入新密碼", kIdLoginLabelNew);
        addEdit(kIdLoginNew, true);
        addLabel(u"再一次確認:", kIdLoginLabelAgain);
        addEdit(kIdLoginAgain, true);
        addButtons();
    }
    SIZE layout() override {
        const int m = px(kMargin), gap = px(kGap), h = editHeight();
        int labelW = 0;
        for (const char16_t* l : {u"輸入舊密碼", u"輸入新密碼", u"再一次確認:"}) labelW = std::max(labelW, textWidth(l) + 2);
        const int fieldX = m + labelW + px(kLabelGap), fieldW = px(180);
        int y = m;
        for (auto [label, field] : {std::pair{kIdLoginLabelOld, kIdLoginOld}, std::pair{kIdLoginLabelNew, kIdLoginNew},
                                    std::pair{kIdLoginLabelAgain, kIdLoginAgain}}) {
            placeLabel(label, m, y, labelW, h);
            place(field, fieldX, y, fieldW, h);
            y += h + gap;
        }
        const int bottom = placeButtons(fieldX + fieldW, y + px(4));
        return SIZE{fieldX + fieldW + m, bottom + m};
    }
    void load() override {}
    void command(int id, int code) override {
        if (id == IDOK) return presenter_.confirm();
        if (id == IDCANCEL) return presenter_.cancel();
        if (code != EN_CHANGE) return;
        if (id == kIdLoginOld) presenter_.oldPasswordChanged(textOf(id));
        else if (id == kIdLoginNew) presenter_.newPasswordChanged(textOf(id));
        else if (id == kIdLoginAgain) presenter_.repeatedPasswordChanged(textOf(id));
    }
    void unload() override { presenter_.unload(); }

    // LoginPassView
    void setText(settings::LoginPassField f, const std::u16string& text) override { DialogWindow::setText(idOf(f), text); }
    void selectAll(settings::LoginPassField f) override { DialogWindow::selectAll(idOf(f)); }
    void focus(settings::LoginPassField f) override { DialogWindow::focus(idOf(f)); }
    void messageBox(const std::u16string& text, const std::u16string& title) override {
        DialogWindow::messageBox(text, title);
    }
    void close() override { DialogWindow::close(); }

    settings::RegistryValues values_;
    settings::LoginPassDialog presenter_;
};

// --- the input box ----------------------------------------------------------

class InputWindow final : public DialogWindow {
public:
    InputWindow(platform::EventLoop& loop, std::u16string prompt, std::u16string title, bool masked)
        : DialogWindow(loop), prompt_(std::move(prompt)), title_(std::move(title)), masked_(masked) {}
    const std::optional<std::u16string>& answer() const { return answer_; }

private:
    void createControls() override {
        setCaption(title_);
        addLabel(prompt_, kIdInputPrompt);
        addEdit(kIdInputText, masked_);
        addButtons();
    }
    SIZE layout() override {
        const int m = px(kMargin), h = editHeight();
        const int w = px(300);
        // The prompt wraps inside the dialog's width.
        RECT r{0, 0, w, 0};
        HDC dc = GetDC(hwnd_);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(item(kIdInputPrompt), WM_GETFONT, 0, 0)));
        DrawTextW(dc, wide(prompt_), static_cast<int>(prompt_.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(hwnd_, dc);
        const int promptH = std::max<int>(r.bottom - r.top, lineHeight()) + 1;
        place(kIdInputPrompt, m, m, w, promptH);
        const int editTop = m + promptH + px(kGap);
        place(kIdInputText, m, editTop, w, h);
        const int bottom = placeButtons(m + w, editTop + h + px(kGap) + px(4));
        return SIZE{m + w + m, bottom + m};
    }
    void load() override {}
    void command(int id, int) override {
        if (id == IDOK) {
            answer_ = textOf(kIdInputText);
            close();
        } else if (id == IDCANCEL) {
            close();
        }
    }
    void unload() override {}

    std::u16string prompt_, title_;
    bool masked_;
    std::optional<std::u16string> answer_;
};

}  // namespace

Win32ModalDialogs::Win32ModalDialogs(ModalDialogDeps deps, HWND owner) : deps_(deps), owner_(owner) {}

void Win32ModalDialogs::openAccount(settings::AccountRowsOpener& opener, const std::u16string& address) {
    AccountWindow w(deps_, opener, address, openAddress_);
    w.runModal(owner_);
}

void Win32ModalDialogs::openEntry(int listMode, const std::optional<std::u16string>& editText,
                                  settings::EntryRowsOpener& opener) {
    EntryWindow w(deps_, listMode, editText, opener);
    w.runModal(owner_);
}

void Win32ModalDialogs::openLoginPass() {
    LoginPassWindow w(deps_);
    w.runModal(owner_);
}

std::optional<std::u16string> Win32ModalDialogs::askText(const std::u16string& prompt, const std::u16string& title,
                                                         bool masked) {
    InputWindow w(deps_.loop, prompt, title, masked);
    w.runModal(owner_);
    return w.answer();
}

void cancelOpenModalDialogs() {
    for (DialogWindow* d : openDialogs()) d->abandon();
}

}  // namespace iw::win32app
