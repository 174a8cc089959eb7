#include "platform/posix/named_objects_posix.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/temp_dir.h"

namespace kvx {
namespace {

using testing::TempDir;

TEST(NamedMutex, ExistsWhileAnyHandleIsOpen) {
  TempDir dir;
  PosixNamedObjects objects(dir.path());
  bool existed = true;
  auto first = objects.CreateMutex("Global\\VeskQZRGlobalMutex", &existed);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(existed);
  auto second = objects.CreateMutex("Global\\VeskQZRGlobalMutex", &existed);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(existed);
  first.reset();
  auto third = objects.CreateMutex("Global\\VeskQZRGlobalMutex", &existed);
  EXPECT_TRUE(existed);  // the second handle still holds it
  second.reset();
  third.reset();
  auto fourth = objects.CreateMutex("Global\\VeskQZRGlobalMutex", &existed);
  EXPECT_FALSE(existed);
  // Another name is another object.
  auto other = objects.CreateMutex("Global\\Other", &existed);
  EXPECT_FALSE(existed);
}

TEST(NamedObjects, AMutexAndAMappingShareOneNamespace) {
  TempDir dir;
  PosixNamedObjects objects(dir.path());
  bool existed = true;
  {
    // A mapping holds the name: no mutex of that name, with or without the
    // prefix, can be created or opened.
    auto mapping = objects.CreateFileMapping("Global\\VeskQZRGlobalMutex", 64, &existed);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(objects.CreateMutex("Global\\VeskQZRGlobalMutex", &existed), nullptr);
    EXPECT_EQ(objects.CreateMutex("VeskQZRGlobalMutex", &existed), nullptr);
    EXPECT_EQ(objects.OpenMutex("Global\\VeskQZRGlobalMutex"), nullptr);
    EXPECT_FALSE(objects.MutexHeld("Global\\VeskQZRGlobalMutex"));
    // The mapping itself is still one object for every opener.
    EXPECT_NE(objects.OpenFileMapping("Global\\VeskQZRGlobalMutex"), nullptr);
  }
  {
    // Once the mapping is gone the name is free for a mutex, which in turn
    // keeps out a mapping of its name.
    auto mutex = objects.CreateMutex("Global\\VeskQZRGlobalMutex", &existed);
    ASSERT_NE(mutex, nullptr);
    EXPECT_FALSE(existed);
    EXPECT_EQ(objects.CreateFileMapping("Global\\VeskQZRGlobalMutex", 64, &existed), nullptr);
    EXPECT_EQ(objects.OpenFileMapping("Global\\VeskQZRGlobalMutex"), nullptr);
    // Other names are not affected.
    EXPECT_NE(objects.CreateFileMapping("Global\\KVXFileMappingMount", 64, &existed), nullptr);
  }
  EXPECT_NE(objects.CreateFileMapping("Global\\VeskQZRGlobalMutex", 64, &existed), nullptr);
  EXPECT_FALSE(existed);
}

TEST(NamedMutex, AHolderThatDiesGivesTheNameUp) {
  TempDir dir;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PosixNamedObjects objects(dir.path());
    bool existed;
    auto held = objects.CreateMutex("Global\\VeskQZRGlobalMutex", &existed);
    char c = held && !existed ? '1' : '0';
    (void)!write(ready[1], &c, 1);
    pause();  // held until killed
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, '1');
  PosixNamedObjects objects(dir.path());
  bool existed = false;
  EXPECT_NE(objects.CreateMutex("Global\\VeskQZRGlobalMutex", &existed), nullptr);
  EXPECT_TRUE(existed);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_NE(objects.CreateMutex("Global\\VeskQZRGlobalMutex", &existed), nullptr);
  EXPECT_FALSE(existed);
  close(ready[0]);
  close(ready[1]);
}

TEST(NamedMutex, OwnershipIsWaitedForReleasedAndGivenUpByACrash) {
  TempDir dir;
  PosixNamedObjects objects(dir.path());
  EXPECT_EQ(objects.OpenMutex("KVXShareMemUserMutex"), nullptr);  // no holder: no object
  bool existed = true;
  auto created = objects.CreateMutex("KVXShareMemUserMutex", &existed);
  ASSERT_NE(created, nullptr);
  auto opened = objects.OpenMutex("KVXShareMemUserMutex");
  ASSERT_NE(opened, nullptr);
  EXPECT_FALSE(opened->Release());  // not owned yet
  EXPECT_EQ(created->Wait(0), NamedMutex::WaitResult::kOwned);
  EXPECT_EQ(created->Wait(0), NamedMutex::WaitResult::kOwned);  // its owner may wait again
  EXPECT_EQ(opened->Wait(30), NamedMutex::WaitResult::kTimedOut);
  EXPECT_TRUE(created->Release());
  EXPECT_EQ(opened->Wait(0), NamedMutex::WaitResult::kOwned);
  EXPECT_TRUE(opened->Release());

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PosixNamedObjects mine(dir.path());
    auto held = mine.OpenMutex("KVXShareMemUserMutex");
    char c = held && held->Wait(0) == NamedMutex::WaitResult::kOwned ? '1' : '0';
    (void)!write(ready[1], &c, 1);
    pause();  // owned until killed
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, '1');
  EXPECT_EQ(created->Wait(20), NamedMutex::WaitResult::kTimedOut);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(created->Wait(1000), NamedMutex::WaitResult::kOwned);
  close(ready[0]);
  close(ready[1]);
}

TEST(NamedMutex, MissingFolderFailsCleanly) {
  PosixNamedObjects objects("/nonexistent/kvx/objects");
  bool existed = false;
  EXPECT_EQ(objects.CreateMutex("Global\\X", &existed), nullptr);
}

TEST(NamedMutex, NamesBecomeSafeFileNames) {
  EXPECT_EQ(ObjectFileName("Global\\VeskQZRGlobalMutex"), "VeskQZRGlobalMutex");
  EXPECT_EQ(ObjectFileName("KVXShareMemUserMutex"), "KVXShareMemUserMutex");
  EXPECT_EQ(ObjectFileName("Local\\a/b c"), "a%2Fb%20c");
  EXPECT_EQ(ObjectFileName("Global\\..\\x"), "..%5Cx");
}

}  // namespace
}  // namespace kvx
