#include "bus/tls_context.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>

namespace {

std::string NameText(const X509_NAME* name) {
    if (name == nullptr) return "(none)";
    char buffer[256] = {};
    X509_NAME_oneline(name, buffer, sizeof buffer);
    return buffer;
}

std::string TimeText(const ASN1_TIME* time) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr || time == nullptr) {
        BIO_free(bio);
        return "?";
    }
    ASN1_TIME_print(bio, time);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string text(data != nullptr ? data : "", static_cast<std::size_t>(length > 0 ? length : 0));
    BIO_free(bio);
    return text;
}

// The names a certificate is issued for: its DNS and IP subject
// alternative names, else its common name.
std::string CertNames(X509* cert) {
    std::string names;
    auto add = [&](const std::string& name) { names += (names.empty() ? "" : ", ") + name; };
    auto* sans = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; sans != nullptr && i < sk_GENERAL_NAME_num(sans); ++i) {
        const GENERAL_NAME* san = sk_GENERAL_NAME_value(sans, i);
        if (san->type == GEN_DNS) {
            add(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(san->d.dNSName)),
                            static_cast<std::size_t>(ASN1_STRING_length(san->d.dNSName))));
        } else if (san->type == GEN_IPADD && ASN1_STRING_length(san->d.iPAddress) == 4) {
            const unsigned char* ip = ASN1_STRING_get0_data(san->d.iPAddress);
            add(std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." + std::to_string(ip[2]) + "." +
                std::to_string(ip[3]));
        } else if (san->type == GEN_IPADD) {
            add("(an IPv6 address)");
        }
    }
    GENERAL_NAMES_free(sans);
    if (names.empty()) {
        char cn[256] = {};
        if (X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, cn, sizeof cn) > 0) add(cn);
    }
    return names.empty() ? "no names" : names;
}

// Whether a file can be opened for reading; the reason when not.
bool Readable(const std::string& path, const char* key, std::string& error) {
    BIO* bio = BIO_new_file(path.c_str(), "rb");
    if (bio == nullptr) {
        ERR_clear_error();
        error = std::string(key) + " " + path + " cannot be opened: does it exist, may this task read it?";
        return false;
    }
    BIO_free(bio);
    return true;
}

// Keys are read unencrypted: never ask for a password (OpenSSL's default
// would prompt on the console).
int NoPassword(char*, int, int, void*) { return 0; }

}  // namespace

int ParseTlsVersion(const std::string& text) {
    if (text == "tlsv1.2") return TLS1_2_VERSION;
    if (text == "tlsv1.3") return TLS1_3_VERSION;
    return 0;
}

ssl_ctx_st* TlsCheck::Build(const TlsOptions& options, const std::string& host, std::string& error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        options_ = options;
        host_ = host;
        verify_error_ = 0;
        subject_.clear(), leaf_subject_.clear(), leaf_issuer_.clear(), not_before_.clear(), not_after_.clear(), names_.clear();
        client_subject_.clear(), client_issuer_.clear();
        alert_ = -1;
        handshake_started_ = handshake_done_ = false;
    }
    ERR_clear_error();
    if (!Readable(options.ca_file, "CaFile", error)) return nullptr;
    if (!options.cert_file.empty() && !Readable(options.cert_file, "CertFile", error)) return nullptr;
    if (!options.key_file.empty() && !Readable(options.key_file, "KeyFile", error)) return nullptr;

    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr) {
        error = "no memory for a TLS context";
        return nullptr;
    }
    auto fail = [&](std::string why) {
        ERR_clear_error();
        SSL_CTX_free(ctx);
        error = std::move(why);
        return nullptr;
    };
    SSL_CTX_set_min_proto_version(ctx, options.min_version);
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_default_passwd_cb(ctx, &NoPassword);

    // The CA file: every certificate in it, at least one.
    int cas = 0;
    if (BIO* bio = BIO_new_file(options.ca_file.c_str(), "rb")) {
        X509_STORE* store = SSL_CTX_get_cert_store(ctx);
        while (X509* ca = PEM_read_bio_X509(bio, nullptr, &NoPassword, nullptr)) {
            if (X509_STORE_add_cert(store, ca) == 1) ++cas;
            X509_free(ca);
        }
        BIO_free(bio);
    }
    if (cas == 0) return fail("CaFile " + options.ca_file + " holds no PEM certificate (BEGIN CERTIFICATE)");

    if (!options.cert_file.empty()) {
        if (SSL_CTX_use_certificate_chain_file(ctx, options.cert_file.c_str()) != 1)
            return fail("CertFile " + options.cert_file + " holds no PEM certificate (BEGIN CERTIFICATE)");
        if (SSL_CTX_use_PrivateKey_file(ctx, options.key_file.c_str(), SSL_FILETYPE_PEM) != 1)
            return fail("KeyFile " + options.key_file + " holds no unencrypted PEM private key (BEGIN PRIVATE KEY)");
        if (SSL_CTX_check_private_key(ctx) != 1)
            return fail("KeyFile " + options.key_file + " is not the key of CertFile " + options.cert_file);
        X509* mine = SSL_CTX_get0_certificate(ctx);
        std::lock_guard<std::mutex> lock(mutex_);
        client_subject_ = NameText(X509_get_subject_name(mine));
        client_issuer_ = NameText(X509_get_issuer_name(mine));
    }

    // The broker's certificate is always verified; its names are checked
    // unless TlsInsecure says otherwise. An IP address is matched against
    // the certificate's IP names, a host name against its DNS names.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, &TlsCheck::OnVerify);
    if (!options.insecure) {
        X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
        if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) {
            ERR_clear_error();
            if (X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) != 1)
                return fail("Host " + host + " cannot be checked against a certificate");
        }
    }
    SSL_CTX_set_info_callback(ctx, &TlsCheck::OnInfo);
    SSL_CTX_set_app_data(ctx, this);
    return ctx;
}

int TlsCheck::OnVerify(int ok, X509_STORE_CTX* store) {
    if (ok == 1) return 1;
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* self = ssl != nullptr ? static_cast<TlsCheck*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))) : nullptr;
    if (self == nullptr) return 0;
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (self->verify_error_ != 0) return 0;  // the first error is the cause
    self->verify_error_ = X509_STORE_CTX_get_error(store);
    // The broker's own certificate names the CA it wants; the one at the
    // error's depth says when and for whom.
    if (X509* leaf = X509_STORE_CTX_get0_cert(store)) {
        self->leaf_subject_ = NameText(X509_get_subject_name(leaf));
        self->leaf_issuer_ = NameText(X509_get_issuer_name(leaf));
    }
    if (X509* cert = X509_STORE_CTX_get_current_cert(store)) {
        self->subject_ = NameText(X509_get_subject_name(cert));
        self->not_before_ = TimeText(X509_get0_notBefore(cert));
        self->not_after_ = TimeText(X509_get0_notAfter(cert));
        self->names_ = CertNames(cert);
    }
    return 0;
}

void TlsCheck::OnInfo(const SSL* ssl, int where, int ret) {
    auto* self = static_cast<TlsCheck*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (self == nullptr) return;
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (where & SSL_CB_HANDSHAKE_START) self->handshake_started_ = true;
    if (where & SSL_CB_HANDSHAKE_DONE) self->handshake_done_ = true;
    if ((where & SSL_CB_READ_ALERT) == SSL_CB_READ_ALERT && self->alert_ < 0 && (ret >> 8) == SSL3_AL_FATAL) self->alert_ = ret & 0xFF;
}

// The texts are short, the names first: a status message holds 159
// characters.
std::string TlsCheck::Reason() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string server = "certificate \"" + subject_ + "\"";
    switch (verify_error_) {
        case 0: break;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return server + (verify_error_ == X509_V_ERR_CERT_HAS_EXPIRED ? " expired" : " not valid yet") + " (valid " +
                   not_before_ + " to " + not_after_ + ")";
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return server + " is not for " + host_ + ": it names " + names_;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
            // The file first: the status message is cut at 159 characters.
            return "CaFile " + options_.ca_file + " is not the CA of certificate \"" + leaf_subject_ +
                   "\" (issued by \"" + leaf_issuer_ + "\")";
        default:
            return server + " refused: " + X509_verify_cert_error_string(verify_error_) + " (" +
                   std::to_string(verify_error_) + ")";
    }
    const char* alert = alert_ >= 0 ? SSL_alert_desc_string_long(alert_) : "";
    switch (alert_) {
        case -1: break;
        case SSL_AD_CERTIFICATE_REQUIRED:
            return "the broker asks for a client certificate: set CertFile and KeyFile";
        case SSL_AD_HANDSHAKE_FAILURE:
        case SSL_AD_UNKNOWN_CA:
        case SSL_AD_BAD_CERTIFICATE:
        case SSL_AD_UNSUPPORTED_CERTIFICATE:
        case SSL_AD_CERTIFICATE_REVOKED:
        case SSL_AD_CERTIFICATE_EXPIRED:
        case SSL_AD_CERTIFICATE_UNKNOWN:
        case SSL_AD_ACCESS_DENIED:
            if (options_.cert_file.empty())
                return std::string("refused (") + alert + "): does the broker ask for a client certificate? set CertFile";
            return "the broker refuses client certificate \"" + client_subject_ + "\" of \"" + client_issuer_ + "\" (" +
                   alert + ")";
        case SSL_AD_PROTOCOL_VERSION:
            return std::string("the broker does not speak ") +
                   (options_.min_version == TLS1_3_VERSION ? "TLS 1.3" : "TLS 1.2 or later") + " (TlsVersion)";
        default:
            return std::string("the broker ended the handshake: ") + alert + " (alert " + std::to_string(alert_) + ")";
    }
    if (handshake_started_ && !handshake_done_)
        return "closed during the TLS handshake: is it a TLS listener? (a plain port: clear CaFile)";
    return "";
}

TlsOptions ReadTlsSettings(const std::function<std::string(const char* key)>& text,
                           const std::function<void(const std::string& report)>& report) {
    TlsOptions tls;
    tls.ca_file = text("CaFile");
    tls.cert_file = text("CertFile");
    tls.key_file = text("KeyFile");
    if (tls.cert_file.empty() != tls.key_file.empty()) {
        report("CertFile and KeyFile go together (a client certificate and its key); neither is used");
        tls.cert_file.clear();
        tls.key_file.clear();
    }
    if (!tls.Enabled() && !tls.cert_file.empty()) {
        report("CertFile and KeyFile need CaFile (TLS is on when CaFile is set); they are not used");
        tls.cert_file.clear();
        tls.key_file.clear();
    }
    const std::string version = text("TlsVersion");
    if (!version.empty()) {
        tls.min_version = ParseTlsVersion(version);
        if (tls.min_version == 0) {
            report("TlsVersion=" + version.substr(0, 32) +
                   " is not tlsv1.2 or tlsv1.3 (older versions are refused), tlsv1.2 is used");
            tls.min_version = ParseTlsVersion("tlsv1.2");
        }
    }
    const std::string insecure = text("TlsInsecure");
    if (insecure == "1") {
        tls.insecure = true;
    } else if (!insecure.empty() && insecure != "0") {
        report("TlsInsecure=" + insecure.substr(0, 32) + " is not 0 or 1, 0 is used");
    }
    if (tls.insecure && tls.Enabled())
        report("TlsInsecure=1: the broker's certificate is not checked against Host, any certificate of the CA in "
               "CaFile is taken (set TlsInsecure=0)");
    return tls;
}
