#pragma once
// The few calls a discovery run makes on the line: requests and branches, and the
// signs a busy system or a late device leaves. The engine is one; a test can be
// another, without a port.
#include "link/clock.h"
#include "rdm/discovery_reply.h"
#include "rdm/log_sink.h"
#include "rdm/message.h"
#include "rdm/uid.h"

#include <cstdint>
#include <string>
#include <vector>

enum TxResult : uint8_t {
    TxFailed = 0,
    TxNoResponse = 1,
    TxNotAck = 2,
    TxAck = 3,
};

class DiscoveryLine {
public:
    virtual ~DiscoveryLine() = default;

    virtual TxResult RdmTransaction(const rdm::RdmRequest& request, rdm::RdmResponse& reply,
                                    int readLength = rdm::kReplyReadLength) = 0;
    virtual BranchResult DiscoveryBranch(Uid lowerBound, Uid upperBound, Uid& found) = 0;
    virtual bool fastExchange() const = 0;
    virtual void pauseMs(uint32_t ms) = 0;
    virtual uint8_t transactionNumber() const = 0;
    virtual Clock& clock() = 0;
    virtual LogSink& log() = 0;

    // The line's state after the last request.
    virtual bool linkFailed() const = 0;
    virtual bool writeFailed() const = 0;

    // Replies that came late, or from outside the range asked.
    virtual bool takeLateSign() = 0;
    virtual bool takeStrayReply(Uid& uid) = 0;
    virtual void noteLateReply() = 0;
    virtual uint32_t lateMarginGrowths() const = 0;
    static constexpr uint32_t kMaxLateMarginUs = 16000;
    virtual bool listenForLateReply(uint64_t us = kMaxLateMarginUs) = 0;
    static constexpr uint32_t kDrainQuietMs = 120;
    static constexpr uint32_t kDrainLimitMs = 1000;
    virtual bool drainLateReplies(uint32_t quietMs = kDrainQuietMs, uint32_t limitMs = kDrainLimitMs) = 0;

    // Devices heard answering far too late, and naming them.
    virtual bool heardLate(Uid uid) const = 0;
    virtual void forgetLateAnswers() = 0;
    virtual bool awaitLateAck(Uid uid, uint8_t transaction, uint32_t ms) = 0;
    virtual bool nameLate(Uid uid) = 0;
    virtual const std::vector<Uid>& namedLate() const = 0;

    // An interface that discovers its own line (an Art-Net node) gives its table
    // instead: 1 whole, 0 partial or none (`note` says why), -1 when the
    // controller must discover. `flush` asks it to discover afresh first.
    virtual int nodeTable(bool /*flush*/, std::vector<Uid>& /*uids*/, std::string& /*note*/) { return -1; }
};
