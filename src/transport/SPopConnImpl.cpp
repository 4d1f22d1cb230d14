#include "transport/SPopConnImpl.h"

#include <memory>

namespace norvane {

SPopConnImpl::SPopConnImpl() : PopConnImpl(std::make_unique<SChannel>(), true) {
    tls_ = static_cast<SChannel*>(&channel());
}

SPopConnImpl::~SPopConnImpl() {
    quitIfConnected();
}

bool SPopConnImpl::connect(std::string_view host, int port, LogBase& log) {
    forgetCapabilities();
    tls_->setServer(host);
    tls_->setPort(port);
    if (!tls_->establish(log)) {
        log.logError("Failed to establish channel to Secure POP3 server");
        return false;
    }
    if (!readStatus(log))
        return false;
    rememberServer(host, port);
    return true;
}

} // namespace norvane
