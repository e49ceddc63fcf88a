// Downloads through libcurl's easy interface: sys_download fills a slot and
// queues "job_download", which runs the transfer on a worker into a buffer
// that doubles from 32 KB; the pump on the main thread calls back and frees
// the slot. Every transfer is bounded: web addresses only, a size cap, a
// stall limit, and an abort as soon as the program quits.
#include "sys/download.h"

#include "sys/dialog.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <SDL.h>
#include <curl/curl.h>

#include <cctype>
#include <cstring>

sys_downloadslot sys_downloads[sys_maxdownloads];
std::atomic<int> sys_downloadactive{0};
int sys_downloadready = 0;
int32_t sys_downloadmaxbytes = 256 << 20;
int32_t sys_downloadstallseconds = 30;

// The largest buffer that doubling from 32 KB reaches within the
// allocator's 32-bit sizes; no cap may lie beyond it.
constexpr int32_t download_largest = 1 << 30;
// Shutdown waits at most this many 100 ms steps for the last transfers.
constexpr int download_quitsteps = 100;

static void download_clear(sys_downloadslot *s)
{
    s->url[0] = 0;
    s->buffer = nullptr;
    s->id = 0;
    s->size = 0;
    s->capacity = 0;
    s->callback = nullptr;
    s->done = 0;
    s->success = 0;
    s->caption[0] = 0;
    s->text[0] = 0;
    s->curl = nullptr;
}

void sys_downloadinit()
{
    for (sys_downloadslot &s : sys_downloads)
        download_clear(&s);
    sys_downloadactive = 0;
    sys_downloadready = 1;
}

static int download_isweb(const char *url)
{
    for (const char *scheme : {"http://", "https://"}) {
        size_t i = 0;
        while (scheme[i] && tolower((unsigned char)url[i]) == scheme[i])
            i++;
        if (!scheme[i])
            return 1;
    }
    return 0;
}

// The URL's last part, which names the transfer in the log.
static const char *download_name(const char *url)
{
    const char *slash = strrchr(url, '/');
    return slash ? slash + 1 : url;
}

static int download_findfree()
{
    for (int i = 0; i < sys_maxdownloads; i++)
        if (!sys_downloads[i].url[0])
            return i;
    return -1;
}

// libcurl calls this at least once a second, even while nothing arrives, so
// a quit ends a stalled transfer too.
static int download_progress(void *, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return sys_quit ? 1 : 0;
}

static void download_failbox(const char *caption, const char *text)
{
    if (caption && caption[0])
        sys_messagebox(caption, text ? text : "", 0, 4, 0);
}

static CURLcode download_options(CURL *c, sys_downloadslot *s, int32_t connecttimeout)
{
    CURLcode rc = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (rc == CURLE_OK)
            rc = curl_easy_setopt(c, option, value);
    };
    set(CURLOPT_URL, s->url);
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, download_progress);
    set(CURLOPT_WRITEFUNCTION, sys_downloadwrite);
    set(CURLOPT_WRITEDATA, (void *)s);
    set(CURLOPT_CONNECTTIMEOUT, (long)connecttimeout);
    // Redirects are not followed; should one ever be, it stays on the web.
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, (long)sys_downloadstallseconds);
    // Time-outs must not raise signals on worker threads.
    set(CURLOPT_NOSIGNAL, 1L);
    return rc;
}

// Undoes a started slot whose transfer will never run.
static void download_abandon(sys_downloadslot *s)
{
    curl_easy_cleanup((CURL *)s->curl);
    sys_free(s->buffer);
    download_clear(s);
}

int sys_download(int32_t id, const char *url, sys_downloadcallback callback, const char *caption,
                 const char *text, int32_t connecttimeout)
{
    if (!url || !download_isweb(url)) {
        sys_log("sys_download: refused \"%s\": only http and https are fetched", url ? url : "");
        return -1;
    }
    if (strlen(url) >= sizeof(sys_downloads[0].url)) {
        sys_log("sys_download: URL of %d characters is too long", (int)strlen(url));
        return -1;
    }
    int slot = sys_downloadready ? download_findfree() : -1;
    if (slot < 0)
        return -1;
    CURL *c = curl_easy_init();
    if (!c) {
        sys_log("sys_download: failed to create libcurl session");
        download_failbox(caption, text);
        return -1;
    }
    uint8_t *buffer = (uint8_t *)sys_malloc(sys_downloadfirstcapacity);
    if (!buffer) {
        curl_easy_cleanup(c);
        return -1;
    }

    sys_downloadslot *s = &sys_downloads[slot];
    snprintf(s->url, sizeof(s->url), "%s", url);
    s->buffer = buffer;
    s->id = id;
    s->capacity = sys_downloadfirstcapacity;
    s->callback = callback;
    if (caption && text) {
        snprintf(s->caption, sizeof(s->caption), "%s", caption);
        snprintf(s->text, sizeof(s->text), "%s", text);
    }
    s->curl = c;
    CURLcode rc = download_options(c, s, connecttimeout);
    if (rc != CURLE_OK) {
        sys_log("sys_download: libcurl refused an option: %s", curl_easy_strerror(rc));
        download_abandon(s);
        return -1;
    }

    sys_downloadactive++;
    sys_debuglog("downloading %s...", s->url);
    if (sys_threadjob("job_download", job_download, s) < 0) {
        sys_log("sys_download: job refused, %s not downloaded", s->url);
        sys_downloadactive--;
        download_abandon(s);
        return -1;
    }
    return slot;
}

// Doubles the buffer until it holds need bytes; 0 when it cannot grow.
static int download_grow(sys_downloadslot *s, int64_t need)
{
    int64_t capacity = s->capacity;
    while (capacity < need)
        capacity *= 2;
    sys_log("realloc... %d->%d", s->capacity, (int)capacity);
    uint8_t *grown = (uint8_t *)sys_realloc(s->buffer, (int32_t)capacity);
    if (!grown) {
        sys_log("sys_downloadwrite: ID:%02d buffer cannot grow, transfer stopped", s->id);
        return 0;
    }
    s->buffer = grown;
    s->capacity = (int32_t)capacity;
    return 1;
}

// Returning anything but n makes libcurl end the transfer with an error.
size_t sys_downloadwrite(char *data, size_t size, size_t count, void *slot)
{
    sys_downloadslot *s = (sys_downloadslot *)slot;
    if (sys_quit)
        return 0;
    size_t n = size * count;
    int32_t cap = sys_downloadmaxbytes < download_largest ? sys_downloadmaxbytes : download_largest;
    if (n > (size_t)cap || s->size + (int64_t)n > cap) {
        sys_log("sys_downloadwrite: ID:%02d exceeds %d bytes, transfer stopped", s->id, cap);
        return 0;
    }
    int64_t need = (int64_t)s->size + (int64_t)n;
    if (need > s->capacity && !download_grow(s, need))
        return 0;
    memcpy(s->buffer + s->size, data, n);
    sys_debuglog("ID:%02d @%08d += %d bytes", s->id, s->size, (int)n);
    s->size += (int32_t)n;
    return n;
}

void job_download(void *slot)
{
    sys_downloadslot *s = (sys_downloadslot *)slot;
    double start = sys_seconds();
    const char *name = download_name(s->url);
    sys_log("downloading %s...", name);
    CURL *c = (CURL *)s->curl;
    CURLcode rc = curl_easy_perform(c);
    long status = 0;
    if (rc == CURLE_OK)
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    // A server's error or redirect page is not the content that was asked for.
    if (rc != CURLE_OK)
        sys_log("...download failed: %s (ID:%02d: %s)", curl_easy_strerror(rc), s->id, name);
    else if (status < 200 || status > 299)
        sys_log("...download failed: HTTP %ld (ID:%02d: %s)", status, s->id, name);
    else {
        sys_log("...downloaded %s, %d bytes (ID:%02d %.2fs)", name, s->size, s->id, sys_seconds() - start);
        s->success = 1;
    }
    curl_easy_cleanup(c);
    s->curl = nullptr;
    s->done = 1;
}

void sys_downloadpump()
{
    for (sys_downloadslot &s : sys_downloads) {
        if (!s.url[0] || !s.done)
            continue;
        sys_downloadactive--;
        // A transfer ended by quitting is neither handed on nor reported.
        int quitting = sys_quit;
        if (!quitting && s.callback)
            s.callback(s.id, s.size, s.buffer);
        sys_free(s.buffer);
        if (!quitting && !s.success)
            download_failbox(s.caption, s.text);
        download_clear(&s);
    }
}

void sys_downloadquit()
{
    for (int step = 0; sys_downloadactive > 0 && step < download_quitsteps; step++) {
        SDL_Delay(100);
        sys_downloadpump();
    }
    if (sys_downloadactive > 0)
        sys_log("sys_downloadquit: %d downloads still active", sys_downloadactive.load());
    sys_downloadready = 0;
}
