#include "ColourDelivery.h"

#include <chrono>
#include <thread>

#include "../Foundation/DeviceDirectory.h"
#include "../MRYIPC/ChannelSocket.h"
#include "../MRYIPC/MRYIPCCenter.h"
#include "../MRYIPC/MRYIPCDevice.h"

#include "GlimmoraContract.h"

namespace device {

namespace {
// Replies come back within milliseconds from a live home screen: the wait ends once none has come
// for a while, and is bounded, so that a process asked to stop stops promptly.
constexpr auto kReplyWait = std::chrono::milliseconds(500);
constexpr auto kReplyQuiet = std::chrono::milliseconds(100);
}  // namespace

int colourServerProcess() {
    StatusOr<std::string> path = ipc::channelSocketPath(kColourChannelName);
    return path.ok() ? ipc::servingProcess(*path) : 0;
}

void warnWhenNoHomeScreen(std::ostream& err) {
    if (colourServerProcess() != 0) return;
    err << "glimmora play: warning: no home screen serves the device " << deviceDirectory()
        << ", so the colours will not reach the lights (`glimmora springboard` starts one)" << std::endl;
}

void reportColourDelivery(std::ostream& err) {
    auto now = std::chrono::steady_clock::now();
    auto deadline = now + kReplyWait, lastReply = now;
    ipc::ChannelClient::Tally tally = ipc::callTally(kColourChannelName);
    while (tally.answered < tally.sentAcknowledged && now < deadline && now - lastReply < kReplyQuiet) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        uint64_t answeredBefore = tally.answered;
        tally = ipc::callTally(kColourChannelName);
        now = std::chrono::steady_clock::now();
        if (tally.answered != answeredBefore) lastReply = now;
    }
    uint64_t sent = tally.sentFireAndForget + tally.sentAcknowledged + tally.dropped;
    if (sent == 0) {
        err << "glimmora play: the library sent no colours (it is off on this device, does not admit this app, or "
               "capture is paused)"
            << std::endl;
        return;
    }
    // A fire-and-forget call counts as delivered once the home screen's socket took it.
    uint64_t delivered = tally.sentFireAndForget + tally.answered;
    err << "glimmora play: " << sent << " colours sent, " << delivered << " delivered to the home screen";
    if (delivered < sent)
        err << ", " << sent - delivered << " lost (no home screen served the device, or it refused them)";
    err << std::endl;
}

}  // namespace device
