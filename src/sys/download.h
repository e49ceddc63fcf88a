// Downloads: up to four URLs fetched into memory at a time, each on a worker
// through libcurl's easy interface. The main thread's pump hands the bytes to
// the caller's completion callback and frees the slot. The online services
// are the users; the frame loop pumps every frame, shutdown once more.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstddef>

constexpr int sys_maxdownloads = 4;
constexpr int32_t sys_downloadfirstcapacity = 32768;

// Runs on the main thread after the transfer ended, also after a failure
// (size then counts what arrived, possibly 0). The buffer is freed right
// after the call: copy what you keep.
typedef void (*sys_downloadcallback)(int32_t id, int32_t size, const uint8_t *buffer);

// A slot is busy while its URL is not empty.
struct sys_downloadslot {
    char url[256];
    uint8_t *buffer;   // sys_malloc block receiving the data
    int32_t id;        // chosen by the caller to tell its requests apart
    int32_t size;      // bytes received
    int32_t capacity;  // bytes the buffer holds
    sys_downloadcallback callback;
    std::atomic<int32_t> done; // set last by the job; the pump reads the slot after it
    int32_t success;
    char caption[256]; // failure box caption; empty for no box
    char text[1024];
    void *curl;        // the transfer's libcurl easy handle
};

extern sys_downloadslot sys_downloads[sys_maxdownloads];
extern std::atomic<int> sys_downloadactive; // started and not yet pumped
extern int sys_downloadready;               // libcurl is initialised
// Limits of every transfer: a body larger than the cap fails, and so does a
// transfer that moves nothing for the stall time (read when it starts).
extern int32_t sys_downloadmaxbytes;
extern int32_t sys_downloadstallseconds;

// Start-up, once libcurl is initialised: clears the slots, sets the flag.
void sys_downloadinit();
// Starts fetching an http or https URL; caption and text (both or neither)
// give the box shown when it fails. Returns the slot 0..3, or -1.
int sys_download(int32_t id, const char *url, sys_downloadcallback callback, const char *caption,
                 const char *text, int32_t connecttimeout);
// libcurl's write callback; the slot is its user data.
size_t sys_downloadwrite(char *data, size_t size, size_t count, void *slot);
// The job body; the argument is the slot.
void job_download(void *slot);
// Main thread: finishes every slot whose job is done.
void sys_downloadpump();
// Shutdown, after the workers are joined: pumps until no download is
// active and clears the ready flag; the caller then cleans up libcurl.
void sys_downloadquit();
