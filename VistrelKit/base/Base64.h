#pragma once

#include <string>

#include "VistrelKit/base/Bytes.h"

namespace vistrel {

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string base64Encode(const Bytes& bytes);

}  // namespace vistrel
