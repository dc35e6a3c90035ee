#include "kernel/base/units.h"

#include <gtest/gtest.h>

#include <numbers>

#include "kernel/base/point_list.h"
#include "kernel/base/stack.h"

namespace cadport {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(Units, KindTable) {
  struct Case {
    std::uint8_t kind;
    const char* name;
    double factor;
  } cases[] = {
      {2, "METER", 1},
      {3, "KILOMETER", 1000},
      {4, "FOOT", 0.3048},
      {5, "FOOTUS", 1200.0 / 3937.0},
      {6, "FOOTMODIFIEDAMERICAN", 0.304812252984506},
      {7, "FOOTCLARKES", 0.3047972651150996},
      {8, "FOOTINDIAN", 0.30479951799004223},
      {9, "LINK", 0.20116619497596572},
      {10, "LINKBENOIT", 0.20116782494375873},
      {11, "LINKSERAS", 0.20116765121552632},
      {12, "CHAINBENOIT", 20.116782494375872},
      {13, "CHAINSEARS", 20.116765121552632},
      {14, "YARDINDIAN", 0.9143985539701267},
      {15, "YARDSEARS", 0.9143984146160288},
      {16, "FATHOM", 1.8288},
      {17, "MILENAUTICAL", 1852},
      {19, "RADIAN", 1},
      {20, "DEGREEDECIMAL", kPi / 180},
      {21, "MINUTEDECIMAL", kPi / 10800},
      {22, "SECONDDECIMAL", kPi / 648000},  // one arc-second
      {23, "GON", kPi / 200},
      {24, "GRAD", kPi / 200},
  };
  for (const Case& c : cases) {
    const TGIS_Units u(c.kind, 123);  // the given factor is ignored
    EXPECT_EQ(u.Kind(), c.kind);
    EXPECT_DOUBLE_EQ(u.Factor(), c.factor) << c.name;
    EXPECT_EQ(UnitsKindName(c.kind), c.name);
    std::uint8_t k = 0;
    EXPECT_TRUE(UnitsKindFromName(c.name, k));
    EXPECT_EQ(k, c.kind);
  }
  // Sixty seconds make a minute, sixty minutes a degree.
  EXPECT_DOUBLE_EQ(UnitsKindFactor(kUnitsSecondDecimal) * 60, UnitsKindFactor(kUnitsMinuteDecimal));
  EXPECT_DOUBLE_EQ(UnitsKindFactor(kUnitsMinuteDecimal) * 60, UnitsKindFactor(kUnitsDegreeDecimal));
}

TEST(Units, CustomAndUnknownKinds) {
  const TGIS_Units none;
  EXPECT_EQ(none.Kind(), 0);
  EXPECT_EQ(none.Factor(), 1);
  EXPECT_EQ(TGIS_Units(0, 5).Factor(), 1);
  EXPECT_EQ(TGIS_Units(1, 0.25).Factor(), 0.25);
  EXPECT_EQ(TGIS_Units(18, 0.5).Factor(), 0.5);
  EXPECT_EQ(TGIS_Units(30, 7).Factor(), 7);  // beyond the table: kept
  EXPECT_TRUE(TGIS_Units(1, 2).IsLinear());
  EXPECT_TRUE(TGIS_Units(17, 2).IsLinear());
  EXPECT_TRUE(TGIS_Units(18, 2).IsAngular());
  EXPECT_TRUE(TGIS_Units(24, 2).IsAngular());
  EXPECT_EQ(UnitsKindName(0), "");
  EXPECT_EQ(UnitsKindName(1), "");
  EXPECT_EQ(UnitsKindName(200), "");
  std::uint8_t k = 99;
  EXPECT_TRUE(UnitsKindFromName(" meter ", k));
  EXPECT_EQ(k, kUnitsMeter);
  EXPECT_FALSE(UnitsKindFromName("", k));
  EXPECT_FALSE(UnitsKindFromName("furlong", k));
  EXPECT_FALSE(UnitsKindFromName("12.5", k));
}

TEST(Units, SetKindAndAssign) {
  TGIS_Units u(1, 0.5);
  u.SetKind(kUnitsKilometer);
  EXPECT_EQ(u.Kind(), kUnitsKilometer);
  EXPECT_EQ(u.Factor(), 1000);
  TGIS_Units v;
  v.Assign(u);
  EXPECT_EQ(v.Kind(), kUnitsKilometer);
  EXPECT_EQ(v.Factor(), 1000);
  v = TGIS_Units(1, 0.125);
  u.Assign(v);
  EXPECT_EQ(u.Kind(), 1);
  EXPECT_EQ(u.Factor(), 0.125);
}

TEST(Containers, PointList) {
  TGIS_PointList l;
  EXPECT_TRUE(l.IsEmpty());
  l.Add({1, 2});
  l.Add({3, 4});
  ASSERT_EQ(l.Count(), 2u);
  EXPECT_EQ(l[1].X, 3);
  l.Clear();
  EXPECT_EQ(l.Count(), 0u);
}

TEST(Containers, Stacks) {
  TGIS_Stack s;
  int a = 1, b = 2;
  EXPECT_EQ(s.Peek(), nullptr);
  EXPECT_EQ(s.Pop(), nullptr);
  s.Push(&a);
  s.Push(&b);
  EXPECT_EQ(s.Peek(), &b);
  TGIS_Stack copy;
  copy.Push(&a);
  copy.Assign(s);  // replaced, bottom first
  EXPECT_EQ(copy.Count(), 2u);
  EXPECT_EQ(s.Pop(), &b);
  EXPECT_EQ(s.Pop(), &a);
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(copy.Pop(), &b);

  TGIS_StackInteger si;
  EXPECT_FALSE(si.Peek().has_value());
  EXPECT_FALSE(si.Pop().has_value());
  si.Push(7);
  si.Push(-3);
  EXPECT_EQ(si.Peek(), -3);
  TGIS_StackInteger sc;
  sc.Assign(si);
  EXPECT_EQ(si.Pop(), -3);
  EXPECT_EQ(si.Pop(), 7);
  EXPECT_TRUE(si.IsEmpty());
  EXPECT_EQ(sc.Items(), (std::vector<std::int32_t>{7, -3}));
}

}  // namespace
}  // namespace cadport
