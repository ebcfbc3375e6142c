// The controller's codecs on their own: TLV8, the HTTP response parser, the session frames, the
// accessory database and the /characteristics answers. Bytes from an accessory that are malformed
// are errors, never crashes; the fuzz targets cover the rest of that space.
#include <gtest/gtest.h>

#include "hap/AccessoryDatabase.h"
#include "hap/CharacteristicsJson.h"
#include "hap/HttpParser.h"
#include "hap/SessionCipher.h"
#include "hap/Tlv8.h"
#include "support/StatusAssertions.h"

using namespace device::hap;

TEST(Tlv8Test, LongValuesSplitAndJoinAndTruncationIsAnError) {
    std::string key(300, 'k');
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<char>(i);
    std::string bytes = Tlv8().add(kTlvState, 3).add(kTlvPublicKey, key).add(kTlvProof, "").encode();
    // state (3 bytes), key as 255 + 45 (2 headers), empty proof (2 bytes)
    ASSERT_EQ(bytes.size(), 3u + 2 + 255 + 2 + 45 + 2);
    EXPECT_EQ(static_cast<uint8_t>(bytes[3 + 1]), 255);
    EXPECT_EQ(static_cast<uint8_t>(bytes[3 + 2 + 255 + 1]), 45);

    auto decoded = Tlv8::decode(bytes);
    ASSERT_TRUE(succeeded(decoded.status()));
    EXPECT_EQ(decoded->byte(kTlvState), 3);
    ASSERT_TRUE(decoded->find(kTlvPublicKey));
    EXPECT_EQ(*decoded->find(kTlvPublicKey), key);
    ASSERT_TRUE(decoded->find(kTlvProof));
    EXPECT_TRUE(decoded->find(kTlvProof)->empty());

    // Two short items of one type, split by a separator, stay two items.
    auto listed =
        Tlv8::decode(Tlv8().add(kTlvIdentifier, "a").add(kTlvSeparator, "").add(kTlvIdentifier, "b").encode());
    ASSERT_TRUE(succeeded(listed.status()));
    EXPECT_EQ(listed->items().size(), 3u);

    for (size_t cut : {size_t{1}, size_t{4}, bytes.size() - 1})
        EXPECT_FALSE(Tlv8::decode(std::string_view(bytes).substr(0, cut)).ok()) << cut;
}

TEST(HttpParserTest, ReadsLengthChunkedBodylessAndEventsInAnySplit) {
    std::string stream =
        "HTTP/1.1 200 OK\r\nContent-Type: application/hap+json\r\nContent-Length: 5\r\n\r\nhello"
        "HTTP/1.1 204 No Content\r\n\r\n"
        "EVENT/1.0 200 OK\r\ncontent-length: 2\r\n\r\n{}"
        "HTTP/1.1 207 Multi-Status\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n3;x=y\r\nefg\r\n0\r\n\r\n";
    for (size_t piece : {size_t{1}, size_t{7}, stream.size()}) {
        HttpParser parser;
        std::vector<HttpResponse> messages;
        for (size_t offset = 0; offset < stream.size(); offset += piece) {
            ASSERT_TRUE(succeeded(parser.feed(std::string_view(stream).substr(offset, piece))));
            while (parser.hasMessage()) messages.push_back(parser.next());
        }
        ASSERT_EQ(messages.size(), 4u) << piece;
        EXPECT_EQ(messages[0].status, 200);
        EXPECT_EQ(messages[0].body, "hello");
        EXPECT_EQ(messages[1].status, 204);
        EXPECT_TRUE(messages[1].body.empty());
        EXPECT_TRUE(messages[2].event);
        EXPECT_EQ(messages[2].body, "{}");
        EXPECT_EQ(messages[3].status, 207);
        EXPECT_EQ(messages[3].body, "abcdefg");
        EXPECT_EQ(parser.pending(), 0u);
    }
}

TEST(HttpParserTest, LinesExactlyAtTheirBoundsParseWholeAndByteByByte) {
    // Waiting for the end of such a line, the parser holds its first terminator bytes too; they
    // must not count against the line.
    std::string sizeLine = "4;" + std::string(62, 'x');  // 64 bytes, the longest chunk-size line
    std::string chunkedAtBound = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + sizeLine +
                                 "\r\nabcd\r\n0\r\nT: " + std::string(HttpParser::kMaxHeaderBytes - 3, 't') +
                                 "\r\n\r\n";
    std::string head = "HTTP/1.1 204 No Content\r\nX: ";
    std::string headerAtBound = head + std::string(HttpParser::kMaxHeaderBytes - head.size(), 'h') + "\r\n\r\n";
    for (const std::string& stream : {chunkedAtBound, headerAtBound}) {
        for (size_t piece : {size_t{1}, stream.size()}) {
            HttpParser parser;
            for (size_t offset = 0; offset < stream.size(); offset += piece)
                ASSERT_TRUE(succeeded(parser.feed(std::string_view(stream).substr(offset, piece))))
                    << "piece " << piece << " at " << offset;
            ASSERT_TRUE(parser.hasMessage()) << piece;
            EXPECT_EQ(parser.next().body, stream == chunkedAtBound ? "abcd" : "");
        }
    }
}

TEST(HttpParserTest, MalformedOrOversizedInputIsAnErrorAndStaysOne) {
    const std::string bad[] = {
        "SIP/2.0 200 OK\r\n\r\n",
        "HTTP/1.1 2x0 OK\r\n\r\n",
        "HTTP/1.1 200 OK\r\nno colon here\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabXY",
        // A chunk-size line over the bound is refused whole, as it is when it arrives in pieces.
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4;" + std::string(100, 'x') + "\r\nabcd\r\n0\r\n\r\n",
        "HTTP/1.1 200 OK\r\nX: " + std::string(HttpParser::kMaxHeaderBytes, 'a'),
    };
    for (const auto& input : bad) {
        HttpParser parser;
        EXPECT_FALSE(parser.feed(input).ok()) << input.substr(0, 60);
        EXPECT_FALSE(parser.feed("HTTP/1.1 204 No Content\r\n\r\n").ok());
        EXPECT_FALSE(parser.hasMessage());
        EXPECT_EQ(parser.pending(), 0u);
    }
}

TEST(SessionFrameTest, FramesRoundTripAndTamperingOrReplayIsRefused) {
    std::array<uint8_t, 32> key{};
    key[0] = 7;
    std::string plain(2500, '\0');
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<char>(i * 31);
    FrameEncoder encoder(key);
    std::string wire;
    encoder.encode(plain, wire);
    encoder.encode("second", wire);
    ASSERT_EQ(wire.size(), 3 * (2 + kFrameTagSize) + 2500 + (2 + kFrameTagSize) + 6);
    EXPECT_EQ(static_cast<uint8_t>(wire[0]) | static_cast<uint8_t>(wire[1]) << 8, 1024);

    FrameDecoder decoder(key);
    std::string out;
    for (size_t offset = 0; offset < wire.size(); offset += 333) {
        ASSERT_TRUE(succeeded(decoder.feed(std::string_view(wire).substr(offset, 333), out)));
    }
    EXPECT_EQ(out, plain + "second");
    EXPECT_EQ(decoder.pending(), 0u);

    std::string firstFrame = wire.substr(0, 2 + 1024 + kFrameTagSize);
    std::string tampered = firstFrame;
    tampered[100] ^= 1;
    std::string longer = firstFrame;
    longer[0] = 1;  // 1025
    const std::string* cases[] = {&tampered, &longer, &firstFrame /* replayed to a decoder past it */};
    for (const std::string* input : cases) {
        FrameDecoder fresh(key);
        std::string ignored;
        if (input == &firstFrame) {
            ASSERT_TRUE(succeeded(fresh.feed(firstFrame, ignored)));
        }
        EXPECT_FALSE(fresh.feed(*input, ignored).ok());
        EXPECT_EQ(fresh.pending(), 0u);
    }
}

TEST(AccessoryDatabaseTest, ReadsServicesWithShortAndFullTypesAndRefusesMalformedOnes) {
    const char* json = R"({"accessories":[{"aid":1,"services":[
        {"iid":1,"type":"3E","characteristics":[{"iid":2,"type":"23","format":"string","value":"Bridge","perms":["pr"]}]},
        {"iid":9,"type":"00000043-0000-1000-8000-0026bb765291","characteristics":[
          {"iid":10,"type":"25","format":"bool","value":1,"perms":["pr","pw","ev"]},
          {"iid":11,"type":"8","format":"int","value":50,"minValue":0,"maxValue":100,"minStep":1,"unit":"percentage"},
          {"iid":12,"type":"00000023-0000-1000-8000-0026BB765291","format":"string","value":"Desk"},
          {"iid":13,"type":"13","format":"float","maxValue":360,"minStep":1}]}]}]})";
    auto services = parseAccessoryDatabase(json);
    ASSERT_TRUE(succeeded(services.status()));
    ASSERT_EQ(services->size(), 2u);
    const ServiceInfo& light = (*services)[1];
    EXPECT_EQ(light.type, kLightbulbService);
    EXPECT_EQ(light.name, "Desk");
    ASSERT_EQ(light.characteristics.size(), 4u);
    EXPECT_EQ(light.characteristics[0].type, kOnCharacteristic);
    EXPECT_EQ(light.characteristics[0].value, "1");
    EXPECT_EQ(light.characteristics[0].permissions, (std::vector<std::string>{"pr", "pw", "ev"}));
    const CharacteristicInfo& brightness = light.characteristics[1];
    EXPECT_EQ(brightness.type, kBrightnessCharacteristic);
    EXPECT_EQ(brightness.aid, 1u);
    EXPECT_EQ(brightness.iid, 11u);
    EXPECT_EQ(brightness.minimum, 0);
    EXPECT_EQ(brightness.maximum, 100);
    EXPECT_EQ(brightness.step, 1);
    EXPECT_EQ(light.characteristics[3].type, kHueCharacteristic);
    EXPECT_FALSE(light.characteristics[3].minimum);
    EXPECT_TRUE(light.characteristics[3].value.empty());

    // Each a field missing or of another kind than the protocol's, at every level.
    const std::string service = R"({"accessories":[{"aid":1,"services":[{"iid":1,"type":)";
    const std::string characteristic = service + R"("43","characteristics":[{"iid":2,"type":"25",)";
    for (const std::string& bad : {
             std::string(""),
             std::string("[]"),
             std::string(R"({"accessories":{}})"),
             std::string(R"({"accessories":[5]})"),
             std::string(R"({"accessories":[{"services":[]}]})"),
             std::string(R"({"accessories":[{"aid":1,"services":{}}]})"),
             service + R"("XYZ","characteristics":[]}]}]})",
             service + R"(43,"characteristics":[]}]}]})",
             service + R"("43"}]}]})",
             service + R"("43","characteristics":[{"iid":"2","type":"25"}]}]}]})",
             characteristic + R"("format":1}]}]}]})",
             characteristic + R"("perms":["pr",1]}]}]}]})",
         }) {
        auto parsed = parseAccessoryDatabase(bad);
        ASSERT_FALSE(parsed.ok()) << bad;
        EXPECT_EQ(parsed.status().message().rfind("The accessory's database could not be read: ", 0), 0u) << bad;
    }
}

TEST(CharacteristicsJsonTest, MultiStatusGoesToItsOwnWriteAndEventsKeepTheirValues) {
    std::vector<CharacteristicWrite> writes = {{1, 10, "true"}, {1, 11, "150"}, {2, 10, "0"}};
    EXPECT_EQ(writeBody(writes),
              R"({"characteristics":[{"aid":1,"iid":10,"value":true},{"aid":1,"iid":11,"value":150},)"
              R"({"aid":2,"iid":10,"value":0}]})");
    auto statuses = parseWriteStatuses(
        R"({"characteristics":[{"aid":1,"iid":11,"status":-70410},{"aid":1,"iid":10,"status":0}]})", writes);
    ASSERT_TRUE(succeeded(statuses.status()));
    ASSERT_EQ(statuses->size(), 3u);
    EXPECT_EQ((*statuses)[0].status, 0);
    EXPECT_EQ((*statuses)[1].status, -70410);
    EXPECT_EQ((*statuses)[2].status, -70402);  // left out of the answer
    EXPECT_FALSE(parseWriteStatuses("{", writes).ok());

    auto values = parseValues(R"({"characteristics":[{"aid":1,"iid":10,"value":1},{"aid":1,"iid":11},)"
                              R"({"aid":1,"iid":13,"value":12.5}]})");
    ASSERT_TRUE(succeeded(values.status()));
    ASSERT_EQ(values->size(), 2u);
    EXPECT_EQ((*values)[0].value, "1");
    EXPECT_EQ((*values)[1].iid, 13u);
    EXPECT_EQ((*values)[1].value, "12.5");
    EXPECT_EQ(readPath({{1, 10}, {2, 11}}), "/characteristics?id=1.10,2.11");
}
