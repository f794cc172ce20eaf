// TLS for the bus's MQTT connections: an OpenSSL client context of our own,
// made afresh from the files for every connection attempt (a file put right
// is taken at the next try), with the broker's certificate always verified
// against the CA file and its names checked against the host asked for.
// The context records what went wrong during the handshake (the first
// certificate error and the alerts the broker sent), so that a failed
// attempt gets a reason a person can act on.
#pragma once

#include <functional>
#include <mutex>
#include <string>

struct ssl_ctx_st;

struct TlsOptions {
    std::string ca_file;    // TLS when set
    std::string cert_file;  // with key_file: mutual TLS
    std::string key_file;   // unencrypted PEM, protected by the file's access rights
    int min_version = 0x0303;  // TLS1_2_VERSION or TLS1_3_VERSION
    bool insecure = false;     // the broker's names are not checked (its certificate still is)
    bool Enabled() const { return !ca_file.empty(); }
};

// "tlsv1.2" or "tlsv1.3" as the protocol number; 0 for anything else.
int ParseTlsVersion(const std::string& text);

class TlsCheck {
public:
    // A fresh context for a connection to `host`, holding one reference the
    // caller owns; nullptr with the reason in `error` (the file by name and
    // what to check, never its contents) when a file cannot be used. The
    // context reports to this object, which must outlive it.
    ssl_ctx_st* Build(const TlsOptions& options, const std::string& host, std::string& error);

    // Why the last attempt's TLS failed, for a person; empty when nothing
    // is known against TLS.
    std::string Reason() const;

private:
    static int OnVerify(int ok, struct x509_store_ctx_st* store);
    static void OnInfo(const struct ssl_st* ssl, int where, int ret);

    mutable std::mutex mutex_;
    TlsOptions options_;
    std::string host_;
    std::string client_subject_, client_issuer_;
    // Of the last attempt:
    int verify_error_ = 0;
    std::string subject_, not_before_, not_after_, names_;  // the certificate at the error's depth
    std::string leaf_subject_, leaf_issuer_;                // the broker's own
    int alert_ = -1;
    bool handshake_started_ = false;
    bool handshake_done_ = false;
};

// The TLS keys of section Broker: CaFile, CertFile, KeyFile, TlsVersion
// ("tlsv1.2", the default, or "tlsv1.3"), TlsInsecure (0 or 1). `text`
// reads a key (empty when absent); `report` gets every bad value (its
// default is used instead) and, at every start, TlsInsecure=1.
TlsOptions ReadTlsSettings(const std::function<std::string(const char* key)>& text,
                           const std::function<void(const std::string& report)>& report);
