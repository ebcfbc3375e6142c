// PipeWireStream: the pictures of one PipeWire video node (a screen cast, a camera), read from
// shared memory as the producer sends them. It asks for packed 8-bit BGRx, RGBx, BGRA or RGBA in
// memory-mapped file descriptors or plain memory, and offers no DMA-BUF modifiers, so a producer
// that could hand out GPU buffers falls back to shared memory.
//
// Producers such as a compositor send a picture only when the screen changes: a still screen
// gives none, and wait() then comes back `quiet`.
//
// The stream runs a PipeWire loop of its own, iterated by the thread in wait(); open() and wait()
// from one thread at a time (open() on one, wait() on another is fine), interrupt() from any.
// PipeWire's own headers stay in the .cc.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "../base/StatusOr.h"

enum class ScreenPixelFormat { bgrx, rgbx, bgra, rgba };

// One picture as it arrives: lent to the sink, valid only during the call.
struct ScreenPicture {
    ScreenPixelFormat format = ScreenPixelFormat::bgrx;
    const uint8_t* pixels = nullptr;  // the top-left pixel of what is to be read (after the crop)
    int width = 0;
    int height = 0;
    size_t stride = 0;          // bytes from one row to the next
    uint64_t captureNanos = 0;  // CLOCK_MONOTONIC: the producer's stamp when it is one, else arrival
};

class PipeWireStream {
public:
    struct Options {
        int remoteFd = -1;        // a connection to PipeWire made for us (the portal's), taken; -1: the user's own
        std::string node;         // the node's id ("42") or name (node.name)
        double maxFrameRate = 0;  // pictures a second to ask for at most; 0: the producer's rate
        std::string remoteName;   // how errors name the connection, e.g. "the screen cast's PipeWire remote"
    };
    using PictureSink = std::function<void(const ScreenPicture&)>;

    // Connects, finds the node and waits up to `patience` for the producer to agree on a format;
    // `sink` then gets each picture, on the thread in wait(). An error says why: PipeWire is not
    // running, no such node, a format none of ours, no answer in time.
    static device::StatusOr<std::unique_ptr<PipeWireStream>> open(Options options, PictureSink sink,
                                                                  std::chrono::milliseconds patience);
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // Has the loop watch `fd` as well: `readable` runs on the thread in wait() when it has input
    // (and once at once, for what may already be buffered); an error it returns fails the stream.
    // `fd` stays the caller's and must outlive the stream.
    void watch(int fd, std::function<device::Status()> readable);

    enum class Wait { picture, quiet, interrupted, failed };
    // Runs the loop until at least one picture has gone to the sink (`picture`), `patience` passes
    // with none (`quiet`), interrupt() is called, or the stream fails: the node went away, the
    // connection broke, or a watched descriptor said so (`failed`, with the reason in `*why`).
    Wait wait(std::chrono::milliseconds patience, device::Status* why);
    // Makes a current or later wait() come back `interrupted`. Any thread.
    void interrupt();

    // The agreed picture size and the most pictures a second the producer may send (0: unsaid).
    int width() const;
    int height() const;
    double frameRate() const;

private:
    struct Impl;
    explicit PipeWireStream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
