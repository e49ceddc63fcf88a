// Test seams read from the environment; see seam.h.
#include "platform/seam.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

static std::mutex seam_lock;
static std::map<std::string, int> seam_calls;

static std::vector<std::string> seam_split(const char *list, char sep)
{
    std::vector<std::string> parts;
    std::string cur;
    for (const char *c = list; *c; c++) {
        if (*c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += *c;
        }
    }
    parts.push_back(cur);
    return parts;
}

int plat_seamnext(const char *var, char sep, char *out, int cap)
{
    const char *list = getenv(var);
    if (!list)
        return 0;
    std::vector<std::string> parts = seam_split(list, sep);
    int n;
    {
        std::lock_guard<std::mutex> g(seam_lock);
        n = seam_calls[var]++;
    }
    const std::string &pick = parts[n < (int)parts.size() ? n : parts.size() - 1];
    snprintf(out, cap, "%s", pick.c_str());
    return 1;
}

void plat_seamreset()
{
    std::lock_guard<std::mutex> g(seam_lock);
    seam_calls.clear();
}
