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
const UINT kAcpFor[3] = {936, 1252, 950};
const EditionNamesOperation kOps[3] = {GetEdition1Names, GetEdition2Names, GetEdition3Names};
}  // namespace

TEST(Catalogue, NamesAreByteExactForEveryEditionAndLanguage) {
  sim::Machine m;
  for (const Row& row : ExpectedRows()) {
    m.langId = kLangIdFor[row.language];
    m.acp = kAcpFor[row.language];
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

// Under another ANSI code page ("Use Unicode UTF-8" gives 65001 on a Chinese
// system) each name is converted, or "" where that code page cannot hold it;
// where the code pages agree, or the name is ASCII, nothing is converted.
TEST(Catalogue, NamesFollowTheAnsiCodePage) {
  const char* kFrom[3] = {"CP936", "ASCII", "CP950"};
  sim::Machine m;
  for (const Row& row : ExpectedRows()) {
    for (UINT acp : {936u, 950u, 1252u, 65001u}) {
      m.langId = kLangIdFor[row.language];
      m.acp = acp;
      m.callCounts.clear();
      char t[260], f[260], s[260], l[260];
      kOps[row.edition - 1](t, f, s, l);
      const std::string to = acp == 65001 ? "UTF-8" : "CP" + std::to_string(acp);
      auto in = [&](const std::string& name) { return Recode(name, kFrom[row.language], to.c_str()); };
      SCOPED_TRACE("edition " + std::to_string(row.edition) + " language " + std::to_string(row.language) +
                   " acp " + std::to_string(acp));
      EXPECT_EQ(std::string(t) + "|" + f + "|" + s + "|" + l,
                in(row.title) + "|" + in(row.folder) + "|" + in(row.subfolder) + "|" + in(row.shortcut));
      EXPECT_EQ(m.callCounts["MultiByteToWideChar"] == 0, row.language == 1 || acp == kAcpFor[row.language]);
    }
  }
  char small[37];  // in UTF-8 (m.acp): 36 bytes and the terminator
  EXPECT_FALSE(NameInAnsiCodePage(EditionNamesFor(1, 2).toolWindowTitle, 950, small, sizeof small - 1));
  EXPECT_STREQ(small, "");
  EXPECT_TRUE(NameInAnsiCodePage(EditionNamesFor(1, 2).toolWindowTitle, 950, small, sizeof small));
  EXPECT_STREQ(small, "凱斯托瓦銀行tokara管理工具");
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
