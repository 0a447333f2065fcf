// SPDX-License-Identifier: Apache-2.0
#include "wininet/WinInetTls.h"

#include <openssl/err.h>

#include <atomic>
#include <deque>
#include <mutex>

#include "tls/TlsClient.h"
#include "wininet/WinInet.h"
#include "wininet/WinInetHooks.h"
#include "wininet/WinInetSocket.h"

namespace wininet {

namespace {

std::atomic<int> gResumed{0};

constexpr std::size_t kChunk = 64 * 1024;  // several records per receive

// The kept sessions, newest last.
struct SessionCache {
    struct Entry {
        std::string key;
        std::weak_ptr<SSL_CTX> context;  // the settings the session was made under
        SSL_SESSION* session;
    };
    std::mutex mu;
    std::deque<Entry> entries;

    // A copy of the session kept for key under context (the caller owns it), or null. Every
    // connection gets a copy of its own: OpenSSL marks a connection's session unusable when
    // the connection is freed without a TLS close (as kept connections are).
    SSL_SESSION* Find(const std::string& key, const std::shared_ptr<SSL_CTX>& context) {
        std::lock_guard lock(mu);
        for (const Entry& e : entries)
            if (e.key == key && e.context.lock() == context) return SSL_SESSION_dup(e.session);
        return nullptr;
    }
    // Takes over the reference.
    void Put(const std::string& key, const std::shared_ptr<SSL_CTX>& context, SSL_SESSION* session) {
        std::lock_guard lock(mu);
        for (auto it = entries.begin(); it != entries.end(); ++it)
            if (it->key == key) {
                SSL_SESSION_free(it->session);
                entries.erase(it);
                break;
            }
        entries.push_back({key, context, session});
        if (entries.size() > TlsStream::kMaxServers) {
            SSL_SESSION_free(entries.front().session);
            entries.pop_front();
        }
    }
};

SessionCache& Sessions() {
    static SessionCache* c = new SessionCache;  // never destroyed: workers may outlive main
    return *c;
}

std::string Unbracketed(const std::string& host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
    return host;
}

bool UnexpectedEof() {
    const unsigned long e = ERR_peek_error();
    return e != 0 && ERR_GET_LIB(e) == ERR_LIB_SSL && ERR_GET_REASON(e) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
}

}  // namespace

TlsStream::~TlsStream() {
    if (ssl_) SSL_free(ssl_);
}

bool TlsStream::Quiet() const { return !ssl_ || (SSL_pending(ssl_) == 0 && BIO_ctrl_pending(in_) == 0 && !eof_); }

bool TlsStream::Resumed() const { return ssl_ && SSL_session_reused(ssl_) == 1; }

DWORD TlsStream::Flush(DWORD timeoutMs) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(out_, &data);
    if (n <= 0) return 0;
    const DWORD err = SendAll(fd_, data, static_cast<std::size_t>(n), timeoutMs);
    (void)BIO_reset(out_);
    return err;
}

DWORD TlsStream::Fill(DWORD timeoutMs) {
    buffer_.resize(kChunk);
    char* buffer = buffer_.data();
    std::size_t got = 0;
    if (const DWORD err = ReceiveSome(fd_, buffer, kChunk, timeoutMs, got)) return err;
    if (got == 0) {
        eof_ = true;
        BIO_set_mem_eof_return(in_, 0);  // OpenSSL now reads the end of the stream
        return 0;
    }
    BIO_write(in_, buffer, static_cast<int>(got));
    return 0;
}

void TlsStream::KeepSession() {
    SSL_SESSION* current = SSL_get0_session(ssl_);
    if (!current || current == kept_) return;
    // Under TLS 1.3 a session becomes resumable only with the ticket the server sends after
    // the handshake; until then it merely looks so (its legacy session id).
    const bool resumable = SSL_SESSION_is_resumable(current) == 1 &&
                           (SSL_SESSION_has_ticket(current) == 1 ||
                            SSL_SESSION_get_protocol_version(current) < TLS1_3_VERSION);
    if (!resumable) return;
    // A copy, for the reason Find gives.
    if (SSL_SESSION* copy = SSL_SESSION_dup(current)) Sessions().Put(key_, context_, copy);
    kept_ = current;
}

DWORD TlsStream::Handshake(int fd, const std::string& host, WORD port, DWORD timeoutMs) {
    fd_ = fd;
    host_ = Unbracketed(host);
    key_ = host_ + ":" + std::to_string(port);
    const auto fail = [this](const TTlsFailureInfo& info) {
        failure_ = info.Text;
        return static_cast<DWORD>(TlsFailureInternetCode(info.Kind));
    };
    try {
        context_ = TlsClientContext();
    } catch (const Exception& e) {
        return fail({TTlsFailure::ChannelError, e.Message()});
    }
    ERR_clear_error();
    ssl_ = SSL_new(context_.get());
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    if (!ssl_ || !in_ || !out_) {
        if (!ssl_) {
            BIO_free(in_);
            BIO_free(out_);
        }
        in_ = out_ = nullptr;
        return fail({TTlsFailure::ChannelError, "TLS with " + host_ + ": out of memory"});
    }
    BIO_set_mem_eof_return(in_, -1);  // empty: wait for more, not the end
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_connect_state(ssl_);
    TlsPrepareClient(ssl_, host_);
    if (SSL_SESSION* kept = Sessions().Find(key_, context_)) {
        SSL_set_session(ssl_, kept);
        SSL_SESSION_free(kept);
    }
    for (;;) {
        ERR_clear_error();
        const int r = SSL_do_handshake(ssl_);
        const int why = r == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, r);
        const DWORD sent = Flush(timeoutMs);  // also an alert that explains a failure
        if (why == SSL_ERROR_NONE || why == SSL_ERROR_WANT_READ) {
            if (sent) return sent;
        }
        if (why == SSL_ERROR_NONE) break;
        if (why == SSL_ERROR_WANT_READ && !eof_) {
            if (const DWORD err = Fill(timeoutMs)) return err;
            continue;
        }
        return fail(TlsClassifyFailure(ssl_, host_));
    }
    if (Resumed()) ++gResumed;
    KeepSession();
    return 0;
}

DWORD TlsStream::Send(const char* data, std::size_t size, DWORD timeoutMs) {
    std::size_t done = 0;
    while (done < size) {
        ERR_clear_error();
        std::size_t written = 0;
        const int r = SSL_write_ex(ssl_, data + done, size - done, &written);
        const int why = r == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, r);
        if (const DWORD err = Flush(timeoutMs)) return err;
        if (why == SSL_ERROR_NONE) {
            done += written;
        } else if (why == SSL_ERROR_WANT_READ && !eof_) {
            if (const DWORD err = Fill(timeoutMs)) return err;
        } else {
            failure_ = TlsRecordFailure(host_).Text;
            return TlsFailureInternetCode(TTlsFailure::ChannelError);
        }
    }
    return 0;
}

DWORD TlsStream::Receive(char* buffer, std::size_t size, DWORD timeoutMs, std::size_t& received) {
    received = 0;
    for (;;) {
        ERR_clear_error();
        std::size_t got = 0;
        const int r = SSL_read_ex(ssl_, buffer, size, &got);
        const int why = r == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, r);
        // What a read may have to answer (a key update) is sent; a failure shows in the next read.
        (void)Flush(timeoutMs);
        switch (why) {
            case SSL_ERROR_NONE:
                received = got;
                // Whole records already here are decrypted too: one call per record would
                // cost more than the copying.
                while (received < size && !eof_ && BIO_ctrl_pending(in_) > 0 &&
                       SSL_read_ex(ssl_, buffer + received, size - received, &got) == 1)
                    received += got;
                ERR_clear_error();
                KeepSession();
                return 0;
            case SSL_ERROR_WANT_READ:
                if (eof_) break;
                if (const DWORD err = Fill(timeoutMs)) return err;
                continue;
            case SSL_ERROR_ZERO_RETURN:
                return 0;  // the server's TLS close
            default:
                break;
        }
        if (eof_ && (why == SSL_ERROR_SYSCALL || UnexpectedEof())) {
            ERR_clear_error();
            truncated_ = true;  // an end of stream without a TLS close
            return 0;
        }
        failure_ = TlsRecordFailure(host_).Text;
        return TlsFailureInternetCode(TTlsFailure::ChannelError);
    }
}

}  // namespace wininet

int WinInetResumedTlsHandshakes() { return wininet::gResumed.load(); }
