#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/catalogue.h"
#include "tests/cp_convert.h"
#include "tests/sim/machine.h"

namespace {
struct Row {
  int edition;
  UiLanguage language;
  std::string title, folder, subfolder, shortcut;
};

std::vector<Row> ExpectedRows() {
  return {
      {1, 0, Cp936("凯斯托瓦银行tokara管理工具 "), Cp936("\\凯斯托瓦银行网上银行tokara管理工具"),
       Cp936("\\凯斯托瓦银行网上银行tokara管理工具\\Dorwyn"), Cp936("\\凯斯托瓦银行tokara管理工具.lnk")},
      {1, 1, "USBKey MANAGE OF KESTOVA", "\\Internet banking Key MANAGE OF KESTOVA",
       "\\Internet banking Key MANAGE OF KESTOVA\\Dorwyn", "\\USBKey MANAGE OF KESTOVA.lnk"},
      {1, 2, Cp950("凱斯托瓦銀行tokara管理工具"), Cp950("\\凱斯托瓦銀行網上銀行tokara管理工具"),
       Cp950("\\凱斯托瓦銀行網上銀行tokara管理工具\\Dorwyn"), Cp950("\\凱斯托瓦銀行tokara管理工具.lnk")},
      {2, 0, Cp936("凯斯托瓦银行Tokara管理工具2.0"), Cp936("\\凯斯托瓦银行网上银行Tokara管理工具2.0"),
       Cp936("\\凯斯托瓦银行网上银行Tokara管理工具2.0\\Dorwyn"), Cp936("\\凯斯托瓦银行Tokara管理工具2.0.lnk")},
      {2, 1, "Kestovanet Key Manager Tool 2.0", "\\Internet banking Key MANAGE OF KESTOVA2.0",
       "\\Internet banking Key MANAGE OF KESTOVA2.0\\Dorwyn", "\\USBKey MANAGE OF KESTOVA2.0.lnk"},
      {2, 2, Cp950("凱斯托瓦銀行Tokara管理工具2.0"), Cp950("\\凱斯托瓦銀行網上銀行Tokara管理工具2.0"),
       Cp950("\\凱斯托瓦銀行網上銀行Tokara管理工具2.0\\Dorwyn"), Cp950("\\凱斯托瓦銀行Tokara管理工具2.0.lnk")},
      {3, 0, Cp936("凯斯托瓦银行Tokara管理工具 3.0"), Cp936("\\凯斯托瓦银行网上银行Tokara管理工具 3.0"),
       Cp936("\\凯斯托瓦银行网上银行Tokara管理工具 3.0\\Dorwyn"), Cp936("\\凯斯托瓦银行Tokara管理工具 3.0.lnk")},
      {3, 1, "Kestovanet Key Manager Tool 3.0", "\\Internet banking Key MANAGE OF KESTOVA 3.0",
       "\\Internet banking Key MANAGE OF KESTOVA 3.0\\Dorwyn", "\\Kestovanet Key Manager Tool 3.0.lnk"},
      {3, 2, Cp950("凱斯托瓦銀行Tokara管理工具 3.0"), Cp950("\\凱斯托瓦銀行網上銀行Tokara管理工具 3.0"),
       Cp950("\\凱斯托瓦銀行網上銀行Tokara管理工具 3.0\\Dorwyn"), Cp950("\\凱斯托瓦銀行Tokara管理工具 3.0.lnk")},
  };
}

const uint16_t kLangIdFor[3] = {0x0804, 0x0409, 0x0404};
const EditionNamesOperation kOps[3] = {GetEdition1Names, GetEdition2Names, GetEdition3Names};
}  // namespace

TEST(Catalogue, NamesAreByteExactForEveryEditionAndLanguage) {
  sim::Machine m;
  for (const Row& row : ExpectedRows()) {
    m.langId = kLangIdFor[row.language];
    char title[260], folder[260], sub[260], shortcut[260];
    std::memset(title, 0x7F, sizeof title);  // the operation must terminate each name
    std::memset(folder, 0x7F, sizeof folder);
    std::memset(sub, 0x7F, sizeof sub);
    std::memset(shortcut, 0x7F, sizeof shortcut);
    kOps[row.edition - 1](title, folder, sub, shortcut);
    SCOPED_TRACE("edition " + std::to_string(row.edition) + " language " + std::to_string(row.language));
    EXPECT_EQ(std::string(title), row.title);
    EXPECT_EQ(std::string(folder), row.folder);
    EXPECT_EQ(std::string(sub), row.subfolder);
    EXPECT_EQ(std::string(shortcut), row.shortcut);
    EXPECT_EQ(row.subfolder, row.folder + "\\Dorwyn");
    EXPECT_LT(std::strlen(sub), 100u);
    // Shortcuts are bare names: the only backslash byte is the leading one,
    // so trimming never finds an enclosing folder.
    EXPECT_EQ(std::count(row.shortcut.begin(), row.shortcut.end(), '\\'), 1);
  }
}

TEST(Catalogue, OtherLanguagesGiveEnglishAndNothingIsCached) {
  sim::Machine m;
  char t[260], f[260], s[260], l[260];
  m.langId = 0x0411;  // Japanese
  GetEdition2Names(t, f, s, l);
  EXPECT_STREQ(t, "Kestovanet Key Manager Tool 2.0");
  EXPECT_STREQ(l, "\\USBKey MANAGE OF KESTOVA2.0.lnk");
  m.langId = 0x0804;
  GetEdition2Names(t, f, s, l);
  EXPECT_EQ(std::string(t), Cp936("凯斯托瓦银行Tokara管理工具2.0"));
  for (UiLanguage odd : {UiLanguage{1}, UiLanguage{3}, UiLanguage{200}})
    EXPECT_STREQ(EditionNamesFor(3, odd).toolWindowTitle, "Kestovanet Key Manager Tool 3.0");
}

TEST(Catalogue, EditionOneTitleBlankOnlyInSimplifiedChinese) {
  const std::string zh = EditionNamesFor(1, 0).toolWindowTitle;
  const std::string tw = EditionNamesFor(1, 2).toolWindowTitle;
  EXPECT_EQ(zh.back(), ' ');
  EXPECT_NE(tw.back(), ' ');
}

TEST(Catalogue, ProfilesAsTheOldInstallersRegisteredThem) {
  EXPECT_STREQ(kEdition1Profile.uninstallKey,
               "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5D21A7E0-3B9C-4F62-A18D-7C04E9B2F615}");
  EXPECT_STREQ(kEdition2Profile.uninstallKey, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\DorwynforKSTV");
  EXPECT_STREQ(kEdition3Profile.uninstallKey,
               "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\DorwynforKSTV_V3");
  EXPECT_EQ(kEdition1Profile.closeCommandId, 32867);
  EXPECT_EQ(kEdition2Profile.closeCommandId, 32772);
  EXPECT_EQ(kEdition3Profile.closeCommandId, 32772);
  EXPECT_STREQ(kEdition1Profile.processPrefix, "Keyloft_User.exe");
  EXPECT_STREQ(kEdition2Profile.processPrefix, "DWReg_kstv.exe");
  EXPECT_STREQ(kEdition1Profile.runValues[0], "Keyloft_User.exe");
  EXPECT_EQ(kEdition1Profile.runValues[1], nullptr);
  EXPECT_STREQ(kEdition2Profile.runValues[0], "KSKeyloft2_0.exe");
  EXPECT_STREQ(kEdition3Profile.runValues[0], "KSKeyloft3_0.exe");
  EXPECT_STREQ(kEdition3Profile.runValues[1], "DWReg_kstv(user)");
  EXPECT_STREQ(kEdition1Profile.programFolder, "\\Kestovanet");
  EXPECT_STREQ(kEdition2Profile.programFolder, "\\Kestovanet2.0");
  EXPECT_STREQ(kEdition3Profile.programFolder, "\\Kestovanet3.0");
}
