#include "Tls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "Packets.h"
#include "Tokens.h"

namespace tds {

namespace {

std::string opensslError() {
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0) return "no reason given";
    char text[256];
    ERR_error_string_n(e, text, sizeof text);
    return text;
}

bool addExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!extension) return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A self-signed certificate for the key, valid for localhost and 127.0.0.1
// (a client that checks the host name connects to either), and its own CA.
X509* selfSigned(EVP_PKEY* key) {
    X509* certificate = X509_new();
    if (!certificate) return nullptr;
    uint64_t serial = 0;
    RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial);
    X509_NAME* name = X509_get_subject_name(certificate);
    const bool made =
        X509_set_version(certificate, 2) == 1 &&
        ASN1_INTEGER_set_int64(X509_get_serialNumber(certificate), int64_t(serial >> 1) | 1) == 1 &&
        X509_gmtime_adj(X509_getm_notBefore(certificate), -3600) &&
        X509_gmtime_adj(X509_getm_notAfter(certificate), 30L * 24 * 3600) &&
        X509_set_pubkey(certificate, key) == 1 &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("localhost"), -1, -1,
                                   0) == 1 &&
        X509_set_issuer_name(certificate, name) == 1 &&
        addExtension(certificate, NID_basic_constraints, "critical,CA:TRUE") &&
        addExtension(certificate, NID_key_usage, "critical,digitalSignature,keyCertSign") &&
        addExtension(certificate, NID_ext_key_usage, "serverAuth") &&
        addExtension(certificate, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1") &&
        addExtension(certificate, NID_subject_key_identifier, "hash") &&
        X509_sign(certificate, key, EVP_sha256()) > 0;
    if (made) return certificate;
    X509_free(certificate);
    return nullptr;
}

void note(uint16_t spid, const std::string& text) {
    std::fprintf(stderr, "tds-server: spid %u: %s\n", spid, text.c_str());
}

bool sendAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// A login that did not encrypt, on a server that requires it: one error, as
// a refused login gets, then the connection closes.
void refuseUnencrypted(MessageWriter& writer, uint16_t spid) {
    writer.setPacketType(kReply);
    ServerMessage refusal;
    refusal.number = 18456;
    refusal.severity = 14;
    refusal.text =
        "Login failed: this server requires an encrypted connection and the client did not "
        "encrypt it.";
    writeMessage(writer, refusal);
    writeDone(writer, kDone, kDoneError, 0, 0);
    writer.endMessage();
    note(spid, "refused a client that did not encrypt (the server requires encryption)");
}

// One connection's TLS over memory buffers: what the client sent is fed in,
// what OpenSSL writes for the client is drained out; the socket stays ours,
// so the handshake can travel inside PRELOGIN packets.
class TlsChannel {
public:
    explicit TlsChannel(SSL_CTX* context) : ssl_(SSL_new(context)) {
        if (!ssl_) return;
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        if (!in_ || !out_) {
            BIO_free(in_);
            BIO_free(out_);
            SSL_free(ssl_);
            ssl_ = nullptr;
            return;
        }
        // Empty means "more to come", not the end of the stream.
        BIO_set_mem_eof_return(in_, -1);
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_accept_state(ssl_);
    }
    ~TlsChannel() { SSL_free(ssl_); }
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    SSL* ssl() const { return ssl_; }
    void feed(const uint8_t* data, size_t size) { BIO_write(in_, data, int(size)); }
    std::vector<uint8_t> drainOut() { return drain(out_); }
    // Bytes fed but not taken as TLS records.
    std::vector<uint8_t> drainIn() { return drain(in_); }

private:
    static std::vector<uint8_t> drain(BIO* bio) {
        std::vector<uint8_t> bytes(BIO_ctrl_pending(bio));
        if (!bytes.empty())
            bytes.resize(size_t(std::max(0, BIO_read(bio, bytes.data(), int(bytes.size())))));
        return bytes;
    }
    SSL* ssl_;
    BIO* in_ = nullptr;
    BIO* out_ = nullptr;
};

// The handshake inside PRELOGIN packets, both ways. False (with a note) when
// it fails or the client leaves.
bool handshake(TlsChannel& tls, MessageReader& reader, MessageWriter& writer, uint16_t spid,
               EncryptionMode mode) {
    for (;;) {
        ERR_clear_error();
        const int done = SSL_do_handshake(tls.ssl());
        const std::vector<uint8_t> flight = tls.drainOut();
        if (!flight.empty()) {
            writer.bytes(flight);
            writer.endMessage();
            if (writer.failed()) return false;
        }
        if (done == 1) return true;
        if (SSL_get_error(tls.ssl(), done) != SSL_ERROR_WANT_READ) {
            note(spid, "TLS handshake failed: " + opensslError());
            return false;
        }
        Message m;
        const ReadResult read = reader.read(m);
        if (read == ReadResult::Eof) {
            // A client that does not trust the certificate just hangs up.
            note(spid, "the client left during the TLS handshake");
            return false;
        }
        if (read != ReadResult::Ok) {
            note(spid, "malformed packet during the TLS handshake, closing");
            return false;
        }
        if (m.type != kPrelogin) {
            if (mode == EncryptionMode::Required && m.type == kLogin7) {
                refuseUnencrypted(writer, spid);
            } else {
                char text[80];
                std::snprintf(text, sizeof text,
                              "packet type 0x%02X during the TLS handshake, closing", m.type);
                note(spid, text);
            }
            return false;
        }
        tls.feed(m.payload.data(), m.payload.size());
    }
}

// Moves the TDS stream between the client's socket (TLS records) and the
// session's (plain) until either side ends. With loginOnly the client
// encrypts its first packet, the LOGIN7, and nothing after it; the server
// answers in clear, as SQL Server does when neither side asked for more.
void pump(int client, int session, TlsChannel& tls, bool loginOnly, uint16_t spid) {
    bool tlsIn = true;
    const bool tlsOut = !loginOnly;
    std::vector<uint8_t> login;  // loginOnly: the first packet, decrypted so far
    uint8_t buffer[16384];
    uint8_t plain[16384];
    for (;;) {
        pollfd p[2] = {{client, POLLIN, 0}, {session, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[0].revents) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            if (!tlsIn) {
                if (!sendAll(session, buffer, size_t(n))) return;
            } else {
                tls.feed(buffer, size_t(n));
                for (;;) {
                    ERR_clear_error();
                    const int got = SSL_read(tls.ssl(), plain, sizeof plain);
                    if (got <= 0) {
                        const int why = SSL_get_error(tls.ssl(), got);
                        if (why == SSL_ERROR_WANT_READ) break;
                        if (why != SSL_ERROR_ZERO_RETURN)
                            note(spid, "TLS record refused: " + opensslError());
                        return;
                    }
                    if (!loginOnly) {
                        if (!sendAll(session, plain, size_t(got))) return;
                        continue;
                    }
                    login.insert(login.end(), plain, plain + got);
                    if (login.size() < kHeaderSize) continue;
                    const size_t length = (size_t(login[2]) << 8) | login[3];
                    if (login.size() < length) continue;
                    // The login packet is whole: what follows comes in clear.
                    std::vector<uint8_t> rest = tls.drainIn();
                    login.insert(login.end(), rest.begin(), rest.end());
                    if (!sendAll(session, login.data(), login.size())) return;
                    tlsIn = false;
                    break;
                }
                // Alerts OpenSSL answered with.
                const std::vector<uint8_t> out = tls.drainOut();
                if (!sendAll(client, out.data(), out.size())) return;
            }
        }
        if (p[1].revents) {
            const ssize_t n = ::recv(session, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            if (!tlsOut) {
                if (!sendAll(client, buffer, size_t(n))) return;
            } else {
                ERR_clear_error();
                if (SSL_write(tls.ssl(), buffer, int(n)) != int(n)) {
                    note(spid, "TLS write failed: " + opensslError());
                    return;
                }
                const std::vector<uint8_t> out = tls.drainOut();
                if (!sendAll(client, out.data(), out.size())) return;
            }
        }
    }
}

}  // namespace

std::unique_ptr<TlsIdentity> TlsIdentity::create(std::string& error) {
    std::unique_ptr<TlsIdentity> identity(new TlsIdentity);
    // An EC key: made at once, where an RSA key would slow every start.
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = key ? selfSigned(key) : nullptr;
    SSL_CTX* context = certificate ? SSL_CTX_new(TLS_server_method()) : nullptr;
    // TLS 1.2, as SQL Server speaks it inside TDS 7.x; no session tickets or
    // renegotiation, which would need records outside the handshake's packets.
    const bool made = context && SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1 &&
                      SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION) == 1 &&
                      SSL_CTX_use_certificate(context, certificate) == 1 &&
                      SSL_CTX_use_PrivateKey(context, key) == 1 &&
                      SSL_CTX_check_private_key(context) == 1;
    if (made) {
        SSL_CTX_set_options(context, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION);
        identity->context_ = context;
    } else {
        error = "cannot make the TLS certificate: " + opensslError();
        SSL_CTX_free(context);
    }
    X509_free(certificate);
    EVP_PKEY_free(key);
    if (!made) return nullptr;
    return identity;
}

TlsIdentity::~TlsIdentity() { SSL_CTX_free(context_); }

void serveLink(int fd, uint16_t spid, const LinkConfig& config,
               const std::function<void(int fd)>& session) {
    uint8_t first = 0;
    ssize_t peeked;
    do {
        peeked = ::recv(fd, &first, 1, MSG_PEEK);
    } while (peeked < 0 && errno == EINTR);
    if (peeked <= 0) return;
    MessageReader reader(fd);
    MessageWriter writer(fd, spid);
    Message prelogin;
    if (first != kPrelogin) {
        // No PRELOGIN: a client that logs in in clear (or breaks the protocol,
        // which the session tells).
        if (config.mode != EncryptionMode::Required) return session(fd);
        if (reader.read(prelogin) == ReadResult::Ok) refuseUnencrypted(writer, spid);
        return;
    }
    const ReadResult read = reader.read(prelogin);
    if (read != ReadResult::Ok) {
        if (read != ReadResult::Eof) note(spid, "malformed or oversized packet, closing");
        return;
    }
    uint8_t answer = kEncryptNotSup;
    try {
        checkPrelogin(prelogin.payload);
        answer = encryptionAnswer(config.mode, preloginEncryption(prelogin.payload));
    } catch (const ProtocolError& e) {
        note(spid, std::string(e.what()) + ", closing");
        return;
    }
    if (config.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(config.delayMs));
    writer.bytes(preloginReply(answer));
    writer.endMessage();
    if (writer.failed()) return;
    if (answer == kEncryptNotSup) return session(fd);

    TlsChannel tls(config.identity->context());
    if (!tls.ssl()) {
        note(spid, "cannot start TLS: " + opensslError());
        return;
    }
    writer.setPacketType(kPrelogin);
    if (!handshake(tls, reader, writer, spid, config.mode)) return;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        note(spid, "cannot make a socket pair");
        return;
    }
    std::thread inner([&] {
        session(pair[0]);
        ::shutdown(pair[0], SHUT_RDWR);
    });
    pump(fd, pair[1], tls, answer == kEncryptOff, spid);
    ::shutdown(pair[1], SHUT_RDWR);
    inner.join();
    ::close(pair[0]);
    ::close(pair[1]);
}

}  // namespace tds
