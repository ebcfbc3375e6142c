// The frame: one message on a channel, the payload of one SOCK_SEQPACKET datagram.
//
// Pure functions over bytes, with no state and no I/O, so any thread may call them and any bytes
// may be fed to the decoder. All integers are little-endian.
//
//   call   := version:u8(2) kind:u8(1 void call | 2 acknowledged call) callId:u32 origin:u64
//             selectorLength:u8(1..255) selector:bytes(no NUL) value
//   reply  := version:u8(2) kind:u8(3) callId:u32 value
//
// A call's origin is when the frame it serves entered the calling process (CLOCK_MONOTONIC
// nanoseconds, 0 when unknown; see activity/FrameOrigin.h), so the receiver can time the road.
//   value  := 0x00                                 nil (only as the whole argument or reply)
//           | 0x01 | 0x02                          NSNumber boolean NO | YES
//           | 0x03 int64                           NSNumber integer
//           | 0x04 float64 (IEEE-754 bits)         NSNumber real
//           | 0x05 length:u32 bytes                NSString
//           | 0x06 count:u32 value*count           NSArray (no nil entries)
//           | 0x07 count:u32 (length:u32 bytes value)*count
//                                                  NSDictionary, string keys, no nil, no repeats
//
// A frame is at most kMaxFrameSize bytes, nests at most kMaxDepth containers and holds at most
// kMaxElements values and keys, so decoding one never builds more than a bounded number of objects.
// Nothing may follow the value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "../base/Status.h"

#include "../Foundation/Foundation.h"

namespace device::ipc {

inline constexpr size_t kMaxFrameSize = 64 * 1024;
inline constexpr int kMaxDepth = 16;
inline constexpr size_t kMaxElements = 1024;
inline constexpr size_t kMaxSelectorLength = 255;

enum class FrameKind : uint8_t { voidCall = 1, acknowledgedCall = 2, reply = 3 };

struct Frame {
    FrameKind kind = FrameKind::voidCall;
    uint32_t callId = 0;
    uint64_t origin = 0;   // 0 for a reply
    std::string selector;  // empty for a reply  // empty for a reply
    Strong<NSObject> value;
};

// Encodes a call of `selector` with `argument` into `out` (replacing its contents). Values that
// cannot travel become nil at the top and are left out inside arrays and dictionaries (as are
// entries with a key that is not a string). On failure (a selector that is empty, too long or holds
// NUL; a value too deep, with too many elements or too large) the error says why and `out` is
// unspecified.
Status encodeCall(FrameKind kind, uint32_t callId, uint64_t origin, std::string_view selector, id argument,
                  std::string& out);
// Encodes the reply to call `callId`; as encodeCall.
Status encodeReply(uint32_t callId, id value, std::string& out);

// Decodes one whole frame into `frame`. A frame that is malformed, truncated, oversized, too deep
// or too big gives an error naming the fault, with `frame` unspecified.
Status decodeFrame(const uint8_t* data, size_t size, Frame& frame);

}  // namespace device::ipc
