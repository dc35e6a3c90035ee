// Attribute operations of TGIS_Shape: values by field name, conversion on
// store, defaults on read, and the attribute list's ownership helpers.
#include "kernel/vector/shape.h"

#include <exception>

#include "kernel/base/exception.h"
#include "kernel/vector/field.h"
#include "kernel/vector/layer_vector.h"

namespace cadport {

void TGIS_AttributesDeleter::operator()(TGIS_VariantList* list) const noexcept {
  TGIS_Shape::DestroyAttributes(list);
}

TGIS_AttributesPtr TGIS_Shape::CloneAttributes(const TGIS_VariantList& source) {
  return TGIS_AttributesPtr(new TGIS_VariantList(source));
}

void TGIS_Shape::DestroyAttributes(TGIS_VariantList* list) noexcept { delete list; }

TGIS_Variant TGIS_Shape::GetFieldRaw(std::string_view name) const {
  switch (VirtualFieldIndex(name)) {
    case kFieldIndexUid:
      return TGIS_Variant(Uid());
    case kFieldIndexSelected:
      return TGIS_Variant(Selected());
    case kFieldIndexArea:
      return TGIS_Variant(Area());
    case kFieldIndexLength:
      return TGIS_Variant(Length());
    default:
      break;
  }
  TGIS_LayerVector* layer = Layer();
  if (layer == nullptr) return {};
  const std::int32_t index = layer->FindField(name);
  // Not a field of the layer: joined tables are not supported, so nothing.
  if (index < 0) return {};

  if (attributes_) {
    const TGIS_Variant* stored = attributes_->At(index);
    if (stored != nullptr && !stored->IsUnassigned()) return *stored;
  }
  const TGIS_FieldInfo* field = layer->FieldInfo(index);
  if (field == nullptr || !field->Persistent) return {};
  // Values never set come from the layer's file, under the declared name.
  // Reads never raise: a failing file read is no value.
  try {
    return layer->ReadFileField(Uid(), field->Name);
  } catch (const std::exception&) {
    return {};
  }
}

TGIS_Variant TGIS_Shape::GetField(std::string_view name) const {
  TGIS_Variant value = GetFieldRaw(name);
  if (!value.IsEmpty() || Layer() == nullptr) return value;
  const TGIS_FieldInfo* field = Layer()->FieldInfo(Layer()->FindField(name));
  if (field == nullptr) return value;
  return FieldKindDefault(field->FieldKind);
}

void TGIS_Shape::SetField(std::string_view name, const TGIS_Variant& value) {
  TGIS_LayerVector* layer = Layer();
  const std::int32_t index = layer != nullptr ? layer->FindField(name) : -1;
  if (index < 0) throw EGIS_Exception(GIS_RS_ERR_FIELDNOEXIST, name, 0);
  TGIS_FieldInfo& field = *layer->FieldInfo(index);

  // Convert first: a value that does not fit leaves the stored one in place.
  TGIS_Variant stored =
      ConvertFieldValue(field.FieldKind, field.NewWidth, field.NewDecimal, value);
  if (!attributes_) {
    attributes_ = TGIS_AttributesPtr(new TGIS_VariantList());
    // Readers set field after field: one allocation for all of them.
    attributes_->Reserve(layer->FieldsCount());
  }
  attributes_->Grow(index + 1);
  attributes_->Put(index, std::move(stored));
  MarkModified();
}

void TGIS_Shape::CopyFields(const TGIS_Shape& source) {
  TGIS_LayerVector* sourceLayer = source.Layer();
  if (sourceLayer == nullptr) return;
  const std::int32_t count = sourceLayer->FieldsCount();
  for (std::int32_t i = 0; i < count; ++i) {
    // Copy the name: SetField may widen fields of this very list.
    const std::string name = sourceLayer->FieldInfo(i)->NewName;
    SetField(name, source.GetField(name));
  }
}

}  // namespace cadport
