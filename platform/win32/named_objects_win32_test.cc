#include "platform/win32/named_objects_win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/win32/windows_api.h"
#include "tests/win32_test_support.h"

namespace kvx {
namespace {

// Names of this test process's own, so that parallel runs never meet.
std::string Name(const char* what) {
  return std::string("Local\\kvx-test-") + what + "-" + std::to_string(GetCurrentProcessId());
}
std::string ParentName(const char* what) {
  return std::string("Local\\kvx-test-") + what + "-" +
         ChildRole().substr(ChildRole().find(':') + 1);
}

TEST(Win32NamedObjects, ObjectsExistWhileAHandleIsOpen) {
  Win32NamedObjects objects;
  const std::string name = Name("exists");
  EXPECT_EQ(objects.OpenMutex(name), nullptr);
  bool existed = true;
  std::unique_ptr<NamedMutex> first = objects.CreateMutex(name, &existed);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(existed);
  std::unique_ptr<NamedMutex> second = objects.CreateMutex(name, &existed);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(existed);
  EXPECT_NE(objects.OpenMutex(name), nullptr);
  first.reset();
  EXPECT_NE(objects.OpenMutex(name), nullptr);
  second.reset();
  EXPECT_EQ(objects.OpenMutex(name), nullptr);

  // One name never stands for two objects: a mapping's name is no mutex.
  const std::string shared = Name("one-name");
  std::unique_ptr<NamedMapping> mapping = objects.CreateFileMapping(shared, 64, &existed);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(objects.CreateMutex(shared, &existed), nullptr);
  EXPECT_EQ(objects.OpenMutex(shared), nullptr);
}

TEST(Win32NamedObjects, TimedWaitsAndRelease) {
  Win32NamedObjects objects;
  const std::string name = Name("wait");
  std::unique_ptr<NamedMutex> mine = objects.CreateMutex(name, nullptr);
  ASSERT_NE(mine, nullptr);
  EXPECT_FALSE(mine->Release());  // not owned
  ASSERT_EQ(mine->Wait(0), NamedMutex::WaitResult::kOwned);

  // Another thread (another owner) waits in vain while it is held.
  NamedMutex::WaitResult other = NamedMutex::WaitResult::kFailed;
  std::thread([&] { other = objects.OpenMutex(name)->Wait(50); }).join();
  EXPECT_EQ(other, NamedMutex::WaitResult::kTimedOut);

  EXPECT_TRUE(mine->Release());
  EXPECT_FALSE(mine->Release());
  std::thread([&] {
    std::unique_ptr<NamedMutex> h = objects.OpenMutex(name);
    other = h->Wait(1000);
    if (other == NamedMutex::WaitResult::kOwned) h->Release();
  }).join();
  EXPECT_EQ(other, NamedMutex::WaitResult::kOwned);

  // Destroying a handle that owns the mutex gives it up, as closing the
  // handle promises, although this thread goes on running.
  ASSERT_EQ(mine->Wait(0), NamedMutex::WaitResult::kOwned);
  std::unique_ptr<NamedMutex> keep = objects.OpenMutex(name);
  mine.reset();
  std::thread([&] { other = objects.OpenMutex(name)->Wait(1000); }).join();
  EXPECT_NE(other, NamedMutex::WaitResult::kTimedOut);
}

// The child's part: owns the mutex named after its parent and waits to be
// ended, as a crash would end it.
TEST(Win32NamedObjectsChild, HoldMutexUntilKilled) {
  if (ChildRole().rfind("hold:", 0) != 0) GTEST_SKIP() << "run by the parent test only";
  Win32NamedObjects objects;
  std::unique_ptr<NamedMutex> m = objects.CreateMutex(ParentName("crash"), nullptr);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->Wait(0), NamedMutex::WaitResult::kOwned);
  bool existed = false;
  std::unique_ptr<NamedMapping> ready =
      objects.CreateFileMapping(ParentName("crash-ready"), 16, &existed);
  ready->MapView(16)->data()[0] = 1;
  Sleep(INFINITE);
}

TEST(Win32NamedObjects, AHolderThatCrashesGivesTheMutexUp) {
  Win32NamedObjects objects;
  bool existed = false;
  std::unique_ptr<NamedMapping> ready =
      objects.CreateFileMapping(Name("crash-ready"), 16, &existed);
  ASSERT_NE(ready, nullptr);
  std::unique_ptr<MappingView> flag = ready->MapView(16);
  ChildTest child("Win32NamedObjectsChild.HoldMutexUntilKilled",
                  "hold:" + std::to_string(GetCurrentProcessId()));
  ASSERT_TRUE(child.started());
  for (int i = 0; i < 1000 && flag->data()[0] == 0; ++i) Sleep(10);
  ASSERT_EQ(flag->data()[0], 1) << "the child never took the mutex";

  std::unique_ptr<NamedMutex> mutex = objects.OpenMutex(Name("crash"));
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(mutex->Wait(0), NamedMutex::WaitResult::kTimedOut);
  child.Kill();
  EXPECT_EQ(mutex->Wait(5000), NamedMutex::WaitResult::kOwned);
  EXPECT_TRUE(mutex->Release());
}

// The child's part: writes into its parent's mapping and ends.
TEST(Win32NamedObjectsChild, WriteIntoMapping) {
  if (ChildRole().rfind("write:", 0) != 0) GTEST_SKIP() << "run by the parent test only";
  Win32NamedObjects objects;
  std::unique_ptr<NamedMapping> m = objects.OpenFileMapping(ParentName("map"));
  ASSERT_NE(m, nullptr);
  std::unique_ptr<MappingView> v = m->MapView(4096);
  ASSERT_NE(v, nullptr);
  std::memcpy(v->data() + 20, u"john", 8);
  v->data()[0] = '1';
}

TEST(Win32NamedObjects, MappingsAreSharedBetweenProcesses) {
  Win32NamedObjects objects;
  const std::string name = Name("map");
  EXPECT_EQ(objects.OpenFileMapping(name), nullptr);
  bool existed = true;
  std::unique_ptr<NamedMapping> mapping = objects.CreateFileMapping(name, 4096, &existed);
  ASSERT_NE(mapping, nullptr);
  EXPECT_FALSE(existed);
  std::unique_ptr<MappingView> view = mapping->MapView(4096);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->size(), 4096u);
  for (size_t i = 0; i < view->size(); ++i) ASSERT_EQ(view->data()[i], 0) << i;
  // No view larger than the mapping.
  EXPECT_EQ(mapping->MapView(1 << 20), nullptr);

  ChildTest child("Win32NamedObjectsChild.WriteIntoMapping",
                  "write:" + std::to_string(GetCurrentProcessId()));
  unsigned long code = 1;
  ASSERT_TRUE(child.Wait(30000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(view->data()[0], '1');
  EXPECT_EQ(std::memcmp(view->data() + 20, u"john", 8), 0);

  // A second creation opens the same memory.
  std::unique_ptr<NamedMapping> again = objects.CreateFileMapping(name, 4096, &existed);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(existed);
  EXPECT_EQ(again->MapView(64)->data()[0], '1');
}

}  // namespace
}  // namespace kvx
