// The upload request: a multipart POST of the "info" and "data" buffers to
// the library's upload endpoint on a download slot. The form copies both
// buffers, so they are freed as soon as the request is made, sent or not,
// and a failed request is never retried.
#include "online/upload.h"

#include "online/conlib.h"
#include "sys/dialog.h"
#include "sys/download.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <curl/curl.h>

#include <cstdio>
#include <cstring>

conlib_uploadrecord conlib_upload = {nullptr, 0, nullptr, 0, {-1}, -1, 0, 0, 0, 0.0f, nullptr};
char online_host[128] = "library.kerfmill.net";

static const char *const upload_caption = "Content Upload";
static const char *const upload_failtext =
    "Unable to reach Content Library server. Please check your internet connection and try again later.";

int conlib_uploadpending()
{
    return conlib_upload.job.load(std::memory_order_acquire) == -1 && conlib_upload.slot == -1 &&
           conlib_upload.infosize > 0 && conlib_upload.datasize > 0;
}

static void upload_freebuffers()
{
    sys_free(conlib_upload.info);
    sys_free(conlib_upload.data);
    conlib_upload.info = conlib_upload.data = nullptr;
    conlib_upload.infosize = conlib_upload.datasize = 0;
}

static int upload_freeslot()
{
    for (int i = 0; i < sys_maxdownloads; i++)
        if (!sys_downloads[i].url[0])
            return i;
    return -1;
}

static curl_mime *upload_form(CURL *c)
{
    curl_mime *form = curl_mime_init(c);
    if (!form)
        return nullptr;
    const struct {
        const char *name;
        const uint8_t *bytes;
        int32_t size;
    } parts[2] = {{"info", conlib_upload.info, conlib_upload.infosize},
                  {"data", conlib_upload.data, conlib_upload.datasize}};
    for (const auto &p : parts) {
        curl_mimepart *part = curl_mime_addpart(form);
        if (!part || curl_mime_name(part, p.name) != CURLE_OK || curl_mime_filename(part, p.name) != CURLE_OK ||
            curl_mime_data(part, (const char *)p.bytes, (size_t)p.size) != CURLE_OK) {
            curl_mime_free(form);
            return nullptr;
        }
    }
    return form;
}

static int upload_options(CURL *c, sys_downloadslot *s, curl_mime *form)
{
    CURLcode rc = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (rc == CURLE_OK)
            rc = curl_easy_setopt(c, option, value);
    };
    set(CURLOPT_URL, s->url);
    set(CURLOPT_NOPROGRESS, 1L);
    set(CURLOPT_WRITEFUNCTION, sys_downloadwrite);
    set(CURLOPT_WRITEDATA, (void *)s);
    set(CURLOPT_CONNECTTIMEOUT, 8L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_MIMEPOST, form);
    return rc == CURLE_OK;
}

// Fills the slot and queues its transfer; the slot or -1.
static int upload_start(int slot)
{
    sys_downloadslot *s = &sys_downloads[slot];
    CURL *c = curl_easy_init();
    if (!c) {
        sys_log("sys_upload: failed to create libcurl session");
        sys_messagebox(upload_caption, upload_failtext, 0, 4, 0);
        return -1;
    }
    uint32_t proportion;
    memcpy(&proportion, &conlib_upload.proportion, 4);
    snprintf(s->url, sizeof(s->url), "http://%s/Kerfmill/lib_upload.php?%08X%08X%08X%08X%08X", online_host,
             conlib_upload.namekey, conlib_upload.previewsize, conlib_upload.flags, proportion, 0u);
    curl_mime *form = upload_form(c);
    s->buffer = (uint8_t *)sys_malloc(sys_downloadfirstcapacity);
    if (!form || !s->buffer || !upload_options(c, s, form)) {
        sys_log("sys_upload: the request could not be prepared");
        curl_mime_free(form);
        curl_easy_cleanup(c);
        sys_free(s->buffer);
        s->buffer = nullptr;
        s->url[0] = 0;
        return -1;
    }
    s->id = conlib_uploadid;
    s->size = 0;
    s->capacity = sys_downloadfirstcapacity;
    s->callback = conlib_response;
    s->done = 0;
    s->success = 0;
    snprintf(s->caption, sizeof(s->caption), "%s", upload_caption);
    snprintf(s->text, sizeof(s->text), "%s", upload_failtext);
    s->curl = c;
    conlib_upload.form = form;
    sys_downloadactive++;
    sys_debuglog("uploading %d buffs (%.2fkb): %s...", 2,
                 (conlib_upload.infosize + conlib_upload.datasize) / 1024.0, s->url);
    if (sys_threadjob("job_download", job_download, s) < 0) {
        sys_log("sys_upload: job refused, nothing uploaded");
        sys_downloadactive--;
        curl_easy_cleanup(c);
        curl_mime_free(form);
        conlib_upload.form = nullptr;
        sys_free(s->buffer);
        s->buffer = nullptr;
        s->curl = nullptr;
        s->url[0] = 0;
        return -1;
    }
    return slot;
}

void sys_upload()
{
    int slot = sys_downloadready ? upload_freeslot() : -1;
    conlib_upload.slot = slot >= 0 ? upload_start(slot) : -1;
    upload_freebuffers();
}

void conlib_response(int32_t id, int32_t size, const uint8_t *buffer)
{
    if (id == conlib_indexid) {
        conlib_takeindex(size, buffer);
        return;
    }
    if (id != conlib_uploadid)
        return;
    sys_log("conlib_response: upload reply of %d bytes", size);
    curl_mime_free((curl_mime *)conlib_upload.form);
    conlib_upload.form = nullptr;
    conlib_upload.slot = -1;
    (void)buffer;
}

// The form may be freed only once no transfer can still read it.
void conlib_uploadquit()
{
    upload_freebuffers();
    if (conlib_upload.form && sys_downloadactive == 0) {
        curl_mime_free((curl_mime *)conlib_upload.form);
        conlib_upload.form = nullptr;
    }
}
