#pragma once

// Root of the kernel's polymorphic objects (layers, the viewer, shapes).  It
// carries no state; it gives busy notifications and events one sender type.

namespace cadport {

class TGIS_BaseObject {
 public:
  TGIS_BaseObject() = default;
  virtual ~TGIS_BaseObject() = default;

 protected:
  // Objects of the kernel are not copied through their root.
  TGIS_BaseObject(const TGIS_BaseObject&) = default;
  TGIS_BaseObject& operator=(const TGIS_BaseObject&) = default;
};

}  // namespace cadport
