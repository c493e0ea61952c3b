#include <vexaCommon.h>

#include <gtest/gtest.h>

#include <itkDataObject.h>
#include <itkObject.h>
#include <itkObjectFactory.h>
#include <itkProcessObject.h>

namespace
{
  // A chain like the system's own: a first class-macro class on an ITK base,
  // a derived one, and a class with a second base that must not be listed.
  class Interface
  {
  public:
    virtual ~Interface() = default;
  };

  class Base : public itk::Object
  {
  public:
    vexaClassMacroItkParent(Base, itk::Object);
    vexaNewMacro(Base);
    int value = 0;

  protected:
    Base() = default;
    Base(const Base &other) : itk::Object(), value(other.value) {}
    vexaCloneMacro(Base);
  };

  class Derived : public Base, public Interface
  {
  public:
    vexaClassMacro(Derived, Base);
    vexaNewMacro(Derived);

  protected:
    Derived() = default;
  };

  class WithParam : public itk::ProcessObject
  {
  public:
    vexaClassMacroItkParent(WithParam, itk::ProcessObject);
    vexaNewMacro1Param(WithParam, bool);
    bool flag;

  protected:
    explicit WithParam(bool f) : flag(f) {}
  };

  class Throwing : public itk::DataObject
  {
  public:
    vexaClassMacroItkParent(Throwing, itk::DataObject);
    vexaNewMacro(Throwing);
    static int destroyed;

  protected:
    Throwing() { throw std::runtime_error("constructor failed"); }
    ~Throwing() override { ++destroyed; }
  };
  int Throwing::destroyed = 0;

  class Misused : public itk::Object
  {
  public:
    vexaClassMacroItkParent(Misused, itk::Object);
    vexaNewMacro(Misused);
    void Fail() const { vexaItkExceptionMacro(<< "bad call " << 7); }
  };
}

TEST(ClassMacro, NamesAreStaticAndVirtual)
{
  Derived::Pointer d = Derived::New();
  const Base *asBase = d.GetPointer();
  EXPECT_STREQ("Derived", Derived::GetStaticNameOfClass());
  EXPECT_STREQ("Derived", asBase->GetNameOfClass());
  EXPECT_STREQ("Derived", static_cast<const itk::Object *>(asBase)->GetNameOfClass());
}

TEST(ClassMacro, HierarchyListsTheDeclaredChainWithDemangledItkNames)
{
  Derived::Pointer d = Derived::New();
  const std::vector<std::string> expected{"Derived", "Base", "itk::Object", "itk::LightObject"};
  EXPECT_EQ(expected, static_cast<Base *>(d.GetPointer())->GetClassHierarchy());
  EXPECT_EQ((std::vector<std::string>{"WithParam", "itk::ProcessObject", "itk::Object", "itk::LightObject"}),
            vexa::GetStaticClassHierarchy<WithParam>());
  EXPECT_EQ((std::vector<std::string>{"itk::DataObject", "itk::Object", "itk::LightObject"}),
            vexa::GetStaticClassHierarchy<itk::DataObject>());
  // every call builds a fresh list
  auto a = d->GetClassHierarchy();
  a.clear();
  EXPECT_EQ(expected, d->GetClassHierarchy());
}

TEST(ClassMacro, NewGivesTheOnlyOwner)
{
  Base::Pointer b = Base::New();
  EXPECT_EQ(1, b->GetReferenceCount());
  WithParam::Pointer w = WithParam::New(true);
  EXPECT_EQ(1, w->GetReferenceCount());
  EXPECT_TRUE(w->flag);

  itk::LightObject::Pointer another = b->CreateAnother();
  EXPECT_EQ(1, another->GetReferenceCount());
  EXPECT_NE(nullptr, dynamic_cast<Base *>(another.GetPointer()));
}

TEST(ClassMacro, CloneCopiesIntoAnIndependentObject)
{
  Base::Pointer b = Base::New();
  b->value = 42;
  Base::Pointer c = b->Clone();
  ASSERT_TRUE(c.IsNotNull());
  EXPECT_NE(b.GetPointer(), c.GetPointer());
  EXPECT_EQ(1, c->GetReferenceCount());
  EXPECT_EQ(42, c->value);
  c->value = 1;
  EXPECT_EQ(42, b->value);
}

TEST(ClassMacro, ThrowingConstructorLeavesNothingBehind)
{
  EXPECT_THROW(Throwing::New(), std::runtime_error);
  EXPECT_EQ(0, Throwing::destroyed);
}

TEST(ClassMacro, ItkStyleMisuseHasFixedDescriptionAndUnknownLocation)
{
  Misused::Pointer m = Misused::New();
  try
  {
    m->Fail();
    FAIL() << "no exception";
  }
  catch (const itk::ExceptionObject &e)
  {
    std::ostringstream expected;
    expected << "itk::ERROR: Misused(" << static_cast<const void *>(m.GetPointer()) << "): bad call 7";
    EXPECT_EQ(expected.str(), std::string(e.GetDescription()));
    EXPECT_STREQ("unknown", e.GetLocation());
  }
}
