// The main window with many named positions, in the driver's own process
// (offscreen): loading, Store, Remove and saving; loading and saving next to
// raw QSettings reads and writes of the same store.
#ifndef BENCH_SCALE_H
#define BENCH_SCALE_H

#include <QString>

#include <map>
#include <string>
#include <vector>

namespace bench {

// µs samples per measure: "load", "raw_read", "save", "raw_write", and for the
// clicks "store", "store_unnamed", "undo", "redo", "remove" (the GUI thread's
// time), and "store_saved" (from a Store click until its save, written off the
// GUI thread, has ended); "checked" holds 1 when every run left the window
// and the store with the counts expected, else 0.
using Figures = std::map<std::string, std::vector<double>>;

// `reps` runs with a store of `n` positions under the folder `work`; Store
// (named and unnamed), Undo and Redo are clicked `ops` times each per run,
// Remove twice as often.
Figures measureScale(int n, int reps, int ops, const QString &work);

} // namespace bench

#endif // BENCH_SCALE_H
