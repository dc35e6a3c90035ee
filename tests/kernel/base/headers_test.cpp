// Every base header compiles on its own and together.
#include "kernel/base/exception.h"
#include "kernel/base/messages.h"
#include "kernel/base/point_list.h"
#include "kernel/base/stack.h"
#include "kernel/base/tokenizer.h"
#include "kernel/base/types.h"
#include "kernel/base/units.h"
#include "kernel/base/utils.h"

#include <gtest/gtest.h>

namespace cadport {
namespace {

TEST(BaseHeaders, CatalogueHasEveryKey) {
  EXPECT_EQ(kMessageKeyCount, 716);
  EXPECT_EQ(MessageKeyName(GIS_RS_ERR_FILEWRITE), "GIS_RS_ERR_FILEWRITE");
}

}  // namespace
}  // namespace cadport
