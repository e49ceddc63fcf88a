// The row-band split that spreads one scalar-field operation over the
// workers: the output rows are cut into bands, all but the last are queued as
// named jobs, the caller computes the last and then polls the done flags.
// Operations differ only in how many bands they cut; img_bandrule says which.
#pragma once
#include "sys/thread.h"

#include <atomic>
#include <cstdio>

constexpr int img_maxbands = sys_maxthreads + 1; // every worker plus the caller

enum img_bandcount {
    img_bandsplusone, // one band per idle worker plus the caller's own
    img_bandsidle,    // one band per idle worker, at least 1; the caller takes the last
    img_bandsfixed,   // img_bandrule::fixed bands whatever the workers do
};

struct img_bandrule {
    img_bandcount count;
    int fixed;      // the band count of img_bandsfixed
    bool capheight; // never more bands than rows
    bool floorrows; // floor(rows / bands) rows each, the last band takes the rest;
                    // otherwise ceil(rows / bands), bands clipped at the end
    int sleepms;    // pause between polls of the done flags: 0 or 1
};

// The split of the resampling and conversion operations.
constexpr img_bandrule img_bandsresample = {img_bandsplusone, 0, false, false, 1};

struct img_bandrange {
    int row0, row1; // rows [row0, row1)
};

// Cuts rows [row0, row1) into bands by rule, given the idle workers (read
// once by the caller); returns the band count, 1 to img_maxbands. Bands past
// the last row are empty.
int img_bandsplit(const img_bandrule &rule, int idle, int row0, int row1, img_bandrange *ranges);

// The done flag of a band: set by whoever computed the band as its last
// step, read by the waiting caller.
inline void img_banddone(int &done)
{
    std::atomic_ref<int>(done).store(1, std::memory_order_release);
}

// Queues band i of count (or runs it here: the caller's last band, or every
// band when no worker runs, or a band the queue refuses).
void img_bandstart(const char *name, job_function body, void *band, int i, int count);

// Seconds a caller waits for one band. No band of any operation takes near
// this long, so a band past it is stuck (a deadlocked or lost job), and the
// caller reports it and goes on rather than hang the program with it.
constexpr double img_bandlimit = 600.0;

// Polls the done flag, sleeping sleepms between polls, for at most limit
// seconds. 1 when the band is done; 0 when it was given up (reported).
int img_bandwait(int &done, int sleepms, double limit = img_bandlimit);

// Runs count bands whose records carry row0, row1 and done: empty bands are
// marked done at once, the others started; then waits for every band. Job
// names come from nameformat with the band index, first and end row. 1 when
// every band finished, 0 when one was given up.
template <class Band>
int img_runbands(const img_bandrule &rule, const char *nameformat, job_function body, Band *bands, int count)
{
    for (int i = 0; i < count; i++) {
        Band &b = bands[i];
        if (b.row0 >= b.row1) {
            img_banddone(b.done);
            continue;
        }
        char name[64];
        snprintf(name, sizeof(name), nameformat, i, b.row0, b.row1);
        img_bandstart(name, body, &b, i, count);
    }
    int finished = 1;
    for (int i = 0; i < count; i++)
        finished &= img_bandwait(bands[i].done, rule.sleepms);
    return finished;
}

// Splits rows [row0, row1) by rule over the idle workers, fills one record
// per band with fill(range) and runs them; returns when every band is done
// (1), or when one was given up (0). The records live in this frame, which
// outlives every band that finishes.
template <class Band, class Fill>
int img_bands(const img_bandrule &rule, int row0, int row1, const char *nameformat, job_function body, Fill fill)
{
    img_bandrange ranges[img_maxbands];
    int count = img_bandsplit(rule, sys_idleworkers(), row0, row1, ranges);
    Band bands[img_maxbands];
    for (int i = 0; i < count; i++) {
        bands[i] = fill(ranges[i]);
        bands[i].row0 = ranges[i].row0;
        bands[i].row1 = ranges[i].row1;
        bands[i].done = 0;
    }
    return img_runbands(rule, nameformat, body, bands, count);
}
