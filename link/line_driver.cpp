#include "link/line_driver.h"

#include "rdm/rdm_defs.h"

int LineDriver::sendDmxFrame(const uint8_t* frame, int length)
{
    lineBreak();
    return write(frame, length);
}

int LineDriver::sendRdmPacket(const uint8_t* packet, int count, uint8_t)
{
    purge();
    lineBreak();
    return write(packet, count);
}

int LineDriver::readReply(uint8_t* buffer, int count, ReplyKind kind)
{
    if (kind == ReplyKind::Ordinary && count > 0) {
        // The responder's break reaches the UART as one 0x00 ahead of the reply. An
        // adapter that does not report breaks hands over the start code at once, and
        // that byte belongs to the reply.
        uint8_t lead = 0;
        if (read(&lead, 1) == 1 && lead == rdm::kStartCode) {
            buffer[0] = lead;
            const int rest = read(buffer + 1, count - 1);
            return rest < 0 ? -1 : rest + 1;
        }
    }
    return read(buffer, count);
}
