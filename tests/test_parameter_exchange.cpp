#include "harness.h"
#include "rdm/parameter_exchange.h"
#include "rig/fixtures.h"

#include <gtest/gtest.h>

using namespace rdm;

namespace {

constexpr Uid kDevice = 0x7FF000000021ull;

} // namespace

TEST(ParameterExchange, AckTimerIsFollowedToTheQueuedAnswer)
{
    for (bool fast : {false, true}) {
        RigHarness h;
        h.engine.setFastExchange(fast);
        rig::Responder& r = h.line.add(kDevice, rig::LedParModel());
        r.startAddress = 77;
        r.faults.ackTimer = true;
        const uint64_t start = h.clock.nowUs();
        const ParameterReply reply = ExchangeParameter(h.engine, kDevice, GET_COMMAND, DMX_START_ADDRESS, {});
        ASSERT_EQ(reply.result, TxAck);
        EXPECT_EQ(reply.data.toVector(), (std::vector<uint8_t>{0, 77}));
        EXPECT_GE(h.clock.nowUs() - start, 500000u) << "the time the device asked for";
        const auto requests = h.line.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1].decoded.pid, 0x0020);

        // A SET is queued the same way.
        const ParameterReply set = ExchangeParameter(h.engine, kDevice, SET_COMMAND, DMX_START_ADDRESS, {0, 9});
        EXPECT_EQ(set.result, TxAck);
        EXPECT_EQ(r.startAddress, 9);
    }
}

TEST(ParameterExchange, OverflowingRepliesAreJoined)
{
    RigHarness h;
    rig::ResponderModel m = rig::LedParModel();
    m.supportedParameters.clear();
    for (uint16_t i = 0; i < 150; ++i)
        m.supportedParameters.push_back(uint16_t(0x8000 + i));
    h.line.add(kDevice, m);
    const ParameterReply reply = ExchangeParameter(h.engine, kDevice, GET_COMMAND, SUPPORTED_PARAMETERS, {});
    ASSERT_EQ(reply.result, TxAck);
    ASSERT_EQ(reply.data.size(), 300u);
    EXPECT_EQ(ReadBE16(reply.data.data() + 298), 0x8000 + 149);
    EXPECT_EQ(h.line.requests().size(), 2u);
}

TEST(ParameterExchange, RefusalsAndSilenceAreReported)
{
    RigHarness h;
    h.line.add(kDevice, rig::LedParModel());
    const ParameterReply nack = ExchangeParameter(h.engine, kDevice, GET_COMMAND, 0x0201, {0});
    EXPECT_EQ(nack.result, TxNotAck);
    EXPECT_STREQ(NackReasonName(nack.nackReason), "UNKNOWN_PID");
    EXPECT_STREQ(NackReasonName(NR_DATA_OUT_OF_RANGE), "DATA_OUT_OF_RANGE");
    EXPECT_EQ(NackReasonName(0x7FFF), nullptr);
    EXPECT_EQ(ExchangeParameter(h.engine, 0x7FF000000099ull, GET_COMMAND, DEVICE_INFO, {}).result, TxNoResponse);
}
