// Network time correction; see clock_correction.h.
#include "app/clock_correction.h"

#include "app/services.h"
#include "app/sntp.h"
#include "platform/waits.h"
#include "settings/time_servers.h"

#include <utility>

namespace iw::app {

ClockCorrection::ClockCorrection(platform::Platform& platform, settings::SettingsStore& store,
                                 settings::ProgramState& state, ClockCorrectionConfig config)
    : p_(platform), store_(store), s_(state), config_(std::move(config)) {}

ClockCorrection::~ClockCorrection() {
    if (socket_) {
        socket_->setDataArrival(nullptr);
        socket_->close();
    }
}

void ClockCorrection::sendRequest() {
    timeZoneOffsetMinutes_ = p_.clock.utcOffsetMinutes();
    const std::string request = SntpRequest();
    const std::string server =
        config_.serverOverride.empty()
            ? settings::TimeServerFor(
                  store_.readNumber(settings::IniFile::Set, s_.identity.UserSection, u"TimeServer", 0))
            : config_.serverOverride;
    const std::string address = LookupHostAddress(s_, p_.loop, p_.network, server);
    if (address.empty()) return;
    if (!socket_) {
        socket_ = p_.network.createUdp();
        socket_->setDataArrival([this](const std::string& datagram) {
            try {
                onReply(datagram);
            } catch (...) {
            }
        });
    }
    if (!socket_->sendTo(address, config_.port, request)) return;
    requestSentAt_ = platform::WaitSecondsNow(p_.clock);
}

void ClockCorrection::onReply(const std::string& datagram) {
    if (datagram.size() != 48) return;
    const double travel = SecondsBetween(requestSentAt_, platform::WaitSecondsNow(p_.clock));
    const std::int64_t half = HalfTravelSeconds(travel);
    const auto t = LocalTimeFromReply(datagram, timeZoneOffsetMinutes_, half);
    if (!t) return;
    if (p_.clock.now().year == 2036) return;
    if (!p_.clock.setLocalTime(*t)) return;
    s_.run.StatusText = u"網路校時成功!";
}

}  // namespace iw::app
