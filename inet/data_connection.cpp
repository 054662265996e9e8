// The data side of a control connection: the port of a passive data
// connection (EPSV, then PASV), the listener of an active one (EPRT, then
// PORT), and a transfer command run with its pump over the data connection.
#include <optional>
#include <utility>

#include "inet/control_connection.h"
#include "inet/data_address.h"
#include "inet/errors.h"

namespace inet {

// EPSV first; PASV when the server refuses EPSV (and from then on).
DWORD ControlConnection::PassivePort(uint16_t* port) {
  Reply r;
  DWORD e;
  if (!epsv_refused_) {
    if ((e = Command("EPSV", &r)) != 0) return e;
    if (r.code == 229) {
      const std::optional<uint16_t> parsed = ParseEpsvPort(r.text);
      if (!parsed) return ERROR_INTERNET_EXTENDED_ERROR;
      *port = *parsed;
      return 0;
    }
    if (r.kind() != 5) return ERROR_INTERNET_EXTENDED_ERROR;
    epsv_refused_ = true;
  }
  if ((e = Command("PASV", &r)) != 0) return e;
  if (r.code != 227) return ERROR_INTERNET_EXTENDED_ERROR;
  const std::optional<uint16_t> parsed = ParsePasvPort(r.text);
  if (!parsed) return ERROR_INTERNET_EXTENDED_ERROR;
  *port = *parsed;
  return 0;
}

DWORD ControlConnection::PrepareData(
    std::unique_ptr<platform::Listener>* listener,
    std::unique_ptr<platform::Stream>* data) {
  DWORD e;
  if (passive_) {
    uint16_t port = 0;
    if ((e = PassivePort(&port)) != 0) return e;
    // Always the control connection's peer: the host that a 227 reply
    // names is ignored, so a server cannot aim the client at a third host.
    platform::Address remote = peer_;
    remote.port = port;
    TraceAddress("data connection (passive) to", remote);
    return env_->ConnectTo(remote, &local_, options_.connect_timeout_ms, data);
  }
  if ((e = env_->Listen(local_, listener)) != 0) return e;
  const platform::Address bound = (*listener)->LocalAddress();
  TraceAddress("data connection (active) awaited on", bound);
  const bool ipv6 = bound.ipv6();
  Reply r;
  if (!eprt_refused_ || ipv6) {
    if ((e = Command("EPRT " + FormatEprtArgument(ipv6, bound.Host(),
                                                  bound.port),
                     &r)) != 0)
      return e;
    if (r.kind() == 2) return 0;
    if (r.kind() != 5 || ipv6) return ERROR_INTERNET_EXTENDED_ERROR;
    eprt_refused_ = true;
  }
  if ((e = Command("PORT " + FormatPortArgument(bound.Host(), bound.port),
                   &r)) != 0)
    return e;
  return r.kind() == 2 ? 0 : ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD ControlConnection::Transfer(const std::string& command, const Pump& pump,
                                  Reply* last) {
  std::unique_ptr<platform::Listener> listener;
  std::unique_ptr<platform::Stream> data;
  DWORD e = PrepareData(&listener, &data);
  if (e != 0) return e;
  if ((e = Send(command, options_.io_timeout_ms)) != 0) return e;
  if ((e = ReadReply(last, options_.io_timeout_ms)) != 0) return e;
  if (last->kind() != 1) return ERROR_INTERNET_EXTENDED_ERROR;
  const Reply preliminary = *last;
  DWORD data_error = 0;
  if (!passive_) {
    data_error = listener->Accept(options_.io_timeout_ms, peer_, &data);
    listener.reset();
    if (data_error == 0) TraceAddress("data connection from", data->PeerAddress());
  }
  // The data connection's TLS starts after the command has been answered,
  // as servers expect, and resumes the control connection's session.
  if (data_error == 0 && tls_)
    data_error = tls_->Secure(std::move(data), /*resume=*/true,
                              options_.io_timeout_ms, &data);
  if (data_error == 0) data_error = pump(preliminary, *data);
  // Ending our side in order ends an upload; after a failure the data
  // connection is dropped, which tells the server to give up. Either way
  // the server's reply then says how the transfer ended.
  if (data_error == 0) data_error = data->Shutdown(options_.io_timeout_ms);
  if (data) data->Close();
  if ((e = ReadReply(last, options_.io_timeout_ms)) != 0) return e;
  if (data_error != 0) {
    if (platform::IsInternetError(data_error) && last->kind() >= 4)
      return ERROR_INTERNET_EXTENDED_ERROR;
    return data_error;
  }
  if (last->code != 226 && last->code != 250)
    return ERROR_INTERNET_EXTENDED_ERROR;
  return 0;
}

}  // namespace inet
