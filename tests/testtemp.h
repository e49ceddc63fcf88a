// Test helper: scratch names in the system's temporary folder. Every name
// holds a tag, the run's process id and mkstemp's random part, so that two
// runs on one machine, or two suites of one run, never meet in a file.
#pragma once
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

// "<temporary folder>/kerfmill-<tag>-<pid>-XXXXXX", for mkstemp or mkdtemp.
inline std::string testtemp_pattern(const std::string &tag)
{
    const std::string name = "kerfmill-" + tag + "-" + std::to_string(getpid()) + "-XXXXXX";
    return (std::filesystem::temp_directory_path() / name).string();
}

// A fresh empty file; "" when none can be made.
inline std::string testtemp_file(const std::string &tag)
{
    std::string name = testtemp_pattern(tag);
    const int fd = mkstemp(name.data());
    if (fd < 0)
        return "";
    close(fd);
    return name;
}

// A fresh empty folder; "" when none can be made.
inline std::string testtemp_folder(const std::string &tag)
{
    std::string name = testtemp_pattern(tag);
    return mkdtemp(name.data()) ? name : "";
}
