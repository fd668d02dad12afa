#pragma once
// One interface kind's way of reaching the line. The interface port keeps the
// fields and the operations everybody calls and hands each call to the driver of
// its current kind; adding a kind is one new driver beside these.
#include "link/clock.h"
#include "link/enumeration.h"

#include <cstdint>
#include <string>
#include <vector>

class InterfacePort;

// What a request expects back: nothing (it goes to every device), an ordinary
// reply, which comes after the responder's break, or a discovery reply without one.
enum class ReplyKind { None, Ordinary, Discovery };

// How a read that returns as soon as its reply is whole waits: for the reply to
// begin by a deadline, then for it to be whole, giving up once the line has been
// quiet too long.
struct ReplyWait {
    Clock& clock;
    uint64_t beginByUs;  // nothing received by then (clock time): no reply
    uint64_t quietUs;    // a begun reply has ended after this long without a byte
    // Judges the bytes so far for the caller (`context` is its own): 0 the answer
    // is not among them yet, > 0 it is, < 0 the first -result bytes are no part of
    // it (a late reply to an earlier request) and are dropped.
    int (*judge)(const uint8_t* bytes, int count, void* context);
    void* context;
    // Line time of the longest reply the read takes, for kinds that hand a reply
    // over only once the interface has received all of it.
    uint64_t longestReplyUs;
    // When nothing has begun by `beginByUs`, the read listens on until this moment
    // for a reply that comes late (0: it does not). A reply that comes then is
    // still the answer: nothing else has been asked meanwhile.
    uint64_t listenUntilUs = 0;
    // Bytes read before this moment cannot be the reply, which the request still on
    // the line has not let begin: a late reply to an earlier request, or noise.
    // They are set aside into `stale` (room for `staleCapacity`), `staleCount`
    // counting them, for the caller to judge.
    uint64_t freshFromUs = 0;
    uint8_t* stale = nullptr;
    int staleCapacity = 0;
    int* staleCount = nullptr;
};

class LineDriver {
public:
    explicit LineDriver(InterfacePort& port) : port_(port) {}
    virtual ~LineDriver() = default;
    LineDriver(const LineDriver&) = delete;
    LineDriver& operator=(const LineDriver&) = delete;

    // The port's seven operations, for this kind (results as the port gives them).
    virtual int open() = 0;
    virtual void close() = 0;
    virtual int write(const uint8_t* bytes, int count) = 0;
    virtual int read(uint8_t* buffer, int count) = 0;
    virtual void lineBreak() = 0;
    virtual void purge() = 0;

    // One DMX frame (start code and slots): a break and the bytes, unless the kind
    // frames packets itself. Returns the write result.
    virtual int sendDmxFrame(const uint8_t* frame, int length);
    // One RDM request: purge, break, the packet; `expect` says what answer the
    // request waits for. Returns the write result.
    virtual int sendRdmPacket(const uint8_t* packet, int count, ReplyKind expect);
    // Up to `count` reply bytes as the line carried them: an ordinary reply with
    // its break's 0x00 or whatever noise came first (one byte more than `count`
    // may come then), a discovery reply from its preamble. Returns the count or -1.
    virtual int readReply(uint8_t* buffer, int count, ReplyKind kind);

    // The same reply, returned as soon as it is whole (see ReplyWait).
    virtual int readReplyWhole(uint8_t* buffer, int count, ReplyKind kind, const ReplyWait& wait);
    // The bytes received so far, without waiting; -1 on failure.
    virtual int readWaiting(uint8_t* buffer, int count) = 0;
    // How many received bytes wait unread, without taking them: bytes that came
    // after the last read gave up. 0 where the kind cannot tell, or frames replies
    // itself.
    virtual int countWaiting() { return 0; }
    // Returns once bytes may wait to be read, or after `us`.
    virtual void waitForInput(Clock& clock, uint64_t us);
    // The longest the interface may hold received bytes before the read sees them.
    virtual uint32_t latencyUs() const = 0;

    // A kind whose interface discovers its own line gives its table of devices
    // (asked to discover afresh first with `flush`): 1 whole, 0 partial or none,
    // with `note` saying why. -1: this kind leaves discovery to the controller.
    virtual int nodeTable(bool /*flush*/, std::vector<uint64_t>& /*uids*/, std::string& /*note*/) { return -1; }
    // Whether the interface discovers its line itself (nodeTable gives a table):
    // discovery messages (DISC_UNIQUE_BRANCH, DISC_MUTE, DISC_UN_MUTE) are then
    // its own, and never carried for the controller.
    virtual bool discoversItself() const { return false; }

    // The interface list of this kind, and what choosing one of its rows sets.
    virtual void list(std::vector<InterfaceEntry>& rows) = 0;
    virtual void choose(const InterfaceEntry& row) = 0;

protected:
    InterfacePort& port_;
};
