// libFuzzer target for the frame decoder: arbitrary bytes, delivered in
// arbitrary pieces, must never crash it, and whatever it yields must be a
// frame that encodes back to bytes it decodes the same way.
#include "decoder.h"
#include "frame.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace kesmarproto;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkFrame(const Frame &frame)
{
    check(frame.size() <= MaxPayload);
    const std::vector<uint8_t> bytes = frame.encode();
    check(bytes.size() == HeaderSize + frame.size() + CrcSize);
    Decoder again;
    again.feed(bytes.data(), bytes.size());
    Frame copy;
    check(again.next(copy));
    check(copy == frame);
    check(!again.next(copy));
    check(again.buffered() == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the piece size the line delivers the rest in.
    const size_t piece = 1 + data[0] % 41;
    ++data;
    --size;

    Decoder decoder;
    size_t fed = 0;
    size_t taken = 0;
    Frame frame;
    while (fed < size) {
        const size_t n = size - fed < piece ? size - fed : piece;
        decoder.feed(data + fed, n);
        fed += n;
        while (decoder.next(frame)) {
            checkFrame(frame);
            taken += HeaderSize + frame.size() + CrcSize;
        }
        // Nothing is buffered that was not fed, and every byte is either
        // buffered, skipped or part of a frame taken.
        check(decoder.buffered() <= fed);
        check(decoder.buffered() + decoder.skippedBytes() + taken == fed);
    }
    // A silent gap: give up on what is left.
    while (decoder.flushNext(frame)) {
        checkFrame(frame);
        taken += HeaderSize + frame.size() + CrcSize;
    }
    check(decoder.buffered() == 0);
    check(decoder.skippedBytes() + taken == size);
    return 0;
}
