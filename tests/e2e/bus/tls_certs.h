// Certificates for the TLS tests, made at test time with the openssl command
// (EC P-256, unencrypted keys): a CA and an unrelated one, server
// certificates for 127.0.0.1 and localhost (valid, expired) and for another
// name, a client certificate of the CA and one of the other CA.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/process.h"

namespace bustest {

struct TestCerts {
    std::filesystem::path dir;
    // "<name>.pem" and "<name>.key" in dir.
    std::string Pem(const std::string& name) const { return (dir / (name + ".pem")).string(); }
    std::string Key(const std::string& name) const { return (dir / (name + ".key")).string(); }

    // False with the failing step in `error`.
    bool Make(const std::string& openssl, std::string& error) {
        auto run = [&](std::vector<std::string> args) {
            args.insert(args.begin(), openssl);
            if (sim::RunProgram(args, (dir / "openssl.out").string()) == 0) return true;
            error = "openssl " + args[1] + " failed for " + args.back();
            return false;
        };
        auto key_and_request = [&](const std::string& name, const std::string& cn) {
            return run({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj", "/CN=" + cn,
                        "-keyout", Key(name), "-out", (dir / (name + ".csr")).string()});
        };
        auto sign = [&](const std::string& name, const std::string& ca, const std::string& days,
                        const std::string& names) {
            std::ofstream(dir / (name + ".ext")) << "subjectAltName=" << names << "\n";
            return run({"x509", "-req", "-in", (dir / (name + ".csr")).string(), "-CA", Pem(ca), "-CAkey", Key(ca),
                        "-CAcreateserial", "-days", days, "-extfile", (dir / (name + ".ext")).string(), "-out",
                        Pem(name)});
        };
        for (const char* ca : {"ca", "other-ca"})
            if (!run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "30",
                      "-subj", std::string("/CN=Test ") + ca, "-keyout", Key(ca), "-out", Pem(ca)}))
                return false;
        // A negative validity ends before it begins: expired from the start.
        const struct { const char* name; const char* cn; const char* ca; const char* days; const char* names; } made[] = {
            {"server", "broker.test", "ca", "30", "IP:127.0.0.1,DNS:localhost"},
            {"expired", "broker.old", "ca", "-1", "IP:127.0.0.1,DNS:localhost"},
            {"elsewhere", "broker.elsewhere", "ca", "30", "DNS:broker.elsewhere.example"},
            {"client", "station1", "ca", "30", "DNS:station1"},
            {"stranger", "intruder", "other-ca", "30", "DNS:intruder"},
        };
        for (const auto& m : made)
            if (!key_and_request(m.name, m.cn) || !sign(m.name, m.ca, m.days, m.names)) return false;
        return true;
    }
};

}  // namespace bustest
