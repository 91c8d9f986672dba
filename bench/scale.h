// Child processes of the driver that run the main window with many named positions.
#ifndef BENCH_SCALE_H
#define BENCH_SCALE_H

#include <string>

namespace bench {

// Builds a store of `n` positions in `work`/template, then `reps` times:
// constructs the window with it (and with no store), shows it, clicks Store
// and Remove `ops` times each, closes it (the save), and reads and writes the
// same store with raw QSettings calls. Prints one line of µs figures per
// measure ("construct 812.1 790.4 ...") and "checked yes|no".
int runScaleChild(int argc, char **argv, int n, int reps, int ops, const std::string &work);

// Loads a copy of the store in `templateDir` once, by constructing the window
// (`kind` "window") or by a raw QSettings read ("raw"). Run under callgrind.
int runLoadChild(int argc, char **argv, const std::string &kind, const std::string &templateDir,
                 const std::string &work);

} // namespace bench

#endif // BENCH_SCALE_H
