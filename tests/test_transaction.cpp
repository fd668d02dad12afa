#include "harness.h"
#include "rdm/rdm_defs.h"
#include "rig/fixtures.h"
#include "rig/responder.h"
#include "scripted_serial.h"

#include <gtest/gtest.h>

using namespace rdm;

namespace {

constexpr Uid kDevice = 0x7FF012345678ull;

struct Scripted : ScriptedEngine<ScriptedSerial> {
    Scripted() : ScriptedEngine(5000000) {}

    // A reply from kDevice as the line brings it: the break byte, then the message.
    void queueReply(uint8_t responseType, const std::vector<uint8_t>& data, int checksumError = 0)
    {
        rig::Request q;
        q.source = kOwnUid;
        q.destination = kDevice;
        q.transaction = uint8_t(engine.transactionNumber() + 1);  // for the next request
        q.commandClass = GET_COMMAND;
        q.pid = DEVICE_INFO;
        std::vector<uint8_t> m = rig::BuildResponse(q, kDevice, responseType, data);
        m.back() = uint8_t(m.back() + checksumError);
        serial.queue({0x00});
        serial.queue(m);
    }

    TxResult get(uint16_t pid = DEVICE_INFO)
    {
        return Transact(engine, kDevice, GET_COMMAND, pid);
    }
};

} // namespace

TEST(Transaction, GetRequestIsTwentySixBytesAfterABreak)
{
    Scripted s;
    s.queueReply(RESPONSE_TYPE_ACK, {1, 2});
    EXPECT_EQ(s.get(0x0060), TxAck);
    ASSERT_EQ(s.serial.written.size(), 1u);
    const std::vector<uint8_t>& m = s.serial.written[0];
    const std::vector<uint8_t> head = {0xCC, 0x01, 0x18, 0x7F, 0xF0, 0x12, 0x34, 0x56, 0x78, 0x41, 0x64, 0xFF,
                                       0x00, 0x00, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x20, 0x00, 0x60, 0x00};
    ASSERT_EQ(m.size(), 26u);
    EXPECT_EQ(std::vector<uint8_t>(m.begin(), m.begin() + 24), head);
    EXPECT_EQ(ReadBE16(&m[24]), Checksum(m.data(), 24));
    // Purge, break, write, then the skipped byte and the reply.
    const std::vector<std::string> order = {"purge", "break", "clear-break", "write", "read 1", "read 200"};
    EXPECT_EQ(s.serial.calls, order);
}

TEST(Transaction, NumbersWrapAfter255AndWaitFiftyMilliseconds)
{
    Scripted s;
    for (int i = 1; i <= 256; ++i) {
        const uint64_t before = s.clock.nowUs();
        s.get();
        EXPECT_EQ(s.serial.written.back()[15], uint8_t(i));
        // Nothing answers: 50 ms wait, 2 ms for the skipped byte, 201 ms for the reply.
        EXPECT_EQ(s.clock.nowUs() - before, 253000u);
    }
    EXPECT_EQ(s.serial.written.back()[15], 0);
}

TEST(Transaction, ResultCodes)
{
    Scripted s;
    s.queueReply(RESPONSE_TYPE_ACK, {});
    EXPECT_EQ(s.get(), TxAck);
    for (uint8_t type : {RESPONSE_TYPE_ACK_TIMER, RESPONSE_TYPE_NACK_REASON, RESPONSE_TYPE_ACK_OVERFLOW}) {
        s.queueReply(type, {0, 0});
        EXPECT_EQ(s.get(), TxNotAck);
    }
    s.queueReply(RESPONSE_TYPE_ACK, {}, 1);
    s.log.lines.clear();
    EXPECT_EQ(s.get(), TxNoResponse);
    EXPECT_TRUE(s.log.lines.empty()) << "a checksum error writes no line of its own";

    s.serial.failReads = true;
    EXPECT_EQ(s.get(), TxFailed);
    EXPECT_TRUE(s.log.lines.empty());
    s.serial.failReads = false;

    s.serial.writeResult = 0;
    EXPECT_EQ(s.get(), TxFailed);
    EXPECT_EQ(s.log.lines, std::vector<std::string>{"Ошибка при отправке RDM сообщения"});
}

TEST(Transaction, NoAnswerLogsNoResponseAndAnEmptyLineEvenWithoutDetail)
{
    Scripted s;
    EXPECT_EQ(s.get(), TxNoResponse);
    EXPECT_EQ(s.log.lines, (std::vector<std::string>{"Нет ответа", ""}));
    s.log.lines.clear();
    s.serial.queue({0x00, 0x7E, 0x05});  // garbage where the start code belongs
    EXPECT_EQ(s.get(), TxNoResponse);
    EXPECT_EQ(s.log.lines, (std::vector<std::string>{"Нет ответа", ""}));
}

TEST(Transaction, ShortLongAndOversizedRepliesStayInsideTheBuffers)
{
    Scripted s;
    // Cut short: the rest of the buffer is 0xFF fill, so the checksum cannot match.
    rig::Request q;
    q.source = kOwnUid;
    std::vector<uint8_t> m = rig::BuildResponse(q, kDevice, 0, std::vector<uint8_t>(10, 7));
    m.resize(20);
    s.serial.queue({0});
    s.serial.queue(m);
    EXPECT_EQ(s.get(), TxNoResponse);

    // Longer than the 200 bytes asked for: cut there, checksum fails.
    m = rig::BuildResponse(q, kDevice, 0, std::vector<uint8_t>(200, 1));
    s.serial.queue({0});
    s.serial.queue(m);
    EXPECT_EQ(s.get(), TxNoResponse);
    s.serial.input.clear();

    // Length and PDL claiming far more than the buffer holds.
    std::vector<uint8_t> evil(200, 0xEE);
    evil[0] = 0xCC;
    evil[2] = 0xFF;
    evil[23] = 0xFF;
    s.serial.queue({0});
    s.serial.queue(evil);
    s.log.detailedOn = true;
    EXPECT_EQ(s.get(), TxNoResponse);
}

TEST(Transaction, DumpOfTheFirstBroadcastUnMuteIsExact)
{
    Scripted s;
    s.log.detailedOn = true;
    EXPECT_EQ(Transact(s.engine, kBroadcastUid, DISCOVERY_COMMAND, DISC_UN_MUTE, nullptr, 0, 0), TxNoResponse);
    ASSERT_GE(s.log.lines.size(), 1u);
    EXPECT_EQ(s.log.lines[0], "Запрос:  CC 01 18 FFFFFFFFFFFF 4164FF000001 01 01 00 0000 10 0003 00 0899");
    EXPECT_EQ(s.log.lines[1], "Нет ответа");
    // A read length of 0 reads nothing at all, not even the break byte.
    for (const std::string& c : s.serial.calls)
        EXPECT_NE(c, "read 1");
}

TEST(Transaction, ResponseDumpShowsEveryDataByteThenAnEmptyLine)
{
    Scripted s;
    s.log.detailedOn = true;
    std::vector<uint8_t> data(150);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i);
    s.queueReply(RESPONSE_TYPE_ACK, data);
    EXPECT_EQ(s.get(), TxAck);
    ASSERT_EQ(s.log.lines.size(), 3u);
    const std::string& dump = s.log.lines[1];
    EXPECT_EQ(dump.rfind("Ответ: CC 01 AE 4164FF000001 7FF012345678 01 00 00 0000 21 0060 96 00 01 02 ", 0), 0u)
        << dump;
    EXPECT_NE(dump.find(" 94 95 "), std::string::npos);
    EXPECT_EQ(s.log.lines[2], "");
}

TEST(Transaction, EnttecKindSendsOneLabelSevenMessageAndUnwrapsTheReply)
{
    RigHarness h(KindEnttecUsbPro);
    h.line.add(kDevice, rig::LedParModel());
    EXPECT_EQ(Transact(h.engine, kDevice, GET_COMMAND, DEVICE_INFO), TxAck);
    ASSERT_EQ(h.d2xx.widgetMessages.size(), 1u);
    EXPECT_EQ(h.d2xx.widgetMessages[0].first, 7);
    EXPECT_EQ(h.d2xx.widgetMessages[0].second.size(), 26u);
    EXPECT_EQ(LastReply().data.pdl, 19);
    // No break or purge goes through the driver on this kind.
    for (const std::string& c : h.d2xx.calls) {
        EXPECT_NE(c, "FT_SetBreakOn");
    }
}

TEST(Transaction, EnttecTimeoutMessageIsNoResponse)
{
    RigHarness h(KindEnttecUsbPro);
    EXPECT_EQ(Transact(h.engine, kDevice, GET_COMMAND, DEVICE_INFO), TxNoResponse);
    EXPECT_EQ(h.log.lines, (std::vector<std::string>{"Нет ответа", ""}));
}

TEST(Transaction, AllKindsTalkToARigResponder)
{
    for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro}) {
        RigHarness h(kind);
        rig::Responder& r = h.line.add(kDevice, rig::MovingHeadModel());
        r.startAddress = 101;
        ASSERT_EQ(Transact(h.engine, kDevice, GET_COMMAND, DMX_START_ADDRESS), TxAck) << "kind " << kind;
        EXPECT_EQ(LastReply().data.be16(0), 101);
        // An answer that is waiting costs the wait and the read time-out of its kind.
        const uint64_t before = h.clock.nowUs();
        Transact(h.engine, kDevice, GET_COMMAND, DMX_START_ADDRESS);
        const uint64_t took = h.clock.nowUs() - before;
        if (kind == KindStandardVcp || kind == KindEnttecUsbPro)
            EXPECT_LT(took, 56000u) << "kind " << kind;  // the widget's message has a length to read by
        else
            EXPECT_GE(took, 100000u) << "the 200-byte read waits out its 50 ms";
    }
}

TEST(Transaction, UnpluggedInterfaceFailsEveryRequest)
{
    RigHarness h;
    h.port.PortClose();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Transact(h.engine, kDevice, GET_COMMAND, DEVICE_INFO), TxFailed);
    }
    EXPECT_EQ(h.log.count("Ошибка при отправке RDM сообщения"), 3);
}

TEST(Transaction, EnttecMessageThatCameAfterItsReadIsNotTheNextReply)
{
    RigHarness h(KindEnttecUsbPro);
    constexpr Uid kLate = 0x7FF000000009ull;
    h.line.add(kLate, rig::LedParModel()).faults.lateMs = 150;
    rig::Responder& good = h.line.add(kDevice, rig::LedParModel());
    good.startAddress = 42;
    // A widget that listens longer than the controller waits passes the late
    // reply on after the controller's read has given up.
    h.d2xx.chip(1).listenUs = 1000000;
    EXPECT_EQ(Transact(h.engine, kLate, GET_COMMAND, DMX_START_ADDRESS), TxNoResponse);
    h.clock.sleepMs(500);  // the user's next click
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Transact(h.engine, kDevice, GET_COMMAND, DMX_START_ADDRESS), TxAck);
        EXPECT_EQ(LastReply().source, kDevice) << "request " << i;
        EXPECT_EQ(LastReply().transaction, h.engine.transactionNumber());
        EXPECT_EQ(LastReply().data.be16(0), 42);
    }
}
