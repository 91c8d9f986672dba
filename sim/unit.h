// The simulated control unit: its devices, their motion and memory positions,
// and the answers and reports it sends, with the faults injected into them.
#ifndef KESMARSIM_UNIT_H
#define KESMARSIM_UNIT_H

#include "faults.h"

#include "decoder.h"
#include "frame.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

class Unit
{
public:
    using Clock = std::chrono::steady_clock;

    // The simulator's defaults: unit '0' with devices '1' to '3'. Reports
    // come faster than the control program's 50 ms extra polls, so each of
    // those finds a fresh one while a device moves.
    struct Config
    {
        uint8_t unitId = 0x30;
        std::vector<uint8_t> devices{0x31, 0x32, 0x33};
        double speed = 5000.0; // units per second on each axis
        int32_t range = 20500; // coordinates 0..range are accepted
        std::array<int32_t, 3> start{{10250, 10250, 10250}};
        int reportIntervalMs = 40;
        bool pcMode = false;
        uint32_t seed = 1;
        bool verbose = false;
    };

    Unit(const Config &config, Clock::time_point now);

    // Bytes received from the host.
    void receive(const uint8_t *data, size_t size, Clock::time_point now);
    // Advances the motion and sends what is due: reports and held answers.
    void tick(Clock::time_point now);
    // Takes the bytes due on the line by `now`.
    std::vector<uint8_t> takeOutput(Clock::time_point now);
    // When tick()/takeOutput() next have something to do.
    Clock::time_point nextWakeup(Clock::time_point now) const;
    // Forgets all output not sent yet (the terminal was replaced).
    void dropOutput();

    Faults &faults() { return faults_; }
    bool hangupRequested() const { return hangupRequested_; }
    void setPcMode(bool on) { pcMode_ = on; }
    void sendGarbage(size_t count, Clock::time_point now);
    // About `size` bytes of position reports of every device, for a flood.
    std::vector<uint8_t> floodReports(size_t size) const;
    bool startMove(uint8_t id, const std::array<int32_t, 3> &target);
    std::vector<std::string> status() const;
    // The gotos received since the last call, each as "goto ID X Y Z" with the
    // target the device set off to; front-panel moves are not among them.
    std::vector<std::string> takeGotos();

private:
    struct Device
    {
        uint8_t id = 0;
        std::array<double, 3> position{};
        std::array<int32_t, 3> target{};
        bool moving = false;
        std::array<std::optional<std::array<int32_t, 3>>, kesmarproto::MemorySlots> memory;
    };
    struct HeldAnswer
    { // a position query in PC mode waiting for the move to end
        uint8_t address;
        uint8_t sequence;
        Clock::time_point deadline;
    };
    struct Output
    {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
    };

    void handle(const kesmarproto::Frame &request, Clock::time_point now);
    void answer(const kesmarproto::Frame &reply, Clock::time_point now);
    void report(const Device &device, Clock::time_point now);
    void queue(std::vector<uint8_t> bytes, Clock::time_point due);
    Device *find(uint8_t id);
    kesmarproto::Position positionOf(const Device &device) const;
    bool inRange(int32_t value) const { return value >= 0 && value <= config_.range; }
    std::vector<uint8_t> randomBytes(size_t count);
    void log(const char *direction, const kesmarproto::Frame &frame) const;

    Config config_;
    Faults faults_;
    bool pcMode_;
    bool hangupRequested_ = false;
    std::vector<Device> devices_;
    std::vector<HeldAnswer> held_;
    std::vector<std::string> gotos_;
    std::deque<Output> output_;
    kesmarproto::Decoder decoder_;
    Clock::time_point lastReceive_;
    Clock::time_point lastTick_;
    Clock::time_point lastReport_;
    std::mt19937 random_;
};

#endif
