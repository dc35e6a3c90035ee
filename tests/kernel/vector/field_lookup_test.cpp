// Field lookup by name and the shape's values by field index: the index
// getters give what the name getters give.
#include <cstdint>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "kernel/vector/field.h"
#include "kernel/vector/layer_vector.h"
#include "kernel/vector/shape.h"

namespace cadport {
namespace {

class LookupLayer : public TGIS_LayerVector {
 public:
  LookupLayer() { SetSupportedKinds(60); }
  TGIS_Variant ReadFileField(std::int32_t uid, const std::string& name) override {
    if (uid == 13) throw std::runtime_error("unreadable record");
    return TGIS_Variant("file:" + name + ":" + std::to_string(uid));
  }
};

TEST(FieldLookup, NamesSharingPrefixAndLength) {
  LookupLayer layer;
  const char* names[] = {"DXF_LAYER", "DXF_COLOR", "DXF_LABEL", "DXF_HANDLE", "DXF_WEIGHT", "A", "Ab"};
  for (const char* n : names) layer.AddField(n, TGIS_FieldKind::String, 10, 0);
  struct Case {
    const char* name;
    std::int32_t index;
  };
  const Case cases[] = {
      {"DXF_LAYER", 0},  {"dxf_layer", 0},  {"Dxf_Color", 1},  {"DXF_LABEl", 2},
      {"DXF_HANDLE", 3}, {"dxf_weight", 4}, {"a", 5},          {"AB", 6},
      {"DXF_LAYERS", -1}, {"DXF_LAYEX", -1}, {"XXF_LAYER", -1}, {"", -1},
      {"B", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(layer.FindField(c.name), c.index) << c.name;
  // A renamed field answers to its new name only.
  layer.RenameField("DXF_COLOR", "DXF_COLOUR", 10, 0);
  EXPECT_EQ(layer.FindField("DXF_COLOR"), -1);
  EXPECT_EQ(layer.FindField("dxf_colouR"), 1);
}

TEST(FieldLookup, ValuesByIndexMatchValuesByName) {
  LookupLayer layer;
  layer.DeclareFileField("ELEV", TGIS_FieldKind::Float, 10, 2, true);
  layer.AddField("NOTE", TGIS_FieldKind::String, 10, 0);
  layer.AddField("COUNT", TGIS_FieldKind::Number, 10, 0);
  layer.AddField("FLAG", TGIS_FieldKind::Boolean, 1, 0);
  layer.RenameField("ELEV", "HEIGHT", 10, 2);
  TGIS_Shape* shape = layer.CreateShape(TGIS_ShapeKind::Point);
  const char* names[] = {"HEIGHT", "NOTE", "COUNT", "FLAG"};

  auto expectSame = [&](const char* when) {
    for (std::int32_t i = 0; i < 4; ++i) {
      EXPECT_EQ(shape->GetFieldAt(i), shape->GetField(names[i])) << when << " " << names[i];
      EXPECT_EQ(shape->GetFieldRawAt(i), shape->GetFieldRaw(names[i])) << when << " " << names[i];
      EXPECT_EQ(shape->GetFieldAt(i).Kind(), shape->GetField(names[i]).Kind()) << when;
      EXPECT_EQ(shape->GetFieldRawAt(i).Kind(), shape->GetFieldRaw(names[i]).Kind()) << when;
    }
  };
  expectSame("unset");  // file value, defaults, unassigned
  EXPECT_EQ(shape->GetFieldRawAt(0), TGIS_Variant("file:ELEV:1"));
  EXPECT_TRUE(shape->GetFieldRawAt(1).IsUnassigned());

  shape->SetField("NOTE", TGIS_Variant("text"));
  shape->SetField("COUNT", TGIS_Variant(std::int32_t{42}));
  shape->SetField("HEIGHT", TGIS_Variant(""));
  expectSame("set");
  EXPECT_TRUE(shape->GetFieldRawAt(0).IsNull());

  shape->SetUid(13);  // a failing file read is no value
  shape->Attributes()->Clear();
  expectSame("unreadable");

  // No such index: nothing.
  EXPECT_TRUE(shape->GetFieldAt(-1).IsUnassigned());
  EXPECT_TRUE(shape->GetFieldRawAt(-1).IsUnassigned());
}

}  // namespace
}  // namespace cadport
