// Art-Net's packets: what goes out decodes as it was meant, what comes in is
// taken only whole, and a node's table is gathered by its block rules.
#include "link/artnet_packets.h"

#include <gtest/gtest.h>

using namespace artnet;

namespace {

std::vector<uint8_t> Rdm(uint16_t portAddress, const std::vector<uint8_t>& message)
{
    uint8_t packet[kMaxPacket];
    const size_t size = EncodeRdm(portAddress, message.data(), message.size(), packet);
    return {packet, packet + size};
}

TodData Block(uint16_t total, uint8_t block, std::vector<uint64_t> uids, uint16_t portAddress = 0x0101)
{
    TodData d;
    d.portAddress = portAddress;
    d.total = total;
    d.block = block;
    d.uids = std::move(uids);
    return d;
}

} // namespace

TEST(ArtNetPackets, EachDecodesAsItWasEncoded)
{
    PollReply node;
    node.ip = 0x0A000014;
    node.shortName = "Truss node";
    node.longName = std::string(80, 'L');  // cut to the 63 bytes the packet holds
    node.ports = {{0x1231, true, true}, {0x1232, true, false}, {0x1233, false, false}};
    PollReply back;
    const auto reply = EncodePollReply(node);
    ASSERT_TRUE(DecodePollReply(reply.data(), reply.size(), back));
    EXPECT_EQ(back.ip, node.ip);
    EXPECT_EQ(back.shortName, "Truss node");
    EXPECT_EQ(back.longName, std::string(63, 'L'));
    ASSERT_EQ(back.ports.size(), 3u);
    EXPECT_EQ(back.ports[0].portAddress, 0x1231);
    EXPECT_TRUE(back.ports[0].rdm);
    EXPECT_FALSE(back.ports[1].rdm);
    EXPECT_FALSE(back.ports[2].output);
    EXPECT_EQ(PortAddressText(0x1231), "18.3.1");

    std::vector<uint16_t> asked;
    const auto request = EncodeTodRequest(0x7FFE);
    ASSERT_TRUE(DecodeTodRequest(request.data(), request.size(), asked));
    EXPECT_EQ(asked, std::vector<uint16_t>{0x7FFE});
    uint16_t portAddress = 0;
    uint8_t command = 0;
    const auto control = EncodeTodControl(0x0305, kAtcFlush);
    ASSERT_TRUE(DecodeTodControl(control.data(), control.size(), portAddress, command));
    EXPECT_EQ(portAddress, 0x0305);
    EXPECT_EQ(command, kAtcFlush);

    TodData table = Block(3, 0, {0x7FF000000001ull, 0x7FF0FFFFFFFEull, 0x000100000002ull}, 0x4567);
    TodData tableBack;
    const auto tod = EncodeTodData(table);
    ASSERT_TRUE(DecodeTodData(tod.data(), tod.size(), tableBack));
    EXPECT_EQ(tableBack.uids, table.uids);
    EXPECT_EQ(tableBack.portAddress, 0x4567);
    EXPECT_EQ(tableBack.total, 3);

    const std::vector<uint8_t> message = {0x01, 0x18, 0x7F, 0xF0, 0, 0, 0, 1};
    const auto rdm = Rdm(0x0042, message);
    const uint8_t* carried = nullptr;
    size_t carriedSize = 0;
    ASSERT_TRUE(DecodeRdm(rdm.data(), rdm.size(), portAddress, carried, carriedSize));
    EXPECT_EQ(portAddress, 0x0042);
    EXPECT_EQ(std::vector<uint8_t>(carried, carried + carriedSize), message);
    // A node that passes the start code on: the message is the same.
    std::vector<uint8_t> withStartCode = Rdm(0x0042, {0xCC, 0x01, 0x18});
    ASSERT_TRUE(DecodeRdm(withStartCode.data(), withStartCode.size(), portAddress, carried, carriedSize));
    EXPECT_EQ(std::vector<uint8_t>(carried, carried + carriedSize), (std::vector<uint8_t>{0x01, 0x18}));

    // ArtDmx: an odd count padded to an even length, the sequence kept.
    const uint8_t slots[3] = {255, 128, 7};
    uint8_t packet[kMaxPacket];
    const size_t size = EncodeDmx(0x0001, 9, slots, 3, packet);
    EXPECT_EQ(size, 18u + 4u);
    uint8_t sequence = 0;
    const uint8_t* got = nullptr;
    size_t count = 0;
    ASSERT_TRUE(DecodeDmx(packet, size, portAddress, sequence, got, count));
    EXPECT_EQ(sequence, 9);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(std::vector<uint8_t>(got, got + count), (std::vector<uint8_t>{255, 128, 7, 0}));
    EXPECT_EQ(EncodeDmx(0x0001, 1, slots, 0, packet), 0u);
}

TEST(ArtNetPackets, AnythingCutShortOrForeignIsRefused)
{
    auto cut = [](std::vector<uint8_t> p, size_t size) {
        p.resize(size);
        return p;
    };
    auto spoiled = [](std::vector<uint8_t> p, size_t at, uint8_t value) {
        p[at] = value;
        return p;
    };
    const auto tod = EncodeTodData(Block(2, 0, {1, 2}));
    const auto reply = EncodePollReply(PollReply{});
    const auto request = EncodeTodRequest(1);
    const auto rdm = Rdm(1, {0x01, 0x18});
    TodData d;
    PollReply r;
    std::vector<uint16_t> addresses;
    uint16_t portAddress = 0;
    const uint8_t* message = nullptr;
    size_t size = 0;
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"a table cut inside its UIDs", cut(tod, tod.size() - 1)},
        {"a table claiming more UIDs than a block holds", spoiled(tod, 27, 201)},
        {"another protocol's ID", spoiled(tod, 0, 'X')},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(DecodeTodData(c.bytes.data(), c.bytes.size(), d)) << c.what;
    EXPECT_FALSE(DecodeTodData(reply.data(), reply.size(), d)) << "another opcode";
    EXPECT_FALSE(DecodePollReply(reply.data(), 206, r)) << "a reply without its ports";
    EXPECT_FALSE(DecodeTodRequest(request.data(), 24, addresses)) << "fewer addresses than it counts";
    EXPECT_FALSE(DecodeTodRequest(spoiled(request, 23, 33).data(), 64, addresses)) << "more than 32 addresses";
    EXPECT_FALSE(DecodeRdm(rdm.data(), 24, portAddress, message, size)) << "no message";
    EXPECT_FALSE(DecodeRdm(spoiled(rdm, 22, 1).data(), rdm.size(), portAddress, message, size))
        << "a command other than ArProcess";
    std::vector<uint8_t> tooLong(300, 1);
    uint8_t packet[kMaxPacket];
    EXPECT_EQ(EncodeRdm(1, tooLong.data(), tooLong.size(), packet), 0u);
    EXPECT_EQ(OpCodeOf(tod.data(), 9), 0);
}

TEST(ArtNetTodTable, BlocksInAnyOrderCountOnceAndANewTotalStartsOver)
{
    TodTable table(0x0101);
    EXPECT_FALSE(table.take(Block(3, 0, {1, 2}, 0x0102))) << "another Port-Address";
    EXPECT_FALSE(table.any());
    EXPECT_TRUE(table.take(Block(3, 1, {3})));
    EXPECT_FALSE(table.complete());
    EXPECT_TRUE(table.take(Block(3, 1, {3})));  // the same block again
    EXPECT_EQ(table.uids().size(), 1u);
    table.take(Block(3, 0, {2, 1}));
    EXPECT_TRUE(table.complete());
    EXPECT_EQ(table.uids(), (std::vector<uint64_t>{1, 2, 3}));

    // The node's table changed meanwhile: only what the new total's blocks bring counts.
    table.take(Block(2, 0, {5}));
    EXPECT_FALSE(table.complete());
    EXPECT_EQ(table.uids(), std::vector<uint64_t>{5});
    table.take(Block(2, 1, {6}));
    EXPECT_TRUE(table.complete());

    TodData nak = Block(0, 0, {});
    nak.response = kTodNak;
    table.take(nak);
    EXPECT_TRUE(table.refused());
    EXPECT_FALSE(table.complete());
    table.take(Block(1, 0, {9}));
    EXPECT_FALSE(table.refused());
    EXPECT_TRUE(table.complete());
}
