#include <gtest/gtest.h>

#include <cstring>

#include "i18n/language.h"
#include "i18n/texts.h"
#include "tests/cp_convert.h"
#include "tests/sim/machine.h"

TEST(UiLanguage, ChoiceFromSystemLangIdTable) {
  const struct {
    uint16_t langId;
    UiLanguage expected;
  } cases[] = {
      {0x0804, 0}, {0x0404, 2}, {0x0C04, 2}, {0x1004, 2}, {0x1404, 2}, {0x0409, 1},
      {0x0004, 1}, {0x7C04, 1}, {0x1804, 1},  // sublanguage 6 and above
      {0x0204, 1},  // low 8 bits are 4, low 10 bits are not
      {0x0411, 1}, {0x0000, 1}, {0xFFFF, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(UiLanguageFromLangId(c.langId), c.expected) << std::hex << c.langId;
}

TEST(UiLanguage, SelectStoresTheResultAndAsksTheSystemEachTime) {
  sim::Machine m;
  m.langId = 0x0404;
  EXPECT_EQ(SelectUiLanguage(), 2);
  EXPECT_EQ(currentUiLanguage, 2);
  m.langId = 0x0409;
  EXPECT_EQ(SelectUiLanguage(), 1);
  EXPECT_EQ(currentUiLanguage, 1);
  m.langId = 0x0804;
  EXPECT_EQ(SelectUiLanguage(), 0);
  EXPECT_EQ(currentUiLanguage, 0);
}

TEST(Texts, BrowserPromptsAreCodePageBytesOfTheStatedLength) {
  const std::string zh = Cp936(
      "程序检测到浏览器正在运行,确认关闭所有浏览器窗口后,点“是”继续,或者不关闭浏览器窗口,点“否”退出程序");
  const std::string tw = Cp950(
      "程序檢測到瀏覽器正在運行,確認關閉所有瀏覽器窗口后,點“是”繼續,或者不關閉瀏覽器窗口,點“否”退出程序");
  EXPECT_EQ(std::string(BrowserPromptTexts[0]), zh);
  EXPECT_EQ(std::string(BrowserPromptTexts[2]), tw);
  EXPECT_STREQ(BrowserPromptTexts[1],
               "The Browser is running ,please close it before continue,select <YES> to continue,<NO> to quit");
  EXPECT_EQ(std::strlen(BrowserPromptTexts[0]), 100u);
  EXPECT_EQ(std::strlen(BrowserPromptTexts[1]), 93u);
  EXPECT_EQ(std::strlen(BrowserPromptTexts[2]), 100u);
}

TEST(Texts, FixedTextsAreSimplifiedChineseBytes) {
  EXPECT_EQ(std::string(MainWindowTitle), Cp936("凯瓦银行Tokara旧版卸载工具"));
  EXPECT_EQ(std::string(SuccessText), Cp936("卸载成功"));
  EXPECT_EQ(std::string(SuccessCaption), Cp936("提示"));
  EXPECT_EQ(std::string(NotAllRemovedText), Cp936("部分旧版本未能卸载，请以管理员身份运行本工具"));
  EXPECT_EQ(std::string(RunEndedText), Cp936("卸载已结束"));
  EXPECT_EQ(kFixedTextsCodePage, 936u);
  EXPECT_EQ(BrowserPromptCodePages[0], 936u);
  EXPECT_EQ(BrowserPromptCodePages[2], 950u);
  EXPECT_STREQ(BrowserPromptCaption, "Information");
}
