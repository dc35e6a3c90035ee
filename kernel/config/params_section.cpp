#include "kernel/config/params_section.h"

#include "kernel/config/config.h"

namespace cadport {

void TGIS_ParamsSection::LoadFromConfig(const TGIS_Ini& /*config*/) {}

void TGIS_ParamsSection::SaveToConfig(TGIS_Ini& /*config*/) const {}

}  // namespace cadport
