// vdrt, the runtime command line: shared pieces of its subcommands.
//
// Each subcommand lives in a source file of this folder and registers
// itself with a static Registrar; main.cpp finds it by name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace vdrt {

struct Options {
    std::string db_path;  // --db PATH, else the kernel's default location
};

using Args = std::vector<std::string>;

struct Command {
    const char* name;
    const char* usage;  // arguments after the name
    const char* help;   // one line
    int (*run)(const Args& args, const Options& options);
};

void Register(const Command& command);
const std::vector<Command>& Commands();

struct Registrar {
    explicit Registrar(const Command& command) { Register(command); }
};

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;

// The database the options name; prints the reason and returns null when it
// is missing or unusable.
std::unique_ptr<sim::Database> OpenDatabase(const Options& options);
std::string DatabasePath(const Options& options);

// A tag by name or by "#INDEX"; prints "unknown tag" and returns -1.
int ResolveTag(const sim::Database& db, const std::string& name);

void Error(const std::string& message);

}  // namespace vdrt
