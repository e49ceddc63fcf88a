// Fuzz target of the ".qcsf" reader: the file is pointed at by the message
// buffer and read as one primal chunk, as the image loader does. Whatever
// the bytes, the read must end without a fault, a leak or a huge allocation,
// leaving the image table and the allocator as they were.
//
// The first input byte picks how the rest is used. Even: the rest is the
// file, byte for byte. Odd: the rest is an 18-byte header and an inflated
// body, which the harness deflates and sizes in the header, so mutations
// reach the tree and block checks behind zlib's checksum.
#include "img/chunk.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A newer version is reported through an error box: answer it. The log
    // goes nowhere, so the run spends its time in the reader.
    setenv("KERFMILL_MSGBOX_ANSWERS", "ok", 1);
    file_tablealloc();
    sys_logfile = file_open("/dev/null", "wt");
    return 0;
}

// Header and deflated body, with the stream's and the body's sizes filled in.
static std::vector<uint8_t> fuzz_wrapbody(const uint8_t *data, size_t size)
{
    const size_t head = 18;
    if (size < head)
        return std::vector<uint8_t>(data, data + size);
    uLongf n = compressBound((uLong)(size - head));
    std::vector<uint8_t> file(head + n);
    memcpy(file.data(), data, head);
    compress2(file.data() + head, &n, data + head, (uLong)(size - head), 1);
    file.resize(head + n);
    uint32_t body = (uint32_t)(size - head);
    for (int i = 0; i < 4; i++) {
        file[6 + i] = (uint8_t)(n >> (8 * i));
        file[10 + i] = (uint8_t)(body >> (8 * i));
    }
    return file;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > INT32_MAX / 2)
        return 0;
    std::vector<uint8_t> file =
        data[0] & 1 ? fuzz_wrapbody(data + 1, size - 1) : std::vector<uint8_t>(data + 1, data + size);
    uint64_t mem = sys_memused();
    int images = img_count;
    msg_readfrom(file.data(), (int32_t)file.size());
    image *img = img_read(img_prml);
    if (img && (img->width < 1 || img->height < 1 || img->bytesperpixel != 4))
        abort();
    img_free(img);
    if (sys_memused() != mem || img_count != images || msg_position > msg_end)
        abort();
    return 0;
}
