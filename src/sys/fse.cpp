// The FSE coder: histogram, normalised counts, the count header, the symbol
// spread shared by both directions, and the two-state coder whose bit
// stream is written forwards and read back from its end. Everything works
// on the caller's buffers and the stack; tables never exceed 4096 cells.
//
// Contents: counting and normalising, the count header, tables, encoding,
// decoding.
#include "sys/fse.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

constexpr unsigned fse_symbols = 256;
constexpr size_t fse_err(fse_errorcode e)
{
    return (size_t)0 - (size_t)e;
}

unsigned fse_highbit(uint32_t v)
{
    return 31u - (unsigned)__builtin_clz(v);
}

// Little-endian 64-bit words, as the stream stores them on any host.
uint64_t fse_load64(const uint8_t *p)
{
    uint64_t v;
    if constexpr (std::endian::native == std::endian::little) {
        memcpy(&v, p, 8);
    } else {
        v = 0;
        for (int i = 7; i >= 0; i--)
            v = (v << 8) | p[i];
    }
    return v;
}

void fse_store64(uint8_t *p, uint64_t v)
{
    if constexpr (std::endian::native == std::endian::little) {
        memcpy(p, &v, 8);
    } else {
        for (int i = 0; i < 8; i++)
            p[i] = (uint8_t)(v >> (8 * i));
    }
}

// ---------------------------------------------------------------- counting and normalising

// The table log for n bytes of maxsym + 1 possible values: the default,
// lowered for small inputs, but large enough to give every value a cell.
unsigned fse_tablelog(size_t n, unsigned maxsym)
{
    int srcbits = 63 - __builtin_clzll((unsigned long long)(n - 1));
    int minlog = std::min(srcbits + 1, (int)fse_highbit(maxsym | 1) + 2);
    int log = std::min((int)fse_defaulttablelog, srcbits - 2);
    log = std::max(log, minlog);
    return (unsigned)std::clamp(log, (int)fse_mintablelog, (int)fse_maxtablelog);
}

// Shares of a table of 1 << log cells, every present value at least one.
// The rounded shares are corrected one cell at a time where a cell costs
// (or saves) the fewest coded bits, so the sum is exact.
void fse_normalise(int16_t *norm, const uint32_t *count, unsigned maxsym, size_t n, unsigned log)
{
    const int32_t cells = 1 << log;
    int32_t sum = 0;
    for (unsigned s = 0; s <= maxsym; s++) {
        if (!count[s]) {
            norm[s] = 0;
            continue;
        }
        double ideal = (double)count[s] * cells / (double)n;
        int32_t q = (int32_t)(ideal + 0.5);
        norm[s] = (int16_t)(q < 1 ? 1 : q);
        sum += norm[s];
    }
    while (sum != cells) {
        int best = -1;
        double bestcost = 0.0;
        for (unsigned s = 0; s <= maxsym; s++) {
            if (!count[s] || (sum > cells && norm[s] <= 1))
                continue;
            // Bits added by taking a cell away, or saved by adding one.
            double cost = sum > cells ? count[s] * std::log2((double)norm[s] / (norm[s] - 1))
                                      : -(count[s] * std::log2((double)(norm[s] + 1) / norm[s]));
            if (best < 0 || cost < bestcost) {
                best = (int)s;
                bestcost = cost;
            }
        }
        norm[best] = (int16_t)(norm[best] + (sum > cells ? -1 : 1));
        sum += sum > cells ? -1 : 1;
    }
}

// ---------------------------------------------------------------- the count header

// Forward bit writer of the header, least significant bit first.
struct fse_headerwriter {
    uint8_t *out;
    size_t cap;
    size_t bytes = 0;
    uint64_t bits = 0;
    unsigned count = 0;
    bool overflow = false;

    void put(uint32_t value, unsigned nb)
    {
        bits |= (uint64_t)value << count;
        count += nb;
        while (count >= 8) {
            if (bytes >= cap)
                overflow = true;
            else
                out[bytes] = (uint8_t)bits;
            bytes++;
            bits >>= 8;
            count -= 8;
        }
    }
    size_t finish()
    {
        if (count)
            put(0, 8 - count);
        return overflow ? 0 : bytes;
    }
};

// Accuracy log - 5 in four bits; then each value's share + 1 in a width
// that shrinks with the cells left; after a zero share, runs of further
// zero shares in two-bit repeat codes. Header bytes, or 0 when dst is full.
size_t fse_writeheader(uint8_t *dst, size_t cap, const int16_t *norm, unsigned maxsym, unsigned log)
{
    fse_headerwriter w{dst, cap};
    w.put(log - fse_mintablelog, 4);
    int32_t remaining = (1 << log) + 1;
    int32_t threshold = 1 << log;
    unsigned nb = log + 1;
    unsigned s = 0;
    bool afterzero = false;
    while (s <= maxsym && remaining > 1) {
        if (afterzero) {
            unsigned start = s;
            while (s <= maxsym && norm[s] == 0)
                s++;
            unsigned run = s - start;
            for (; run >= 3; run -= 3)
                w.put(3, 2);
            w.put(run, 2);
        }
        int32_t value = norm[s++] + 1;
        int32_t max = (2 * threshold - 1) - remaining;
        remaining -= value - 1 < 0 ? 1 : value - 1;
        if (value < max)
            w.put((uint32_t)value, nb - 1);
        else
            w.put((uint32_t)(value >= threshold ? value + max : value), nb);
        afterzero = value == 1;
        while (remaining < threshold) {
            nb--;
            threshold >>= 1;
        }
    }
    return w.finish();
}

// Reads a header into norm; its size in bytes, or an error code.
size_t fse_readheader(int16_t *norm, unsigned *maxsym, unsigned *log, const uint8_t *src, size_t size)
{
    if (size < 1)
        return fse_err(fse_errsrcsize);
    size_t bitpos = 0;
    const size_t bitend = size * 8;
    bool overrun = false;
    auto peek = [&](unsigned nb) {
        uint32_t v = 0;
        for (unsigned i = 0; i < nb; i++) {
            size_t at = bitpos + i;
            if (at >= bitend) {
                overrun = true;
                break;
            }
            v |= (uint32_t)((src[at >> 3] >> (at & 7)) & 1) << i;
        }
        return v;
    };
    unsigned al = peek(4) + fse_mintablelog;
    bitpos = 4;
    if (al > fse_maxtablelog)
        return fse_err(fse_errtablelog);
    int32_t remaining = (1 << al) + 1;
    int32_t threshold = 1 << al;
    unsigned nb = al + 1;
    unsigned s = 0;
    bool afterzero = false;
    memset(norm, 0, fse_symbols * sizeof(int16_t));
    while (remaining > 1) {
        if (afterzero) {
            for (;;) {
                uint32_t r = peek(2);
                bitpos += 2;
                s += r;
                if (r != 3 || s >= fse_symbols || overrun)
                    break;
            }
        }
        if (s >= fse_symbols || overrun)
            return fse_err(fse_errcorrupt);
        int32_t max = (2 * threshold - 1) - remaining;
        int32_t value = (int32_t)peek(nb - 1);
        if (value < max) {
            bitpos += nb - 1;
        } else {
            value = (int32_t)peek(nb);
            if (value >= threshold)
                value -= max;
            bitpos += nb;
        }
        if (overrun)
            return fse_err(fse_errcorrupt);
        int32_t proba = value - 1;
        remaining -= proba < 0 ? -proba : proba;
        if (remaining < 1)
            return fse_err(fse_errcorrupt);
        norm[s++] = (int16_t)proba;
        afterzero = proba == 0;
        while (remaining < threshold) {
            nb--;
            threshold >>= 1;
        }
    }
    if (remaining != 1 || bitpos > bitend)
        return fse_err(fse_errcorrupt);
    *maxsym = s - 1;
    *log = al;
    return (bitpos + 7) / 8;
}

// ---------------------------------------------------------------- tables

// Places each value in its share of the cells: values of share -1 take the
// last cells, the rest are scattered with a fixed odd step so both sides
// build the same table. 0 when the shares do not fill the table exactly.
int fse_spread(uint8_t *cells, const int16_t *norm, unsigned maxsym, unsigned log)
{
    const uint32_t size = 1u << log, mask = size - 1;
    uint32_t high = size - 1;
    int64_t total = 0;
    for (unsigned s = 0; s <= maxsym; s++) {
        if (norm[s] == -1) {
            cells[high--] = (uint8_t)s;
            total++;
        } else if (norm[s] > 0) {
            total += norm[s];
        }
    }
    if (total != size)
        return 0;
    const uint32_t step = (size >> 1) + (size >> 3) + 3;
    uint32_t pos = 0;
    for (unsigned s = 0; s <= maxsym; s++) {
        for (int i = 0; i < norm[s]; i++) {
            cells[pos] = (uint8_t)s;
            do
                pos = (pos + step) & mask;
            while (pos > high);
        }
    }
    return pos == 0;
}

struct fse_symbolcode {
    int32_t findstate; // start of the value's states in the state table, minus its share
    uint32_t deltabits; // (bits << 16) - (share << bits): the state's bit count in the top half
};

struct fse_encoder {
    unsigned log;
    uint16_t states[1 << fse_maxtablelog];
    fse_symbolcode codes[fse_symbols];
    uint32_t first[fse_symbols]; // state of each value's first cell
};

int fse_buildencoder(fse_encoder &e, const int16_t *norm, unsigned maxsym, unsigned log)
{
    uint8_t cells[1 << fse_maxtablelog];
    if (!fse_spread(cells, norm, maxsym, log))
        return 0;
    const uint32_t size = 1u << log;
    e.log = log;
    uint32_t cumul[fse_symbols + 1];
    cumul[0] = 0;
    for (unsigned s = 0; s < fse_symbols; s++)
        cumul[s + 1] = cumul[s] + (s > maxsym ? 0 : norm[s] == -1 ? 1 : (uint32_t)std::max<int16_t>(norm[s], 0));
    uint32_t next[fse_symbols];
    memcpy(next, cumul, sizeof(next));
    for (uint32_t u = 0; u < size; u++)
        e.states[next[cells[u]]++] = (uint16_t)(size + u);
    for (unsigned s = 0; s <= maxsym; s++) {
        int32_t n = norm[s];
        e.first[s] = e.states[cumul[s]];
        if (n == -1 || n == 1) {
            e.codes[s] = {(int32_t)cumul[s] - 1, (log << 16) - size};
        } else if (n > 1) {
            uint32_t maxbits = log - fse_highbit((uint32_t)n - 1);
            e.codes[s] = {(int32_t)cumul[s] - n, (maxbits << 16) - ((uint32_t)n << maxbits)};
        }
    }
    return 1;
}

// ---------------------------------------------------------------- encoding

// Forward bit writer of the stream; whole bytes leave at each flush.
struct fse_bitwriter {
    uint8_t *start, *op, *end;
    uint64_t bits = 0;
    unsigned count = 0;
    bool overflow = false;

    void put(uint32_t value, unsigned nb)
    {
        bits |= (uint64_t)(value & ((1u << nb) - 1)) << count;
        count += nb;
    }
    void flush()
    {
        unsigned whole = count >> 3;
        if (end - op >= 8) {
            fse_store64(op, bits);
        } else {
            if ((size_t)(end - op) < whole) {
                overflow = true;
                whole = (unsigned)(end - op);
            }
            for (unsigned i = 0; i < whole; i++)
                op[i] = (uint8_t)(bits >> (8 * i));
        }
        op += whole;
        bits = whole >= 8 ? 0 : bits >> (8 * whole);
        count &= 7;
    }
};

inline void fse_encode(fse_bitwriter &w, const fse_encoder &e, uint32_t &state, uint8_t s)
{
    const fse_symbolcode &c = e.codes[s];
    unsigned nb = (state + c.deltabits) >> 16;
    w.put(state, nb);
    state = e.states[(state >> nb) + c.findstate];
}

// The stream of src: the last two bytes set the two states, the rest are
// coded from the end backwards in pairs, and the states close the stream
// so that the decoder reads them first. Stream bytes, or 0 when dst is too
// small.
size_t fse_encodestream(uint8_t *dst, size_t cap, const uint8_t *src, size_t n, const fse_encoder &e)
{
    fse_bitwriter w{dst, dst, dst + cap};
    const uint8_t *ip = src + n;
    uint32_t s1, s2;
    if (n & 1) {
        s1 = e.first[*--ip];
        s2 = e.first[*--ip];
        fse_encode(w, e, s1, *--ip);
        w.flush();
    } else {
        s2 = e.first[*--ip];
        s1 = e.first[*--ip];
    }
    // Four values of at most 12 bits fit beside the 7 bits a flush leaves.
    while (ip > src) {
        fse_encode(w, e, s2, *--ip);
        fse_encode(w, e, s1, *--ip);
        if (ip > src) {
            fse_encode(w, e, s2, *--ip);
            fse_encode(w, e, s1, *--ip);
        }
        w.flush();
        if (w.overflow)
            return 0;
    }
    w.put(s2, e.log);
    w.put(s1, e.log);
    w.put(1, 1); // the end mark the decoder finds first
    w.flush();
    if (w.count)
        w.put(0, 8 - w.count), w.flush();
    return w.overflow ? 0 : (size_t)(w.op - w.start);
}

// ---------------------------------------------------------------- decoding

struct fse_cell {
    uint16_t base; // next state before the bits read
    uint8_t symbol;
    uint8_t bits;
};

int fse_builddecoder(fse_cell *table, const int16_t *norm, unsigned maxsym, unsigned log)
{
    uint8_t cells[1 << fse_maxtablelog];
    if (!fse_spread(cells, norm, maxsym, log))
        return 0;
    const uint32_t size = 1u << log;
    uint32_t next[fse_symbols];
    for (unsigned s = 0; s <= maxsym; s++)
        next[s] = norm[s] == -1 ? 1 : (uint32_t)std::max<int16_t>(norm[s], 0);
    for (uint32_t u = 0; u < size; u++) {
        uint8_t s = cells[u];
        uint32_t x = next[s]++;
        unsigned nb = log - fse_highbit(x);
        table[u] = {(uint16_t)((x << nb) - size), s, (uint8_t)nb};
    }
    return 1;
}

// Backward bit reader: pos counts the bits still unread below the end mark;
// a read below bit 0 marks the stream as overrun.
struct fse_bitreader {
    const uint8_t *src;
    size_t size;
    int64_t pos;

    uint32_t take(unsigned nb)
    {
        pos -= nb;
        if (pos < 0)
            return 0;
        size_t byte = (size_t)pos >> 3;
        uint64_t window;
        if (byte + 8 <= size) {
            window = fse_load64(src + byte);
        } else {
            window = 0;
            for (size_t i = byte; i < size; i++)
                window |= (uint64_t)src[i] << (8 * (i - byte));
        }
        return (uint32_t)((window >> (pos & 7)) & ((1u << nb) - 1));
    }
};

inline uint8_t fse_decode(fse_bitreader &r, const fse_cell *table, uint32_t &state)
{
    const fse_cell c = table[state];
    state = c.base + r.take(c.bits);
    return c.symbol;
}

size_t fse_decodestream(uint8_t *dst, size_t cap, const uint8_t *src, size_t size, const fse_cell *table,
                        unsigned log)
{
    if (size < 1 || src[size - 1] == 0)
        return fse_err(fse_errcorrupt);
    fse_bitreader r{src, size, (int64_t)(size - 1) * 8 + fse_highbit(src[size - 1])};
    uint32_t s1 = r.take(log);
    uint32_t s2 = r.take(log);
    if (r.pos < 0)
        return fse_err(fse_errcorrupt);
    size_t op = 0;
    // Four updates at a time from one 64-bit window: the window ends at most
    // 7 bits above pos and holds 56 bits below it, enough for four updates
    // of at most 12 bits, so neither the start nor the window's end is
    // passed and no end test is due.
    while (r.pos >= 64 && op + 4 <= cap) {
        int64_t w = ((r.pos + 8) >> 3) - 8;
        uint64_t window = fse_load64(src + w);
        unsigned off = (unsigned)(r.pos - w * 8); // bits of the window below pos
        for (int k = 0; k < 2; k++) {
            fse_cell c = table[s1];
            off -= c.bits;
            s1 = c.base + (uint32_t)((window >> off) & ((1u << c.bits) - 1));
            dst[op++] = c.symbol;
            c = table[s2];
            off -= c.bits;
            s2 = c.base + (uint32_t)((window >> off) & ((1u << c.bits) - 1));
            dst[op++] = c.symbol;
        }
        r.pos = w * 8 + off;
    }
    // While two full updates cannot run past the start, no end test is due.
    while (r.pos >= 2 * (int64_t)log && op + 4 <= cap) {
        dst[op++] = fse_decode(r, table, s1);
        dst[op++] = fse_decode(r, table, s2);
    }
    // The stream ends where an update runs past its start: the other state
    // still holds the last value.
    for (;;) {
        if (cap - op < 2)
            return fse_err(fse_errdstsize);
        dst[op++] = fse_decode(r, table, s1);
        if (r.pos < 0) {
            dst[op++] = table[s2].symbol;
            break;
        }
        if (cap - op < 2)
            return fse_err(fse_errdstsize);
        dst[op++] = fse_decode(r, table, s2);
        if (r.pos < 0) {
            dst[op++] = table[s1].symbol;
            break;
        }
    }
    return op;
}

} // namespace

size_t FSE_compress(void *dst, size_t dstCapacity, const void *src, size_t srcSize)
{
    const uint8_t *in = (const uint8_t *)src;
    if (srcSize < 2)
        return 0;
    // Four tables, so runs of one value do not wait on one counter.
    uint32_t lanes[4][fse_symbols] = {};
    size_t i = 0;
    for (; i + 4 <= srcSize; i += 4) {
        lanes[0][in[i]]++;
        lanes[1][in[i + 1]]++;
        lanes[2][in[i + 2]]++;
        lanes[3][in[i + 3]]++;
    }
    for (; i < srcSize; i++)
        lanes[0][in[i]]++;
    uint32_t count[fse_symbols];
    for (unsigned s = 0; s < fse_symbols; s++)
        count[s] = lanes[0][s] + lanes[1][s] + lanes[2][s] + lanes[3][s];
    unsigned maxsym = 0;
    uint32_t largest = 0;
    for (unsigned s = 0; s < fse_symbols; s++) {
        if (count[s])
            maxsym = s;
        largest = std::max(largest, count[s]);
    }
    if (largest == srcSize)
        return 1;
    if (largest == 1 || largest < (srcSize >> 7))
        return 0;
    unsigned log = fse_tablelog(srcSize, maxsym);
    int16_t norm[fse_symbols];
    fse_normalise(norm, count, maxsym, srcSize, log);
    uint8_t *out = (uint8_t *)dst;
    size_t header = fse_writeheader(out, dstCapacity, norm, maxsym, log);
    if (!header)
        return fse_err(fse_errdstsize);
    // The encoder's tables are 10 KB: off the stack of small worker threads.
    static thread_local fse_encoder e;
    if (!fse_buildencoder(e, norm, maxsym, log))
        return fse_err(fse_errgeneric);
    size_t body = fse_encodestream(out + header, dstCapacity - header, in, srcSize, e);
    if (!body || header + body >= srcSize - 1)
        return 0;
    return header + body;
}

size_t FSE_decompress(void *dst, size_t dstCapacity, const void *cSrc, size_t cSrcSize)
{
    const uint8_t *in = (const uint8_t *)cSrc;
    int16_t norm[fse_symbols];
    unsigned maxsym = 0, log = 0;
    size_t header = fse_readheader(norm, &maxsym, &log, in, cSrcSize);
    if (FSE_isError(header))
        return header;
    if (header >= cSrcSize)
        return fse_err(fse_errsrcsize);
    static thread_local fse_cell table[1 << fse_maxtablelog];
    if (!fse_builddecoder(table, norm, maxsym, log))
        return fse_err(fse_errcorrupt);
    return fse_decodestream((uint8_t *)dst, dstCapacity, in + header, cSrcSize - header, table, log);
}
