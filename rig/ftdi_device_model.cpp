#include "rig/ftdi_device_model.h"

#include "link/widget_message.h"

namespace rig {

void FtdiDeviceModel::reset()
{
    rx_.clear();
    pending_.clear();
    breakSeen_ = false;
}

void FtdiDeviceModel::purgeReceive() { rx_.purge(line_->clock().nowUs()); }

void FtdiDeviceModel::write(const uint8_t* bytes, size_t count)
{
    if (mode_ == FtdiMode::Raw) {
        const uint64_t handed = line_->clock().nowUs();
        const bool framed = breakSeen_;
        breakSeen_ = false;
        // A packet without a break in front is not one a responder listens to.
        if (framed)
            for (const Transmission& t : line_->transmit(bytes, count, handed, breaksReported))
                rx_.add(t);
        return;
    }
    pending_.insert(pending_.end(), bytes, bytes + count);
    for (;;) {
        widget::Message m;
        size_t consumed = 0;
        const widget::ParseResult r = widget::parse(pending_.data(), pending_.size(), m, consumed);
        std::vector<uint8_t> data;
        if (r == widget::ParseResult::Complete)
            data.assign(m.data, m.data + m.length);  // copied: the bytes go from the buffer below
        const uint8_t label = m.label;
        pending_.erase(pending_.begin(), pending_.begin() + long(consumed));
        if (r == widget::ParseResult::Incomplete)
            return;
        if (r == widget::ParseResult::Complete)
            widgetMessage(label, data);
    }
}

void FtdiDeviceModel::widgetMessage(uint8_t label, const std::vector<uint8_t>& data)
{
    if (widgetLog)
        widgetLog->emplace_back(label, data);
    if (data.empty())
        return;
    // The widget puts the packet on the line itself, with its own break.
    constexpr uint64_t kWidgetBreakUs = 200;
    const uint64_t handed = line_->clock().nowUs();
    if (label == widget::kLabelSendDmx) {
        line_->transmit(data.data(), data.size(), handed, false, kWidgetBreakUs);
        return;
    }
    if (label != widget::kLabelSendRdm && label != widget::kLabelSendRdmDiscovery)
        return;
    uint64_t end = 0;
    std::vector<Transmission> replies =
        line_->transmit(data.data(), data.size(), handed, false, kWidgetBreakUs, &end);
    // Only a reply that starts while the widget listens is passed on.
    const Transmission* heard = nullptr;
    for (const Transmission& t : replies)
        if (!t.noise && t.startUs <= end + listenUs)
            heard = &t;
    std::vector<uint8_t> message;
    uint64_t at = end + listenUs;
    if (heard) {
        std::vector<uint8_t> payload{0};  // status: received correctly
        payload.insert(payload.end(), heard->bytes.begin(), heard->bytes.end());
        message.resize(payload.size() + widget::kOverhead);
        widget::build(widget::kLabelReceivedPacket, payload.data(), payload.size(), message.data());
        at = heard->startUs + heard->bytes.size() * kByteTimeUs;
    } else if (!reportsBroadcastTimeout && label == widget::kLabelSendRdm && data.size() >= 9 &&
               ReadUid(data.data() + 3) == kBroadcastUid) {
        return;
    } else {
        message.resize(widget::kOverhead);
        widget::build(widget::kLabelRdmTimeout, nullptr, 0, message.data());
    }
    // The widget's USB message arrives in one piece once it is complete.
    rx_.add({at + 1000, message}, 0);
}

} // namespace rig
