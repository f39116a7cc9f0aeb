#include <gtest/gtest.h>

#include "VistrelKit/base/DataFolder.h"
#include "tests/support/ScopedEnvironment.h"

namespace vistrel {
namespace {

TEST(DataFolderTest, FollowsTheOverrideThenTheXDGFolderThenHome) {
  {
    ScopedEnvironment data("VISTREL_DATA_DIR", "/srv/vistrel-data");
    ScopedEnvironment xdg("XDG_DATA_HOME", "/xdg/data");
    EXPECT_EQ(defaultDataFolder(), "/srv/vistrel-data");
  }
  {
    ScopedEnvironment data("VISTREL_DATA_DIR", nullptr);
    ScopedEnvironment xdg("XDG_DATA_HOME", "/xdg/data");
    EXPECT_EQ(defaultDataFolder(), "/xdg/data/Vistrel");
  }
  {
    ScopedEnvironment data("VISTREL_DATA_DIR", nullptr);
    ScopedEnvironment xdg("XDG_DATA_HOME", "relative/data");
    ASSERT_FALSE(homeFolder().empty());
    EXPECT_EQ(defaultDataFolder(), homeFolder() / ".local/share/Vistrel");
  }
}

}  // namespace
}  // namespace vistrel
