#include "DemoSummary.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <utility>

#include <Foundation/DeviceDirectory.h>
#include <activity/ProcessActivity.h>

#include "DemoChild.h"

namespace {

std::string milliseconds(double micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f ms", micros / 1000);
    return text;
}

std::string latencyText(const device::LatencyHistogram& histogram) {
    if (histogram.count() == 0) return "no writes";
    return "median " + milliseconds(histogram.percentileMicros(0.5)) + ", 99th percentile " +
           milliseconds(histogram.percentileMicros(0.99)) + " (" + std::to_string(histogram.count()) + " writes)";
}

}  // namespace

void printDemoSummary(const DemoChild& homeScreen, const DemoChild& app) {
    std::string directory = device::deviceDirectory();
    device::ActivitySnapshot sent, served;
    device::readProcessActivity(directory, app.pid(), sent);
    device::readProcessActivity(directory, homeScreen.pid(), served);
    using device::Activity;
    auto difference = [](uint64_t a, uint64_t b) { return a > b ? a - b : 0; };
    uint64_t received = served[Activity::callsReceivedFireAndForget] + served[Activity::callsReceivedAcknowledged];
    uint64_t unchanged = difference(served[Activity::lightValuesRead], served[Activity::writesIssued]);
    uint64_t passedOver = difference(served[Activity::lightCharacteristicsOffered], served[Activity::lightValuesRead]);
    device::LatencyHistogram all;
    for (const auto& histogram : served.latency) all.merge(histogram);

    std::cout << "\nSummary\n"
              << "  frames sent by the frame clock (the full-screen player's view): "
              << sent[Activity::callsSentFireAndForget] << "\n"
              << "  frames sent by the decoder path (the samples the app enqueued): "
              << sent[Activity::callsSentAcknowledged] << "\n"
              << "  frames that could not be sent (no server, channel full):         " << sent[Activity::callsDropped]
              << "\n"
              << "  colour messages received by the home screen:                     " << received << "\n"
              << "  characteristic writes sent:                                      " << served[Activity::writesIssued]
              << "\n"
              << "  left unchanged (the light already had the value):                " << unchanged << "\n"
              << "  skipped while a write to the light was in flight:                " << passedOver << "\n"
              << "  writes that failed:                                              " << served[Activity::writesFailed]
              << "\n"
              << "  latency from frame to write: " << latencyText(all) << "\n"
              << "    frame clock:  "
              << latencyText(served.latency[static_cast<size_t>(device::CallKind::fireAndForget)]) << "\n"
              << "    decoder path: "
              << latencyText(served.latency[static_cast<size_t>(device::CallKind::acknowledged)]) << std::endl;
    if (served.acknowledgedLatency.count() > 0)
        std::cout << "  latency from frame to a real lamp's answer: " << latencyText(served.acknowledgedLatency)
                  << std::endl;
    // Zeros from a process that could not count would read as nothing done.
    for (const auto& [child, role] : {std::pair{&app, "the video app"}, std::pair{&homeScreen, "the home screen"}})
        if (device::runsWithoutRecord(directory, child->pid()))
            std::cout << "  activity record missing: " << role << " (pid " << child->pid()
                      << ") had no room for it on the disk, so its counts above are missing" << std::endl;
}
