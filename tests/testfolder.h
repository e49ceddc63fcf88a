// Test helper: a scratch folder in the system's temporary folder for one
// test, removed with all it holds when the test's fixture goes.
#pragma once
#include "testtemp.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

struct testfolder {
    std::filesystem::path path;

    // Made fresh (testtemp_folder); a failure fails the test.
    explicit testfolder(const std::string &tag)
    {
        const std::string name = testtemp_folder(tag);
        if (!name.empty())
            path = name;
        else
            ADD_FAILURE() << "cannot make " << testtemp_pattern(tag);
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
