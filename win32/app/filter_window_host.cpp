// createFilterWindowOpener: loads the filter window when the main window asks
// for it (the presenter over the real platform, the settings store and the
// header parser, and its Win32 view), shows it as asked, and destroys both
// once the window has unloaded.
#include "win32/app/filter_window_host.h"

#include <memory>

#include "filter/classify.h"
#include "filter/filter_window.h"
#include "filter/header_parser.h"
#include "filter/message_model.h"
#include "filter/settings_profile.h"
#include "platform/date_format.h"
#include "win32/app/filter_window_view.h"

namespace iw::win32app {

namespace {

// Hands each complete TOP reply to ParseMessageHeader and carries the row it
// parsed into the presenter's lists. The parser works on a FilterModel kept
// in step with the presenter's account lists (same length per account).
class ParserBridge : public filter::ParseReporter {
public:
    ParserBridge(FilterWindowDeps deps, std::unique_ptr<platform::DateFormat> dateFormat)
        : deps_(deps), dateFormat_(std::move(dateFormat)), lists_(deps.store, deps.state.UserSection) {}

    void setPresenter(const filter::FilterWindow* p) { presenter_ = p; }

    void parse(filter::ParserHost& host, int account, const std::string& reply) {
        if (account < 0) return;
        host_ = &host;
        filter::FilterModel& m = model_;
        const auto a = static_cast<std::size_t>(account);
        if (m.AccountLists.size() <= a) {
            m.AccountSections.resize(a + 1);
            m.MessageCounts.resize(a + 1);
            m.AccountLists.resize(a + 1);
        }
        auto& rows = host.accountList(account);
        // A re-check empties the account's list: the model follows.
        m.AccountLists[a].resize(rows.size());
        m.AccountSections[a] = host.accountSection(account);
        m.MessageCounts[a] = host.messageCount(account);
        m.PreviewLines = host.previewLines();
        m.PhaseDone = false;
        m.VisibleList.clear();
        m.ListingText.swap(host.listingText());
        const filter::ParseServices services{deps_.platform.codePage, deps_.platform.clock, *dateFormat_,
                                             filter::ClassifyContext{lists_, deps_.state.OptionFlags,
                                                                     presenter_ ? presenter_->sizeLimitKB() : 50},
                                             *this};
        filter::ParseMessageHeader(m, services, account, reply);
        host.listingText().swap(m.ListingText);
        m.VisibleList.clear();
        if (m.AccountLists[a].size() > rows.size()) {
            const filter::MessageEntry& e = m.AccountLists[a].back();
            filter::MessageRow row;
            row.SenderText = e.SenderText;
            row.Subject = e.Subject;
            row.SizeText = e.SizeText;
            row.ReceivedText = e.ReceivedText;
            row.PreviewText = e.PreviewText;
            row.Checked = e.Checked;
            const auto rgb = filter::rowColorRgb(e.TextColor);
            row.TextColor = rgb ? *rgb : filter::kDefaultTextColor;
            row.Number = host.replyNumber();
            rows.push_back(std::move(row));
            host.copyLastRowToVisible(account);
        }
        host.touchActivity();
        if (m.PhaseDone) host.setPhaseDone();
        host_ = nullptr;
    }

    // filter::ParseReporter
    void statusText(const std::u16string& text) override {
        if (host_) host_->statusBar(text);
    }
    void tipLabel(const std::u16string& text) override {
        if (host_) host_->tipLabel(text);
    }
    void errorBox(const std::u16string& text) override {
        if (host_) host_->messageBox(text);
    }

private:
    FilterWindowDeps deps_;
    std::unique_ptr<platform::DateFormat> dateFormat_;
    filter::StoreSenderLists lists_;
    filter::FilterModel model_;
    filter::ParserHost* host_ = nullptr;
    const filter::FilterWindow* presenter_ = nullptr;
};

// One loaded filter window: its settings view, parser, view and presenter.
struct LoadedWindow {
    explicit LoadedWindow(FilterWindowDeps deps)
        : profile(deps.store, deps.platform.codePage, deps.state.UserSection),
          bridge(deps, platform::createDateFormat()),
          view(deps.platform.loop),
          presenter(deps.platform, profile, deps.state, deps.mainWindow, view,
                    [this](filter::ParserHost& host, int account, const std::string& reply) {
                        bridge.parse(host, account, reply);
                    }) {
        bridge.setPresenter(&presenter);
    }
    ~LoadedWindow() { view.attach(nullptr); }

    filter::SettingsProfile profile;
    ParserBridge bridge;
    FilterWindowWin32View view;
    filter::FilterWindow presenter;
};

class Opener final : public app::FilterWindowOpener {
public:
    explicit Opener(FilterWindowDeps deps) : deps_(deps), alive_(std::make_shared<bool>(true)) {}
    ~Opener() override {
        *alive_ = false;
        if (loaded_ && !loaded_->presenter.closed()) {
            // The program ends with the window open: unload it as the system would.
            loaded_->view.attach(nullptr);
            loaded_->presenter.Form_Unload();
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

    // For tests: the loaded window, or null.
    LoadedWindow* loaded() { return loaded_.get(); }

private:
    bool load() {
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
        loaded_->presenter.Form_Load();
        loaded_->view.attach(&loaded_->presenter);
        return true;
    }

    FilterWindowDeps deps_;
    std::unique_ptr<LoadedWindow> loaded_;
    std::shared_ptr<bool> alive_;
};

}  // namespace

std::unique_ptr<app::FilterWindowOpener> createFilterWindowOpener(FilterWindowDeps deps) {
    return std::make_unique<Opener>(deps);
}

}  // namespace iw::win32app
