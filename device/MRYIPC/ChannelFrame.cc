#include "ChannelFrame.h"

#include <cstring>
#include <vector>

namespace device::ipc {

namespace {

constexpr uint8_t kVersion = 2;

enum Tag : uint8_t {
    tagNil = 0x00,
    tagFalse = 0x01,
    tagTrue = 0x02,
    tagInteger = 0x03,
    tagReal = 0x04,
    tagString = 0x05,
    tagArray = 0x06,
    tagDictionary = 0x07,
};

void putU32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

void putU64(std::string& out, uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

class Encoder {
public:
    explicit Encoder(std::string& out) : out_(out) {}

    // Appends `object`; false when a limit is passed (error_ says which). `object` must travel.
    bool value(id object, int depth) {
        if (out_.size() > kMaxFrameSize) return fail("the frame is larger than 64 KiB");
        if (object == nil) {
            out_.push_back(static_cast<char>(tagNil));
            return true;
        }
        if (++elements_ > kMaxElements) return fail("the value holds more than 1024 elements");
        if (auto* string = objc_cast<NSString>(object)) return text(tagString, string->string());
        if (auto* number = objc_cast<NSNumber>(object)) {
            switch (number->kind()) {
                case NSNumber::Kind::boolean:
                    out_.push_back(static_cast<char>(number->boolValue() ? tagTrue : tagFalse));
                    return true;
                case NSNumber::Kind::integer:
                    out_.push_back(static_cast<char>(tagInteger));
                    putU64(out_, static_cast<uint64_t>(number->longLongValue()));
                    return true;
                case NSNumber::Kind::real: {
                    double real = number->doubleValue();
                    uint64_t bits;
                    std::memcpy(&bits, &real, sizeof bits);
                    out_.push_back(static_cast<char>(tagReal));
                    putU64(out_, bits);
                    return true;
                }
            }
            return fail("a number of unknown kind");
        }
        if (depth >= kMaxDepth) return fail("the value nests more than 16 containers");
        if (auto* array = objc_cast<NSArray>(object)) {
            out_.push_back(static_cast<char>(tagArray));
            size_t countAt = out_.size();
            putU32(out_, 0);
            uint32_t count = 0;
            for (const Strong<NSObject>& element : *array) {
                if (!travels(element.get())) continue;
                if (!value(element.get(), depth + 1)) return false;
                ++count;
            }
            patchU32(countAt, count);
            return true;
        }
        auto* dictionary = objc_cast<NSDictionary>(object);
        if (dictionary == nullptr) return fail("a value that cannot travel");
        out_.push_back(static_cast<char>(tagDictionary));
        size_t countAt = out_.size();
        putU32(out_, 0);
        uint32_t count = 0;
        for (const auto& [key, element] : *dictionary) {
            auto* name = objc_cast<NSString>(key.get());
            if (name == nullptr || !travels(element.get())) continue;
            if (++elements_ > kMaxElements) return fail("the value holds more than 1024 elements");
            if (!text(0, name->string()) || !value(element.get(), depth + 1)) return false;
            ++count;
        }
        patchU32(countAt, count);
        return true;
    }

    static bool travels(id object) {
        return objc_cast<NSString>(object) || objc_cast<NSNumber>(object) || objc_cast<NSArray>(object) ||
               objc_cast<NSDictionary>(object);
    }

    const std::string& error() const { return error_; }

private:
    // A length-prefixed text, preceded by `tag` unless it is 0 (a dictionary key has none).
    bool text(uint8_t tag, const std::string& bytes) {
        if (bytes.size() > kMaxFrameSize - out_.size()) return fail("the frame is larger than 64 KiB");
        if (tag) out_.push_back(static_cast<char>(tag));
        putU32(out_, static_cast<uint32_t>(bytes.size()));
        out_ += bytes;
        return true;
    }

    void patchU32(size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
    }

    bool fail(const char* why) {
        error_ = why;
        return false;
    }

    std::string& out_;
    size_t elements_ = 0;
    std::string error_;
};

Status encodeFrame(FrameKind kind, uint32_t callId, uint64_t origin, std::string_view selector, id value,
                   std::string& out) {
    out.clear();
    out.push_back(static_cast<char>(kVersion));
    out.push_back(static_cast<char>(kind));
    putU32(out, callId);
    if (kind != FrameKind::reply) {
        putU64(out, origin);
        if (selector.empty() || selector.size() > kMaxSelectorLength || selector.find('\0') != std::string_view::npos) {
            return Status::error("the selector is empty, longer than 255 bytes or holds NUL");
        }
        out.push_back(static_cast<char>(selector.size()));
        out.append(selector);
    }
    Encoder encoder(out);
    if (!encoder.value(Encoder::travels(value) ? value : nil, 0) || out.size() > kMaxFrameSize) {
        return Status::error(encoder.error().empty() ? "the frame is larger than 64 KiB" : encoder.error());
    }
    return Status::OK();
}

class Decoder {
public:
    Decoder(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool u8(uint8_t& value) {
        if (remaining() < 1) return fail("the frame ends early");
        value = data_[at_++];
        return true;
    }

    bool u32(uint32_t& value) {
        if (remaining() < 4) return fail("the frame ends early");
        value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(data_[at_++]) << (8 * i);
        return true;
    }

    bool u64(uint64_t& value) {
        if (remaining() < 8) return fail("the frame ends early");
        value = 0;
        for (int i = 0; i < 8; ++i) value |= static_cast<uint64_t>(data_[at_++]) << (8 * i);
        return true;
    }

    bool bytes(size_t length, std::string& out) {
        if (remaining() < length) return fail("the frame ends early");
        out.assign(reinterpret_cast<const char*>(data_ + at_), length);
        at_ += length;
        return true;
    }

    // Reads one value; nil is allowed only where `nilAllowed` (the top of the frame).
    bool value(Strong<NSObject>& out, int depth, bool nilAllowed) {
        uint8_t tag;
        if (!u8(tag)) return false;
        if (tag == tagNil) {
            if (!nilAllowed) return fail("nil inside an array or dictionary");
            out = nil;
            return true;
        }
        if (++elements_ > kMaxElements) return fail("more than 1024 elements");
        switch (tag) {
            case tagFalse:
            case tagTrue:
                out = NSNumber::numberWithBool(tag == tagTrue);
                return true;
            case tagInteger: {
                uint64_t bits;
                if (!u64(bits)) return false;
                out = NSNumber::numberWithLongLong(static_cast<long long>(bits));
                return true;
            }
            case tagReal: {
                uint64_t bits;
                if (!u64(bits)) return false;
                double real;
                std::memcpy(&real, &bits, sizeof real);
                out = NSNumber::numberWithDouble(real);
                return true;
            }
            case tagString: {
                std::string text;
                if (!string(text)) return false;
                out = NSString::stringWithString(std::move(text));
                return true;
            }
            case tagArray:
                return array(out, depth + 1);
            case tagDictionary:
                return dictionary(out, depth + 1);
            default:
                return fail("an unknown value tag");
        }
    }

    size_t remaining() const { return size_ - at_; }
    const std::string& error() const { return error_; }

    bool fail(const char* why) {
        if (error_.empty()) error_ = why;
        return false;
    }

private:
    bool string(std::string& out) {
        uint32_t length;
        return u32(length) && bytes(length, out);
    }

    // Checks a container's count against what the frame can still hold before anything is
    // reserved, so a forged count cannot make the decoder allocate.
    bool count(uint32_t& count, int depth, size_t smallestEntry) {
        if (depth > kMaxDepth) return fail("more than 16 nested containers");
        if (!u32(count)) return false;
        if (count > remaining() / smallestEntry) return fail("a count larger than the frame");
        if (count > kMaxElements - elements_) return fail("more than 1024 elements");
        return true;
    }

    bool array(Strong<NSObject>& out, int depth) {
        uint32_t n;
        if (!count(n, depth, 1)) return false;
        std::vector<Strong<NSObject>> objects;
        objects.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            Strong<NSObject> element;
            if (!value(element, depth, false)) return false;
            objects.push_back(std::move(element));
        }
        out = NSArray::arrayWithVector(std::move(objects));
        return true;
    }

    bool dictionary(Strong<NSObject>& out, int depth) {
        uint32_t n;
        if (!count(n, depth, 5)) return false;
        Strong<NSMutableDictionary> result = NSMutableDictionary::dictionary();
        for (uint32_t i = 0; i < n; ++i) {
            std::string name;
            if (++elements_ > kMaxElements) return fail("more than 1024 elements");
            if (!string(name)) return false;
            Strong<NSString> key = NSString::stringWithString(std::move(name));
            Strong<NSObject> element;
            if (!value(element, depth, false)) return false;
            if (result->objectForKey(key) != nil) return fail("a repeated dictionary key");
            result->setObject_forKey(element, key);
        }
        out = std::move(result);
        return true;
    }

    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    size_t elements_ = 0;
    std::string error_;
};

}  // namespace

Status encodeCall(FrameKind kind, uint32_t callId, uint64_t origin, std::string_view selector, id argument,
                  std::string& out) {
    if (kind == FrameKind::reply) return Status::error("a call cannot be of the reply kind");
    return encodeFrame(kind, callId, origin, selector, argument, out);
}

Status encodeReply(uint32_t callId, id value, std::string& out) {
    return encodeFrame(FrameKind::reply, callId, 0, {}, value, out);
}

Status decodeFrame(const uint8_t* data, size_t size, Frame& frame) {
    auto failed = [](const std::string& why) { return Status::error(why); };
    if (size > kMaxFrameSize) return failed("the frame is larger than 64 KiB");
    Decoder in(data, size);
    uint8_t version, kind;
    if (!in.u8(version) || !in.u8(kind) || !in.u32(frame.callId)) return failed(in.error());
    if (version != kVersion) return failed("an unknown frame version");
    if (kind < static_cast<uint8_t>(FrameKind::voidCall) || kind > static_cast<uint8_t>(FrameKind::reply))
        return failed("an unknown frame kind");
    frame.kind = static_cast<FrameKind>(kind);
    frame.selector.clear();
    frame.origin = 0;
    if (frame.kind != FrameKind::reply) {
        uint8_t length;
        if (!in.u64(frame.origin) || !in.u8(length) || !in.bytes(length, frame.selector)) return failed(in.error());
        if (length == 0 || frame.selector.find('\0') != std::string::npos)
            return failed("an empty selector or one holding NUL");
    }
    if (!in.value(frame.value, 0, true)) return failed(in.error());
    if (in.remaining() != 0) return failed("bytes after the value");
    return Status::OK();
}

}  // namespace device::ipc
