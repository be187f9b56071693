// The endpoint behind /dev/mem: physical addresses of the simulated boards.
#pragma once

#include <memory>

#include "platform/xserver/endpoint.h"

namespace xstub::detail {

std::unique_ptr<Endpoint> MakeMemEndpoint();

}  // namespace xstub::detail
