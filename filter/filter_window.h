// The filter window's presenter: the window state, the filter session over
// every account (the protocol is pop3::FetchSession; the window implements
// its report), the deletion run with its countdown, the re-check of one
// account and the list actions of the two pop-up menus. The view
// (FilterWindowView) mirrors the state and forwards the user's actions to
// the handlers below; all run on the UI thread, and the long procedures
// (RunFilterSession, runDeletion, RecheckAccount) pump the event loop
// while they wait, so handlers re-enter while they run. No exception leaves
// a handler.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/program_state.h"
#include "pop3/fetch_session.h"
#include "filter/fetch_report.h"
#include "filter/filter_profile.h"
#include "filter/filter_window_view.h"
#include "filter/classify.h"
#include "filter/main_window_link.h"
#include "filter/message_model.h"
#include "platform/date_format.h"
#include "platform/platform.h"

namespace iw::filter {

inline constexpr char16_t kMailProgramKey[] = u"SOFTWARE\\CLASSES\\mailto\\shell\\open\\command";

// The address between "<" and the last ">", or the whole text, without
// surrounding blanks. Returns false (and leaves `out` empty) when a "<" has
// no ">" after it.
bool ExtractSenderAddress(const std::u16string& text, std::u16string& out);

// Hooks for the account dialog (mail_add, mail_modify), which lives with the
// settings dialogs; unset hooks do nothing.
struct AccountDialogHooks {
    std::function<void()> add;
    std::function<void(int row)> modify;
    // Removes the account's roster key and section; true when it was removed.
    std::function<bool(const std::u16string& address)> remove;
};

class FilterWindow : private ParseReporter, private pop3::FetchReport {
public:
    // What the window knows of an account of the session; the connection
    // itself belongs to the POP3 session.
    struct Account {
        std::u16string section;
        std::u16string user;
        std::int32_t count = 0;
        std::int32_t size = 0;
        std::u16string status;
        // Row r (0-based) of the account's list is message numbers[r] on the
        // server: the messages LIST named, in ascending order.
        std::vector<std::int32_t> numbers;
        // The replies went out of step: the rows stay visible but are never
        // checked, and no DELE is sent for this account.
        bool held = false;
        // Messages whose deletion the server confirmed, DELE and QUIT both "+OK".
        std::int32_t deleted = 0;
        bool deleteFailed = false;  // some checked message is still on the server
    };
    struct AccountRow {
        std::u16string user, address;
        int icon = kAccountIconInSession;
    };

    FilterWindow(platform::Platform& platform, FilterProfile& profile, settings::ProgramState& module1,
                 MainWindowLink& mainWindow, FilterWindowView& view, SenderLists& senderLists,
                 const platform::DateFormat& dateFormat);
    ~FilterWindow() override;
    FilterWindow(const FilterWindow&) = delete;
    FilterWindow& operator=(const FilterWindow&) = delete;

    void setAccountDialogHooks(AccountDialogHooks hooks) { hooks_ = std::move(hooks); }

    // Window events.
    void load();
    void activated();
    void resized(int clientWidth, int clientHeight, bool minimized);
    // The user's close (close box, system menu). Returns true when the window
    // may close now; the close is refused during the session, and otherwise
    // turned into the deletion run, which closes the window itself.
    bool closeRequested();
    void unload();
    void openMailProgramClicked(bool checked);
    void previewLinesClicked(bool checked);
    void autoDeleteClicked(bool checked);
    void minimizeClicked(bool checked);
    void mailProgramThresholdChosen(int position);
    void accountListMouseUp(MouseButton button, int selectedRow);  // -1: none selected
    void messageChecked(int row, bool checked);
    void messageClicked(int row);
    void messageListMouseUp(MouseButton button, int selectedRow);
    void black_all_Click();
    void black_add_Click();
    void add_domain_Click();
    void trust_add_Click();
    void mnu_recheck_Click();
    void mail_add_Click();
    void mail_modify_Click();
    void mail_del_Click();
    // The account dialog added an account to the roster while the window is
    // open, or moved the account of `row` to another address.
    void AccountAdded(const std::u16string& user, const std::u16string& address);
    void AccountModified(int row, const std::u16string& address);

    // The session, the deletion run, the countdown and the re-check.
    void RunFilterSession();
    void runDeletion();
    void countdownTick();
    void checkAll();
    void uncheckAll();
    void RecheckAccount(int account);
    // Logs out of every connected account with QUIT and closes the sockets,
    // deleting nothing (the console front end without --delete).
    void LogOutWithoutDeleting();
    // NewMailCount as the deletion run left it, before the unload reset it.
    std::int32_t remainingAfterRun() const { return remainingAfterRun_; }

    // State, for the views and tests.
    bool enabled(Control c) const;
    bool checked(Control c) const;
    bool menuEnabled(MenuEntry e) const;
    bool menuChecked(MenuEntry e) const;
    bool timerEnabled() const { return timer_ != 0; }
    bool label2Visible() const { return label2Visible_; }
    const std::u16string& label2Text() const { return label2Text_; }
    int comboPosition() const { return comboPos_; }
    int accountCount() const { return AccountCount_; }
    const Account& account(int i) const { return accounts_.at(static_cast<std::size_t>(i)); }
    // Account i's socket, for its state; null before the session made it.
    platform::TcpSocket* socket(int i) const;
    // Account i's message list (row n is message n).
    const MessageList& accountList(int i) const { return model_.AccountLists.at(static_cast<std::size_t>(i)); }
    const std::vector<AccountRow>& accountRows() const { return accountRows_; }
    int selectedAccountRow() const { return selectedAccount_; }
    const std::vector<MessageEntry>& visibleList() const { return model_.VisibleList; }
    int shownList() const { return model_.ShownList; }
    bool previewLines() const { return model_.PreviewLines; }
    bool useProgressTip() const { return UseProgressTip_; }
    bool sessionStarted() const { return SessionStarted_; }
    int sizeLimitKB() const { return SizeLimitKB_; }
    int countdownTicks() const { return CountdownTicks_; }
    bool closed() const { return closed_; }
    const std::u16string& statusText() const { return status_; }

    // The limits on what a server may send, and on the rows' memory (tests lower them).
    void setLimits(pop3::Limits limits) { session_.setLimits(limits); }
    void setMaxRowBytes(std::size_t n) { maxRowBytes_ = n; }
    // Off: every DELE waits for the reply of the one before (the benchmark
    // compares the two).
    void setPipelinedDeletions(bool on) { session_.setPipelinedDeletions(on); }
    // On: every server is treated as one that does not list PIPELINING (the
    // benchmark measures the window with it).
    void setWindowOnly(bool on) { session_.setWindowOnly(on); }

    // Test hook: the state of a check box changed by the user through the view.
    void setCheckState(Control c, bool checked);

private:
    // ParseReporter
    void statusText(const std::u16string& text) override { statusBar(text); }
    void tipLabel(const std::u16string& text) override;
    void errorBox(const std::u16string& text) override { messageBox(text); }

    MessageList& list(int account) { return model_.AccountLists.at(static_cast<std::size_t>(account)); }
    void statusBar(const std::u16string& text);
    void messageBox(const std::u16string& text);
    // `refused`: the reply is a TOP's error line; its row is never checked.
    void parseReply(int account, const std::string& reply, bool refused = false);

    void setEnabledState(Control c, bool enabled);
    void setMenuEnabledState(MenuEntry e, bool enabled);
    void setMenuCheckedState(MenuEntry e, bool checked);
    void enableAfterRun();
    void startCountdown();
    void stopCountdown();
    void showLabel2(bool visible);
    void setLabel2(const std::u16string& text);
    void stopTimer();
    void startTimer();
    void tip(const std::u16string& text);  // only when UseProgressTip
    void tipSection(int i, const std::u16string& text);
    void applyListLayout();
    // pop3::FetchReport
    void step(int account, pop3::FetchStep step) override;
    std::int32_t counted(int account, std::int32_t count, std::int32_t size) override;
    void listed(int account, const pop3::Listing& listing) override;
    bool received(int account, int row, std::int32_t number, const std::string& reply, bool refused) override;
    void held(int account) override;
    void trouble(int account, pop3::FetchTrouble trouble, const std::u16string& detail) override;

    void show(int account, const FetchTexts& texts, bool accountLine);
    void runAccount(int i, bool recheck);
    void holdRows(int i);
    std::vector<int> checkedRows(int i);
    void reportDeletion(int i, int asked, int wanted);
    void abandonSession();
    void closeAfterRun();
    bool shownHeld() const;  // the visible list shows an account out of step
    void copyAccountToVisible(int list);
    void remarkSame(const std::function<bool(const MessageEntry&)>& match, bool mark);
    bool selectedSender(std::u16string& text, std::u16string& address) const;
    void startMailProgram();
    void reportRunError(const char16_t* tag, int number, const std::u16string& description);

    platform::Platform& p_;
    FilterProfile& profile_;
    settings::ProgramState& m1_;
    MainWindowLink& main_;
    FilterWindowView& view_;
    SenderLists& senderLists_;
    const platform::DateFormat& dateFormat_;
    // The message lists, the visible list and the values the header parser shares.
    FilterModel model_;
    AccountDialogHooks hooks_;

    // Controls.
    bool enabled_[10] = {false, true, true, true, true, true, true, true, true, true};
    bool checked_[4] = {false, false, false, false};
    bool menuEnabled_[8] = {false, true, true, true, true, true, true, true};
    bool menuChecked_[8] = {};
    int comboPos_ = 0;
    bool label2Visible_ = false;
    std::u16string label2Text_;
    std::u16string status_;
    std::vector<double> columnWidths_{2440, 3080, 1440, 1950, 1440};
    platform::TimerId timer_ = 0;
    bool closed_ = false;

    // Window state.
    bool StartOnActivate_ = false;
    bool UseProgressTip_ = false;
    bool CopyBusy_ = false;
    int SizeLimitKB_ = 50;
    std::uint8_t CountdownTicks_ = 0;
    std::vector<AccountRow> accountRows_;
    int selectedAccount_ = -1;

    // Session state, shared by all accounts.
    std::vector<Account> accounts_;
    int AccountCount_ = 0;
    bool SessionStarted_ = false;
    int dialogue_ = -1;  // the account the session is fetching
    bool recheck_ = false;  // the session's account in hand is being re-checked
    std::u16string sessionHost_, sessionUser_;  // of the account in hand
    bool sessionRunning_ = false;  // a session or a re-check is fetching
    bool deletionRunning_ = false;
    std::size_t maxRowBytes_ = kMaxRowBytes;
    std::size_t rowBytes_ = 0;  // what the rows of this session hold
    int selectedMessage_ = -1;
    int clientWidth_ = 8085, clientHeight_ = 5880;
    bool unloaded_ = false;
    std::int32_t remainingAfterRun_ = 0;

    // The POP3 session over the roster; its connections outlive the fetch
    // until the deletion run or the log-out.
    pop3::FetchSession session_;

    std::shared_ptr<bool> alive_;
};

}  // namespace iw::filter
