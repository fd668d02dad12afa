#pragma once
// A simulated DMX512/RDM line with its responders. Transports hand it the packets
// the controller sends; it records them, lets the responders answer and says when
// each reply's bytes reach the controller, on the clock it was given.
#include "link/clock.h"
#include "rdm/line_timing.h"
#include "rig/collision.h"
#include "rig/responder.h"

#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

namespace rig {

constexpr uint64_t kByteTimeUs = line_timing::kByteUs;  // one 8N2 slot at 250000 baud
constexpr uint64_t kTurnaroundUs = 200;     // every responder's pause before it answers, unpaced
constexpr uint64_t kWidgetTimeoutUs = 3000; // how long the widget listens for a reply

struct RecordedRequest {
    uint64_t timeUs = 0;
    std::vector<uint8_t> bytes;
    bool whole = false;  // length and checksum as a controller should send them
    Request decoded;
};

struct RecordedFrame {
    uint64_t timeUs = 0;
    uint8_t startCode = 0;
    int slotCount = 0;
    std::vector<uint8_t> levels;  // slot values after the start code
};

struct RecordedReply {
    uint64_t timeUs = 0;
    std::vector<uint8_t> bytes;
    bool collision = false;
};

// Bytes that the line puts in front of the controller, from `startUs` on, one byte
// time apart.
struct Transmission {
    uint64_t startUs = 0;
    std::vector<uint8_t> bytes;
    bool noise = false;  // a burst of line noise, not a reply
};

// Stray bytes a line picks up between messages: bursts of 1 to `maxBytes` bytes,
// one every `everyUs` on average (0: a quiet line).
struct LineNoise {
    uint32_t everyUs = 0;
    uint8_t maxBytes = 8;
    uint32_t seed = 1;
};

class VirtualLine {
public:
    explicit VirtualLine(Clock& clock) : clock_(clock) {}

    Clock& clock() { return clock_; }
    Responder& add(Uid uid, ResponderModel model);
    // A second device with the same UID, model and settings as `of`, as when two
    // fixtures were given one UID. Its discovery replies begin a byte apart from
    // the other's, so that the two always garble each other; replies to requests
    // addressed to the UID are alike and overlap cleanly.
    Responder& addTwin(const Responder& of);
    Responder* find(Uid uid);
    // Switches a device off or on while the line may be carrying requests.
    void setPowered(Responder& responder, bool on);
    // Devices whose power cycle (powerOffAtMs, powerOffForMs) says they are off
    // `elapsedMs` after the start, switched accordingly; calls `changed` for each
    // one that was switched.
    void applyPowerCycles(uint64_t elapsedMs, const std::function<void(const Responder&)>& changed);
    std::vector<std::unique_ptr<Responder>>& responders() { return responders_; }

    // Paced, the line carries packets one after another at their real length:
    // each after its break and mark-after-break, replies after their responder's
    // own turnaround. Unpaced (the default, for quick tests) a packet takes only
    // its bytes' time and every responder the same short turnaround.
    bool paced = false;
    // How the bits of replies that overlap combine (see Combine).
    Combine combine = Combine::And;
    // Bursts of noise between messages, which reach the controller's UART as
    // bytes of their own; a widget, which frames from the break, never passes them on.
    LineNoise noise;

    // One packet as the controller handed it over at `handedUs`; a transport that
    // makes its own break first says how long it takes (`leadUs`, unpaced only).
    // `breakFramed`: raw transports, where a responder's reply begins with the break
    // that the controller's UART receives as one 0x00 byte; discovery replies carry none.
    // `endUs`, when given, gets the moment the packet's last slot ends.
    std::vector<Transmission> transmit(const uint8_t* bytes, size_t count, uint64_t handedUs, bool breakFramed,
                                       uint64_t leadUs = 0, uint64_t* endUs = nullptr);

    // DMX frames received so far.
    uint64_t frameCount() const;
    // DMX frames dropped on a paced line: handed over while the line was still
    // carrying more than one frame before them, faster than 250000 baud carries.
    // A real line has no queue to hold them in.
    uint64_t framesDropped() const;
    // Records kept at most (0: all); the oldest go first. A long-running rig sets it.
    size_t recordLimit = 0;

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedFrame> frames() const;
    std::vector<RecordedReply> replies() const;
    void clearRecords();

    // Called for every request, reply and DMX frame, for the program's readable log.
    std::function<void(const RecordedRequest&)> onRequest;
    std::function<void(const RecordedReply&)> onReply;
    std::function<void(const RecordedFrame&)> onFrame;

private:
    // Noise bursts due by `untilUs` and not yet handed out, kept off the spans the
    // line is busy with (`busy`, pairs of start and end); none before `fromUs`,
    // when nobody listened.
    void addNoise(uint64_t fromUs, uint64_t untilUs, const std::vector<std::pair<uint64_t, uint64_t>>& busy,
                  std::vector<Transmission>& out);

    Clock& clock_;
    std::vector<std::unique_ptr<Responder>> responders_;
    mutable std::mutex mutex_;
    std::vector<RecordedRequest> requests_;
    std::vector<RecordedFrame> frames_;
    std::vector<RecordedReply> replies_;
    uint64_t frameCount_ = 0;
    uint64_t framesDropped_ = 0;
    uint64_t busyUntilUs_ = 0;  // when the line is free again (paced)
    uint64_t noiseNextUs_ = 0;  // when the next noise burst comes (0: not drawn yet)
    std::mt19937 noiseRandom_;
};

// Parses a request; false when it is not a whole, correctly summed RDM message.
bool DecodeRequest(const uint8_t* bytes, size_t count, Request& out);

} // namespace rig
