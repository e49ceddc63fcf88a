// Child processes of the helper programs the platform layer leans on (zenity
// for dialogs, xdg-open for documents, folders and web pages). They are run
// from an argument vector found on PATH, never through a shell, so names with
// blanks, quotes or dollar signs reach the program exactly as given.
#pragma once
#include <string>
#include <vector>

constexpr int plat_outputmax = 65536; // bytes of a child's output kept

// Runs args[0] with stdin from /dev/null and its stdout read into out (at most
// plat_outputmax bytes kept), and waits for it to end. Returns its exit
// status, or -1 when it could not be started or was killed (logged). With
// witherrors its stderr joins stdout in out, for a child whose answer is its
// exit status and whose failures are told only on stderr.
int plat_runcapture(const std::vector<std::string> &args, std::string *out, int witherrors = 0);

// The xdg-open argument vector that opens target.
std::vector<std::string> plat_shellargs(const char *target);

constexpr int plat_shellverdictms = 1000; // how long the caller waits for xdg-open's verdict

// Opens a document, folder or URL with its associated application. Waits at
// most verdictms for xdg-open's verdict and leaves a slower one to a reaper
// thread. 1 when it started and has not failed, else 0. With
// KERFMILL_SHELL_LOG=1 the command is only logged.
int plat_shellopen(const char *target, int verdictms = plat_shellverdictms);
