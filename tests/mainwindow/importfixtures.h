// Test helper: runs tests/mainwindow/import_fixtures.py with the system
// Python (the one with ezdxf, numpy-stl and numpy) to write independent
// fixtures into a folder, and reads back the records it prints, one vector
// of fields per line. A missing tool makes the script fail, and the test
// with it.
#pragma once
#include "testchild.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct fixture_record {
    std::vector<std::string> fields;
    double num(size_t i) const { return std::stod(fields.at(i)); }
};

inline std::vector<fixture_record> fixtures_make(const std::string &folder, const std::vector<std::string> &args,
                                                 const std::string &script = "import_fixtures.py")
{
    std::vector<std::string> cmd = {"/usr/bin/python3", std::string(KERFMILL_TESTS_DIR) + "/mainwindow/" + script};
    cmd.insert(cmd.end(), args.begin(), args.end());
    std::string out = folder + "/records.txt";
    int status = testchild_run(cmd, 120, out);
    EXPECT_EQ(status, 0) << script << " " << args.at(0) << " failed";
    std::vector<fixture_record> records;
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);) {
        fixture_record r;
        std::istringstream words(line);
        for (std::string w; words >> w;)
            r.fields.push_back(w);
        if (!r.fields.empty())
            records.push_back(r);
    }
    return records;
}
