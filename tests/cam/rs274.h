// Test helper: LinuxCNC's stand-alone interpreter rs274 as an independent
// reader of our programs. It runs rs274 on a program (bounded wait, no
// shell, its libraries named for the child alone) and returns the canonical
// moves it would make, in the program's units, so tests can compare them
// with the toolpath or carve them into a simulated block.
#pragma once
#include "testchild.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

// One straight move of the canonical output.
struct rs274_move {
    int feed;      // 0 traverse, 1 feed
    double end[3]; // X, Y, Z where it ends
    double rate;   // feed rate in force (program units per minute)
    int tool;      // tool of the last tool change, 0 before any
};

struct rs274_result {
    int status;    // rs274's exit status; -1 or testchild_timedout when it did not end by itself
    int metric;    // 1 when the program's length units are millimetres
    int arcs;      // arc moves seen (rs274_move carries straight moves only)
    std::vector<rs274_move> moves;
    std::string canon; // the whole canonical output, for failure messages
};

// Where scripts/deps.sh unpacks the interpreter; a missing one fails the run
// (status -1), it never skips.
inline std::string rs274_bin()
{
    return std::string(KERFMILL_RS274_DIR) + "/usr/bin/rs274";
}

inline std::string rs274_readfile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Reads the canonical lines into r.
inline void rs274_parse(rs274_result &r)
{
    static const std::regex straight(R"(STRAIGHT_(TRAVERSE|FEED)\(([-0-9.]+), ([-0-9.]+), ([-0-9.]+))");
    static const std::regex rate(R"(SET_FEED_RATE\(([-0-9.]+)\))");
    static const std::regex tool(R"(CHANGE_TOOL\((\d+)\))");
    std::stringstream lines(r.canon);
    std::string line;
    double feedrate = 0;
    int current = 0;
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, m, straight))
            r.moves.push_back({m[1] == "FEED", {std::stod(m[2]), std::stod(m[3]), std::stod(m[4])}, feedrate, current});
        else if (std::regex_search(line, m, rate))
            feedrate = std::stod(m[1]);
        else if (std::regex_search(line, m, tool))
            current = std::stoi(m[1]);
        else if (line.find("USE_LENGTH_UNITS(CANON_UNITS_MM)") != std::string::npos)
            r.metric = 1;
        else if (line.find("USE_LENGTH_UNITS(CANON_UNITS_INCHES)") != std::string::npos)
            r.metric = 0;
        else if (line.find("ARC_FEED") != std::string::npos)
            r.arcs++;
    }
}

// Runs rs274 on the program at path with a tool table of tools 1 to 10 (no
// length offsets) and reads its canonical moves. The table, the output and
// a home folder are scratch files beside the program, removed again.
inline rs274_result rs274_run(const std::string &path, double seconds = 60)
{
    rs274_result r{-1, 0, 0, {}, {}};
    std::string table = path + ".tbl", out = path + ".canon", home = path + ".home";
    {
        std::ofstream t(table);
        for (int i = 1; i <= 10; i++)
            t << "T" << i << " P" << i << " D0.25 Z0\n";
    }
    std::error_code ec;
    std::filesystem::create_directories(home, ec);
    std::string root = KERFMILL_RS274_DIR;
    if (access(rs274_bin().c_str(), X_OK) != 0) {
        r.canon = "rs274 is missing: run scripts/deps.sh --tests";
    } else {
        // The environment is the child's alone (setting it here would race
        // with this process's other threads). rs274 shares its tool table
        // with other runs through a file in HOME: runs that share a HOME
        // (parallel tests) garble each other's tools or crash, so each run
        // gets its own.
        r.status = testchild_run({"env", "LD_LIBRARY_PATH=" + root + "/usr/lib", "HOME=" + home, rs274_bin(), "-t",
                                  table, "-g", path},
                                 seconds, out);
        r.canon = rs274_readfile(out);
        rs274_parse(r);
    }
    remove(table.c_str());
    remove(out.c_str());
    std::filesystem::remove_all(home, ec);
    return r;
}
