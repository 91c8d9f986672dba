// The frame encoder and decoder shared by the control library and the simulator.
#include "decoder.h"
#include "frame.h"

#include <QtTest>

#include <random>
#include <vector>

using namespace kesmarproto;

using Bytes = std::vector<uint8_t>;
Q_DECLARE_METATYPE(Bytes)

namespace {

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Frame sampleFrame(uint8_t sequence = 9)
{
    Frame f(0x31, cmd::StoreMemory, sequence);
    f.appendU8(3);
    f.appendI32(20500);
    f.appendI32(-1);
    f.appendI32(0x12345678);
    return f;
}

std::vector<Frame> decodeAll(Decoder &d, const Bytes &bytes, bool flush = false)
{
    d.feed(bytes.data(), bytes.size());
    std::vector<Frame> frames;
    Frame f;
    while (flush ? d.flushNext(f) : d.next(f))
        frames.push_back(f);
    return frames;
}

} // namespace

class TestFrameCodec : public QObject
{
    Q_OBJECT

private slots:
    void crcMatchesCheckValue();
    void encodesLayout();
    void roundTrips_data();
    void roundTrips();
    void payloadIsBounded();
    void readersStayInsidePayload();
    void positionHelpers();
    void resynchronises_data();
    void resynchronises();
    void everySingleBitErrorIsRejected();
    void truncatedFrameWaitsForRest();
    void flushGivesUpOnTruncatedFrame();
    void randomStreamsNeverYieldBrokenFrames();
};

void TestFrameCodec::crcMatchesCheckValue()
{
    // The standard check value of CRC-16/CCITT-FALSE.
    const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    QCOMPARE(crc16(text, sizeof text), uint16_t(0x29B1));
    QCOMPARE(crc16(text, 0), uint16_t(0xFFFF));
    // Incremental use gives the same result.
    QCOMPARE(crc16(text + 4, 5, crc16(text, 4)), uint16_t(0x29B1));
}

void TestFrameCodec::encodesLayout()
{
    Frame f(0x32, cmd::GetPosition, 0x07);
    f.appendU16(0x0102);
    const Bytes bytes = f.encode();
    QCOMPARE(bytes.size(), HeaderSize + 2 + CrcSize);
    const Bytes head{StartByte, 2, 0x32, cmd::GetPosition, 0x07, 0x01, 0x02};
    QVERIFY(std::equal(head.begin(), head.end(), bytes.begin()));
    const uint16_t crc = crc16(bytes.data() + 1, head.size() - 1);
    QCOMPARE(bytes[7], uint8_t(crc >> 8)); // big-endian
    QCOMPARE(bytes[8], uint8_t(crc & 0xff));
}

void TestFrameCodec::roundTrips_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<Bytes>("payload");
    QTest::newRow("empty payload") << 0xFF << int(cmd::Identify) << 1 << Bytes{};
    QTest::newRow("start bytes inside") << 0xA5 << 0xA5 << 0xA5 << Bytes{0xA5, 0xA5, 0x20, 0xA5};
    QTest::newRow("full payload") << 0 << int(cmd::Nak) << 255 << Bytes(MaxPayload, 0x5A);
    QTest::newRow("report") << 0x31 << int(cmd::PositionReport) << 0 << Bytes{0, 0, 0x50, 0x14, 1};
}

void TestFrameCodec::roundTrips()
{
    QFETCH(int, address);
    QFETCH(int, command);
    QFETCH(int, sequence);
    QFETCH(Bytes, payload);
    Frame f(static_cast<uint8_t>(address), static_cast<uint8_t>(command), static_cast<uint8_t>(sequence));
    QVERIFY(f.append(payload.data(), payload.size()));
    Decoder d;
    const auto frames = decodeAll(d, f.encode());
    QCOMPARE(frames.size(), size_t(1));
    QVERIFY(frames[0] == f);
    QCOMPARE(int(frames[0].address), address);
    QCOMPARE(Bytes(frames[0].payload(), frames[0].payload() + frames[0].size()), payload);
    QCOMPARE(d.buffered(), size_t(0));
    QCOMPARE(d.skippedBytes(), uint64_t(0));
}

void TestFrameCodec::payloadIsBounded()
{
    Frame f;
    const Bytes big(MaxPayload + 1, 1);
    QVERIFY(!f.append(big.data(), big.size()));
    QCOMPARE(f.size(), size_t(0));
    QVERIFY(f.append(big.data(), MaxPayload - 1));
    QVERIFY(!f.appendU16(1));
    QVERIFY(f.appendU8(1));
    QVERIFY(!f.appendU8(1));
    QCOMPARE(f.size(), MaxPayload);
}

void TestFrameCodec::readersStayInsidePayload()
{
    Frame f;
    f.appendI32(-2);
    int32_t i = 0;
    uint16_t u16 = 0;
    uint8_t u8 = 0;
    QVERIFY(f.readI32(0, i));
    QCOMPARE(i, -2);
    QVERIFY(!f.readI32(1, i));
    QVERIFY(f.readU16(2, u16));
    QCOMPARE(u16, uint16_t(0xFFFE));
    QVERIFY(!f.readU16(3, u16));
    QVERIFY(!f.readU16(size_t(-1), u16)); // no wrap-around on huge offsets
    QVERIFY(!f.readI32(size_t(-2), i));
    QVERIFY(!f.readU8(4, u8));
}

void TestFrameCodec::positionHelpers()
{
    Position p;
    p.x = 0;
    p.y = 20500;
    p.z = -32768;
    p.status = StatusMoving;
    const Frame f = makePositionFrame(0x33, cmd::PositionReport, 0, p);
    QCOMPARE(f.size(), len::Position);
    Position back;
    QVERIFY(readPosition(f, back));
    QCOMPARE(back.y, 20500);
    QCOMPARE(back.z, -32768);
    QCOMPARE(back.status, StatusMoving);
    Frame shorter(0x33, cmd::PositionReport, 0);
    shorter.append(f.payload(), f.size() - 1);
    QVERIFY(!readPosition(shorter, back));

    const Frame nak = makeNak(0x31, 4, cmd::ReadMemory, ErrorCode::EmptySlot);
    uint8_t rejected = 0, code = 0;
    QVERIFY(nak.readU8(0, rejected) && nak.readU8(1, code));
    QCOMPARE(rejected, cmd::ReadMemory);
    QCOMPARE(QString(errorText(code)), QString("nothing stored in this memory position"));
    QCOMPARE(QString(errorText(0x99)), QString("unknown error"));
}

void TestFrameCodec::resynchronises_data()
{
    const Bytes frame = sampleFrame().encode();
    Bytes damaged = frame;
    damaged[7] ^= 0x10;
    Bytes cut(frame.begin(), frame.begin() + 8);
    QTest::addColumn<Bytes>("before");
    QTest::newRow("plain garbage") << Bytes{0x00, 0x13, 0xFF, 0x7E};
    QTest::newRow("lone start byte") << Bytes{StartByte};
    QTest::newRow("start byte with impossible length") << Bytes{StartByte, 0xF0, 1, 2};
    QTest::newRow("start byte with plausible length") << Bytes{StartByte, 3, 0x31};
    QTest::newRow("damaged frame") << damaged;
    QTest::newRow("cut-short frame") << cut;
    QTest::newRow("many start bytes") << Bytes(50, StartByte);
}

void TestFrameCodec::resynchronises()
{
    QFETCH(Bytes, before);
    const Frame good = sampleFrame(42);
    // The good frame is followed by a second one, so even a garbage prefix
    // that claims more bytes than the first frame has is resolved.
    const Frame second(0x32, cmd::Select | ReplyFlag, 43);
    Decoder d;
    const auto frames = decodeAll(d, before + good.encode() + second.encode());
    QVERIFY(!frames.empty());
    QVERIFY(frames.back() == second);
    QVERIFY(frames.front() == good);
    QCOMPARE(frames.size(), size_t(2));
    QVERIFY(d.skippedBytes() > 0);
}

void TestFrameCodec::everySingleBitErrorIsRejected()
{
    const Bytes frame = sampleFrame().encode();
    for (size_t byte = 0; byte < frame.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes bad = frame;
            bad[byte] ^= uint8_t(1u << bit);
            Decoder d;
            const auto frames = decodeAll(d, bad, true);
            QVERIFY2(frames.empty(), qPrintable(QString("bit %1 of byte %2").arg(bit).arg(byte)));
        }
    }
}

void TestFrameCodec::truncatedFrameWaitsForRest()
{
    const Bytes frame = sampleFrame().encode();
    Decoder d;
    Frame f;
    for (size_t i = 0; i + 1 < frame.size(); ++i) {
        d.feed(&frame[i], 1);
        QVERIFY(!d.next(f));
    }
    QCOMPARE(d.buffered(), frame.size() - 1);
    d.feed(&frame.back(), 1);
    QVERIFY(d.next(f));
    QVERIFY(f == sampleFrame());
    QCOMPARE(d.skippedBytes(), uint64_t(0));
}

void TestFrameCodec::flushGivesUpOnTruncatedFrame()
{
    // A long frame cut short, then a short complete frame: waiting would make
    // the cut frame swallow the good one, flushing finds it.
    Frame longFrame(0x31, cmd::PositionReport, 0);
    const Bytes filler(MaxPayload, 0x11);
    longFrame.append(filler.data(), filler.size());
    const Bytes longBytes = longFrame.encode();
    const Frame shortFrame(0x31, cmd::Select | ReplyFlag, 5);
    const Bytes stream = Bytes(longBytes.begin(), longBytes.begin() + 10) + shortFrame.encode();

    Decoder waiting;
    QVERIFY(decodeAll(waiting, stream).empty());
    QCOMPARE(waiting.buffered(), stream.size());
    Frame f;
    QVERIFY(waiting.flushNext(f));
    QVERIFY(f == shortFrame);
    QVERIFY(!waiting.flushNext(f));
    QCOMPARE(waiting.buffered(), size_t(0));
}

void TestFrameCodec::randomStreamsNeverYieldBrokenFrames()
{
    // Random bytes mixed with valid frames: every valid frame comes out, in
    // order, and whatever else comes out is a well-formed frame.
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> garbageLength(0, 40);
    for (int round = 0; round < 200; ++round) {
        Bytes stream;
        std::vector<Frame> sent;
        for (int i = 0; i < 5; ++i) {
            for (int n = garbageLength(random); n > 0; --n)
                stream.push_back(uint8_t(byte(random)));
            Frame f(uint8_t(byte(random)), uint8_t(byte(random)), uint8_t(round));
            for (int n = byte(random) % 20; n > 0; --n)
                f.appendU8(uint8_t(byte(random)));
            sent.push_back(f);
            const Bytes encoded = f.encode();
            stream.insert(stream.end(), encoded.begin(), encoded.end());
        }
        Decoder d;
        // Feed in random pieces, as a serial line delivers them.
        std::vector<Frame> got;
        Frame f;
        for (size_t at = 0; at < stream.size();) {
            const size_t piece = std::min<size_t>(stream.size() - at, 1 + size_t(byte(random) % 16));
            d.feed(stream.data() + at, piece);
            at += piece;
            while (d.next(f))
                got.push_back(f);
        }
        while (d.flushNext(f))
            got.push_back(f);
        size_t matched = 0;
        for (const Frame &g : got) {
            QVERIFY(g.size() <= MaxPayload);
            if (matched < sent.size() && g == sent[matched])
                ++matched;
        }
        QCOMPARE(matched, sent.size());
    }
}

QTEST_APPLESS_MAIN(TestFrameCodec)
#include "tst_framecodec.moc"
