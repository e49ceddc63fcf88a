// Test helper: points the program's log at a temporary file for the life of
// the object, so a test can read back exactly the lines it caused.
#pragma once
#include "sys/file.h"
#include "sys/log.h"
#include "sys/thread.h"
#include "testtemp.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

struct testlog_capture {
    std::string path;
    int saved;
    bool owntable = false;

    testlog_capture()
    {
        path = testtemp_file("log");
        if (!sys_files) {
            file_tablealloc();
            owntable = true;
        }
        // Under the log lock, so workers' lines never meet a half-swapped file.
        sys_mutexguard g(sys_logmutex);
        saved = sys_logfile;
        sys_logfile = file_open(path.c_str(), "wt");
    }
    ~testlog_capture()
    {
        sys_mutexguard g(sys_logmutex);
        file_close(sys_logfile);
        sys_logfile = saved;
        if (owntable)
            file_tablefree();
        remove(path.c_str());
    }
    std::string text() const
    {
        std::ifstream in(path);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool contains(const std::string &s) const { return text().find(s) != std::string::npos; }
    int count(const std::string &s) const
    {
        std::string t = text();
        int n = 0;
        for (size_t p = t.find(s); p != std::string::npos; p = t.find(s, p + 1))
            n++;
        return n;
    }
};
