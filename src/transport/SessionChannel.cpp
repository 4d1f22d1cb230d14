#include "transport/SessionChannel.h"

namespace norvane {

bool SessionChannel::connect(std::string_view host, int port, LogBase& log, bool& dnsFailed) {
    close();
    return tcp_.connect(host, port, log, dnsFailed);
}

bool SessionChannel::connectTls(std::string_view host, int port, LogBase& log) {
    close();
    tls_.setServer(host);
    tls_.setPort(port);
    tls_.socket().setConnectTimeoutSec(tcp_.connectTimeoutSec());
    tls_.socket().setReadTimeoutMs(tcp_.readTimeoutMs());
    useTls_ = true;
    return tls_.establish(log);
}

bool SessionChannel::startTls(std::string_view host, LogBase& log) {
    tls_.setServer(host);
    // From here on the session talks through the TLS channel only, also when the handshake
    // fails: the channel is then closed, and nothing goes out in the clear.
    useTls_ = true;
    return tls_.establishOver(tcp_, log);
}

void SessionChannel::close() {
    tls_.close();
    tcp_.close();
    useTls_ = false;
}

} // namespace norvane
