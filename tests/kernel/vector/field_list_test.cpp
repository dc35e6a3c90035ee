// A layer's field list and the attribute values of its shapes.
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "kernel/base/exception.h"
#include "kernel/base/utils.h"
#include "kernel/vector/field.h"
#include "kernel/vector/layer_vector.h"
#include "kernel/vector/shape.h"

namespace cadport {
namespace {

// Expects an EGIS_Exception whose message starts with the template number.
#define EXPECT_GIS_ERROR(stmt, number)                                        \
  do {                                                                        \
    try {                                                                     \
      stmt;                                                                   \
      ADD_FAILURE() << "no error from " #stmt;                                \
    } catch (const EGIS_Exception& e) {                                       \
      EXPECT_EQ(e.Message().substr(0, 4), number) << e.Message();             \
    }                                                                         \
  } while (0)

class VectorLayer : public TGIS_LayerVector {
 public:
  VectorLayer() { SetSupportedKinds(60); }
};

// A file layer whose persistent values come from a "file" of its own.
class FileLayer : public VectorLayer {
 public:
  TGIS_Variant ReadFileField(std::int32_t uid, const std::string& name) override {
    lastName = name;
    if (uid == 13) throw std::runtime_error("unreadable record");
    return TGIS_Variant("file:" + name + ":" + std::to_string(uid));
  }
  std::string lastName;
};

TEST(FieldList, AddFindRenameDelete) {
  VectorLayer layer;
  EXPECT_EQ(layer.AddField("NAME", TGIS_FieldKind::String, 10, 0), 0);
  EXPECT_TRUE(layer.Modified());
  EXPECT_GIS_ERROR(layer.AddField("Name", TGIS_FieldKind::String, 5, 0), "0050");
  EXPECT_EQ(layer.AddField("Height", TGIS_FieldKind::Float, 12, 3), 1);
  EXPECT_EQ(layer.FindField("height"), 1);
  EXPECT_EQ(layer.FindField("missing"), -1);

  // Deleting marks the field; it keeps its place and its name.
  TGIS_FieldInfo* deleted = layer.DeleteField("name");
  ASSERT_NE(deleted, nullptr);
  EXPECT_TRUE(deleted->Deleted);
  EXPECT_EQ(layer.FindField("NAME"), 0);
  EXPECT_GIS_ERROR(layer.AddField("Name", TGIS_FieldKind::String, 5, 0), "0050");
  EXPECT_GIS_ERROR(layer.DeleteField("nothing"), "0051");

  // A change of letter case only is no rename.
  layer.RenameField("height", "HEIGHT", 12, 3);
  EXPECT_EQ(layer.FieldInfo(1)->NewName, "Height");
  EXPECT_GIS_ERROR(layer.RenameField("Height", "name", 12, 3), "0050");
  EXPECT_GIS_ERROR(layer.RenameField("nothing", "x", 1, 0), "0051");
  layer.RenameField("Height", "Elev", 8, 1);
  const TGIS_FieldInfo& f = *layer.FieldInfo(1);
  EXPECT_EQ(f.NewName, "Elev");
  EXPECT_EQ(f.NewWidth, 8);
  EXPECT_EQ(f.NewDecimal, 1);
  // The declared values stay.
  EXPECT_EQ(f.Name, "Height");
  EXPECT_EQ(f.Width, 12);
  EXPECT_EQ(f.Decimal, 3);
  EXPECT_EQ(layer.FindField("Height"), -1);
  EXPECT_EQ(layer.FindDeclaredField("height"), 1);

  EXPECT_EQ(layer.FieldInfo(-1), nullptr);
  EXPECT_EQ(layer.FieldInfo(2), nullptr);
}

TEST(FieldList, DeclaringIsNoChangeAndRevertRestoresIt) {
  VectorLayer layer;
  EXPECT_EQ(layer.DeclareFileField("DXF_LAYER", TGIS_FieldKind::String, 32, 0, true), 0);
  EXPECT_FALSE(layer.Modified());
  EXPECT_GIS_ERROR(layer.DeclareFileField("dxf_layer", TGIS_FieldKind::String, 1, 0, true),
                   "0050");
  layer.AddField("Extra", TGIS_FieldKind::Number, 10, 0);
  layer.RenameField("DXF_LAYER", "LAYER", 40, 2);
  layer.DeleteField("LAYER");

  layer.RevertAll();
  ASSERT_EQ(layer.FieldsCount(), 1);
  const TGIS_FieldInfo& f = *layer.FieldInfo(0);
  EXPECT_FALSE(f.Deleted);
  EXPECT_EQ(f.NewName, "DXF_LAYER");
  EXPECT_EQ(f.NewWidth, 32);
  EXPECT_EQ(f.NewDecimal, 0);
}

TEST(FieldList, FieldIndexResolvesVirtualDeclaredAndCurrentNames) {
  VectorLayer layer;
  layer.DeclareFileField("ELEV", TGIS_FieldKind::Float, 10, 2, true);
  layer.AddField("Label", TGIS_FieldKind::String, 10, 0);
  layer.RenameField("ELEV", "HEIGHT", 10, 2);
  EXPECT_EQ(layer.FieldIndex("GIS_UID"), kFieldIndexUid);
  EXPECT_EQ(layer.FieldIndex("gis_length"), kFieldIndexLength);
  EXPECT_EQ(layer.FieldIndex("elev"), 0);    // declared name
  EXPECT_EQ(layer.FieldIndex("height"), 0);  // current name
  EXPECT_EQ(layer.FieldIndex("LABEL"), 1);
  EXPECT_EQ(layer.FieldIndex("joined.name"), -1);
}

TEST(FieldList, ExportNamesFitTheTargetRules) {
  VectorLayer layer;
  layer.AddField("1st value", TGIS_FieldKind::String, 10, 0);
  layer.AddField("ELEVATION_HEIGHT", TGIS_FieldKind::Float, 10, 2);
  layer.AddField("ELEVATION_HEIGHT2", TGIS_FieldKind::Float, 10, 2);
  layer.AddField("  ", TGIS_FieldKind::String, 10, 0);
  layer.AddField("a-b.c", TGIS_FieldKind::String, 10, 0);
  // Characters, not bytes: each letter outside ASCII is one "_".
  layer.AddField("H\xC3\xB6he", TGIS_FieldKind::String, 10, 0);
  layer.AddField("Stra\xC3\x9F" "enname_lang", TGIS_FieldKind::String, 10, 0);
  layer.AddField("\xC3\x84" "rea", TGIS_FieldKind::String, 10, 0);
  layer.SetModified(false);
  layer.MakeExportNames(11, false);
  EXPECT_EQ(layer.FieldInfo(0)->ExportName, "Fst_value");
  EXPECT_EQ(layer.FieldInfo(1)->ExportName, "ELEVATION_H");
  EXPECT_EQ(layer.FieldInfo(2)->ExportName, "ELEVATION01");
  EXPECT_EQ(layer.FieldInfo(3)->ExportName, "FIELD");
  EXPECT_EQ(layer.FieldInfo(4)->ExportName, "a_b_c");
  EXPECT_EQ(layer.FieldInfo(5)->ExportName, "H_he");
  EXPECT_EQ(layer.FieldInfo(6)->ExportName, "Stra_enname");
  EXPECT_EQ(layer.FieldInfo(7)->ExportName, "Frea");
  EXPECT_TRUE(layer.Modified());

  // Unchanged names are no change.
  layer.SetModified(false);
  layer.MakeExportNames(11, false);
  EXPECT_FALSE(layer.Modified());

  // A maximum below 4 still allows 4 characters.
  VectorLayer tiny;
  tiny.AddField("ABCDEFG", TGIS_FieldKind::String, 10, 0);
  tiny.AddField("ABCDXYZ", TGIS_FieldKind::String, 10, 0);
  tiny.MakeExportNames(2, false);
  EXPECT_EQ(tiny.FieldInfo(0)->ExportName, "ABCD");
  EXPECT_EQ(tiny.FieldInfo(1)->ExportName, "AB01");
}

TEST(FieldList, ExportNamesStayUniqueBeyond254Collisions) {
  VectorLayer layer;
  for (int i = 0; i < 260; ++i)
    layer.AddField("abcd" + std::to_string(1000 + i), TGIS_FieldKind::String, 10, 0);
  layer.MakeExportNames(4, false);
  EXPECT_EQ(layer.FieldInfo(0)->ExportName, "abcd");
  EXPECT_EQ(layer.FieldInfo(1)->ExportName, "ab01");
  EXPECT_EQ(layer.FieldInfo(204)->ExportName, "abCC");
  // "abCD" is "abcd" without regard to case: taken.
  EXPECT_EQ(layer.FieldInfo(205)->ExportName, "abCE");
  EXPECT_EQ(layer.FieldInfo(253)->ExportName, "abFE");
  // From 255 on the counter has three digits.
  EXPECT_EQ(layer.FieldInfo(254)->ExportName, "a0FF");
  EXPECT_EQ(layer.FieldInfo(255)->ExportName, "a100");
  std::set<std::string> seen;
  for (int i = 0; i < layer.FieldsCount(); ++i) {
    const std::string& name = layer.FieldInfo(i)->ExportName;
    EXPECT_LE(name.size(), 4u) << name;
    EXPECT_TRUE(seen.insert(AsciiUpperText(name)).second) << name;
  }
}

TEST(FieldList, PersistentFieldsKeepTheirFileNames) {
  VectorLayer layer;
  layer.DeclareFileField("very long file name", TGIS_FieldKind::String, 10, 0, true);
  layer.DeclareFileField("renamed one", TGIS_FieldKind::String, 10, 0, true);
  layer.RenameField("renamed one", "renamed two", 10, 0);
  layer.MakeExportNames(11, false);
  EXPECT_EQ(layer.FieldInfo(0)->ExportName, "very long file name");
  EXPECT_EQ(layer.FieldInfo(1)->ExportName, "renamed_two");
  layer.MakeExportNames(11, true);
  EXPECT_EQ(layer.FieldInfo(0)->ExportName, "very_long_f");
}

TEST(FieldList, CopyFieldsFromAddsMissingAndMarksDeleted) {
  VectorLayer source;
  source.AddField("A", TGIS_FieldKind::Number, 10, 0);
  source.AddField("B", TGIS_FieldKind::String, 20, 0);
  source.AddField("C", TGIS_FieldKind::Boolean, 1, 0);
  source.DeleteField("C");
  VectorLayer target;
  target.AddField("b", TGIS_FieldKind::Float, 7, 3);
  target.CopyFieldsFrom(source);
  ASSERT_EQ(target.FieldsCount(), 3);
  // An existing field keeps its kind and sizes.
  EXPECT_EQ(target.FieldInfo(0)->FieldKind, TGIS_FieldKind::Float);
  EXPECT_EQ(target.FieldInfo(0)->NewWidth, 7);
  EXPECT_EQ(target.FieldInfo(1)->NewName, "A");
  EXPECT_EQ(target.FieldInfo(1)->FieldKind, TGIS_FieldKind::Number);
  EXPECT_EQ(target.FieldInfo(2)->NewName, "C");
  EXPECT_TRUE(target.FieldInfo(2)->Deleted);
  target.CopyFieldsFrom(source);
  EXPECT_EQ(target.FieldsCount(), 3);
}

TEST(ShapeFields, SetAndGetWithDefaultsAndNulls) {
  VectorLayer layer;
  layer.AddField("Name", TGIS_FieldKind::String, 5, 0);
  layer.AddField("Count", TGIS_FieldKind::Number, 10, 0);
  layer.AddField("Flag", TGIS_FieldKind::Boolean, 1, 0);
  layer.AddField("When", TGIS_FieldKind::Date, 8, 0);
  TGIS_Shape* shape = layer.CreateShape(TGIS_ShapeKind::Point);
  ASSERT_NE(shape, nullptr);
  EXPECT_EQ(shape->Attributes(), nullptr);  // nothing allocated until a value is set

  // Values never set: the kind's default, raw Unassigned.
  EXPECT_EQ(shape->GetField("count"), TGIS_Variant(0.0));
  EXPECT_EQ(shape->GetField("when"), TGIS_Variant(EncodeDate(1900, 1, 1)));
  EXPECT_TRUE(shape->GetFieldRaw("count").IsUnassigned());

  shape->SetField("FLAG", TGIS_Variant("yes"));
  EXPECT_EQ(shape->GetField("Flag"), TGIS_Variant(true));
  ASSERT_NE(shape->Attributes(), nullptr);
  EXPECT_EQ(shape->Attributes()->Count(), 3);  // up to the highest index set
  EXPECT_TRUE(shape->Attributes()->Get(0).IsUnassigned());

  shape->SetField("Name", TGIS_Variant(""));
  EXPECT_TRUE(shape->GetFieldRaw("name").IsNull());
  EXPECT_EQ(shape->GetField("name"), TGIS_Variant(std::string()));

  shape->SetField("Name", TGIS_Variant("a longer text"));
  EXPECT_EQ(layer.FieldInfo(0)->NewWidth, 13);

  shape->SetField("Count", TGIS_Variant("42"));
  EXPECT_EQ(shape->GetField("Count"), TGIS_Variant(std::int32_t{42}));
  // A failed store leaves the value in place.
  EXPECT_GIS_ERROR(shape->SetField("Count", TGIS_Variant("abc")), "0070");
  EXPECT_EQ(shape->GetField("Count"), TGIS_Variant(std::int32_t{42}));
  EXPECT_GIS_ERROR(shape->SetField("Flag", TGIS_Variant("x")), "0071");
  EXPECT_EQ(shape->GetField("Flag"), TGIS_Variant(true));
  EXPECT_GIS_ERROR(shape->SetField("nothing", TGIS_Variant("1")), "0051");

  // Unknown names stay unassigned even through GetField.
  EXPECT_TRUE(shape->GetField("nothing").IsUnassigned());

  // Storing marks the layer modified.
  layer.SetModified(false);
  shape->SetField("Count", TGIS_Variant(std::int32_t{7}));
  EXPECT_TRUE(layer.Modified());
}

TEST(ShapeFields, VirtualFields) {
  VectorLayer layer;
  layer.CreateShape(TGIS_ShapeKind::Point);
  TGIS_Shape* shape = layer.CreateShape(TGIS_ShapeKind::Arc);
  shape->AddPart();
  shape->AddPoint({0, 0});
  shape->AddPoint({3, 4});
  shape->SetSelected(true);
  EXPECT_EQ(shape->GetField("GIS_UID"), TGIS_Variant(std::int32_t{2}));
  EXPECT_EQ(shape->GetField("gis_selected"), TGIS_Variant(true));
  EXPECT_EQ(shape->GetField("gis_length"), TGIS_Variant(5.0));
  EXPECT_EQ(shape->GetField("gis_area"), TGIS_Variant(0.0));
}

TEST(ShapeFields, PersistentValuesComeFromTheFileUnderTheDeclaredName) {
  FileLayer layer;
  layer.DeclareFileField("ELEV", TGIS_FieldKind::Float, 10, 2, true);
  layer.AddField("Note", TGIS_FieldKind::String, 10, 0);
  layer.RenameField("ELEV", "HEIGHT", 10, 2);
  TGIS_Shape* shape = layer.CreateShape(TGIS_ShapeKind::Point);
  EXPECT_EQ(shape->GetFieldRaw("height"), TGIS_Variant("file:ELEV:1"));
  EXPECT_EQ(layer.lastName, "ELEV");
  // Non-persistent fields never ask the file.
  EXPECT_TRUE(shape->GetFieldRaw("Note").IsUnassigned());
  // A stored value (Null included) wins over the file.
  shape->SetField("HEIGHT", TGIS_Variant(""));
  EXPECT_TRUE(shape->GetFieldRaw("HEIGHT").IsNull());
  // A failing file read is no value.
  shape->SetUid(13);
  shape->Attributes()->Clear();
  EXPECT_TRUE(shape->GetFieldRaw("HEIGHT").IsUnassigned());
  EXPECT_EQ(shape->GetField("HEIGHT"), TGIS_Variant(0.0));
}

TEST(ShapeFields, CopyFieldsFillsDefaultsByName) {
  VectorLayer source;
  source.AddField("S", TGIS_FieldKind::String, 10, 0);
  source.AddField("N", TGIS_FieldKind::Number, 10, 0);
  source.AddField("B", TGIS_FieldKind::Boolean, 1, 0);
  source.AddField("D", TGIS_FieldKind::Date, 8, 0);
  TGIS_Shape* from = source.CreateShape(TGIS_ShapeKind::Point);
  from->AddPart();
  from->AddPoint({1, 2});
  from->SetField("N", TGIS_Variant(std::int32_t{5}));

  VectorLayer target;
  target.AddField("D", TGIS_FieldKind::Date, 8, 0);  // another order
  target.CopyFieldsFrom(source);
  TGIS_Shape* to = target.CreateShape(TGIS_ShapeKind::Point);
  to->CopyFields(*from);
  EXPECT_TRUE(to->GetFieldRaw("S").IsNull());
  EXPECT_EQ(to->GetFieldRaw("N"), TGIS_Variant(std::int32_t{5}));
  EXPECT_EQ(to->GetFieldRaw("B"), TGIS_Variant(false));
  EXPECT_EQ(to->GetFieldRaw("D"), TGIS_Variant(EncodeDate(1900, 1, 1)));
}

TEST(ShapeFields, AddShapeFromAnotherLayerPlacesValuesByName) {
  VectorLayer source;
  source.AddField("A", TGIS_FieldKind::String, 10, 0);
  source.AddField("B", TGIS_FieldKind::String, 10, 0);
  TGIS_Shape* from = source.CreateShape(TGIS_ShapeKind::Point);
  from->AddPart();
  from->AddPoint({1, 2});
  from->SetField("A", TGIS_Variant("alpha"));
  from->SetField("B", TGIS_Variant("beta"));

  // The target's field order differs: index 0 is a field the source lacks.
  VectorLayer target;
  target.AddField("C", TGIS_FieldKind::String, 10, 0);
  target.AddField("B", TGIS_FieldKind::String, 10, 0);
  TGIS_Shape* copy = target.AddShape(*from, true);
  EXPECT_EQ(copy->GetFieldRaw("A"), TGIS_Variant("alpha"));
  EXPECT_EQ(copy->GetFieldRaw("B"), TGIS_Variant("beta"));
  EXPECT_TRUE(copy->GetFieldRaw("C").IsUnassigned());

  // Without attributes nothing of the source's values is carried over.
  TGIS_Shape* bare = target.AddShape(*from, false);
  EXPECT_TRUE(bare->GetFieldRaw("C").IsUnassigned());
  EXPECT_TRUE(bare->GetFieldRaw("B").IsUnassigned());
}

TEST(ShapeFields, GetFieldByIndexReadsTheCurrentShape) {
  VectorLayer layer;
  layer.AddField("A", TGIS_FieldKind::Number, 10, 0);
  TGIS_Shape* one = layer.CreateShape(TGIS_ShapeKind::Point);
  TGIS_Shape* two = layer.CreateShape(TGIS_ShapeKind::Point);
  one->SetField("A", TGIS_Variant(std::int32_t{11}));
  two->SetField("A", TGIS_Variant(std::int32_t{22}));
  layer.ShapeByUid(2);
  EXPECT_EQ(layer.GetFieldByIndex(0), TGIS_Variant(std::int32_t{22}));
  EXPECT_EQ(layer.GetFieldByIndex(kFieldIndexUid), TGIS_Variant(std::int32_t{2}));
  EXPECT_TRUE(layer.GetFieldByIndex(-1).IsUnassigned());
  EXPECT_TRUE(layer.GetFieldByIndex(kFieldIndexJoined + 1).IsUnassigned());
  EXPECT_EQ(layer.GetShapeField(1, "a"), TGIS_Variant(std::int32_t{11}));
  EXPECT_TRUE(layer.GetShapeFieldRaw(9, "a").IsUnassigned());
}

}  // namespace
}  // namespace cadport
