#include "VistrelKit/base/Base64.h"

#include <openssl/evp.h>

namespace vistrel {

std::string base64Encode(const Bytes& bytes) {
  // EVP_EncodeBlock writes 4 characters per started 3 bytes plus a terminating zero, and no
  // line breaks.
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                      static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(written));
  return text;
}

}  // namespace vistrel
