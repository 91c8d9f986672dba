#include "decoder.h"

#include <algorithm>

namespace kesmarproto {

void Decoder::feed(const uint8_t *data, size_t size)
{
    compact();
    buffer_.insert(buffer_.end(), data, data + size);
}

void Decoder::skip(size_t count)
{
    start_ += count;
    skippedBytes_ += count;
}

void Decoder::compact()
{
    if (start_ == 0)
        return;
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
}

bool Decoder::next(Frame &frame)
{
    return take(frame, false);
}

bool Decoder::flushNext(Frame &frame)
{
    return take(frame, true);
}

bool Decoder::take(Frame &frame, bool flushing)
{
    for (;;) {
        // Hunt for a start byte; everything before it is garbage.
        const auto begin = buffer_.begin() + static_cast<std::ptrdiff_t>(start_);
        const auto sof = std::find(begin, buffer_.end(), StartByte);
        skip(static_cast<size_t>(sof - begin));
        const size_t available = buffer_.size() - start_;
        if (available == 0)
            return false;
        if (available < 2) {
            if (!flushing)
                return false;
            skip(1);
            continue;
        }

        const uint8_t *p = buffer_.data() + start_;
        const size_t length = p[1];
        if (length > MaxPayload) {
            // Cannot be a frame: resume the hunt right after this start byte.
            ++badLengths_;
            skip(1);
            continue;
        }
        const size_t total = HeaderSize + length + CrcSize;
        if (available < total) {
            if (!flushing)
                return false;
            skip(1);
            continue;
        }

        const uint16_t expected = static_cast<uint16_t>((p[total - 2] << 8) | p[total - 1]);
        if (crc16(p + 1, total - 1 - CrcSize) != expected) {
            // A damaged frame, or a start byte inside garbage or inside a
            // payload: only this byte is dropped, as the real frame may begin
            // within the bytes that follow it.
            ++badChecksums_;
            skip(1);
            continue;
        }

        frame = Frame(p[2], p[3], p[4]);
        frame.append(p + HeaderSize, length);
        start_ += total;
        ++framesDecoded_;
        if (start_ == buffer_.size()) {
            buffer_.clear();
            start_ = 0;
        }
        return true;
    }
}

} // namespace kesmarproto
