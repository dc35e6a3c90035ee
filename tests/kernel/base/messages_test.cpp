#include "kernel/base/messages.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "kernel/base/exception.h"

namespace cadport {
namespace {

// Every test leaves the catalogue at its defaults and the notifier empty.
class Catalogue : public ::testing::Test {
 protected:
  void TearDown() override { LocalizeMessages(); }
};

TEST_F(Catalogue, HasEveryKeyOnceInOrder) {
  ASSERT_EQ(kMessageKeyCount, 716);
  std::set<std::string_view> names;
  int errors = 0, epsg = 0;
  for (int i = 0; i < kMessageKeyCount; ++i) {
    const auto key = static_cast<TGIS_MessageKey>(i);
    const std::string_view name = MessageKeyName(key);
    EXPECT_TRUE(names.insert(name).second) << name;
    EXPECT_EQ(name.substr(0, 7), "GIS_RS_");
    EXPECT_FALSE(MessageDefaultText(key).empty()) << name;
    TGIS_MessageKey found{};
    EXPECT_TRUE(FindMessageKey(name, found));
    EXPECT_EQ(found, key);
    if (name.substr(0, 11) == "GIS_RS_ERR_") ++errors;
    if (name.substr(0, 12) == "GIS_RS_EPSG_") ++epsg;
  }
  EXPECT_EQ(errors, 64);
  EXPECT_EQ(epsg, 473);
  EXPECT_EQ(kMessageKeyCount - errors - epsg, 179);
  TGIS_MessageKey k{};
  EXPECT_FALSE(FindMessageKey("GIS_RS_NO_SUCH_KEY", k));
}

TEST_F(Catalogue, ErrorNumbersRiseInCatalogueOrder) {
  int last = 0;
  for (int i = 0; i < kMessageKeyCount; ++i) {
    const auto key = static_cast<TGIS_MessageKey>(i);
    if (MessageKeyName(key).substr(0, 11) != "GIS_RS_ERR_") continue;
    const std::string_view t = MessageDefaultText(key);
    ASSERT_GE(t.size(), 5u);
    EXPECT_EQ(t[4], ' ') << t;
    const int number = std::stoi(std::string(t.substr(0, 4)));
    EXPECT_GT(number, last) << t;
    last = number;
  }
  EXPECT_EQ(MessageDefaultText(GIS_RS_ERR_UNIMPLEMENTED).substr(0, 4), "0001");
  EXPECT_EQ(last, 248);
}

TEST_F(Catalogue, DefaultTexts) {
  struct Case {
    TGIS_MessageKey key;
    const char* text;
  } cases[] = {
      {GIS_RS_ERR_BAD_CALL, "0006 Improper call of the method (bad parameters?) %s"},
      {GIS_RS_ERR_WRONGFIELD, "0011 Wrong or incompatible field type"},
      {GIS_RS_ERR_SQLQUERY, "0020 Wrong expression \"%s\""},
      {GIS_RS_ERR_FILEMAPPING, "0030 Error during mapping file \"%s\" (code %d)"},
      {GIS_RS_ERR_FILEWRITE, "0032 Error during writing file \"%s\" (code %d)"},
      {GIS_RS_ERR_FILEEXIST, "0033 File \"%s\" already exist"},
      {GIS_RS_ERR_FILEBADFORMAT, "0034 File \"%s\" has wrong format or was corrupted"},
      {GIS_RS_ERR_FILENEWERVERSION, "0035 File \"%s\" was created in a newer version of program"},
      {GIS_RS_ERR_FIELDEXIST, "0050 Field \"%s\" already exist"},
      {GIS_RS_ERR_FIELDNOEXIST, "0051 Field \"%s\" not exist"},
      {GIS_RS_ERR_FIELDREADONLY, "0052 Field \"%s\" is readonly"},
      {GIS_RS_ERR_WRONGFLOAT, "0070 Wrong float value \"%s\""},
      {GIS_RS_ERR_WRONGBOOLEAN, "0071 Wrong boolean value \"%s\""},
      {GIS_RS_ERR_WRONGDATE, "0072 Wrong date value \"%s\""},
      {GIS_RS_ERR_LAYEREXIST, "0080 Layer \"%s\" already exist"},
      {GIS_RS_ERR_LAYERBADEXTENT, "0082 Layer \"%s\" has bad extent. Probably corrupted world file"},
      {GIS_RS_ERR_TXTFILESTRUCT, "0090 File structure error in file \"%s\" as line %d"},
      {GIS_RS_ERR_UNIMPLEMENTED, "0001 Unimplemented feature"},
      {GIS_RS_ERR_FILEREAD, "0031 Error during reading file \"%s\" (code %d)"},
      {GIS_RS_ERR_GEOMETRY, "0040 Error in geometry data"},
      {GIS_RS_BTN_OK, "OK"},
      {GIS_RS_GENERAL_ALLSUPPORTED, "All Supported Files"},
      {GIS_RS_LEGEND_DLGVECTOR, "Vector: %s"},
      {GIS_RS_NOT_IMPLEMENTED, "Feature not implemented"},
      {GIS_RS_CHARSET, "DEFAULT"},
      {GIS_RS_EPSG_1024, "Afghanistan"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MessageText(c.key), c.text) << MessageKeyName(c.key);
    EXPECT_EQ(MessageDefaultText(c.key), c.text);
  }
  EXPECT_EQ(MessageKeyName(GIS_RS_EPSG_901048), "GIS_RS_EPSG_901048");
}

TEST_F(Catalogue, LocalizeWithHandlerThenReset) {
  std::vector<std::string> seen;
  LocalizeMessages([&](std::string& text, std::string_view key) {
    seen.emplace_back(key);
    if (key == "GIS_RS_ERR_FILEEXIST") text = "0033 Datei \"%s\" existiert bereits";
  });
  ASSERT_EQ(seen.size(), 716u);
  EXPECT_EQ(seen.front(), "GIS_RS_ERR_UNIMPLEMENTED");  // catalogue order
  EXPECT_EQ(seen[GIS_RS_BTN_OK], "GIS_RS_BTN_OK");
  EXPECT_EQ(EGIS_Exception(GIS_RS_ERR_FILEEXIST, "a.shp").what(),
            std::string("0033 Datei \"a.shp\" existiert bereits"));

  LocalizeMessages();
  EXPECT_EQ(EGIS_Exception(GIS_RS_ERR_FILEEXIST, "a.shp").what(),
            std::string("0033 File \"a.shp\" already exist"));

  // An empty handler counts as none.
  LocalizeMessages([](std::string& text, std::string_view) { text = "x"; });
  LocalizeMessages(TGIS_LocalizeHandler{});
  EXPECT_EQ(MessageText(GIS_RS_BTN_OK), "OK");
}

TEST_F(Catalogue, HandlerErrorPropagatesAndKeepsVisitedTexts) {
  int calls = 0;
  EXPECT_THROW(LocalizeMessages([&](std::string& text, std::string_view key) {
                 if (key == "GIS_RS_ERR_UNTESTED") throw std::runtime_error("stop");
                 text = "changed";
                 ++calls;
               }),
               std::runtime_error);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(MessageText(GIS_RS_ERR_UNIMPLEMENTED), "changed");
  EXPECT_EQ(MessageText(GIS_RS_ERR_UNTESTED), "0002 Untested case");
}

TEST_F(Catalogue, NotifierRunsAfterEveryLocalization) {
  TGIS_LocalizedNotifcation& n = LocalizedNotification();
  std::vector<int> order;
  std::string seenText;
  const auto first = n.Add([&] {
    order.push_back(1);
    seenText = MessageText(GIS_RS_BTN_OK);  // texts are in place already
  });
  const auto second = n.Add([&] { order.push_back(2); });
  EXPECT_EQ(n.Count(), 2u);

  LocalizeMessages([](std::string& text, std::string_view key) {
    if (key == "GIS_RS_BTN_OK") text = "Ja";
  });
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(seenText, "Ja");
  LocalizeMessages();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 1, 2}));
  EXPECT_EQ(seenText, "OK");

  n.Remove(first);
  n.Remove(first);  // unknown ids are ignored
  LocalizeMessages();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 1, 2, 2}));
  n.Remove(second);
  EXPECT_EQ(n.Count(), 0u);
}

TEST(FormatMessageTemplate, Placeholders) {
  struct Case {
    const char* templ;
    const char* name;
    std::int32_t value;
    bool ok;
    const char* expected;
  } cases[] = {
      {"0032 Error during writing file \"%s\" (code %d)", "c:\\a.shp", 5, true,
       "0032 Error during writing file \"c:\\a.shp\" (code 5)"},
      {"plain text", "n", 1, true, "plain text"},          // surplus arguments ignored
      {"only %s here", "name", 7, true, "only name here"},
      {"100%% of %s", "it", 0, true, "100% of it"},
      {"[%5s][%-5s]", "ab", 0, false, "[%5s][%-5s]"},        // second %s has no string left
      {"[%5s][%-6d]", "ab", 42, true, "[   ab][42    ]"},
      {"[%.2s][%.4d]", "abcdef", 7, true, "[ab][0007]"},
      {"%s %x", "v", 255, true, "v FF"},
      {"%s %X", "v", -1, true, "v FFFFFFFF"},
      {"%s %d", "v", -2147483647 - 1, true, "v -2147483648"},
      {"%s %5.3d", "v", -7, true, "v  -007"},
      {"bad %q placeholder", "n", 1, false, "bad %q placeholder"},
      {"%d first", "n", 1, false, "%d first"},               // the first argument is a string
      {"%s %s", "n", 1, false, "%s %s"},                     // the second is an integer
      {"%s %d %d", "n", 1, false, "%s %d %d"},               // too many placeholders
      {"ends with %", "n", 1, false, "ends with %"},
      {"%s %f", "n", 1, false, "%s %f"},
      {"%s %99999d", "n", 1, false, "%s %99999d"},           // absurd width refused
      {"%s", "", 0, true, ""},
  };
  for (const Case& c : cases) {
    std::string out = "junk";
    EXPECT_EQ(FormatMessageTemplate(c.templ, c.name, c.value, out), c.ok) << c.templ;
    EXPECT_EQ(out, c.expected) << c.templ;
  }
}

TEST(EGIS_Exception, FromKeys) {
  const EGIS_Exception w(GIS_RS_ERR_FILEWRITE, "/data/roads.shp", 5);
  EXPECT_STREQ(w.what(), "0032 Error during writing file \"/data/roads.shp\" (code 5)");
  EXPECT_EQ(w.ErrorCode(), 3);
  EXPECT_EQ(w.Name(), "/data/roads.shp");
  EXPECT_EQ(w.Value(), 5);

  const EGIS_Exception b(GIS_RS_ERR_BAD_CALL, "BusyShake");
  EXPECT_STREQ(b.what(), "0006 Improper call of the method (bad parameters?) BusyShake");
  EXPECT_EQ(b.ErrorCode(), 0);  // "000" is 0
  EXPECT_EQ(b.Value(), 0);

  const EGIS_Exception t(GIS_RS_ERR_TXTFILESTRUCT, "x.dxf", 1234);
  EXPECT_STREQ(t.what(), "0090 File structure error in file \"x.dxf\" as line 1234");
  EXPECT_EQ(t.ErrorCode(), 9);

  // Catchable as a standard exception.
  try {
    throw EGIS_Exception(GIS_RS_ERR_FIELDNOEXIST, "AREA");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "0051 Field \"AREA\" not exist");
  }
}

TEST(EGIS_Exception, FromTemplates) {
  struct Case {
    const char* templ;
    std::int32_t code;
    const char* message;
  } cases[] = {
      {"0235 Something %s", 23, "0235 Something n"},
      {"0030 x", 3, "0030 x"},
      {"abc %s", 0, "abc n"},
      {"12", 0, "12"},                    // fewer than three characters
      {"1x3 %s", 0, "1x3 n"},
      {"999 %s", 999, "999 n"},
      {"0042 %z broken", 4, "0042 %z broken"},  // unformattable: the raw template
      {"", 0, ""},
  };
  for (const Case& c : cases) {
    const EGIS_Exception e(std::string_view(c.templ), "n", 3);
    EXPECT_EQ(e.ErrorCode(), c.code) << c.templ;
    EXPECT_STREQ(e.what(), c.message) << c.templ;
    EXPECT_EQ(e.Name(), "n");
    EXPECT_EQ(e.Value(), 3);
  }
}

TEST_F(Catalogue, LocalizedTemplateWithMismatchedPlaceholdersIsUsedRaw) {
  LocalizeMessages([](std::string& text, std::string_view key) {
    if (key == "GIS_RS_ERR_FILEWRITE") text = "0032 Fehler %d beim Schreiben von %s";
  });
  const EGIS_Exception e(GIS_RS_ERR_FILEWRITE, "a.shp", 5);
  EXPECT_STREQ(e.what(), "0032 Fehler %d beim Schreiben von %s");
  EXPECT_EQ(e.ErrorCode(), 3);
}

}  // namespace
}  // namespace cadport
