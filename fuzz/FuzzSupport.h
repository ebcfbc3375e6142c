// What the fuzz targets share: a private device directory for the whole run, the `--make-seeds DIR`
// mode, and a little reader that takes typed pieces off the front of a fuzz input.
//
// Each target is one process that lives for the whole fuzzing run and handles its inputs one after
// another on the main thread, so anything set up once (the device directory, hooks, classes) is
// set up in LLVMFuzzerInitialize and every input starts from the same state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Makes a fresh device directory (removed when the process exits normally), points
// GLIMMORA_DEVICE at it and returns its path. Later calls return the same one.
const std::string& deviceDirectory();

// A seed: a file name and its bytes.
struct Seed {
    std::string name;
    std::string bytes;
};

// When the command line is `TARGET --make-seeds DIR`, writes what `makeSeeds` gives into DIR
// (created when missing) and ends the process: 0 on success, 1 when a seed could not be made or
// written. Otherwise returns and the fuzzer starts. Call first thing in LLVMFuzzerInitialize.
void makeSeedsIfAsked(int argc, char** argv, const std::function<std::vector<Seed>()>& makeSeeds);

// Ends the process with a message naming what went wrong, as a crash the fuzzer reports with its input.
[[noreturn]] void fail(const std::string& why);

// Reads typed values off the front of a fuzz input; past the end it gives zeros and empty text,
// so every input, however short, is a complete case.
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return size_ == 0; }
    size_t remaining() const { return size_; }

    uint8_t byte() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }
    template <class T>
    T value() {
        T result{};
        const size_t n = size_ < sizeof(T) ? size_ : sizeof(T);
        std::memcpy(&result, data_, n);
        data_ += n, size_ -= n;
        return result;
    }
    // Up to `length` bytes.
    std::string_view bytes(size_t length) {
        const size_t n = size_ < length ? size_ : length;
        std::string_view result(reinterpret_cast<const char*>(data_), n);
        data_ += n, size_ -= n;
        return result;
    }
    std::string_view rest() { return bytes(size_); }

private:
    const uint8_t* data_;
    size_t size_;
};

// Appends `value`'s bytes to `out`, as InputReader::value reads them back.
template <class T>
void appendValue(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof(T));
}

}  // namespace fuzz
