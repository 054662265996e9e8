// The OpenSSL client: TLS 1.2 and 1.3, what is trusted, and the sessions
// that the data connections resume.
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/openssl/tls_openssl.h"

namespace platform {
namespace {

// The most sessions kept for data connections to resume.
constexpr size_t kMaxSessions = 8;
// What one read from the stream below may take.
constexpr size_t kReadBuffer = 64 * 1024;

std::vector<unsigned char> Der(X509* cert) {
  unsigned char* der = nullptr;
  const int size = i2d_X509(cert, &der);
  std::vector<unsigned char> out;
  if (size > 0) out.assign(der, der + size);
  OPENSSL_free(der);
  return out;
}

}  // namespace

uint32_t TlsClient::Create(const TlsOptions& options,
                           std::unique_ptr<TlsClient>* out) {
  std::unique_ptr<OpenSslClient> client;
  const uint32_t e = OpenSslClient::Make(options, &client);
  if (e == 0) *out = std::move(client);
  return e;
}

OpenSslClient::~OpenSslClient() {
  for (SSL_SESSION* session : sessions_) SSL_SESSION_free(session);
  if (ctx_ != nullptr) SSL_CTX_free(ctx_);
}

uint32_t OpenSslClient::Make(const TlsOptions& options,
                             std::unique_ptr<OpenSslClient>* out) {
  std::unique_ptr<OpenSslClient> client(new OpenSslClient());
  client->options_ = options;
  client->ctx_ = SSL_CTX_new(TLS_client_method());
  if (client->ctx_ == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  SSL_CTX* ctx = client->ctx_;
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
  // Fewer, larger reads from the stream below.
  SSL_CTX_set_read_ahead(ctx, 1);
  SSL_CTX_set_default_read_buffer_len(ctx, kReadBuffer);
  // The client cache only calls back: the sessions are kept here, for the
  // data connections of this one control connection.
  SSL_CTX_set_session_cache_mode(
      ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(ctx, &OpenSslClient::OnNewSession);
  if (const uint32_t e = client->Trust(options.trust_file)) return e;
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_cert_verify_callback(ctx, &OpenSslClient::Verify, client.get());
  *out = std::move(client);
  return 0;
}

// With a trust file, a store of its certificates alone, each an anchor (an
// intermediate authority, or the server's own certificate, is enough), and
// their exact bytes for pinning; without one, the system's store.
uint32_t OpenSslClient::Trust(const std::string& trust_file) {
  if (trust_file.empty()) {
    return SSL_CTX_set_default_verify_paths(ctx_) == 1
               ? 0
               : ERROR_INTERNET_SEC_INVALID_CERT;
  }
  std::FILE* file = std::fopen(trust_file.c_str(), "rb");
  if (file == nullptr)
    return errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND
                                               : ERROR_ACCESS_DENIED;
  X509_STORE* store = X509_STORE_new();
  if (store == nullptr) {
    std::fclose(file);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  while (X509* cert = PEM_read_X509(file, nullptr, nullptr, nullptr)) {
    X509_STORE_add_cert(store, cert);
    pins_.push_back(Der(cert));
    X509_free(cert);
  }
  std::fclose(file);
  ERR_clear_error();  // the end of the file reads as an error
  if (pins_.empty()) {
    X509_STORE_free(store);
    return ERROR_INTERNET_SEC_INVALID_CERT;
  }
  X509_STORE_set_flags(store, X509_V_FLAG_PARTIAL_CHAIN);
  SSL_CTX_set_cert_store(ctx_, store);  // takes the store
  return 0;
}

bool OpenSslClient::IsPinned(X509* leaf) const {
  if (pins_.empty() || leaf == nullptr) return false;
  const std::vector<unsigned char> der = Der(leaf);
  for (const auto& pin : pins_)
    if (pin == der) return true;
  return false;
}

// The server's certificate is trusted when it is, byte for byte, one of the
// trust file's certificates, whatever names and dates it carries: the user
// vouched for that very certificate (a self-signed one of an appliance, say),
// and there is no switch that turns verification off. Otherwise the chain and
// the host are verified as usual.
int OpenSslClient::Verify(X509_STORE_CTX* store, void* arg) {
  auto* self = static_cast<OpenSslClient*>(arg);
  if (self->IsPinned(X509_STORE_CTX_get0_cert(store))) {
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }
  return X509_verify_cert(store) > 0 ? 1 : 0;
}

int OpenSslClient::OnNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* stream = static_cast<TlsStream*>(SSL_get_ex_data(ssl, TlsStreamIndex()));
  if (stream == nullptr) return 0;
  OpenSslClient* self = stream->client();
  if (self->sessions_.size() >= kMaxSessions) {
    SSL_SESSION_free(self->sessions_.front());
    self->sessions_.erase(self->sessions_.begin());
  }
  self->sessions_.push_back(session);
  return 1;  // the reference is ours
}

// A TLS 1.3 ticket is offered once (servers take each once); a TLS 1.2
// session can be resumed again and again.
SSL_SESSION* OpenSslClient::TakeSession() {
  while (!sessions_.empty()) {
    SSL_SESSION* session = sessions_.back();
    if (SSL_SESSION_is_resumable(session) != 1) {
      sessions_.pop_back();
      SSL_SESSION_free(session);
      continue;
    }
    if (SSL_SESSION_get_protocol_version(session) == TLS1_3_VERSION) {
      sessions_.pop_back();
      return session;
    }
    SSL_SESSION_up_ref(session);
    return session;
  }
  return nullptr;
}

uint32_t OpenSslClient::Secure(std::unique_ptr<Stream> plain, bool resume,
                               int timeout_ms, std::unique_ptr<Stream>* out) {
  auto stream =
      std::make_unique<TlsStream>(std::move(plain), this, /*control=*/!resume);
  SSL_SESSION* session = resume ? TakeSession() : nullptr;
  const uint32_t e = stream->Handshake(options_.host, session, timeout_ms);
  if (session != nullptr) SSL_SESSION_free(session);
  if (e != 0) return e;
  *out = std::move(stream);
  return 0;
}

int TlsStreamIndex() {
  static const int index =
      SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

}  // namespace platform
