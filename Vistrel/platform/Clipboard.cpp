#include "Vistrel/platform/Clipboard.h"

namespace vistrel {
namespace {

constexpr const char* noClipboard = "there is no clipboard without a desktop session";

}  // namespace

void UnavailableClipboard::setText(const std::string&) {
  throw ClipboardError(noClipboard);
}

void UnavailableClipboard::setImage(const Image&) {
  throw ClipboardError(noClipboard);
}

}  // namespace vistrel
