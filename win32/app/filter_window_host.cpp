// createFilterWindowOpener: loads the filter window when the main window asks
// for it (the presenter over the real platform, the settings store and the
// header parser, and its Win32 view), shows it as asked, and destroys both
// once the window has unloaded.
#include "win32/app/filter_window_host.h"

#include <memory>

#include "app/account_signin.h"
#include "filter/classify.h"
#include "filter/filter_window.h"
#include "filter/message_model.h"
#include "filter/settings_profile.h"
#include "platform/date_format.h"
#include "settings/accounts.h"
#include "win32/app/filter_window_view.h"
#include "win32/app/modal_dialogs_win32.h"

namespace iw::win32app {

namespace {

// The filter window's account list as the account dialog changes it: rows
// it adds carry icon 3, a moved account shows its new address.
class AccountRows final : public settings::AccountRowsOpener {
public:
    explicit AccountRows(filter::FilterWindow& w) : w_(w) {}
    int selectedRow() const override { return w_.selectedAccountRow(); }
    std::u16string rowAddress(int row) const override {
        const auto& rows = w_.accountRows();
        return row >= 0 && row < static_cast<int>(rows.size()) ? rows[static_cast<std::size_t>(row)].address : u"";
    }
    void setRowAddress(int row, const std::u16string& address) override { w_.AccountModified(row, address); }
    void addRow(const std::u16string& user, const std::u16string& address) override { w_.AccountAdded(user, address); }

private:
    filter::FilterWindow& w_;
};

// One loaded filter window: its settings, sender lists and date format, the
// view and the presenter (which parses and classifies the headers itself),
// and the account menu's dialog over the window.
struct LoadedWindow {
    explicit LoadedWindow(FilterWindowDeps deps)
        : profile(deps.store, deps.platform.codePage, deps.state.identity.UserSection),
          lists(deps.store, deps.state.identity.UserSection),
          dates(platform::createDateFormat()),
          view(deps.platform.loop),
          presenter(deps.platform, profile, deps.state, deps.mainWindow, view, lists, *dates),
          rows(presenter),
          dialogs(ModalDialogDeps{deps.platform.loop, deps.store, deps.platform.codePage, deps.platform.registry,
                                  deps.state, &deps.platform},
                  view.window()) {
        settings::SettingsStore& store = deps.store;
        settings::ProgramState& state = deps.state;
        platform::Platform& plat = deps.platform;
        presenter.setAccountDialogHooks(filter::AccountDialogHooks{
            [this] { dialogs.openAccount(rows, u""); },
            [this, &state](int row) {
                const auto& all = presenter.accountRows();
                if (row < 0 || row >= static_cast<int>(all.size())) return;
                state.dialog.EditMode = true;
                dialogs.openAccount(rows, all[static_cast<std::size_t>(row)].address);
            },
            [this, &store, &state, &plat](const std::u16string& address) {
                const std::u16string roster = settings::RosterSection(state.identity.UserSection);
                settings::DeleteSettingKey(store, settings::IniFile::Set, roster, address);
                settings::DeleteSettingSection(store, settings::IniFile::Set, address);
                // Removed means gone from the roster, whoever removed it;
                // its stored tokens go with it.
                if (!store.find(settings::IniFile::Set, roster, address)) {
                    app::ForgetAccountTokens(plat, state.identity.AppPath, address);
                    return true;
                }
                view.messageBox(u"無法寫入設定檔 set.ini,帳號沒有刪除。");
                return false;
            },
        });
    }
    ~LoadedWindow() { view.attach(nullptr); }

    filter::SettingsProfile profile;
    filter::StoreSenderLists lists;
    std::unique_ptr<platform::DateFormat> dates;
    FilterWindowWin32View view;
    filter::FilterWindow presenter;
    AccountRows rows;
    Win32ModalDialogs dialogs;
};

class Opener final : public FilterWindowHost {
public:
    explicit Opener(FilterWindowDeps deps) : deps_(deps), alive_(std::make_shared<bool>(true)) {}
    ~Opener() override {
        *alive_ = false;
        if (loaded_ && !loaded_->presenter.closed()) {
            // The program ends with the window open: unload it as the system would.
            loaded_->view.attach(nullptr);
            loaded_->presenter.unload();
        }
        loaded_.reset();
    }

    void showFilterWindow() override {
        if (!load()) return;
        loaded_->view.show(IsIconic(loaded_->view.window()) ? SW_RESTORE : SW_SHOWNORMAL);
        SetForegroundWindow(loaded_->view.window());
    }

    void showFilterWindowQuietly(bool minimized) override {
        if (!load()) return;
        loaded_->view.show(minimized ? SW_SHOWMINNOACTIVE : SW_SHOWNOACTIVATE);
    }

    void unloadNow() override {
        unloaded_ = true;
        if (loaded_) loaded_->view.unloadForExit();
    }

    // For tests: the loaded window, or null.
    LoadedWindow* loaded() { return loaded_.get(); }

private:
    bool load() {
        if (unloaded_) return false;
        if (loaded_) return !loaded_->view.closing();
        loaded_ = std::make_unique<LoadedWindow>(deps_);
        if (!loaded_->view.window()) {
            loaded_.reset();
            return false;
        }
        std::weak_ptr<bool> alive = alive_;
        loaded_->view.onClosed = [this, alive] {
            auto a = alive.lock();
            if (!a || !*a) return;
            // Runs from the loop once no handler of the window is on the stack.
            loaded_.reset();
        };
        loaded_->presenter.load();
        loaded_->view.attach(&loaded_->presenter);
        return true;
    }

    FilterWindowDeps deps_;
    std::unique_ptr<LoadedWindow> loaded_;
    std::shared_ptr<bool> alive_;
    bool unloaded_ = false;
};

}  // namespace

std::unique_ptr<FilterWindowHost> createFilterWindowOpener(FilterWindowDeps deps) {
    return std::make_unique<Opener>(deps);
}

}  // namespace iw::win32app
