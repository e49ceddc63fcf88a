// Test helper: a scratch folder under /tmp for one test, removed with all it
// holds when the test's fixture goes.
#pragma once
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

struct testfolder {
    std::filesystem::path path;

    // "/tmp/kerfmill-<tag>-XXXXXX", made fresh; a failure fails the test.
    explicit testfolder(const std::string &tag)
    {
        std::string name = "/tmp/kerfmill-" + tag + "-XXXXXX";
        if (mkdtemp(name.data()))
            path = name;
        else
            ADD_FAILURE() << "cannot make " << name;
    }
    ~testfolder()
    {
        std::error_code ec;
        if (!path.empty())
            std::filesystem::remove_all(path, ec);
    }
    testfolder(const testfolder &) = delete;
    testfolder &operator=(const testfolder &) = delete;

    std::string at(const std::string &name) const { return (path / name).string(); }
};
