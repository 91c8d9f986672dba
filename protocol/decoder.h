// Incremental frame decoder: takes bytes as they arrive and yields the valid
// frames among them, skipping garbage and damaged frames.
#ifndef KESMARPROTO_DECODER_H
#define KESMARPROTO_DECODER_H

#include "frame.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kesmarproto {

class Decoder
{
public:
    // Appends received bytes; call next() until it returns false afterwards.
    void feed(const uint8_t *data, size_t size);

    // Takes the next valid frame out of the buffered bytes. Returns false when
    // no complete frame is buffered; bytes of an incomplete frame stay buffered.
    bool next(Frame &frame);

    // Like next(), but gives up on an incomplete frame instead of waiting for
    // the rest of it: its start byte is dropped and the hunt goes on, so a
    // truncated frame cannot swallow the complete frames buffered behind it.
    // A receiver drains the buffer this way after a silent gap on the line;
    // once it returns false nothing is buffered any more.
    bool flushNext(Frame &frame);

    size_t buffered() const { return buffer_.size() - start_; }

    // Counters for diagnostics.
    uint64_t skippedBytes() const { return skippedBytes_; }
    uint64_t badChecksums() const { return badChecksums_; }
    uint64_t badLengths() const { return badLengths_; }
    uint64_t framesDecoded() const { return framesDecoded_; }

private:
    bool take(Frame &frame, bool flushing);
    void skip(size_t count);
    void compact();

    std::vector<uint8_t> buffer_;
    size_t start_ = 0;
    uint64_t skippedBytes_ = 0;
    uint64_t badChecksums_ = 0;
    uint64_t badLengths_ = 0;
    uint64_t framesDecoded_ = 0;
};

} // namespace kesmarproto

#endif
