// Network time correction: one SNTP request to the chosen time server, and
// the reply turned into the local date and time the clock is set to. Run by
// the main window when the connection comes up (with the clock-correction
// switch on); it reports only through the tray tip's status text, and only
// on success.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "settings/program_state.h"
#include "settings/settings_store.h"

namespace iw::app {

struct ClockCorrectionConfig {
    std::uint16_t port = 123;
    // Replaces the stored choice of time server when not empty (tests point
    // it at a local server).
    std::string serverOverride;
};

// Owns its UDP socket from the first request until it is destroyed; the
// platform, store and state must outlive it.
class ClockCorrection {
public:
    ClockCorrection(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state,
                    ClockCorrectionConfig config = {});
    ~ClockCorrection();
    ClockCorrection(const ClockCorrection&) = delete;
    ClockCorrection& operator=(const ClockCorrection&) = delete;

    // Looks the server up (a failure leaves "無法查詢主機IP位置" in the status
    // text) and sends the request; the reply arrives through the loop.
    void sendRequest();
    // A datagram on the socket: a valid reply sets the clock and the status
    // text "網路校時成功!"; anything else is ignored.
    void onReply(const std::string& datagram);

private:
    platform::Platform& p_;
    settings::SettingsStore& store_;
    settings::ProgramState& s_;
    ClockCorrectionConfig config_;
    std::unique_ptr<platform::UdpSocket> socket_;
    int timeZoneOffsetMinutes_ = 0;
    double requestSentAt_ = 0;  // on the wait clock (WaitSecondsNow), which setting the time leaves alone
};

}  // namespace iw::app
