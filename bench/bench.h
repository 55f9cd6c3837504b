#pragma once
// Shared by the benchmarks that run under Wine. Each benchmark prints its
// figures as "name value" lines, which scripts/bench.sh gathers into one
// table: times in seconds, memory in kilobytes, counts as they are.
#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include "harness.h"

// Timed work is repeated and the least time kept: the run that other work
// on the machine disturbed least.
constexpr int RUNS = 5;
constexpr size_t MB = size_t(1) << 20;

// Seconds on the performance counter, one clock for all processes.
double Seconds();
// `after` runs outside the clock, to free what `work` made.
double Best(int runs, const std::function<void()> &work, const std::function<void()> &after = nullptr);
void Figure(const char *name, double value);

// The real main window on a UI thread of its own, as in the program.
bool StartMainWindow();
void StopMainWindow();
// Returns once the main window has finished with what it was told of, the
// pause that ends an automatic conversion included.
void WaitMainWindowIdle();

// The first window a process shows, looked for `tries` times a millisecond
// apart; null when none was shown.
HWND ShownWindow(DWORD process, int tries);

// The benchmarks, by the name scripts/bench.sh calls them with.
int BenchConvert(int argc, char **argv);
int ChildCopyFormatted(int argc, char **argv);
int ChildCopyTwice(int argc, char **argv);
int BenchUndo(int argc, char **argv);
int BenchHexDump(int argc, char **argv);
int BenchPictures(int argc, char **argv);
int BenchHttp(int argc, char **argv);
int BenchSync(int argc, char **argv);
int BenchSeal(int argc, char **argv);
int BenchStartup(int argc, char **argv);
int BenchPaste(int argc, char **argv);
int BenchMemory(int argc, char **argv);
