// TLS as TDS 7.x carries it: settled in the PRELOGIN, the handshake inside
// PRELOGIN packets, then TLS records straight on the socket, for the whole
// connection or for the login packet alone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Login.h"

struct ssl_ctx_st;

namespace tds {

// The server's certificate and key: self-signed for localhost and 127.0.0.1,
// made at start and kept in memory only.
class TlsIdentity {
public:
    // Null and a message when OpenSSL cannot make one.
    static std::unique_ptr<TlsIdentity> create(std::string& error);
    ~TlsIdentity();
    TlsIdentity(const TlsIdentity&) = delete;
    TlsIdentity& operator=(const TlsIdentity&) = delete;

    ssl_ctx_st* context() const { return context_; }

private:
    TlsIdentity() = default;
    ssl_ctx_st* context_ = nullptr;
};

struct LinkConfig {
    EncryptionMode mode = EncryptionMode::Offered;
    const TlsIdentity* identity = nullptr;  // needed unless mode is None
    int delayMs = 0;                        // before the PRELOGIN reply, as before every reply
};

// Serves one client connection: answers its PRELOGIN, runs the TLS the two
// settled on, and calls `session` with the socket that carries the plain TDS
// stream from the LOGIN7 on (the client's own when nothing is encrypted, else
// one end of a socket pair that this function fills and drains). Returns once
// the session has ended and the client is gone or refused.
void serveLink(int fd, uint16_t spid, const LinkConfig& config,
               const std::function<void(int fd)>& session);

}  // namespace tds
