#pragma once
// The two FTDI kinds: a device opened by number through the D2XX calls.
// "Talvern" is the raw chip with breaks through the driver; "Enttec USB Pro" is a
// widget that frames every packet itself.
#include "link/d2xx.h"
#include "link/line_driver.h"
#include "link/widget_message.h"

class D2xxDriver : public LineDriver {
public:
    D2xxDriver(InterfacePort& port, D2xx& d2xx) : LineDriver(port), d2xx_(d2xx) {}

    int open() override;
    void close() override;
    int write(const uint8_t* bytes, int count) override;
    int read(uint8_t* buffer, int count) override;
    int readWaiting(uint8_t* buffer, int count) override;
    // The chip's latency timer, which opening sets to 1 ms.
    uint32_t latencyUs() const override { return 1000; }
    void list(std::vector<InterfaceEntry>& rows) override;
    void choose(const InterfaceEntry& row) override;

protected:
    D2xx& d2xx_;
};

class TalvernDriver final : public D2xxDriver {
public:
    using D2xxDriver::D2xxDriver;
    void lineBreak() override;
    void purge() override;
    int countWaiting() override;
};

class UsbProDriver final : public D2xxDriver {
public:
    static constexpr int kMaxDmxFrame = 513;

    using D2xxDriver::D2xxDriver;
    // The widget makes the break and keeps its own buffers.
    void lineBreak() override {}
    void purge() override {}
    int sendDmxFrame(const uint8_t* frame, int length) override;
    int sendRdmPacket(const uint8_t* packet, int count, ReplyKind expect) override;
    int readReply(uint8_t* buffer, int count, ReplyKind kind) override;
    int readReplyWhole(uint8_t* buffer, int count, ReplyKind kind, const ReplyWait& wait) override;

    // How long past the raw line's limit a fast read waits for the widget's own
    // answer: the widget listens for the responder by its own clock, and then
    // hands its message over USB.
    static constexpr uint64_t kAnswerSlackUs = 40000;

private:
    int sendMessage(uint8_t label, const uint8_t* data, int count);
    // The widget answers every RDM request once, with the packet it received or
    // its time-out report. An answer still owed is waited for (within the read
    // time-out) before the next request, so that it cannot pass for that one's.
    void awaitOwedAnswer();
    void discardWaiting();

    WidgetReplyReader reader_;
    bool answerOwed_ = false;
    // The largest message: a whole DMX frame.
    uint8_t message_[kMaxDmxFrame + widget::kOverhead] = {};
};
