// Parses and classifies 10,000 realistic TOP replies (Big5, GB2312, UTF-8
// subjects split over folded lines, and plain headers, with and without
// preview lines) against black, trust
// and domain lists of 10,000 entries each in set.ini, with the settings
// cache on and off. Prints messages per second, the one-off costs (code page
// tables, the first parse of set.ini) apart from the batch, and peak memory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <vector>

#include "filter/header_parser.h"
#include "platform/native.h"
#include "platform/process_stats.h"
#include "settings/settings_store.h"

namespace {

class Reporter : public iw::filter::ParseReporter {
public:
    void statusText(const std::u16string&) override {}
    void tipLabel(const std::u16string&) override {}
    void errorBox(const std::u16string&) override { ++errors; }
    int errors = 0;
};

std::string makeReply(int i) {
    std::string h = "+OK\r\nReturn-Path: <s" + std::to_string(i) + "@mail.example.com>\r\nReceived: from mx.example.com by pop.example.tw\r\n";
    switch (i % 4) {
    case 0: h += "From: =?big5?B?pUqkaw==?= <s" + std::to_string(i) + "@big5.tw>\r\nSubject: =?big5?B?pUqka6RqpGo=?=\r\n"; break;
    case 1: h += "From: =?gb2312?B?1tDOxA==?= <s" + std::to_string(i) + "@gb.cn>\r\nSubject: =?gb2312?B?1tDOxNbQzsQ=?=\r\n"; break;
    case 2:
        // A long subject split into words over folded lines, as mail programs send it today.
        h += "From: =?utf-8?B?5Lit5paH?=\r\n <s" + std::to_string(i) + "@utf.com>\r\nSubject: Re: =?UTF-8?B?5pyA5paw5YSq5oOg5rS75YuV?=\r\n =?UTF-8?B?77yM6ZmQ5pmC5pC26LO85Lit?=\r\n\t=?UTF-8?B?5Lit5paH5Lit5paH5Lit5paH?=\r\n";
        break;
    default: h += "From: Plain Sender <s" + std::to_string(i) + "@plain.org>\r\nSubject: Weekly report number " + std::to_string(i) + "\r\n"; break;
    }
    h += "Date: Mon, 7 Dec 2026 10:23:45 +0800\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n";
    if (i % 2 == 0) h += "Content-Transfer-Encoding: base64\r\n\r\nQUJDREVGR0g=\r\n5Lit5paH\r\nSGVsbG8=\r\n";
    else h += "\r\n";
    return h + ".\r\n";
}

// Peak resident memory so far, in KB; -1 when the system does not tell.
long peakKb() {
    const std::uint64_t bytes = iw::platform::processStats().peakResidentBytes;
    return bytes ? static_cast<long>(bytes / 1024) : -1;
}

}  // namespace

// Optional arguments: the number of messages with the cache on (10,000) and
// with it off (200), for smaller runs under a profiler.
int main(int argc, char** argv) {
    const int kMessages = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int kUncached = argc > 2 ? std::atoi(argv[2]) : 200;
    auto cp = iw::platform::createCodePage();
    auto files = iw::platform::createFileStore();
    auto clock = iw::platform::createSystemClock();
    iw::platform::FixedDateFormat dates;

    const std::string dir = "/tmp/iw_bench_parse_classify/";
    std::system(("mkdir -p " + dir).c_str());
    std::string ini = "[u-TrustList]\r\n";
    for (int i = 0; i < 10000; ++i) ini += "t" + std::to_string(i) + "@trust.tw=0\r\n";
    ini += "[u-BlackList]\r\n";
    for (int i = 0; i < 10000; ++i) ini += "s" + std::to_string(i * 7) + "@big5.tw=0\r\n";
    ini += "[u-Domain]\r\n";
    for (int i = 0; i < 10000; ++i) ini += "d" + std::to_string(i) + ".example=0\r\n";
    ini += "gb.cn=0\r\n";
    const std::u16string appPath(dir.begin(), dir.end());
    files->replaceAll(appPath + u"set.ini", ini);

    // The code pages build their tables on first use, once per process; that
    // cost is printed on its own so the batch figures show what every batch pays.
    {
        const auto t0 = std::chrono::steady_clock::now();
        cp->toUtf16(iw::platform::kBig5, "\xA4\xA4");
        cp->toUtf16(iw::platform::kGbk, "\xD6\xD0");
        std::printf("code page tables built in %.1f ms (once per process)\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() * 1000);
    }

    std::vector<std::string> replies;
    std::string listing;
    for (int i = 0; i < kMessages; ++i) {
        replies.push_back(makeReply(i));
        listing += std::to_string(i + 1) + " " + std::to_string(1000 + (i * 37) % 90000) + "\r\n";
    }

    // Three ways to run the store: the cache with the stamp looked at once a
    // second (as the program runs it), the cache with the stamp looked at on
    // every keyed read, and no cache (set.ini parsed on every read).
    struct Mode {
        const char* name;
        bool cache;
        bool interval;
    } modes[] = {{"cache on, stamp once a second", true, true},
                 {"cache on, stamp every read", true, false},
                 {"cache off", false, false}};
    for (const Mode& mode : modes) {
        iw::settings::SettingsStore store(*files, *cp, appPath);
        store.setCacheEnabled(mode.cache);
        if (mode.interval) store.setStampInterval(*clock, iw::settings::kStampIntervalSeconds);
        iw::filter::StoreSenderLists lists(store, u"u");
        Reporter reporter;
        iw::filter::FilterModel model;
        model.resetAccounts({u"me@x.tw"});
        model.MessageCounts[0] = kMessages;
        model.PreviewLines = true;
        model.setListing(listing);
        iw::filter::ParseServices services{*cp, *clock, dates, {lists, iw::settings::Options::FromStored(u"011111100101"), 50}, reporter};
        const int count = std::min(kMessages, mode.cache ? kMessages : kUncached);  // without the cache every row parses set.ini three times

        // The first keyed read parses set.ini into the cache: a one-off cost
        // of the first batch after a start or an outside change.
        const auto f0 = std::chrono::steady_clock::now();
        lists.isTrusted(u"warm@up.tw");
        const double first = std::chrono::duration<double>(std::chrono::steady_clock::now() - f0).count();

        const long before = peakKb();
        const double cpu0 = iw::platform::processStats().cpuSeconds;
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) iw::filter::ParseMessageHeader(model, services, 0, replies[i]);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        // Processor time as well as wall time: on a shared machine the wall
        // time also counts the time other processes had the core.
        const double cpu = iw::platform::processStats().cpuSeconds - cpu0;
        const long after = peakKb();
        std::size_t textBytes = 0;
        for (const auto& e : model.AccountLists[0])
            textBytes += 2 * (e.SenderText.size() + e.Subject.size() + e.SizeText.size() + e.ReceivedText.size() +
                              e.PreviewText.size());
        for (const auto& e : model.VisibleList)
            textBytes += 2 * (e.SenderText.size() + e.Subject.size() + e.SizeText.size() + e.ReceivedText.size());
        std::printf("%s: %d messages in %.1f ms (%.1f ms CPU; %.1f ms with the first set.ini parse of %.1f ms), "
                    "%.0f messages/s, errors %d, checked %zu\n",
                    mode.name, count, s * 1000, cpu * 1000, (s + first) * 1000, first * 1000, count / s, reporter.errors,
                    static_cast<std::size_t>(std::count_if(model.AccountLists[0].begin(), model.AccountLists[0].end(),
                                                           [](const auto& e) { return e.Checked; })));
        // Beyond its texts a row costs its MessageEntry in each of the two
        // lists; the peak-memory growth over the texts shows the rest
        // (allocation overhead, the vectors' spare capacity).
        // Only the first mode's growth means anything: later ones reuse the
        // memory the first one freed, below the peak already reached.
        std::printf("  entry %zu bytes in each of two lists; texts %zu bytes for %d rows; peak memory %ld KB "
                    "(before %ld KB)",
                    sizeof(iw::filter::MessageEntry), textBytes, count, after, before);
        const double grown = (after - before) * 1024.0;
        if (&mode == &modes[0] && grown > textBytes)
            std::printf("; growth beyond texts %.0f bytes per row", (grown - textBytes) / count);
        std::printf("\n");
    }
    return 0;
}
