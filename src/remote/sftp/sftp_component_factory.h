#pragma once

#include <memory>

#include "common/bandwidth_limit.h"
#include "common/yield.h"
#include "remote/sftp_component.h"

namespace vs {

// The SFTP component on libssh2. libssh2 runs in blocking mode on a worker thread that the
// component owns; every operation waits on the caller's thread, delivering the component's
// events there and calling `yield` about every 50 ms, so that all events of an operation have
// been handled when it returns and the caller stays responsive meanwhile. Its transfers keep
// to `limit`, the instance's bandwidth limit, when there is one.
std::unique_ptr<SftpComponent> makeLibssh2SftpComponent(YieldFn yield,
                                                        BandwidthLimit* limit = nullptr);

}  // namespace vs
