// The content-library upload as the GUI pass starts it: the record that the
// Upload Layer dialog and its buffer job fill, the host every online request
// goes to, the start of the transfer and the reply's completion callback.
#pragma once
#include <atomic>
#include <cstdint>

constexpr int32_t conlib_uploadid = 3; // request ID of the upload

struct conlib_uploadrecord {
    uint8_t *info; // sys_malloc blocks the request takes over and frees
    int32_t infosize;
    uint8_t *data;
    int32_t datasize;
    // Slot of the job that builds the buffers, -1 when none runs. The job
    // stores -1 with release after writing the buffers; the pass loads it
    // with acquire before reading them.
    std::atomic<int32_t> job;
    int32_t slot; // download slot of the running upload, -1 none
    uint32_t namekey;
    uint32_t previewsize;
    uint32_t flags;
    float proportion;
    void *form; // the multipart form, alive until the reply
};

extern conlib_uploadrecord conlib_upload;
extern char online_host[128]; // host of every online request, a setting

// 1 when finished buffers wait and no upload runs.
int conlib_uploadpending();
// Starts the upload on a download slot; the buffers are freed in every case.
void sys_upload();
// Completion callback of content-library requests.
void conlib_response(int32_t id, int32_t size, const uint8_t *buffer);
// Shutdown, after the downloads ended: frees what is still pending.
void conlib_uploadquit();
