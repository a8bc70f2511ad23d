#include "core/new_containers.h"

#include <gtest/gtest.h>

using namespace keyhaven;

namespace {

using Names = std::vector<std::string>;

TEST(NewContainers, NothingCurrentMeansNothingNew)
{
    EXPECT_EQ(Names{}, new_containers({}, {"a"}));
    EXPECT_EQ(Names{}, new_containers({}, {}));
}

TEST(NewContainers, EverythingIsNewAfterAnEmptyEnumeration)
{
    EXPECT_EQ((Names{"b", "a", "b"}), new_containers({"b", "a", "b"}, {}));
}

TEST(NewContainers, OnlyUnknownNamesInCurrentOrder)
{
    EXPECT_EQ((Names{"t3-x", "t3-y"}), new_containers({"t1", "t3-x", "t2", "t3-y"}, {"t2", "t1", "gone"}));
}

TEST(NewContainers, NamesMatchByteForByte)
{
    EXPECT_EQ((Names{"Key", "key ", std::string("k\0y", 3)}),
              new_containers({"Key", "key ", std::string("k\0y", 3), "key"}, {"key", "k"}));
}

TEST(NewContainers, ADuplicateNewNameIsNewTwice)
{
    EXPECT_EQ((Names{"dup", "dup"}), new_containers({"old", "dup", "dup"}, {"old"}));
    EXPECT_EQ(Names{}, new_containers({"old", "old"}, {"old"}));
}

}  // namespace
