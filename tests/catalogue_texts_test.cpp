#include "state/catalogue_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/text_convert.h"
#include "state/app_state.h"
#include "state/catalogue.h"

namespace {

void FillIn(std::uint16_t primary_language) {
  ResetAppState();
  g_app.PrimaryLanguage = primary_language;
  FillCatalogue();
}

const char* Slot(int index) { return g_app.AgreementText + index * kAgreementSlotSize; }

bool SlotEmpty(int index) {
  for (int i = 0; i < kAgreementSlotSize; ++i)
    if (Slot(index)[i] != '\0') return false;
  return true;
}

// Only 0x11 selects Japanese; Chinese (0x04), Korean (0x12) and the rest read English.
TEST(CatalogueLanguage, OnlyPrimaryLanguage0x11SelectsJapanese) {
  const struct {
    std::uint16_t primary;
    bool japanese;
  } cases[] = {{0x11, true},  {0x09, false}, {0x04, false},  {0x12, false},
               {0x00, false}, {0x07, false}, {0x3FF, false}, {0x111, false}};
  for (const auto& c : cases) {
    FillIn(c.primary);
    const std::string shown = Cp932ToUtf8(g_app.MsgNoDataFile);
    EXPECT_EQ(shown,
              c.japanese ? "エラー：ファイルが見つかりません。" : "Error: Couldn't find data file.")
        << std::hex << c.primary;
    EXPECT_EQ(Cp932ToUtf8(g_app.AgreementLabelAccept), c.japanese ? "許諾する" : "Accept");
  }
}

// The English buffers as the program shows them, spot-checked by buffer so
// a text filed under the wrong name is caught.
TEST(CatalogueEnglish, BuffersHoldTheirOwnTexts) {
  FillIn(0x09);
  const struct {
    const char* buffer;
    const char* text;
  } cases[] = {
      {g_app.MsgAlreadyUpdated, "The drive has already been updated."},
      {g_app.MsgInvalidData, "Error: Invalid data was detected."},
      {g_app.MsgReadFailed, "Error: Couldn't read data."},
      {g_app.MsgAccessFailed, "Error: Couldn't access the file."},
      {g_app.MsgBadSize, "Error: Invalid file size."},
      {g_app.MsgNoDataFile, "Error: Couldn't find data file."},
      {g_app.MsgRemoveCd, "Take CD off from a tray."},
      {g_app.MsgRestartNow,
       "You must restart your computer to take effect all the changes.\r\nDou you want to "
       "restart your computer now?"},
      {g_app.MsgWarnRemoveCd,
       "-Take CD off the VANTROS USB CD-R/RW drive before starting the operation.\r\n"},
      {g_app.AgreementLabelDecline, "Do not Accept"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.buffer, c.text);
}

// Every Japanese text decodes back to the table's characters and fits its
// buffer with its terminator.
TEST(CatalogueJapanese, EveryTextDecodesToTheTableAndFits) {
  FillIn(0x11);
  const char* buffers[] = {
      g_app.MsgAlreadyUpdated,  g_app.MsgMayTakeMinutes, g_app.MsgRestartNow,
      g_app.MsgUpdateFailed,    g_app.MsgCloseApps,      g_app.MsgNoDevice,
      g_app.MsgWrongFile,       g_app.MsgInvalidData,    g_app.MsgReadFailed,
      g_app.MsgAccessFailed,    g_app.MsgBadSize,        g_app.MsgNoDataFile,
      g_app.MsgUpdateFailedDma, g_app.MsgRemoveCd,       g_app.MsgWarnNoAbort,
      g_app.MsgWarnCloseApps,   g_app.MsgWarnRemoveCd,   g_app.MsgWarnPowerCycle,
  };
  ASSERT_EQ(sizeof buffers / sizeof buffers[0], static_cast<size_t>(kCatalogueMessageCount));
  for (int i = 0; i < kCatalogueMessageCount; ++i) {
    SCOPED_TRACE(kCatalogueMessages[i].name);
    EXPECT_LT(std::strlen(kCatalogueMessagesCp932[i]), static_cast<size_t>(kMessageSize));
    EXPECT_EQ(Cp932ToUtf8(buffers[i]), kCatalogueMessages[i].japanese);
  }
  EXPECT_EQ(Cp932ToUtf8(g_app.AgreementLabelAccept), "許諾する");
  EXPECT_EQ(Cp932ToUtf8(g_app.AgreementLabelDecline), "許諾しない");
  for (const char* label : kAgreementLabelsCp932) EXPECT_LT(std::strlen(label), 16u);
  for (int i = 0; i < kUpdateTextCount; ++i) {
    SCOPED_TRACE(kUpdateTexts[i].name);
    EXPECT_EQ(Cp932ToUtf8(kUpdateTextsCp932[i]), kUpdateTexts[i].japanese);
    EXPECT_LT(std::strlen(kUpdateTextsCp932[i]), static_cast<size_t>(kMessageSize));
  }
  for (int i = 0; i < kHostTextCount; ++i) {
    SCOPED_TRACE(kHostTexts[i].name);
    EXPECT_EQ(Cp932ToUtf8(kHostTextsCp932[i]), kHostTexts[i].japanese);
  }
  // A few texts written out again here, independently of the table.
  EXPECT_EQ(Cp932ToUtf8(g_app.MsgWarnCloseApps),
            "－操作を始める前に、全てのアプリケーションを終了してください。\r\n");
  EXPECT_EQ(Cp932ToUtf8(g_app.MsgBadSize), "エラー：ファイルサイズが異常です。");
}

TEST(CatalogueJapanese, RemoveCdWarningHasTheFormOfItsNeighbours) {
  FillIn(0x11);
  const std::string text = Cp932ToUtf8(g_app.MsgWarnRemoveCd);
  EXPECT_EQ(text.rfind("－", 0), 0u);
  EXPECT_NE(text.find("ヴァントロス"), std::string::npos);
  EXPECT_NE(text.find("ＵＳＢ　ＣＤ－Ｒ／ＲＷ"), std::string::npos);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(CatalogueWarnings, JoinedWithoutSeparatorsAndNoTrailingBreak) {
  FillIn(0x09);
  EXPECT_EQ(std::strlen(g_app.MsgWarnings), 345u);
  const std::string expected = std::string(g_app.MsgWarnNoAbort) + g_app.MsgWarnCloseApps +
                               g_app.MsgWarnRemoveCd + g_app.MsgWarnPowerCycle;
  EXPECT_EQ(g_app.MsgWarnings, expected);
  EXPECT_EQ(expected.back(), '.');

  FillIn(0x11);
  const std::string japanese = Cp932ToUtf8(g_app.MsgWarnings);
  EXPECT_EQ(japanese, Cp932ToUtf8(std::string(g_app.MsgWarnNoAbort) + g_app.MsgWarnCloseApps +
                                  g_app.MsgWarnRemoveCd + g_app.MsgWarnPowerCycle));
  EXPECT_EQ(japanese.substr(japanese.size() - std::strlen("ください。")), "ください。");
}

struct AgreementCase {
  std::uint16_t primary;
  int lines;
  size_t max_bytes;
  const char* maker;  // UTF-8
};

class AgreementText : public ::testing::TestWithParam<AgreementCase> {};

TEST_P(AgreementText, LinesFitTheirLimitsAndLaterSlotsStayEmpty) {
  const AgreementCase& c = GetParam();
  // Fill in the other language first: the longer English text must not
  // leave lines behind in the Japanese slots.
  FillIn(c.primary == 0x11 ? 0x09 : 0x11);
  g_app.PrimaryLanguage = c.primary;
  FillCatalogue();

  std::string whole;
  for (int i = 0; i < c.lines; ++i) {
    SCOPED_TRACE(i);
    const size_t length = strnlen(Slot(i), kAgreementSlotSize);
    ASSERT_LT(length, static_cast<size_t>(kAgreementSlotSize));
    EXPECT_GT(length, 0u);
    EXPECT_LE(length, c.max_bytes);
    // A blank separator is a single blank, never a run of them.
    if (std::string(Slot(i)).find_first_not_of(' ') == std::string::npos) {
      EXPECT_STREQ(Slot(i), " ");
    }
    if (std::strcmp(Slot(i), " ") != 0) whole += Cp932ToUtf8(Slot(i)) + "\n";
  }
  for (int i = c.lines; i < kAgreementSlots; ++i) EXPECT_TRUE(SlotEmpty(i)) << "slot " << i;
  EXPECT_NE(whole.find(c.maker), std::string::npos);
  EXPECT_STRNE(Slot(c.lines - 1), " ");
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, AgreementText,
                         ::testing::Values(AgreementCase{0x09, 96, 45, "VANTROS"},
                                           AgreementCase{0x11, 91, 38, "ヴァントロス"}));

// The outline: ten sections separated by single-blank lines, in order, the
// warning section with its three points.
TEST(AgreementOutline, TenSectionsInOrder) {
  const struct {
    std::uint16_t primary;
    const char* markers[11];
  } cases[] = {
      {0x09,
       {"END USER LICENSE AGREEMENT", "NOTICE TO USER", "1. GRANT OF LICENSE", "2. OWNERSHIP",
        "3. TRANSFER", "4. LIMITED WARRANTY", "5. WARNING", "5.1", "5.2", "5.3",
        "6. GOVERNING LAW"}},
      {0x11,
       {"エンドユーザー使用許諾契約書", "お客様へのご注意", "第１条　使用許諾", "第２条　著作権",
        "第３条　譲渡", "第４条　限定保証", "第５条　警告", "５．１", "５．２", "５．３",
        "第６条　準拠法"}},
  };
  for (const auto& c : cases) {
    FillIn(c.primary);
    int separators = 0;
    std::string text;
    for (int i = 0; i < kAgreementSlots; ++i) {
      if (std::strcmp(Slot(i), " ") == 0) ++separators;
      text += Cp932ToUtf8(Slot(i)) + "\n";
    }
    EXPECT_EQ(separators, 9) << std::hex << c.primary;
    size_t at = 0;
    for (const char* marker : c.markers) {
      size_t found = text.find(marker, at);
      EXPECT_NE(found, std::string::npos) << marker;
      if (found != std::string::npos) at = found;
    }
  }
}

// The update procedure's own texts follow PrimaryLanguage at the moment of
// the call, not the language the catalogue was filled in.
TEST(UpdateTexts, PickTheirLanguageWhenShown) {
  FillIn(0x09);
  EXPECT_STREQ(MsgChecksumWrong(),
               "Error: Check Sum is not correct!!\r\n       The data file may be damaged.");
  EXPECT_STREQ(MsgLoaderCmdRefused(), "Error: Can't accept loader CMD!");
  EXPECT_STREQ(MsgDownloadCmdRefused(), "Error: Can't accept download command");
  EXPECT_STREQ(MsgFlashFailedRetry(), "Error: Fale to update F/W. Please try again?");
  EXPECT_STREQ(MsgLoadSucceeded(), "Succeed to load F/W!!");
  g_app.PrimaryLanguage = 0x11;
  EXPECT_EQ(Cp932ToUtf8(MsgChecksumWrong()),
            "エラー：チェックサムが正しくありません。\r\n    "
            "そのデータファイルは、壊れている可能性があります。");
  EXPECT_STREQ(MsgDownloadCmdRefused(), MsgLoaderCmdRefused());
  EXPECT_EQ(Cp932ToUtf8(MsgModelNotProper()), "エラー：モデルが正しくありません。");
  EXPECT_EQ(Cp932ToUtf8(MsgWarnUsbPower()),
            "－決して実行途中で、USBドライブの電源を切らないで下さい。\r\n");
  // The catalogue itself stays English.
  EXPECT_STREQ(g_app.MsgNoDataFile, "Error: Couldn't find data file.");
}

// The scan looks at 999 bytes from `start` and no further, and a terminator
// ends it unless NUL is what it looks for.
TEST(TextHelpers, FindCharFromLooksAt999BytesAtMost) {
  const struct {
    int start;
    int at;  // where the character is put, counted from `start`
    char character;
    int found;
  } cases[] = {{0, 0, '"', 1},   {0, 998, '"', 999},  {0, 999, '"', 0}, {7, 998, '"', 999},
               {7, 999, '"', 0}, {0, 998, '\0', 999}, {0, 999, '\0', 0}};
  for (const auto& c : cases) {
    std::string text(1100, 'a');
    text[static_cast<std::size_t>(c.start + c.at)] = c.character;
    EXPECT_EQ(FindCharFrom(c.start, c.character, text.c_str()), c.found)
        << c.start << " " << c.at << " " << int(c.character);
  }
  EXPECT_EQ(FindCharFrom(0, '"', "ab\0\"c"), 0);  // the terminator comes first
}

}  // namespace
