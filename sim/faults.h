// Faults the simulator injects into its answers on request.
#ifndef KESMARSIM_FAULTS_H
#define KESMARSIM_FAULTS_H

struct Faults
{
    int drop = 0; // answers still to be left out
    int delayMs = 0; // delay of every answer
    int corrupt = 0; // answers still to be sent with one bit flipped
    int truncate = 0; // answers still to be cut short
    int noise = 0; // random bytes sent before every answer
    int wrongId = 0; // answers still to be sent from another device id
    bool quiet = false; // no answers and no reports at all
    bool hangupNext = false; // hang up instead of answering the next request
    bool flood = false; // send position reports as fast as the line takes them
};

#endif
