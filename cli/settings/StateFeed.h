// StateFeed: the settings page's state as it changes, for the page's event streams.
//
// While a stream is open, a thread looks every 20 ms whether anything the state is read from has
// changed: the home description, the accessory state, the settings (their files' change times) and
// the last colour received. Only then does it read the state (SettingsStateReader); when the text
// differs from the last, it becomes the next version. Once a second it reads regardless, since two
// changes within the file system's clock tick show one time. With no stream open it reads nothing.
// The accessories found on the network are published by their finder.
//
// Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class StateFeed {
public:
    StateFeed();
    // Stops the thread; waiting streams are told to end.
    ~StateFeed();
    StateFeed(const StateFeed&) = delete;
    StateFeed& operator=(const StateFeed&) = delete;

    struct News {
        std::string state;        // the state's text when newer than the caller's, else empty
        std::string accessories;  // likewise the accessories' text
        bool stopping = false;    // the server is stopping: the stream ends
    };
    // Waits at most `timeout` for a state or accessories newer than the versions given, which are
    // moved on to what is returned. A caller's first call (versions 0) returns at once with both.
    News waitForNews(uint64_t* stateVersion, uint64_t* accessoriesVersion, std::chrono::milliseconds timeout);

    // The current state's text, read now (by a reader of its own: any thread).
    static std::string currentState();
    void publishAccessories(std::string text);
    // Something was changed here (a switch written, a lamp paired): look at once.
    void lookNow();

    // A stream opens or closes; the thread reads only while one is open.
    void streamOpened();
    void streamClosed();
    // Ends every stream: waiters return with `stopping`.
    void stop();

private:
    void run();
    std::string changeSignature() const;

    std::mutex mutex_;
    std::condition_variable news_;    // a new version, or stopping
    std::condition_variable wakeup_;  // for the thread: a stream opened, look now, or stop
    std::string state_, accessories_ = "[]";
    uint64_t stateVersion_ = 0, accessoriesVersion_ = 1;
    int streams_ = 0;
    bool lookNow_ = false, stopping_ = false;
    std::thread thread_;
};
