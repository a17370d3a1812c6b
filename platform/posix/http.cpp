// The native build has no HTTP: every exchange fails with the reason.
#include "platform/http.h"

namespace http {

bool perform(Exchange& exchange) {
    exchange.failure = "HTTP is not available in this build";
    return false;
}

}  // namespace http
