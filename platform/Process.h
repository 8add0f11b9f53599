// Facts about, and set-up of, the running process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Full path of the running executable; empty when it cannot be found.
std::string ModuleFilePath();

// True for the characters that separate directories in a path.
bool IsPathSeparator(char c);

std::uint32_t CurrentThreadId();
std::uint32_t CurrentProcessId();

// Environment variable, or the fallback when it is not set.
std::string EnvironmentValue(const char* name, const char* fallback);

// Watches for the operating system shutting down. The notice only sets a
// flag; the default handling (termination) follows.
void WatchSystemShutdown();
bool SystemShutdownPending();

// Switches to the system's locale when the process still has the classic one.
void UseSystemLocaleIfClassic();

// Standard input and output without newline translation.
void SetBinaryStandardStreams();

// Opens a text file for appending, as fopen with "a" does, through a
// descriptor that child processes do not inherit; null on failure.
std::FILE* OpenForAppendNotInherited(const std::string& path);

// Socket library start and end, once per user; returns false when sockets
// cannot be used.
bool StartSocketLibrary();
void StopSocketLibrary();

// Threads started after this call get stacks of `bytes`, as a Windows
// program's threads get its one reservation. Smaller than the system's
// usual default, ended threads' stacks are reused for new ones instead of
// being mapped and faulted in afresh, which is most of a short session
// thread's cost.
void SetThreadStackSize(std::size_t bytes);

// Ends what a standard stream is connected to (a pipe to the launching
// process, say); the stream stays usable and goes to the null device.
void DetachStandardStream(std::FILE* stream, bool forWriting);

void SleepMilliseconds(unsigned milliseconds);

}  // namespace platform
