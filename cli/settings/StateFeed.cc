#include "StateFeed.h"

#include <sys/stat.h>

#include <Foundation/DeviceDirectory.h>
#include <homes/HomeDescription.h>

#include "../LightColours.h"
#include "SettingsState.h"

namespace {

constexpr std::chrono::milliseconds kLookInterval{20};
constexpr std::chrono::seconds kReadAnyway{1};

std::string fileStamp(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return "-;";
    return std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" +
           std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) + ";";
}

}  // namespace

StateFeed::StateFeed() : thread_([this] { run(); }) {}

StateFeed::~StateFeed() {
    stop();
    thread_.join();
}

void StateFeed::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    news_.notify_all();
    wakeup_.notify_all();
}

void StateFeed::streamOpened() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++streams_;
    wakeup_.notify_all();
}

void StateFeed::streamClosed() {
    std::lock_guard<std::mutex> lock(mutex_);
    --streams_;
}

void StateFeed::lookNow() {
    std::lock_guard<std::mutex> lock(mutex_);
    lookNow_ = true;
    wakeup_.notify_all();
}

void StateFeed::publishAccessories(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (text == accessories_) return;
    accessories_ = std::move(text);
    ++accessoriesVersion_;
    news_.notify_all();
}

std::string StateFeed::currentState() { return SettingsStateReader().read(); }

StateFeed::News StateFeed::waitForNews(uint64_t* stateVersion, uint64_t* accessoriesVersion,
                                       std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    news_.wait_for(lock, timeout, [&] {
        return stopping_ || (stateVersion_ > *stateVersion && !state_.empty()) ||
               accessoriesVersion_ > *accessoriesVersion;
    });
    News news;
    news.stopping = stopping_;
    if (stateVersion_ > *stateVersion && !state_.empty()) {
        news.state = state_;
        *stateVersion = stateVersion_;
    }
    if (accessoriesVersion_ > *accessoriesVersion) {
        news.accessories = accessories_;
        *accessoriesVersion = accessoriesVersion_;
    }
    return news;
}

std::string StateFeed::changeSignature() const {
    const std::string directory = device::deviceDirectory();
    std::string signature = fileStamp(homeDescriptionPath()) + fileStamp(directory + "/accessories.sqlite3-wal") +
                            fileStamp(directory + "/accessories.sqlite3") +
                            fileStamp(directory + "/preferences.sqlite3-wal") +
                            fileStamp(directory + "/preferences.sqlite3");
    LastColour last;
    if (readLastColour(&last)) signature += std::to_string(last.receivedNanos);
    return signature;
}

void StateFeed::run() {
    SettingsStateReader reader;  // made, used and let go on this thread
    std::string signature;
    auto lastRead = std::chrono::steady_clock::time_point{};
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        wakeup_.wait_for(lock, kLookInterval, [&] { return stopping_ || lookNow_; });
        if (stopping_) break;
        if (streams_ == 0 && !lookNow_) {
            wakeup_.wait(lock, [&] { return stopping_ || streams_ > 0 || lookNow_; });
            continue;
        }
        lookNow_ = false;
        lock.unlock();
        std::string now = changeSignature();
        const auto time = std::chrono::steady_clock::now();
        std::string text;
        if (now != signature || time - lastRead >= kReadAnyway) {
            signature = std::move(now);
            lastRead = time;
            text = reader.read();
        }
        lock.lock();
        if (!text.empty() && text != state_) {
            state_ = std::move(text);
            ++stateVersion_;
            news_.notify_all();
        }
    }
}
