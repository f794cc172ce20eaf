// Certificates for the TLS tests, made with the openssl command (EC P-256,
// unencrypted keys, "<name>.pem" and "<name>.key" in dir): a CA and an
// unrelated one, the broker's for 127.0.0.1 and localhost (valid, and
// expired), one for another name, a client's of the CA, one of the other CA.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/process.h"
#include "tests/support/scratch_dir.h"

namespace bustest {

struct TestCerts {
    std::filesystem::path dir;
    std::string Pem(const std::string& name) const { return File(name + ".pem"); }
    std::string Key(const std::string& name) const { return File(name + ".key"); }
    std::string File(const std::string& name) const { return (dir / name).string(); }

    // False with the failing step in `error`. A negative validity ends
    // before it begins: expired from the start.
    bool Make(const std::string& openssl, std::string& error) {
        const struct { std::string name, cn, ca, days, names; } made[] = {
            {"ca", "Test ca", "", "30", ""}, {"other-ca", "Test other-ca", "", "30", ""},
            {"server", "broker.test", "ca", "30", "IP:127.0.0.1,DNS:localhost"},
            {"expired", "broker.old", "ca", "-1", "IP:127.0.0.1,DNS:localhost"},
            {"elsewhere", "broker.elsewhere", "ca", "30", "DNS:broker.elsewhere.example"},
            {"client", "station1", "ca", "30", "DNS:station1"}, {"stranger", "intruder", "other-ca", "30", "DNS:intruder"},
        };
        for (const auto& m : made) {
            // A CA signs itself; the others get a request signed by their CA.
            std::vector<std::string> req = {openssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                                            "-subj", "/CN=" + m.cn, "-keyout", Key(m.name), "-out"};
            if (m.ca.empty()) req.insert(req.end(), {Pem(m.name), "-x509", "-days", m.days});
            else req.push_back(File(m.name + ".csr"));
            std::ofstream(File(m.name + ".ext")) << "subjectAltName=" << m.names << "\n";
            const std::vector<std::string> sign = {openssl, "x509", "-req", "-in", File(m.name + ".csr"), "-CA", Pem(m.ca),
                                                   "-CAkey", Key(m.ca), "-CAcreateserial", "-days", m.days,
                                                   "-extfile", File(m.name + ".ext"), "-out", Pem(m.name)};
            if (sim::RunProgram(req, File("openssl.out")) != 0 ||
                (!m.ca.empty() && sim::RunProgram(sign, File("openssl.out")) != 0)) {
                error = "openssl failed for " + m.name + ": " + vdtest::ReadFile(File("openssl.out"));
                return false;
            }
        }
        return true;
    }
};

}  // namespace bustest
