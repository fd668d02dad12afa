#pragma once
// The one RDM exchange with a single responder: send a typed request, wait, read
// what came back and take from it only the message that answers this request.
#include "link/clock.h"
#include "link/interface_port.h"
#include "rdm/discovery_reply.h"
#include "rdm/log_sink.h"
#include "rdm/message.h"
#include "rdm/rdm_defs.h"
#include "rdm/uid.h"

#include <atomic>
#include <string>

enum TxResult : uint8_t {
    TxFailed = 0,
    TxNoResponse = 1,
    TxNotAck = 2,
    TxAck = 3,
};

class RdmEngine {
public:
    RdmEngine(InterfacePort& port, Clock& clock, LogSink& log) : port_(port), clock_(clock), log_(log) {}

    // Starts the transaction numbers afresh: the next request carries 1.
    void SetupRequestHeader() { transaction_ = 0; }

    // Sends `request` from this controller with the next transaction number and,
    // unless it goes to every device, reads up to `readLength` bytes for its answer.
    // `reply` holds the answer after TxAck or TxNotAck; a message that does not
    // answer this request is passed over.
    TxResult RdmTransaction(const rdm::RdmRequest& request, rdm::RdmResponse& reply,
                            int readLength = rdm::kReplyReadLength);

    // One DISC_UNIQUE_BRANCH over [lowerBound, upperBound]; `found` gets the UID of
    // a single clean reply.
    BranchResult DiscoveryBranch(Uid lowerBound, Uid upperBound, Uid& found);

    // The fast exchange: instead of the fixed waits, a read returns as soon as its
    // reply is whole and gives up by the line's own limits. Requests, results and
    // log stay those of the fixed waits.
    void setFastExchange(bool on) { fast_.store(on); }
    bool fastExchange() const { return fast_.load(); }

    // Signs of a line that misbehaves, for discovery to act on.
    // A reply came after its fast read had given up: bytes were waiting at the next
    // request, or a reply to an earlier request was passed over. Each sign widens
    // the fast reads' wait (see lateMarginUs). True once per sign.
    bool takeLateSign();
    // The last branch read one whole, correctly summed reply from a device outside
    // the range asked about: a late answer to an earlier branch. True once.
    bool takeStrayReply(Uid& uid);
    // The last request could not be written, or its reply could not be read.
    bool linkFailed() const { return linkFailed_; }
    // The last request could not even be written: the interface no longer takes
    // requests (pulled, or its driver gone).
    bool writeFailed() const { return writeFailed_; }
    // How much longer than the line's own limit a fast read waits for its reply, on
    // a system that hands received bytes over late. It grows with each late sign up
    // to kMaxLateMarginUs, a few times what a busy system delays: a device that
    // answers later still is out of E1.20's bounds, and waiting for it would slow
    // every request of the run. It starts again at 0 here.
    uint32_t lateMarginUs() const { return lateMarginUs_; }
    void resetLateMargin() { lateMarginUs_ = 0; onTime_ = 0; }
    // How often the margin has grown: a late sign that left it as it was (at its
    // limit) changes nothing here.
    uint32_t lateMarginGrowths() const { return lateMarginGrowths_; }
    // After a fast exchange that got no answer: listens up to kMaxLateMarginUs for
    // bytes that come late. When some do, the wait grows to take them in time and
    // the result is true. The bytes themselves are left for the next purge.
    bool listenForLateReply();
    static constexpr uint32_t kFirstLateMarginUs = 4000;
    static constexpr uint32_t kMaxLateMarginUs = 16000;
    // Exchanges in a row without a late sign after which the margin halves.
    static constexpr int kOnTimeToShrink = 64;

    // A fixed pause between steps of a run; none in the fast exchange.
    void pauseMs(uint32_t ms);

    // One line of hex describing a message laid out from its first byte.
    static std::string DumpText(const uint8_t* buffer, bool isRequest);

    uint8_t transactionNumber() const { return transaction_; }

    InterfacePort& port() { return port_; }
    Clock& clock() { return clock_; }
    LogSink& log() { return log_; }

private:
    // How a fast read waits after a request of `requestBytes` handed to the port
    // at `handedUs`, for a reply of up to `replyBytes`.
    ReplyWait replyWait(uint64_t handedUs, int requestBytes, int replyBytes, ReplyKind kind,
                        int (*judge)(const uint8_t*, int, void*));
    // Fills in the controller's part of `request` and encodes it; returns its size.
    int encodeInFlight(const rdm::RdmRequest& request);
    // Judges bytes of a fast read (see ReplyWait::judge); `engine` is this engine.
    static int AnswerWhole(const uint8_t* bytes, int count, void* engine);
    // Appends the dump of the message at `bytes` (`count` bytes there at most).
    void dumpMessage(const uint8_t* bytes, size_t count, bool isRequest);
    // The detailed log's record of a message that did not answer the request.
    void logPassedOver(const uint8_t* bytes, size_t count, rdm::DecodeError error, rdm::Mismatch mismatch);
    // Bytes left over from an earlier request are a late sign (fast exchange only).
    void noteBytesLeftOver();
    void noteLate();
    void growLateMargin(uint32_t us);
    void settleLateMargin();

    InterfacePort& port_;
    Clock& clock_;
    LogSink& log_;
    std::atomic<bool> fast_{false};
    bool lateSign_ = false;
    bool linkFailed_ = false;
    bool writeFailed_ = false;
    bool strayReply_ = false;
    Uid strayUid_ = 0;
    uint32_t lateMarginUs_ = 0;
    uint32_t lateMarginGrowths_ = 0;
    int onTime_ = 0;  // fast exchanges since the last late sign

    uint8_t transaction_ = 0;
    rdm::RdmRequest inFlight_;
    rdm::RdmResponse scratchReply_;  // for judging a fast read as it grows
    uint8_t request_[rdm::kBufferSize] = {};
    uint8_t response_[rdm::kBufferSize] = {};
    uint8_t dump_[rdm::kBufferSize] = {};
};
