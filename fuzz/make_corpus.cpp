// Writes the fuzz target's seed corpus: valid frames of every command, and
// damaged ones (bad CRC, cut short, impossible length, garbage around them).
// Each file starts with the piece-size byte the fuzz target reads first.
#include "frame.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace kesmarproto;
using Bytes = std::vector<uint8_t>;

namespace {

bool write(const std::string &dir, const std::string &name, uint8_t piece, const Bytes &bytes)
{
    const std::string path = dir + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::fputc(piece, f);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

Bytes join(const std::vector<Bytes> &parts)
{
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus DIR\n");
        return 2;
    }
    const std::string dir = argv[1];

    Frame identify(UnitAddress, cmd::Identify, 1);
    Frame identifyReply(UnitAddress, cmd::Identify | ReplyFlag, 1);
    for (uint8_t b : {uint8_t('0'), ProtocolVersion, uint8_t(0), uint8_t(4)})
        identifyReply.appendU8(b);
    Frame query('1', cmd::GetPosition, 2);
    query.appendU16(50);
    Position p;
    p.x = 20500;
    p.y = 0;
    p.z = 10250;
    p.status = StatusMoving;
    const Frame answer = makePositionFrame('1', cmd::GetPosition | ReplyFlag, 2, p);
    const Frame report = makePositionFrame('2', cmd::PositionReport, UnsolicitedSequence, p);
    Frame store('1', cmd::StoreMemory, 3);
    store.appendU8(0);
    store.appendI32(1);
    store.appendI32(2);
    store.appendI32(3);
    const Frame nak = makeNak('9', 4, cmd::Select, ErrorCode::NoSuchDevice);
    Frame full(0xA5, 0xA5, 0xA5);
    for (size_t i = 0; i < MaxPayload; ++i)
        full.appendU8(StartByte);

    Bytes badCrc = answer.encode();
    badCrc.back() ^= 0x01;
    const Bytes cut(answer.encode().begin(), answer.encode().begin() + 9);
    const Bytes badLength{StartByte, 0xFF, 0x31, 0x03, 0x01};

    bool ok = true;
    ok &= write(dir, "identify", 40, identify.encode());
    ok &= write(dir, "identify-reply", 40, identifyReply.encode());
    ok &= write(dir, "query", 3, query.encode());
    ok &= write(dir, "position-answer", 40, answer.encode());
    ok &= write(dir, "report", 1, report.encode());
    ok &= write(dir, "store", 40, store.encode());
    ok &= write(dir, "nak", 40, nak.encode());
    ok &= write(dir, "full-of-start-bytes", 7, full.encode());
    ok &= write(dir, "bad-crc-then-good", 40, join({badCrc, report.encode()}));
    ok &= write(dir, "cut-then-good", 5, join({cut, nak.encode()}));
    ok &= write(dir, "bad-length-then-good", 40, join({badLength, query.encode()}));
    ok &= write(dir, "garbage-around", 11,
                join({Bytes{0x00, 0xA5, 0x13, 0xFF}, identifyReply.encode(), Bytes{0xA5, 0x02}}));
    ok &= write(dir, "stream", 16, join({report.encode(), answer.encode(), report.encode(), nak.encode()}));
    if (!ok)
        std::perror("make_corpus");
    return ok ? 0 : 1;
}
