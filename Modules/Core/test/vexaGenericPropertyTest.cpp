#include <vexaException.h>
#include <vexaGenericProperty.h>

#include <itkCommand.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

// The fifteen instances the core's headers declare: all of them compile.
template class vexa::GenericProperty<unsigned short>;
template class vexa::GenericProperty<int>;
template class vexa::GenericProperty<unsigned int>;
template class vexa::GenericProperty<float>;
template class vexa::GenericProperty<double>;
template class vexa::GenericProperty<bool>;
template class vexa::GenericProperty<vexa::Point<int, 3>>;
template class vexa::GenericProperty<vexa::Point<double, 2>>;
template class vexa::GenericProperty<vexa::Point<double, 3>>;
template class vexa::GenericProperty<vexa::Point<double, 4>>;
template class vexa::GenericProperty<vexa::Vector<double, 3>>;
template class vexa::GenericProperty<vexa::BoolLookupTable>;
template class vexa::GenericProperty<vexa::FloatLookupTable>;
template class vexa::GenericProperty<vexa::IntLookupTable>;
template class vexa::GenericProperty<vexa::StringLookupTable>;

namespace
{
  using Point3I = vexa::Point<int, 3>;
  using Point2D = vexa::Point<double, 2>;
  using Point3D = vexa::Point<double, 3>;
  using Point4D = vexa::Point<double, 4>;
  using Vector3D = vexa::Vector<double, 3>;

  // Properties are made by derived classes; this one only adds New().
  template <typename T>
  class TestProperty : public vexa::GenericProperty<T>
  {
  public:
    typedef TestProperty Self;
    typedef itk::SmartPointer<Self> Pointer;
    static Pointer New(const T &value = T())
    {
      Pointer p = new TestProperty(value);
      p->UnRegister();
      return p;
    }

  protected:
    explicit TestProperty(const T &value) : vexa::GenericProperty<T>(value) {}
  };

  struct ModifiedCounter
  {
    int count = 0;
    void Count() { ++count; }
  };

  template <typename T>
  int ModificationsOf(vexa::GenericProperty<T> *property, const T &value)
  {
    ModifiedCounter counter;
    auto command = itk::SimpleMemberCommand<ModifiedCounter>::New();
    command->SetCallbackFunction(&counter, &ModifiedCounter::Count);
    const unsigned long tag = property->AddObserver(itk::ModifiedEvent(), command);
    property->SetValue(value);
    property->RemoveObserver(tag);
    return counter.count;
  }

  template <typename P>
  P Make(std::initializer_list<typename P::ValueType> values)
  {
    P p;
    unsigned int i = 0;
    for (auto v : values)
      p[i++] = v;
    return p;
  }
}

TEST(GenericProperty, SetValueMarksModifiedOnlyOnChange)
{
  auto property = TestProperty<int>::New(4);
  const itk::ModifiedTimeType before = property->GetMTime();
  EXPECT_EQ(0, ModificationsOf<int>(property, 4));
  EXPECT_EQ(before, property->GetMTime());
  EXPECT_EQ(1, ModificationsOf<int>(property, 5));
  EXPECT_GT(property->GetMTime(), before);
  EXPECT_EQ(5, property->GetValue());

  auto point = TestProperty<Point3I>::New(Make<Point3I>({1, 2, 3}));
  auto other = TestProperty<Point3I>::New(Make<Point3I>({1, 2, 4}));
  EXPECT_FALSE(*point == *other);
  EXPECT_EQ(1, ModificationsOf<Point3I>(point, Make<Point3I>({1, 2, 4})));
  EXPECT_TRUE(*point == *other);

  vexa::IntLookupTable table;
  table.SetTableValue(1, 10);
  auto tableProperty = TestProperty<vexa::IntLookupTable>::New(table);
  EXPECT_EQ(0, ModificationsOf<vexa::IntLookupTable>(tableProperty, table));
  table.SetTableValue(2, 20);
  EXPECT_EQ(1, ModificationsOf<vexa::IntLookupTable>(tableProperty, table));
}

TEST(GenericProperty, NaNIsNeverEqual)
{
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto a = TestProperty<double>::New(nan);
  auto b = TestProperty<double>::New(nan);
  EXPECT_EQ(1, ModificationsOf<double>(a, nan));
  EXPECT_FALSE(*a == *b);
  auto p = TestProperty<Point3D>::New(Make<Point3D>({1, nan, 3}));
  EXPECT_EQ(1, ModificationsOf<Point3D>(p, Make<Point3D>({1, nan, 3})));
}

TEST(GenericProperty, ValuesAsText)
{
  EXPECT_EQ("1", TestProperty<bool>::New(true)->GetValueAsString());
  EXPECT_EQ("-5", TestProperty<int>::New(-5)->GetValueAsString());
  EXPECT_EQ("65535", TestProperty<unsigned short>::New(65535)->GetValueAsString());
  EXPECT_EQ("1e-07", TestProperty<float>::New(1e-7f)->GetValueAsString());
  EXPECT_EQ("1.23457e+06", TestProperty<double>::New(1234567.0)->GetValueAsString());
  EXPECT_EQ("0.333333", TestProperty<double>::New(1.0 / 3.0)->GetValueAsString());
  EXPECT_EQ("[1.5, 2]", TestProperty<Point2D>::New(Make<Point2D>({1.5, 2}))->GetValueAsString());
  EXPECT_EQ("[1, 2, 3]", TestProperty<Point3I>::New(Make<Point3I>({1, 2, 3}))->GetValueAsString());
  EXPECT_EQ("[0.5, 0, -1, 4]", TestProperty<Point4D>::New(Make<Point4D>({0.5, 0, -1, 4}))->GetValueAsString());
  EXPECT_EQ("[1, 2.5, 3]", TestProperty<Vector3D>::New(Make<Vector3D>({1, 2.5, 3}))->GetValueAsString());
  vexa::BoolLookupTable table;
  table.SetTableValue(2, true);
  EXPECT_EQ("[2: 1]", TestProperty<vexa::BoolLookupTable>::New(table)->GetValueAsString());
}

TEST(GenericProperty, AssignCopiesTheValueWithoutModifying)
{
  auto source = TestProperty<float>::New(2.5f);
  auto target = TestProperty<float>::New(1.0f);
  const itk::ModifiedTimeType before = target->GetMTime();
  EXPECT_TRUE(target->AssignProperty(*source));
  EXPECT_TRUE(*target == *source);
  EXPECT_EQ(2.5f, target->GetValue());
  EXPECT_EQ(before, target->GetMTime());
}

TEST(GenericProperty, PropertiesOfDifferentValueTypesAreRefused)
{
  auto integer = TestProperty<int>::New(1);
  auto boolean = TestProperty<bool>::New(true);
  EXPECT_FALSE(*integer == *boolean);
  EXPECT_TRUE(*integer != *boolean);
  EXPECT_THROW(integer->AssignProperty(*boolean), vexa::Exception);
  EXPECT_THROW(static_cast<vexa::BaseProperty &>(*boolean) = *integer, vexa::Exception);
  EXPECT_EQ(1, integer->GetValue());
  EXPECT_TRUE(boolean->GetValue());
}

TEST(GenericProperty, CloneIsAnIndependentEqualProperty)
{
  auto source = TestProperty<vexa::StringLookupTable>::New();
  vexa::StringLookupTable table;
  table.SetTableValue(0, "zero");
  source->SetValue(table);
  const itk::ModifiedTimeType before = source->GetMTime();

  vexa::GenericProperty<vexa::StringLookupTable>::Pointer clone = source->Clone();
  ASSERT_TRUE(clone);
  EXPECT_NE(static_cast<vexa::BaseProperty *>(source.GetPointer()), clone.GetPointer());
  EXPECT_EQ(1, clone->GetReferenceCount());
  EXPECT_TRUE(*clone == *source);
  table.SetTableValue(1, "one");
  clone->SetValue(table);
  EXPECT_EQ(1u, source->GetValue().GetLookupTable().size());
  EXPECT_EQ(before, source->GetMTime());
}

TEST(GenericProperty, NamesDoNotTellTheValueType)
{
  auto integer = TestProperty<int>::New();
  auto boolean = TestProperty<bool>::New();
  EXPECT_STREQ("GenericProperty", integer->GetNameOfClass());
  EXPECT_STREQ("GenericProperty", boolean->GetNameOfClass());
  EXPECT_STREQ("GenericProperty", vexa::GenericProperty<int>::GetStaticNameOfClass());
  const std::vector<std::string> expected = {"GenericProperty", "BaseProperty", "itk::Object", "itk::LightObject"};
  EXPECT_EQ(expected, integer->GetClassHierarchy());
  EXPECT_EQ(integer->GetClassHierarchy(), boolean->GetClassHierarchy());
}

namespace
{
  // A derived class whose GetValue differs from the stored value.
  class DoublingProperty : public vexa::GenericProperty<int>
  {
  public:
    typedef DoublingProperty Self;
    typedef itk::SmartPointer<Self> Pointer;
    static Pointer New()
    {
      Pointer p = new DoublingProperty();
      p->UnRegister();
      return p;
    }
    int GetValue() const override { return 2 * m_Value; }
  };
}

TEST(GenericProperty, TextComesFromTheVirtualGetValue)
{
  auto property = DoublingProperty::New();
  property->SetValue(21);
  EXPECT_EQ("42", property->GetValueAsString());
}
