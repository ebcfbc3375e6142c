// The session frame decoder: the encrypted bytes an accessory sends on a verified connection. Raw
// bytes must be refused or decoded without holding more than one frame; and frames the encoder
// makes of the input must decode back to it, however they are split.
#include "FuzzSupport.h"
#include "hap/SessionCipher.h"

using namespace device::hap;

namespace {

const std::array<uint8_t, 32> kKey = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                      17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

std::vector<fuzz::Seed> makeSeeds() {
    std::vector<fuzz::Seed> seeds;
    for (auto [name, plain] : std::vector<std::pair<std::string, std::string>>{
             {"response", "HTTP/1.1 204 No Content\r\n\r\n"},
             {"long", std::string(1500, 'x')},
         }) {
        FrameEncoder encoder(kKey);
        std::string wire(1, '\x10');  // the split size
        encoder.encode(plain, wire);
        seeds.push_back({name, wire});
    }
    return seeds;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::makeSeedsIfAsked(*argc, *argv, makeSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputReader reader(data, size);
    size_t piece = 1 + reader.byte() % 200;
    std::string_view input = reader.rest();

    FrameDecoder decoder(kKey);
    std::string plain;
    bool failed = false;
    for (size_t offset = 0; offset < input.size() && !failed; offset += piece) {
        failed = !decoder.feed(input.substr(offset, piece), plain).ok();
        if (decoder.pending() > 2 + kMaxFramePayload + kFrameTagSize + 200) fuzz::fail("the decoder holds too much");
    }

    FrameEncoder encoder(kKey);
    std::string wire;
    encoder.encode(input, wire);
    FrameDecoder roundTrip(kKey);
    std::string back;
    for (size_t offset = 0; offset < wire.size(); offset += piece) {
        if (!roundTrip.feed(std::string_view(wire).substr(offset, piece), back).ok())
            fuzz::fail("the encoder's own frames do not decode");
    }
    if (back != input) fuzz::fail("the encoder's frames decode to other bytes");
    return 0;
}
