#pragma once
// The one RDM exchange with a single responder: complete the request in the
// request buffer, send it, wait, read the reply and judge it.
#include "link/clock.h"
#include "link/interface_port.h"
#include "link/widget_message.h"
#include "rdm/log_sink.h"
#include "rdm/rdm_defs.h"
#include "rdm/uid.h"

#include <atomic>

enum TxResult : uint8_t {
    TxFailed = 0,
    TxNoResponse = 1,
    TxNotAck = 2,
    TxAck = 3,
};

class RdmEngine {
public:
    RdmEngine(InterfacePort& port, Clock& clock, LogSink& log) : port_(port), clock_(clock), log_(log) {}

    // The request and response buffers, laid out as the E1.20 message.
    uint8_t request[rdm::kBufferSize] = {};
    uint8_t response[rdm::kBufferSize] = {};

    // Writes the fixed fields once: start codes, source UID, port ID 1, root device.
    void SetupRequestHeader();

    // Sets command class, PID and parameter data of the next request.
    void PrepareRequest(uint8_t commandClass, uint16_t pid, const uint8_t* data = nullptr, uint8_t pdl = 0);

    // Fills in what every request carries last: destination, the next transaction
    // number, the message length from the parameter data length, and the checksum.
    // Returns the bytes to send.
    int CompleteRequest(Uid destination);

    TxResult RdmTransaction(Uid uid, int readLength);

    // The fast exchange: instead of the fixed waits, a read returns as soon as its
    // reply is whole and gives up by the line's own limits. Requests, results and
    // log stay those of the fixed waits.
    void setFastExchange(bool on) { fast_.store(on); }
    bool fastExchange() const { return fast_.load(); }

    // How a fast read waits after a request of `requestBytes` handed to the port
    // at `handedUs`, for a reply of up to `replyBytes`.
    ReplyWait replyWait(uint64_t handedUs, int requestBytes, int replyBytes, ReplyKind kind,
                        int (*judge)(const uint8_t*, int, const uint8_t*));
    // A fixed pause between steps of a run; none in the fast exchange.
    void pauseMs(uint32_t ms);

    // Whether `count` bytes from the start code make a whole reply to `request`
    // (see ReplyWait::judge): a whole message whose transaction number, source and
    // destination are not this request's answers an earlier one.
    static int JudgeReply(const uint8_t* bytes, int count, const uint8_t* request);

    // One line of hex describing a buffer; for the response an empty line follows.
    void LogMessageDump(bool isRequest);
    static std::string DumpText(const uint8_t* buffer, bool isRequest);

    uint8_t transactionNumber() const { return request[rdm::kOffTransaction]; }
    uint8_t nextTransactionNumber() { return ++request[rdm::kOffTransaction]; }

    InterfacePort& port() { return port_; }
    Clock& clock() { return clock_; }
    LogSink& log() { return log_; }

private:
    InterfacePort& port_;
    Clock& clock_;
    LogSink& log_;
    std::atomic<bool> fast_{false};
};
