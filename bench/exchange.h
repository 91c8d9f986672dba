// The device link's cost on the GUI thread: opening the connection, one poll
// and one goto through libkesmarctl.so against the simulator, next to the same
// bytes written and read over the pseudo-terminal with plain POSIX calls.
#ifndef BENCH_EXCHANGE_H
#define BENCH_EXCHANGE_H

#include <string>
#include <vector>

namespace bench {

struct Samples
{
    std::vector<double> library; // µs
    std::vector<double> raw; // µs
};

struct ExchangeResults
{
    Samples open; // kesmarctl_open + first get_position vs raw open + identify + position
    Samples poll; // kesmarctl_recv + kesmarctl_get_position_ext (time 0)
    Samples go; // kesmarctl_store_mem_position_ext + kesmarctl_goto_mem_position_ext
    int failures = 0; // calls that failed or answers that did not check out
};

// `opens` alternating opens, then `rounds` alternating blocks of `iterations`
// library and raw exchanges each, on the terminal `port` of a simulator in PC
// mode (it sends no reports, so both sides read exactly the answers).
ExchangeResults measureExchanges(const std::string &port, int opens, int rounds, int iterations);

} // namespace bench

#endif // BENCH_EXCHANGE_H
