// The settings file is read from disk on every start and may hold anything: decoding must never
// fail, and whatever it yields must save and read back unchanged, or the next save would fail or
// silently change a setting.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "VistrelKit/settings/ConfigFile.h"
#include "fuzz/FuzzCheck.h"

using namespace vistrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const VistrelConfig config = ConfigFile::decode(text);
  FUZZ_CHECK(config.version == 1);

  const std::string written = ConfigFile::encode(config);
  VistrelConfig reread = ConfigFile::decode(written);

  // A date travels as seconds since 2001 in a double: equal to within rounding.
  FUZZ_CHECK(config.pausedUntil.has_value() == reread.pausedUntil.has_value());
  if (config.pausedUntil) {
    const double before = secondsSince1970(*config.pausedUntil);
    const double after = secondsSince1970(*reread.pausedUntil);
    FUZZ_CHECK(std::fabs(before - after) <= 1e-6 * std::fmax(1.0, std::fabs(before)));
    reread.pausedUntil = config.pausedUntil;
  }
  FUZZ_CHECK(reread == config);

  // The derived values are used by the capture loop and the cleanup; they must be sane for any
  // stored value.
  const double interval = config.captureInterval();
  FUZZ_CHECK(interval >= 2 && interval <= 60);
  FUZZ_CHECK(config.capBytes() > 0);
  FUZZ_CHECK(config.retention().days >= 1);
  return 0;
}
