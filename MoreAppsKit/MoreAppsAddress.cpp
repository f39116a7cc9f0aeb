#include "MoreAppsKit/MoreAppsAddress.h"

#include <algorithm>
#include <cstddef>

namespace vistrel {
namespace {

constexpr std::size_t maxEntryAddressLength = 200;

bool isAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
  return isAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string lowercased(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return result;
}

// RFC 3986's unreserved and reserved characters and "%": everything an address may hold
// unencoded.
bool isAddressCharacter(char c) {
  static constexpr std::string_view others = "-._~:/?#[]@!$&'()*+,;=%";
  return isAsciiLetter(c) || isAsciiDigit(c) || others.find(c) != std::string_view::npos;
}

bool hasValidEscapes(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%')
      continue;
    if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2]))
      return false;
    i += 2;
  }
  return true;
}

bool isHostName(std::string_view host) {
  if (host.empty())
    return false;
  std::size_t labelStart = 0;
  for (std::size_t i = 0; i <= host.size(); ++i) {
    if (i == host.size() || host[i] == '.') {
      if (i == labelStart)
        return false;
      labelStart = i + 1;
      continue;
    }
    if (!isAsciiLetter(host[i]) && !isAsciiDigit(host[i]) && host[i] != '-')
      return false;
  }
  return true;
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

std::optional<MoreAppsAddress> MoreAppsAddress::parse(std::string_view text) {
  MoreAppsAddress address;
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || !isAsciiLetter(text[0]))
    return std::nullopt;
  for (char c : text.substr(0, colon)) {
    if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != '+' && c != '-' && c != '.')
      return std::nullopt;
  }
  address.scheme = lowercased(text.substr(0, colon));
  std::string_view rest = text.substr(colon + 1);
  if (rest.substr(0, 2) != "//")
    return std::nullopt;
  rest.remove_prefix(2);

  if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
    address.fragment = std::string(rest.substr(hash + 1));
    rest = rest.substr(0, hash);
  }
  if (const std::size_t question = rest.find('?'); question != std::string_view::npos) {
    address.query = std::string(rest.substr(question + 1));
    rest = rest.substr(0, question);
  }
  const std::size_t slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  address.path = slash == std::string_view::npos ? std::string() : std::string(rest.substr(slash));

  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view userInfo = authority.substr(0, at);
    const std::size_t separator = userInfo.find(':');
    address.user = std::string(userInfo.substr(0, separator));
    if (separator != std::string_view::npos)
      address.password = std::string(userInfo.substr(separator + 1));
    authority = authority.substr(at + 1);
  }
  if (const std::size_t portColon = authority.rfind(':'); portColon != std::string_view::npos) {
    const std::string_view port = authority.substr(portColon + 1);
    if (!std::all_of(port.begin(), port.end(), isAsciiDigit))
      return std::nullopt;
    address.port = std::string(port);
    authority = authority.substr(0, portColon);
  }
  if (!authority.empty() && !isHostName(authority))
    return std::nullopt;
  address.host = lowercased(authority);
  if (!hasValidEscapes(text))
    return std::nullopt;
  return address;
}

bool isSiteHost(std::string_view host, std::string_view siteHost) {
  return !siteHost.empty() &&
         (host == siteHost || (host.substr(0, 4) == "www." && host.substr(4) == siteHost));
}

bool isAllowedEntryAddress(std::string_view text, std::string_view siteHost,
                           std::string_view storeHost) {
  if (text.size() > maxEntryAddressLength)
    return false;
  for (char c : text) {
    if (!isAddressCharacter(c) || c == '?' || c == '#')
      return false;
  }
  const std::optional<MoreAppsAddress> address = MoreAppsAddress::parse(text);
  if (!address || address->scheme != "https" || address->host.empty())
    return false;
  if (address->user || address->password || address->port || address->query || address->fragment)
    return false;
  const std::string& host = address->host;
  // The store itself or one of its subdomains; a host that merely ends in the same letters
  // ("evilflathub.org") is not the store.
  const bool isStore =
      !storeHost.empty() && (host == storeHost || endsWith(host, "." + std::string(storeHost)));
  return isSiteHost(host, siteHost) || isStore;
}

}  // namespace vistrel
