#include <vexaDataNode.h>
#include <vexaImage.h>
#include <vexaException.h>
#include <vexaProperties.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

TEST(DataNode, PropertiesByKindWithDefaultsForMissingOnes)
{
  auto node = vexa::DataNode::New();
  EXPECT_EQ("No Name!", node->GetName());
  EXPECT_TRUE(node->IsVisible());
  vexa::LevelWindow lw(1, 2);
  EXPECT_FALSE(node->GetLevelWindow(lw));
  EXPECT_DOUBLE_EQ(1, lw.GetLevel()); // untouched

  node->SetName("US Viewing Stream - Image 0");
  node->SetVisibility(false);
  node->SetLevelWindow(vexa::LevelWindow(40, 20));
  node->SetIntProperty("count", 3);
  node->SetDoubleProperty("spacing", 0.5);

  EXPECT_EQ("US Viewing Stream - Image 0", node->GetName());
  EXPECT_FALSE(node->IsVisible());
  ASSERT_TRUE(node->GetLevelWindow(lw));
  EXPECT_EQ(vexa::LevelWindow(40, 20), lw);

  // a getter of another kind does not convert
  bool flag = true;
  EXPECT_FALSE(node->GetBoolProperty("name", flag));
  float single = 0;
  EXPECT_FALSE(node->GetFloatProperty("spacing", single));
  double spacing = 0;
  EXPECT_TRUE(node->GetDoubleProperty("spacing", spacing));
  EXPECT_DOUBLE_EQ(0.5, spacing);
  EXPECT_EQ("3", node->GetProperty("count")->GetValueAsString());

  // a reader keeps the property it got when a writer replaces it
  const vexa::BaseProperty::Pointer held = node->GetProperty("name");
  node->SetName("renamed");
  EXPECT_EQ("US Viewing Stream - Image 0", held->GetValueAsString());
  EXPECT_EQ("renamed", node->GetName());

  node->SetProperty("count", nullptr);
  EXPECT_FALSE(node->GetPropertyList()->GetMap().count("count"));
}

// The node's properties are of a kind each: equal and assignable only within
// it (an int 1 is not a double 1), a value that does not change leaves the
// modification time, and NaN always counts as a change.
TEST(DataNode, PropertiesCompareAndAssignOnlyWithinTheirKind)
{
  auto one = vexa::IntProperty::New(1);
  auto otherOne = vexa::IntProperty::New(1);
  auto two = vexa::IntProperty::New(2);
  auto doubleOne = vexa::DoubleProperty::New(1.0);
  EXPECT_TRUE(*one == *otherOne);
  EXPECT_FALSE(*one == *two);
  EXPECT_FALSE(*one == *doubleOne);
  EXPECT_THROW(one->AssignProperty(*doubleOne), vexa::Exception);
  EXPECT_EQ(1, one->GetValue());
  one->AssignProperty(*two);
  EXPECT_EQ(2, one->GetValue());

  auto text = vexa::StringProperty::New("a");
  const auto before = text->GetMTime();
  text->SetValue("a");
  EXPECT_EQ(before, text->GetMTime());
  text->SetValue("b");
  EXPECT_GT(text->GetMTime(), before);
  EXPECT_EQ("b", text->GetValueAsString());

  auto nan = vexa::DoubleProperty::New(std::nan(""));
  const auto nanBefore = nan->GetMTime();
  nan->SetValue(std::nan(""));
  EXPECT_GT(nan->GetMTime(), nanBefore);
  EXPECT_FALSE(*nan == *nan->Clone());

  auto window = vexa::LevelWindowProperty::New(vexa::LevelWindow(40, 20));
  auto copy = window->Clone();
  EXPECT_TRUE(*window == *copy);
  copy->SetValue(vexa::LevelWindow(50, 20));
  EXPECT_EQ(vexa::LevelWindow(40, 20), window->GetValue());
}

TEST(DataNode, DataChangesMarkTheNodeModifiedOnlyWhenTheyChangeSomething)
{
  auto node = vexa::DataNode::New();
  auto image = vexa::Image::New();
  const auto t0 = node->GetMTime();
  node->SetData(image);
  const auto t1 = node->GetMTime();
  EXPECT_GT(t1, t0);
  node->SetData(image);
  EXPECT_EQ(t1, node->GetMTime());
  image->Modified(); // the datum's own changes count too
  EXPECT_GT(node->GetMTime(), t1);
  EXPECT_EQ(image.GetPointer(), node->GetData().GetPointer());
  node->SetData(nullptr);
  EXPECT_FALSE(node->GetData());
}

TEST(DataNode, CloneOwnsCopiesOfTheProperties)
{
  auto node = vexa::DataNode::New();
  node->SetName("a");
  auto clone = node->Clone();
  clone->SetName("b");
  dynamic_cast<vexa::StringProperty *>(clone->GetProperty("name").GetPointer())->SetValue("c");
  EXPECT_EQ("a", node->GetName());
  EXPECT_EQ("c", clone->GetName());
}

TEST(DataNode, WorkerThreadsReadWhileTheOwnerWrites)
{
  auto node = vexa::DataNode::New();
  node->SetName("start");
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop)
    {
      const std::string name = node->GetName();
      if (name != "start" && name.rfind("name ", 0) != 0)
        ++bad;
      vexa::LevelWindow lw;
      node->GetLevelWindow(lw);
      node->GetData();
    }
  });
  for (int i = 0; i < 2000; ++i)
  {
    node->SetName("name " + std::to_string(i));
    node->SetLevelWindow(vexa::LevelWindow(i, 10));
    node->SetData(i % 2 ? vexa::Image::New().GetPointer() : nullptr);
  }
  stop = true;
  reader.join();
  EXPECT_EQ(0, bad);
}
