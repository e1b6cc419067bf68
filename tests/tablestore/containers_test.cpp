#include "tablestore/containers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "test_log.h"

namespace vx::test {
namespace {

// The data pointers of the vector, walked through the links, checking count and tail on the way.
std::vector<void*> Contents(const Vector& vector) {
  std::vector<void*> data;
  const VectorNode* last = nullptr;
  for (const VectorNode* node = vector.head; node != nullptr; node = node->next) {
    data.push_back(node->data);
    last = node;
  }
  EXPECT_EQ(static_cast<std::int32_t>(data.size()), vector.count);
  EXPECT_EQ(vector.tail, last);
  return data;
}

class VectorTest : public ::testing::Test {
 protected:
  void SetUp() override { InitVector(&vector_, nullptr); }
  void TearDown() override { FreeVector(&vector_); }
  void Append(std::initializer_list<int> indices) {
    for (int i : indices) ASSERT_EQ(AddNewElement(&vector_, &items_[i]), 1);
  }
  std::vector<void*> Items(std::initializer_list<int> indices) {
    std::vector<void*> items;
    for (int i : indices) items.push_back(&items_[i]);
    return items;
  }
  static VectorNode* NewNode(void* data) {
    auto* node = static_cast<VectorNode*>(std::calloc(1, sizeof(VectorNode)));
    node->data = data;
    return node;
  }

  Vector vector_{};
  int items_[8] = {};
};

TEST_F(VectorTest, ElementAtOutsideTheRangeOrOnAnEmptyVectorIsNull) {
  EXPECT_EQ(ElementAt(&vector_, 0), nullptr);
  Append({0, 1, 2});
  for (std::int32_t position : {-1, 3, 100}) EXPECT_EQ(ElementAt(&vector_, position), nullptr) << position;
  EXPECT_EQ(ElementAt(&vector_, 2)->data, &items_[2]);
  EXPECT_EQ(GetNthElement(&vector_, 1, ElementAt(&vector_, 1))->data, &items_[2]);
  EXPECT_EQ(GetNthElement(&vector_, 2, ElementAt(&vector_, 1)), nullptr);  // walks off the end
  EXPECT_EQ(GetNthElement(&vector_, 3, vector_.head), nullptr);            // n beyond count - 1
}

TEST_F(VectorTest, InsertElementAtPlacesTheNodeBeforeThePosition) {
  struct Case {
    std::int32_t position;
    int result;
    std::vector<int> expected;  // indices of items_, 7 is the inserted one
  };
  const Case cases[] = {
      {0, 1, {7, 0, 1, 2}}, {1, 1, {0, 7, 1, 2}}, {2, 1, {0, 1, 7, 2}},
      {3, 1, {0, 1, 2, 7}}, {4, 0, {0, 1, 2}},    {-1, 0, {0, 1, 2}},
  };
  for (const Case& c : cases) {
    FreeVector(&vector_);
    Append({0, 1, 2});
    VectorNode* node = NewNode(&items_[7]);
    EXPECT_EQ(InsertElementAt(&vector_, node, c.position), c.result) << c.position;
    if (c.result == 0) std::free(node);
    std::vector<void*> expected;
    for (int i : c.expected) expected.push_back(&items_[i]);
    EXPECT_EQ(Contents(vector_), expected) << c.position;
  }
}

TEST_F(VectorTest, DeletingKeepsHeadAndTailRight) {
  struct Case {
    std::int32_t position;
    int result;
    std::vector<int> remaining;
  };
  const Case cases[] = {{0, 1, {1, 2}}, {1, 1, {0, 2}}, {2, 1, {0, 1}}, {3, 0, {0, 1, 2}}, {-1, 0, {0, 1, 2}}};
  for (const Case& c : cases) {
    FreeVector(&vector_);
    Append({0, 1, 2});
    EXPECT_EQ(DeleteElementAt(&vector_, c.position), c.result) << c.position;
    std::vector<void*> expected;
    for (int i : c.remaining) expected.push_back(&items_[i]);
    EXPECT_EQ(Contents(vector_), expected) << c.position;
  }
  // After deleting the last node an append becomes the tail.
  FreeVector(&vector_);
  Append({0, 1, 2});
  ASSERT_EQ(DeleteElementAt(&vector_, 2), 1);
  Append({3});
  EXPECT_EQ(Contents(vector_), Items({0, 1, 3}));

  FreeVector(&vector_);
  Append({4});
  EXPECT_EQ(DeleteElementAt(&vector_, 0), 1);
  EXPECT_EQ(vector_.head, nullptr);
  EXPECT_EQ(vector_.tail, nullptr);
  EXPECT_EQ(DeleteElementAt(&vector_, 0), 0);
  Append({5});
  EXPECT_EQ(Contents(vector_), Items({5}));
}

TEST_F(VectorTest, DeleteElementReportsOnlyWhetherTheVectorWasEmpty) {
  VectorNode stranger{&items_[6], nullptr};
  EXPECT_EQ(DeleteElement(&vector_, &stranger), 0);
  Append({0, 1, 2});
  EXPECT_EQ(DeleteElement(&vector_, &stranger), 1);
  EXPECT_EQ(Contents(vector_), Items({0, 1, 2}));
  EXPECT_EQ(DeleteElement(&vector_, vector_.tail), 1);
  EXPECT_EQ(Contents(vector_), Items({0, 1}));
}

TEST_F(VectorTest, DeleteLcdVectorRemovesTheFirstNodeHoldingTheData) {
  Append({0, 1, 0, 2});
  EXPECT_EQ(DeleteLCDVector(&vector_, &items_[0]), 1);
  EXPECT_EQ(Contents(vector_), Items({1, 0, 2}));
  EXPECT_EQ(DeleteLCDVector(&vector_, &items_[5]), 0);
  EXPECT_EQ(Contents(vector_), Items({1, 0, 2}));
}

TEST_F(VectorTest, MergeVectorMovesTheSourceDataBehindTheDestinations) {
  Vector source{};
  InitVector(&source, nullptr);
  Append({0, 1});
  ASSERT_EQ(AddNewElement(&source, &items_[2]), 1);
  ASSERT_EQ(AddNewElement(&source, &items_[3]), 1);
  EXPECT_EQ(MergeVector(&vector_, &source), 1);
  EXPECT_EQ(Contents(vector_), Items({0, 1, 2, 3}));
  EXPECT_EQ(source.count, 0);
  EXPECT_EQ(source.head, nullptr);
}

TEST_F(VectorTest, CloneVectorCopiesEveryString) {
  char first[] = "alpha";
  char second[] = "";
  ASSERT_EQ(AddNewElement(&vector_, first), 1);
  ASSERT_EQ(AddNewElement(&vector_, second), 1);
  Vector* clone = CloneVector(&vector_);
  ASSERT_NE(clone, nullptr);
  const std::vector<void*> copies = Contents(*clone);
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_NE(copies[0], static_cast<void*>(first));
  EXPECT_STREQ(static_cast<char*>(copies[0]), "alpha");
  EXPECT_STREQ(static_cast<char*>(copies[1]), "");
  for (void* copy : copies) std::free(copy);
  FreeVector(clone);
  delete clone;

  ScopedTestLog log(4);
  EXPECT_EQ(CloneVector(nullptr), nullptr);
  EXPECT_TRUE(log.Has("[ERROR]", "Cannot clone vector.  Vector is NULL."));
}

std::int8_t ByValue(const VectorNode* new_node, const VectorNode* existing_node) {
  const int a = *static_cast<const int*>(new_node->data);
  const int b = *static_cast<const int*>(existing_node->data);
  return static_cast<std::int8_t>((a > b) - (a < b));
}

TEST(OrderedVectorTest, AddElementKeepsOrderAndRejectsEqualElements) {
  const std::vector<std::vector<int>> inputs = {
      {5, 3, 8, 1, 9, 7, 2, 6, 4}, {1, 2, 3, 4, 5, 6, 7, 8}, {8, 7, 6, 5, 4, 3, 2, 1},
      {4, 4, 2, 2, 6, 6, 1},       {10, 0, 5, 5, 10, 0, 3},  {1},
  };
  for (const std::vector<int>& input : inputs) {
    Vector vector{};
    InitVector(&vector, ByValue);
    std::vector<int> values = input;  // stable addresses for the nodes' data
    std::vector<int> expected;
    for (int& value : values) {
      const bool fresh = std::find(expected.begin(), expected.end(), value) == expected.end();
      EXPECT_EQ(AddNewElement(&vector, &value), fresh ? 1 : 0) << value;
      if (fresh) expected.push_back(value);
    }
    std::sort(expected.begin(), expected.end());
    std::vector<int> actual;
    for (void* data : Contents(vector)) actual.push_back(*static_cast<int*>(data));
    EXPECT_EQ(actual, expected);
    FreeVector(&vector);
  }
}

TEST(VectorLockTest, ConcurrentAppendsLoseNoNode) {
  Vector vector{};
  InitVector(&vector, nullptr);
  constexpr int kPerThread = 2000;
  std::vector<int> data(2 * kPerThread);
  auto append = [&](int offset) {
    for (int i = 0; i < kPerThread; ++i)
      EXPECT_EQ(AddNewElement(&vector, &data[static_cast<std::size_t>(offset + i)]), 1);
  };
  std::thread other(append, kPerThread);
  append(0);
  other.join();
  EXPECT_EQ(Contents(vector).size(), static_cast<std::size_t>(2 * kPerThread));
  FreeVector(&vector);
}

// The log file's text without carriage returns (the Windows build writes CR LF).
std::string LogText(const ScopedTestLog& log) {
  std::string text = ReadWholeFile(log.file());
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

TEST(VectorTraceTest, EachOperationLogsItsEntryLine) {
  Vector vector{};
  int item = 0;
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"\n\t@@@@@ Inside InitVector() @@@@@ \n", [&] { InitVector(&vector, nullptr); }},
      {"\n\t@@@@@ Inside AddElement() @@@@@ \n", [&] { EXPECT_EQ(AddNewElement(&vector, &item), 1); }},
      {"\n\t@@@@@ Inside InsertElementAt() @@@@@ \n", [&] { EXPECT_EQ(InsertElementAt(&vector, nullptr, 0), 0); }},
      {"\n\t@@@@@ Inside ElementAt() @@@@@ \n", [&] { ElementAt(&vector, 0); }},
      {"\n\t@@@@@ Inside GetNthElement() @@@@@ \n", [&] { GetNthElement(&vector, 0, vector.head); }},
      {"\n\t@@@@@ Inside DeleteElement() @@@@@ \n", [&] { DeleteElement(&vector, nullptr); }},
      {"\n\t@@@@@ Inside DeleteLCDVector() @@@@@ \n", [&] { DeleteLCDVector(&vector, nullptr); }},
      {"\n\t@@@@@ Inside DeleteElementAt() @@@@@ \n", [&] { DeleteElementAt(&vector, 5); }},
      {"\n\t@@@@@ Inside MergeVector() @@@@@ \n", [&] { EXPECT_EQ(MergeVector(&vector, &vector), 1); }},
      {"@@@@ Inside CloneVector @@@@\n", [&] { EXPECT_EQ(CloneVector(nullptr), nullptr); }},
      {"\n\t@@@@@ Inside FreeVector() @@@@@ \n", [&] { FreeVector(&vector); }},
  };
  for (const auto& [text, operation] : cases) {
    ScopedTestLog log(4);
    operation();
    EXPECT_NE(LogText(log).find("[TRACE] " + text), std::string::npos) << text;
  }
}

TEST(StringMapTest, BucketIsTheBase26HashModuloTheBucketCount) {
  StringMap map{};
  ASSERT_EQ(StringMapInit(&map, 0), 1);
  EXPECT_EQ(map.bucket_count, 10);
  int value = 0;
  // "b" = 98 -> 8; "ab" = (97 * 26 + 98) reduced step by step -> (7 * 26 + 98) % 10 = 0;
  // bytes above 127 count as unsigned: "\xff" = 255 -> 5.
  const std::pair<const char*, int> cases[] = {{"b", 8}, {"ab", 0}, {"\xff", 5}};
  for (const auto& [key, bucket] : cases) {
    ASSERT_EQ(StringMapPut(&map, key, &value), 1);
    EXPECT_STREQ(map.buckets[bucket].key, key);
  }
  StringMapFree(&map);
}

TEST(StringMapTest, PutGetRemoveWithinOneChain) {
  StringMap map{};
  ASSERT_EQ(StringMapInit(&map, 1), 1);  // one bucket: every key shares the chain
  int a = 1, b = 2, c = 3, replaced = 4;
  ASSERT_EQ(StringMapPut(&map, "Key", &a), 1);
  ASSERT_EQ(StringMapPut(&map, "key", &b), 1);  // differs in case only: another key
  ASSERT_EQ(StringMapPut(&map, "third", &c), 1);
  ASSERT_EQ(StringMapPut(&map, "key", &replaced), 1);
  EXPECT_EQ(StringMapCount(&map), 3);
  EXPECT_EQ(StringMapGet(&map, "Key"), &a);
  EXPECT_EQ(StringMapGet(&map, "key"), &replaced);
  EXPECT_EQ(StringMapContains(&map, "KEY"), 0);

  const char** keys = StringMapKeys(&map);
  ASSERT_NE(keys, nullptr);
  std::vector<std::string> names;
  for (const char** key = keys; *key != nullptr; ++key) names.emplace_back(*key);
  std::free(keys);
  EXPECT_EQ(names, (std::vector<std::string>{"Key", "key", "third"}));

  EXPECT_EQ(StringMapRemove(&map, "Key"), 1);  // the head entry: its successor moves up
  EXPECT_EQ(StringMapGet(&map, "key"), &replaced);
  EXPECT_EQ(StringMapRemove(&map, "third"), 1);  // a chained entry
  EXPECT_EQ(StringMapRemove(&map, "third"), 0);
  EXPECT_EQ(StringMapRemove(&map, "key"), 1);  // the last one empties the head entry
  EXPECT_EQ(StringMapCount(&map), 0);
  EXPECT_EQ(StringMapGet(&map, "key"), nullptr);
  ASSERT_EQ(StringMapPut(&map, "again", &a), 1);
  EXPECT_EQ(StringMapGet(&map, "again"), &a);

  // Resizing moves every entry into the new buckets; a count below 1 changes nothing.
  ASSERT_EQ(StringMapPut(&map, "Key", &b), 1);
  EXPECT_EQ(StringMapResize(&map, 0), 0);
  ASSERT_EQ(StringMapResize(&map, 7), 1);
  EXPECT_EQ(map.bucket_count, 7);
  EXPECT_EQ(StringMapCount(&map), 2);
  EXPECT_EQ(StringMapGet(&map, "again"), &a);
  EXPECT_EQ(StringMapGet(&map, "Key"), &b);
  StringMapFree(&map);
}

}  // namespace
}  // namespace vx::test
