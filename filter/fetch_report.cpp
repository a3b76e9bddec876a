// What the filter makes of the POP3 session's reports; see fetch_report.h.
#include "filter/fetch_report.h"

#include <algorithm>

#include "settings/accounts.h"

namespace iw::filter {

namespace {

std::u16string Num(std::int64_t n) {
    const std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

// The texts of an account whose connection ended by itself.
const char16_t kOutOfStepText[] = u"郵件主機回應錯亂,已中斷連線,本信箱不刪除郵件";
const char16_t kTooLargeText[] = u"郵件主機傳送資料過大,已中斷連線";
const char16_t kNotJudgedText[] = u"伺服器沒有送出信件標頭,不判斷";

std::size_t RowBytes(const MessageEntry& e) {
    return 2 * (e.SenderText.size() + e.Subject.size() + e.SizeText.size() + e.ReceivedText.size() +
                e.PreviewText.size() + e.Reason.size()) +
           sizeof(MessageEntry);
}

void MarkNotJudged(MessageEntry& e) {
    e.Checked = false;
    e.TextColor = RowColor::Default;
    e.Reason = kNotJudgedText;
}

}  // namespace

pop3::FetchAccount FetchAccountOf(FilterProfile& profile, const platform::CodePage& codePage,
                                  const std::u16string& section) {
    const settings::MailAccount account =
        settings::ReadMailAccount(section, [&](const char16_t* key, const char16_t* defaultValue) {
            std::u16string v = profile.accountValue(section, key);
            return v.empty() ? std::u16string(defaultValue) : v;
        });
    pop3::FetchAccount f;
    f.login = pop3::LoginAccountOf(account, codePage);
    // The profile knows how its passwords are kept.
    f.login.password = profile.unscramblePassword(account.Password);
    f.server = account.Pop3Host;
    f.certPin = codePage.fromUtf16(platform::kBig5, account.CertSha256);
    return f;
}

std::size_t AddFetchedRow(FilterModel& model, const ParseServices& services, int account, const std::string& reply,
                          bool refused) {
    if (account < 0 || static_cast<std::size_t>(account) >= model.AccountLists.size()) return 0;
    MessageList& list = model.AccountLists[static_cast<std::size_t>(account)];
    const std::size_t rows = list.size();
    const std::size_t shown = model.VisibleList.size();
    ParseMessageHeader(model, services, account, reply);
    if (refused && list.size() > rows) {
        MarkNotJudged(list.back());
        if (model.VisibleList.size() > shown) MarkNotJudged(model.VisibleList.back());
    }
    std::size_t bytes = 0;
    for (std::size_t k = rows; k < list.size(); ++k) bytes += RowBytes(list[k]);
    for (std::size_t k = shown; k < model.VisibleList.size(); ++k) bytes += RowBytes(model.VisibleList[k]);
    return bytes;
}

std::u16string KbText(std::int64_t size) {
    const std::int64_t num = size * 10;
    std::int64_t q = num / 1024, r = num % 1024;
    if (r < 0) {
        r += 1024;
        --q;
    }
    if (r * 2 > 1024 || (r * 2 == 1024 && (q & 1))) ++q;
    const bool neg = q < 0;
    const std::int64_t a = neg ? -q : q;
    std::u16string t = (neg ? u"-" : u"") + Num(a / 10);
    if (a % 10) t += u"." + Num(a % 10);
    return t;
}

FetchTexts StepTexts(const std::u16string& section, const std::u16string& user, pop3::FetchStep step) {
    switch (step) {
    case pop3::FetchStep::Connecting: return {section + u"正在連線中...", u"正在連線中..."};
    case pop3::FetchStep::SendingUser: {
        const std::u16string t = u"傳送帳號(" + user + u")";
        return {t, t};
    }
    case pop3::FetchStep::SendingPassword: return {u"傳送密碼...", u"傳送密碼..."};
    case pop3::FetchStep::Counting: return {section + u"正在取得郵件數...", u"正在取得郵件數..."};
    case pop3::FetchStep::Fetching: return {u"", u"接收郵件資料中..."};
    case pop3::FetchStep::Deleting: return {section + u"執行過濾中...", u"執行過濾中...", false, true};
    case pop3::FetchStep::LoggingOut:
        return {u"切斷信箱(" + section + u")的連線中....", u"結束連線中...", false, true};
    }
    return {};
}

FetchTexts TroubleTexts(const std::u16string& section, const std::u16string& server, bool recheck,
                        pop3::FetchTrouble trouble, const std::u16string& detail) {
    // The account's line and the tip say the same.
    const auto said = [&](const std::u16string& text) { return FetchTexts{section + text, text}; };
    switch (trouble) {
    case pop3::FetchTrouble::NoHost: {
        const std::u16string t = recheck ? u"無法查詢主機" + server : u"無法查詢主機IP位置";
        return {t, t, true};
    }
    case pop3::FetchTrouble::LoginDelay:
    case pop3::FetchTrouble::NoLogin:
    case pop3::FetchTrouble::Tls:
    case pop3::FetchTrouble::NoMechanism:
    case pop3::FetchTrouble::FalseSuccess:
    case pop3::FetchTrouble::TokenRefused: return said(detail);
    case pop3::FetchTrouble::NotConnected:
    case pop3::FetchTrouble::ConnectTimedOut:
        return {section + u"未連上郵件主機(" + server + u")",
                trouble == pop3::FetchTrouble::ConnectTimedOut && recheck ? u"未連上郵件主機" : u"未連上郵件主機..."};
    case pop3::FetchTrouble::LoginRefused:
        // A response code says what the user can do; without one, the old text.
        if (detail.empty()) return {u"使用者名稱或密碼錯誤!", u"使用者名稱或密碼錯誤!"};
        return said(detail);
    case pop3::FetchTrouble::ListingFailed: return {section + u"接收郵件資料錯誤", u""};
    case pop3::FetchTrouble::OutOfStep: return said(kOutOfStepText);
    case pop3::FetchTrouble::TooLarge: return said(kTooLargeText);
    case pop3::FetchTrouble::ReceiveError: return said(u"接收郵件資料錯誤");
    case pop3::FetchTrouble::TimedOut: return said(u"接收郵件資料逾時");
    }
    return {};
}

CountedTexts CountTexts(const std::u16string& section, std::int32_t count, std::int32_t size, bool fetchInBatches) {
    CountedTexts c;
    if (count < 1) {
        c.texts = {u"信箱(" + section + u")沒有新郵件... ", u"沒有新郵件..."};
        return c;
    }
    c.toFetch = count;
    c.texts.status = u"信箱(" + section + u")有" + Num(count) + u"封新郵件,共有" + KbText(size) + u"KB...";
    if (fetchInBatches && count > 500) {
        c.texts.status += u"先下載前" + Num(count / 2) + u"封";
        c.toFetch = count / 2;
    }
    // The LIST went out with the STAT; its reply follows.
    c.texts.tip = u"正在接收郵件資料...";
    return c;
}

CountedTexts CountInModel(FilterModel& model, int account, const std::u16string& section, std::int32_t count,
                          std::int32_t size, bool fetchInBatches) {
    model.clearListing();
    model.MessageCounts.at(static_cast<std::size_t>(account)) = std::max<std::int32_t>(0, count);
    return CountTexts(section, count, size, fetchInBatches);
}

void ListInModel(FilterModel& model, int account, const pop3::Listing& listing) {
    std::string text;
    for (std::size_t k = 0; k < listing.entries.size(); ++k)
        text += std::to_string(k + 1) + " " + listing.entries[k].second + "\r\n";
    model.MessageCounts.at(static_cast<std::size_t>(account)) = static_cast<std::int32_t>(listing.entries.size());
    model.setListing(std::move(text));
}

std::u16string DeleteFailedText(const std::u16string& section) { return section + u"刪除郵件失敗,郵件仍在主機上"; }

}  // namespace iw::filter
