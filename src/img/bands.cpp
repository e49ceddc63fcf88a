// The row-band split: band counts by rule, starting a band on a worker or on
// the caller, and the bounded poll of a band's done flag.
#include "img/bands.h"

#include "sys/log.h"

static int img_bandtotal(const img_bandrule &rule, int idle, int rows)
{
    idle = idle > 0 ? idle : 0;
    int count = rule.count == img_bandsplusone ? idle + 1
              : rule.count == img_bandsidle    ? (idle > 1 ? idle : 1)
                                               : rule.fixed;
    if (rule.capheight && count > rows)
        count = rows;
    count = count < 1 ? 1 : count;
    return count > img_maxbands ? img_maxbands : count;
}

int img_bandsplit(const img_bandrule &rule, int idle, int row0, int row1, img_bandrange *ranges)
{
    int rows = row1 > row0 ? row1 - row0 : 0;
    int count = img_bandtotal(rule, idle, rows);
    int per = rule.floorrows ? rows / count : (rows + count - 1) / count;
    for (int i = 0; i < count; i++) {
        int first = row0 + i * per, end = first + per;
        if (rule.floorrows && i == count - 1)
            end = row0 + rows;
        ranges[i].row0 = first < row0 + rows ? first : row0 + rows;
        ranges[i].row1 = end < row0 + rows ? end : row0 + rows;
    }
    return count;
}

void img_bandstart(const char *name, job_function body, void *band, int i, int count)
{
    // Without workers a queued band would never run.
    if (i == count - 1 || sys_numthreads <= 0)
        body(band);
    else
        sys_threadjobrun(name, body, band);
}

int img_bandwait(int &done, int sleepms, double limit)
{
    std::atomic_ref<int> flag(done);
    double start = sys_seconds();
    while (!flag.load(std::memory_order_acquire)) {
        double waited = sys_seconds() - start;
        if (waited > limit) {
            sys_error("img_bandwait: band not done after %.1fs, giving up", waited);
            return 0;
        }
        SDL_Delay((Uint32)sleepms);
    }
    return 1;
}
