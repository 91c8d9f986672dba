// The device link's cost on the GUI thread: one poll, one goto and opening the
// connection, through libkesmarctl.so against the simulator, next to the same
// bytes written and read over the pseudo-terminal with plain POSIX calls.
#ifndef BENCH_EXCHANGE_H
#define BENCH_EXCHANGE_H

#include <cstddef>
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
    Samples poll; // kesmarctl_recv + kesmarctl_get_position_ext (time 0)
    Samples go; // kesmarctl_store_mem_position_ext + kesmarctl_goto_mem_position_ext
    size_t pollBytes = 0; // request + answer bytes of one poll
    size_t gotoBytes = 0; // request + answer bytes of one goto
    int failures = 0; // calls that failed or answers that did not check out
};

// `rounds` alternating blocks of `iterations` library and raw exchanges each.
ExchangeResults measureExchanges(const std::string &port, int rounds, int iterations);

// kesmarctl_open until it returns plus the first get_position, against a raw
// open of the terminal, the identify exchange and one position exchange.
Samples measureOpen(const std::string &port, int runs, int &failures);

} // namespace bench

#endif // BENCH_EXCHANGE_H
