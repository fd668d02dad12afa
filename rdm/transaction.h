#pragma once
// The one RDM exchange with a single responder: send a typed request, wait, read
// what came back and take from it only the message that answers this request.
#include "link/clock.h"
#include "link/interface_port.h"
#include "rdm/discovery_line.h"
#include "rdm/discovery_reply.h"
#include "rdm/log_sink.h"
#include "rdm/message.h"
#include "rdm/rdm_defs.h"
#include "rdm/uid.h"

#include <atomic>
#include <string>
#include <vector>

class RdmEngine final : public DiscoveryLine {
public:
    RdmEngine(InterfacePort& port, Clock& clock, LogSink& log) : port_(port), clock_(clock), log_(log) {}

    // Starts the transaction numbers afresh: the next request carries 1.
    void SetupRequestHeader() { transaction_ = 0; }

    // Sends `request` from this controller with the next transaction number and,
    // unless it goes to every device, reads up to `readLength` bytes for its answer.
    // `reply` holds the answer after TxAck or TxNotAck; a message that does not
    // answer this request is passed over.
    //
    // On the fast exchange a read that gives up on its reply listens on, up to
    // kMaxLateMarginUs past the line's limit, for one that comes late. A GET or a
    // discovery request whose answer was on its way but could not be taken (late,
    // garbled, met by a late reply to an earlier request) is asked once more with
    // the wait widened; a SET is never repeated, as it need not be idempotent.
    TxResult RdmTransaction(const rdm::RdmRequest& request, rdm::RdmResponse& reply,
                            int readLength = rdm::kReplyReadLength) override;

    // One DISC_UNIQUE_BRANCH over [lowerBound, upperBound]; `found` gets the UID of
    // a single clean reply. A read that brought only a burst of line noise is asked
    // again, and a branch that brings nothing else is silent.
    BranchResult DiscoveryBranch(Uid lowerBound, Uid upperBound, Uid& found) override;

    // The fast exchange: instead of the fixed waits, a read returns as soon as its
    // reply is whole and gives up by the line's own limits. Requests, results and
    // log stay those of the fixed waits.
    void setFastExchange(bool on) { fast_.store(on); }
    bool fastExchange() const override { return fast_.load(); }

    // Signs of a line that misbehaves, for discovery to act on.
    // A reply came after its fast read had given up: reply bytes were waiting at
    // the next request, a reply to an earlier request was passed over, or a reply
    // came while the read listened on. Each sign widens the fast reads' wait (see
    // lateMarginUs). True once per sign.
    bool takeLateSign() override;
    // The last branch read one whole, correctly summed reply from a device outside
    // the range asked about: a late answer to an earlier branch, or the sum of
    // replies that collided (a phantom). True once.
    bool takeStrayReply(Uid& uid) override;
    int nodeTable(bool flush, std::vector<Uid>& uids, std::string& note) override;
    // Whether the interface discovers its line itself, as an Art-Net node does:
    // its table of devices stands for discovery, and no discovery message reaches
    // a device through it.
    bool lineDiscoversItself() { return port_.DiscoversItself(); }
    // The last request could not be written, or its reply could not be read.
    bool linkFailed() const override { return linkFailed_; }
    // The last request could not even be written: the interface no longer takes
    // requests (pulled, or its driver gone).
    bool writeFailed() const override { return writeFailed_; }
    // How much longer than the line's own limit a fast read waits for its reply, on
    // a system that hands received bytes over late: one wait for everything asked
    // on this interface. It grows with each late sign, said once in the log each
    // time, up to kMaxLateMarginUs, a few times what a busy system delays: a device
    // that answers later still is out of E1.20's bounds, and waiting for it would
    // slow every request. It halves again after kOnTimeToShrink exchanges in time.
    uint32_t lateMarginUs() const { return lateMarginUs_; }
    // A new interface starts with no margin.
    void resetLateMargin() { lateMarginUs_ = 0; onTime_ = 0; }
    // How often the margin has grown: a late sign that left it as it was (at its
    // limit) changes nothing here.
    uint32_t lateMarginGrowths() const override { return lateMarginGrowths_; }
    // A reply proved to have come late by other means (a device that answered a
    // branch after its read gave up, then acknowledged its mute): a late sign.
    void noteLateReply() override { noteLate(); }
    // Devices heard answering far too late: a DISC_MUTE acknowledgement among the
    // bytes of a later read, or a discovery reply long after the last branch.
    // They are there, and no wait takes their replies in time. Since the last
    // forgetLateAnswers:
    bool heardLate(Uid uid) const override;
    void forgetLateAnswers() override { lateHeardCount_ = lateAckCount_ = 0; }
    // Each is named once in the log (see LateDeviceText), whatever run heard it;
    // these are the ones named so far.
    const std::vector<Uid>& namedLate() const override { return namedLate_; }
    // Names `uid` in the log unless it has been; true when it is named now.
    bool nameLate(Uid uid) override;
    static std::string LateDeviceText(Uid uid);
    // Listens up to `ms` for the late acknowledgement of the mute to `uid` sent
    // with `transaction`, taking whatever else comes meanwhile; true once it has
    // come. A device acknowledges its mutes in order, so the last one sent closes
    // all it still had on its way.
    bool awaitLateAck(Uid uid, uint8_t transaction, uint32_t ms) override;
    // Takes whatever comes until the line has been quiet for `quietMs` (at most
    // `limitMs` in all): the replies still on their way from a device that answers
    // far too late, which would otherwise garble the next requests' replies. True
    // when something came.
    bool drainLateReplies(uint32_t quietMs = kDrainQuietMs, uint32_t limitMs = kDrainLimitMs) override;
    // Before a request is asked again: quiet this long, replies keep no closer.
    static constexpr uint32_t kSettleQuietMs = 20;
    // After a fast exchange that got no answer: listens up to `us` for bytes that
    // come late. When some do, the wait grows to take them in time and the result
    // is true. The bytes themselves are left for the next purge.
    bool listenForLateReply(uint64_t us = kMaxLateMarginUs) override;
    static constexpr uint32_t kFirstLateMarginUs = 4000;
    // How much more than a reply's known lateness the wait grows by.
    static constexpr uint32_t kLateStepUs = 1000;
    // Exchanges in a row without a late sign after which the margin halves.
    static constexpr int kOnTimeToShrink = 24;
    // Branches that brought only noise are asked again this often at most.
    static constexpr int kNoiseRepeats = 2;

    // What the rules for a busy system cost the fast exchange so far: requests
    // asked again, and time waited past the line's own limits, for the widened
    // wait and for listening on for a late reply (reads that got their answer in
    // time cost nothing).
    struct WaitCosts {
        uint32_t repeats = 0;
        uint64_t widenedUs = 0;
        uint64_t listenedUs = 0;
    };
    const WaitCosts& waitCosts() const { return costs_; }

    // A fixed pause between steps of a run; none in the fast exchange.
    void pauseMs(uint32_t ms) override;

    // One line of hex describing a message laid out from its first byte.
    static std::string DumpText(const uint8_t* buffer, bool isRequest);

    uint8_t transactionNumber() const override { return transaction_; }

    InterfacePort& port() { return port_; }
    Clock& clock() override { return clock_; }
    LogSink& log() override { return log_; }

private:
    // How a fast read waits after a request of `requestBytes` handed to the port
    // at `handedUs`, for a reply of up to `replyBytes`.
    ReplyWait replyWait(uint64_t handedUs, int requestBytes, int replyBytes, ReplyKind kind,
                        int (*judge)(const uint8_t*, int, void*));
    // Fills in the controller's part of `request` and encodes it; returns its size.
    int encodeInFlight(const rdm::RdmRequest& request);
    // One request and its read (see RdmTransaction).
    TxResult exchange(const rdm::RdmRequest& request, rdm::RdmResponse& reply, int readLength);
    // One branch request and its read.
    BranchResult branchOnce(Uid lowerBound, Uid upperBound, Uid& found, bool& noiseOnly);
    // Judges bytes of a fast read (see ReplyWait::judge); `engine` is this engine.
    static int AnswerWhole(const uint8_t* bytes, int count, void* engine);
    // Appends the dump of the message at `bytes` (`count` bytes there at most).
    void dumpMessage(const uint8_t* bytes, size_t count, bool isRequest);
    // The detailed log's record of a message that did not answer the request.
    void logPassedOver(const uint8_t* bytes, size_t count, rdm::DecodeError error, rdm::Mismatch mismatch);
    // Bytes left over from an earlier request that look like a reply are a late
    // sign (fast exchange only); a burst of line noise is not.
    void noteBytesLeftOver();
    // The same for bytes that came before the request had left the line.
    void noteStale();
    void noteLate(uint64_t lateByUs = 0);
    // drainLateReplies with the exchange lock held.
    bool drainLocked(uint32_t quietMs, uint32_t limitMs);
    // Keeps the sender of each late DISC_MUTE acknowledgement among `count` bytes
    // and, with `discoveryReplies`, of each discovery reply when no branch has been
    // asked for long: those are named in the log at once.
    void recordLateAnswers(const uint8_t* bytes, size_t count, bool discoveryReplies = false);
    void heard(Uid uid);
    // The late acknowledgement of `uid` with `transaction` came (any, when negative).
    bool ackedLate(Uid uid, int transaction = -1) const;
    void growLateMargin(uint32_t us);
    // A read that ended at `endUs` without its answer in time, where the line's own
    // limit was `lineLimitUs` and the widened wait `margin` past it.
    void addWaitCosts(uint64_t lineLimitUs, uint32_t margin, uint64_t endUs);
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
    // Of the exchange going on: late signs since its request went out, whether
    // something began as a reply, and when the answer began (0: not yet).
    WaitCosts costs_;
    // Of the read going on: bytes that came before its reply could.
    uint8_t stale_[64] = {};
    int staleBytes_ = 0;
    uint32_t signsInRead_ = 0;
    bool noiseInRead_ = false;
    uint64_t answerBeganUs_ = 0;
    static constexpr int kLateKept = 16;
    Uid lateHeard_[kLateKept] = {};
    int lateHeardCount_ = 0;
    struct LateAck {
        Uid uid;
        uint8_t transaction;  // of the last one that came
    };
    LateAck lateAck_[kLateKept] = {};  // of those, the ones whose mute acknowledgement came
    int lateAckCount_ = 0;
    std::vector<Uid> namedLate_;
    uint64_t lastBranchUs_ = 0;  // when the last branch went out
    // A discovery reply this long after the last branch answers none in time.
    static constexpr uint64_t kFarTooLateUs = 50000;

    uint8_t transaction_ = 0;
    rdm::RdmRequest inFlight_;
    rdm::RdmResponse scratchReply_;  // for judging a fast read as it grows
    uint8_t request_[rdm::kBufferSize] = {};
    uint8_t response_[rdm::kBufferSize] = {};
    uint8_t dump_[rdm::kBufferSize] = {};
};
