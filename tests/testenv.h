// Test helper: sets or clears environment variables (the dialog seams among
// them) for one test and puts them back, restarting the seams' answer lists.
#pragma once
#include "platform/seam.h"

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

struct scoped_env {
    std::vector<std::pair<std::string, std::string>> saved; // "\x01" marks unset
    void set(const char *name, const char *value)
    {
        const char *old = getenv(name);
        saved.push_back({name, old ? old : "\x01"});
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
        plat_seamreset();
    }
    ~scoped_env()
    {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
            if (it->second == "\x01")
                unsetenv(it->first.c_str());
            else
                setenv(it->first.c_str(), it->second.c_str(), 1);
        }
        plat_seamreset();
    }
};
