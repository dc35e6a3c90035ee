// Attribute operations of TGIS_Shape: values by field name, conversion on
// store, defaults on read, and the attribute list's ownership helpers.
#include "kernel/vector/shape.h"

#include <exception>
#include <string>

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

namespace {

// Value of a virtual field; false when name is none.
bool VirtualValue(const TGIS_Shape& shape, std::string_view name, TGIS_Variant& value) {
  switch (VirtualFieldIndex(name)) {
    case kFieldIndexUid:
      value = TGIS_Variant(shape.Uid());
      return true;
    case kFieldIndexSelected:
      value = TGIS_Variant(shape.Selected());
      return true;
    case kFieldIndexArea:
      value = TGIS_Variant(shape.Area());
      return true;
    case kFieldIndexLength:
      value = TGIS_Variant(shape.Length());
      return true;
    default:
      return false;
  }
}

// The value stored for field index, or else (persistent fields) the one in
// the layer's file; Unassigned when there is neither.
TGIS_Variant StoredOrFileValue(const TGIS_Shape& shape, TGIS_LayerVector& layer,
                               std::int32_t index) {
  if (const TGIS_VariantList* values = shape.Attributes()) {
    const TGIS_Variant* stored = values->At(index);
    if (stored != nullptr && !stored->IsUnassigned()) return *stored;
  }
  const TGIS_FieldInfo* field = layer.FieldInfo(index);
  if (field == nullptr || !field->Persistent) return {};
  // Values never set come from the layer's file, under the declared name.
  // Reads never raise: a failing file read is no value.
  try {
    return layer.ReadFileField(shape.Uid(), field->Name);
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

TGIS_Variant TGIS_Shape::GetFieldRaw(std::string_view name) const {
  TGIS_Variant value;
  if (VirtualValue(*this, name, value)) return value;
  TGIS_LayerVector* layer = Layer();
  if (layer == nullptr) return {};
  const std::int32_t index = layer->FindField(name);
  // Not a field of the layer: joined tables are not supported, so nothing.
  if (index < 0) return {};
  return StoredOrFileValue(*this, *layer, index);
}

TGIS_Variant TGIS_Shape::GetField(std::string_view name) const {
  TGIS_Variant value;
  if (VirtualValue(*this, name, value)) return value;
  TGIS_LayerVector* layer = Layer();
  if (layer == nullptr) return {};
  const std::int32_t index = layer->FindField(name);
  if (index < 0) return {};
  value = StoredOrFileValue(*this, *layer, index);
  if (!value.IsEmpty()) return value;
  return FieldKindDefault(layer->FieldInfo(index)->FieldKind);
}

TGIS_Variant TGIS_Shape::GetFieldRawAt(std::int32_t index) const {
  TGIS_LayerVector* layer = Layer();
  if (layer == nullptr || index < 0 || index >= layer->FieldsCount()) return {};
  return StoredOrFileValue(*this, *layer, index);
}

TGIS_Variant TGIS_Shape::GetFieldAt(std::int32_t index) const {
  TGIS_LayerVector* layer = Layer();
  if (layer == nullptr || index < 0 || index >= layer->FieldsCount()) return {};
  TGIS_Variant value = StoredOrFileValue(*this, *layer, index);
  if (!value.IsEmpty()) return value;
  return FieldKindDefault(layer->FieldInfo(index)->FieldKind);
}

void TGIS_Shape::SetField(std::string_view name, const TGIS_Variant& value) {
  TGIS_LayerVector* layer = Layer();
  const std::int32_t index = layer != nullptr ? layer->FindField(name) : -1;
  if (index < 0) throw EGIS_Exception(GIS_RS_ERR_FIELDNOEXIST, name, 0);
  SetFieldAt(index, value);
}

void TGIS_Shape::SetFieldAt(std::int32_t index, const TGIS_Variant& value) {
  TGIS_LayerVector* layer = Layer();
  if (layer == nullptr || index < 0 || index >= layer->FieldsCount())
    throw EGIS_Exception(GIS_RS_ERR_FIELDNOEXIST, std::to_string(index), 0);
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
