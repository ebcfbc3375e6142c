#include "DemoSignals.h"

#include <csignal>
#include <ctime>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int signal) { stopSignal = signal; }

}  // namespace

void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a sleep ends at once
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool stopRequested() { return stopSignal != 0; }

void sleepUnlessStopped(int milliseconds) {
    if (stopRequested()) return;
    timespec wanted{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&wanted, nullptr);  // a signal cuts it short
}
