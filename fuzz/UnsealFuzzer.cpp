// Sealed blobs come from the database and the frame files, which anyone with file access can
// change: unsealing must fail with VistrelCryptoError::damaged, never crash or return garbage.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "VistrelKit/keys/FrameKeys.h"
#include "VistrelKit/keys/VistrelCryptoError.h"
#include "fuzz/FuzzCheck.h"

using namespace vistrel;

namespace {

const FrameKeys& keys() {
  static const FrameKeys fixed = [] {
    MasterKey::Storage bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return FrameKeys::derive(MasterKey(bytes));
  }();
  return fixed;
}

bool unseals(const Bytes& blob, std::string_view context) {
  try {
    (void)keys().unseal(blob, context);
    return true;
  } catch (const VistrelCryptoError& error) {
    FUZZ_CHECK(error.kind() == VistrelCryptoError::Kind::damaged);
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes input(data, data + size);
  const std::string_view asText(reinterpret_cast<const char*>(data), size);

  // Forging a blob would need the key: random bytes never open.
  FUZZ_CHECK(!unseals(input, sealContext::frameMeta(7)));
  FUZZ_CHECK(!unseals(input, sealContext::check));

  // The input as plaintext and as context: sealing always round-trips, a blob fails under any
  // other context, and any change of one byte is detected.
  const Bytes blob = keys().seal(input, asText);
  FUZZ_CHECK(blob.size() == input.size() + sealedOverhead);
  FUZZ_CHECK(keys().unseal(blob, asText) == input);
  FUZZ_CHECK(!unseals(blob, std::string(asText) + "x"));
  Bytes altered = blob;
  altered[size % altered.size()] ^= 0x01;
  FUZZ_CHECK(!unseals(altered, asText));
  FUZZ_CHECK(!unseals(Bytes(blob.begin(), blob.end() - 1), asText));

  // Tokens and tags of any term.
  const std::string token = keys().token(asText);
  FUZZ_CHECK(token.size() == 16);
  for (char c : token)
    FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
  FUZZ_CHECK(keys().tag(asText).size() == 16);
  return 0;
}
