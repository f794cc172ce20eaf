// vdrt: create a runtime and work with its tags and tasks.
#include <cstdio>
#include <cstring>

#include "tools/vdrt/vdrt.h"

namespace vdrt {

namespace {
std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}
}  // namespace

void Register(const Command& command) { Registry().push_back(command); }
const std::vector<Command>& Commands() { return Registry(); }

void Error(const std::string& message) { std::fprintf(stderr, "vdrt: %s\n", message.c_str()); }

std::string DatabasePath(const Options& options) {
    return options.db_path.empty() ? sim::DefaultDatabasePath() : options.db_path;
}

std::unique_ptr<sim::Database> OpenDatabase(const Options& options) {
    std::string error;
    std::unique_ptr<sim::Database> db = sim::Database::Open(DatabasePath(options), error);
    if (!db) Error(error);
    return db;
}

int ResolveTag(const sim::Database& db, const std::string& name) {
    int index = -1;
    if (name.size() > 1 && name[0] == '#') {
        char* end = nullptr;
        long v = std::strtol(name.c_str() + 1, &end, 10);
        if (*end == '\0' && v >= 0 && static_cast<unsigned long>(v) < db.TagCount()) index = static_cast<int>(v);
    } else {
        index = db.FindTag(name);
    }
    if (index < 0) Error("unknown tag " + name);
    return index;
}

}  // namespace vdrt

namespace {

void Usage(FILE* out) {
    std::fprintf(out, "usage: vdrt [--db PATH] COMMAND [ARGS]\n\n");
    for (const vdrt::Command& c : vdrt::Commands())
        std::fprintf(out, "  %-8s %-22s %s\n", c.name, c.usage, c.help);
    std::fprintf(out,
                 "\nThe runtime database is PATH, else $VDRUNTIME, else $VDAPP/runtime.db, else ./runtime.db.\n"
                 "A tag is named by its name or by #INDEX.\n");
}

}  // namespace

int main(int argc, char** argv) {
    vdrt::Options options;
    int i = 1;
    while (i < argc && argv[i][0] == '-') {
        std::string opt = argv[i];
        if ((opt == "--db" || opt == "-d") && i + 1 < argc) {
            options.db_path = argv[i + 1];
            i += 2;
        } else if (opt == "--help" || opt == "-h") {
            Usage(stdout);
            return vdrt::kExitOk;
        } else {
            vdrt::Error("unknown option " + opt);
            Usage(stderr);
            return vdrt::kExitUsage;
        }
    }
    if (i >= argc) {
        Usage(stderr);
        return vdrt::kExitUsage;
    }
    std::string name = argv[i++];
    vdrt::Args args(argv + i, argv + argc);
    for (const vdrt::Command& c : vdrt::Commands())
        if (name == c.name) return c.run(args, options);
    vdrt::Error("unknown command " + name);
    Usage(stderr);
    return vdrt::kExitUsage;
}
