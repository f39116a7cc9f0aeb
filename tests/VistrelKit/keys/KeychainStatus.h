#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "VistrelKit/keys/VistrelCryptoError.h"

namespace vistrel {

// Runs an operation that must fail with a keychain error and returns that error's status.
std::int32_t keychainStatusOf(auto&& operation) {
  try {
    operation();
  } catch (const VistrelCryptoError& error) {
    EXPECT_EQ(error.kind(), VistrelCryptoError::Kind::keychain);
    return error.status();
  }
  ADD_FAILURE() << "expected a keychain error";
  return 1;
}

}  // namespace vistrel
