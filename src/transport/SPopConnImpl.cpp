#include "transport/SPopConnImpl.h"

#include <memory>

namespace norvane {

namespace {
std::unique_ptr<SChannel> makeChannel(SChannel*& keep) {
    auto c = std::make_unique<SChannel>();
    keep = c.get();
    return c;
}
} // namespace

SPopConnImpl::SPopConnImpl() : PopConnImpl(makeChannel(tls_), true) {}

SPopConnImpl::~SPopConnImpl() { quitIfConnected(); }

bool SPopConnImpl::connect(std::string_view host, int port, LogBase& log) {
    tls_->setServer(host);
    tls_->setPort(port);
    if (!tls_->establish(log)) {
        log.logError("Failed to establish channel to Secure POP3 server");
        return false;
    }
    return readStatus(log);
}

} // namespace norvane
