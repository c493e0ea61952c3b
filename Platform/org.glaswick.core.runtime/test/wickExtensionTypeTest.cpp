#include <wickExtensionType.h>
#include <wickObject.h>

#include <QObject>

#include <gtest/gtest.h>

namespace
{
  class Part : public QObject, public virtual wick::Object
  {
  };

  QObject *MakePart() { return new Part; }
  void DeletePart(QObject *object) { delete object; }
  QObject *MakeOther() { return new QObject; }
  int g_OtherDeletes = 0;
  void DeleteOther(QObject *object)
  {
    ++g_OtherDeletes;
    delete object;
  }
}

TEST(ExtensionType, RegistersMakesAndDestroysByName)
{
  const long live = wick::Object::GetNumberOfLiveObjects();
  const int id = wick::ExtensionType::registerType("TestPart", &DeletePart, &MakePart);
  ASSERT_GT(id, 0);
  EXPECT_EQ(id, wick::ExtensionType::type("TestPart"));
  EXPECT_EQ(QByteArray("TestPart"), wick::ExtensionType::name(id));
  EXPECT_TRUE(wick::ExtensionType::registeredNames().contains("TestPart"));

  QObject *object = wick::ExtensionType::construct(id);
  ASSERT_NE(nullptr, dynamic_cast<Part *>(object));
  EXPECT_EQ(live + 1, wick::Object::GetNumberOfLiveObjects());
  EXPECT_TRUE(wick::ExtensionType::destroy(id, object));
  EXPECT_EQ(live, wick::Object::GetNumberOfLiveObjects());

  // registered again (a plug-in started again): same id, new functions
  EXPECT_EQ(id, wick::ExtensionType::registerType("TestPart", &DeleteOther, &MakeOther));
  QObject *other = wick::ExtensionType::construct(id);
  EXPECT_EQ(nullptr, dynamic_cast<Part *>(other));
  EXPECT_TRUE(wick::ExtensionType::destroy(id, other));
  EXPECT_EQ(1, g_OtherDeletes);

  EXPECT_TRUE(wick::ExtensionType::unregisterType("TestPart"));
  EXPECT_FALSE(wick::ExtensionType::unregisterType("TestPart"));
  EXPECT_FALSE(wick::ExtensionType::isRegistered(id));
  EXPECT_EQ(nullptr, wick::ExtensionType::construct(id));
  QObject untouched;
  EXPECT_FALSE(wick::ExtensionType::destroy(id, &untouched));
}

TEST(ExtensionType, RefusesIncompleteRegistrations)
{
  struct Case
  {
    const char *name;
    wick::ExtensionType::Destructor destructor;
    wick::ExtensionType::Constructor constructor;
  };
  for (const Case &c : {Case{nullptr, &DeletePart, &MakePart}, Case{"", &DeletePart, &MakePart},
                        Case{"NoDestructor", nullptr, &MakePart}, Case{"NoConstructor", &DeletePart, nullptr}})
  {
    EXPECT_EQ(0, wick::ExtensionType::registerType(c.name, c.destructor, c.constructor)) << (c.name ? c.name : "null");
    if (c.name)
    {
      EXPECT_EQ(0, wick::ExtensionType::type(c.name));
    }
  }
  EXPECT_EQ(nullptr, wick::ExtensionType::construct(0));
  EXPECT_EQ(nullptr, wick::ExtensionType::construct(12345));
}
