#include "win32_rules.h"

#include <gtest/gtest.h>

namespace quarnel::ui {
namespace {

struct NameCase {
  const wchar_t* modulePath;
  const wchar_t* name;
};

TEST(ApplicationNameTest, IsTheExecutablesBaseName) {
  const NameCase cases[] = {
      {L"C:\\Program Files\\Quarnel\\Quarnel.exe", L"Quarnel"},
      {L"Quarnel.exe", L"Quarnel"},
      {L"C:\\v1.0\\Quarnel", L"Quarnel"},
      {L"/usr/bin/quarnel-qt", L"quarnel-qt"},
      {L"C:\\tools\\Quarnel.old.exe", L"Quarnel.old"},
  };
  for (const NameCase& c : cases) EXPECT_EQ(ApplicationNameFromModulePath(c.modulePath), c.name) << c.modulePath;
}

TEST(SystemMenuTest, CommandsSixteenToThirtyOneOpenTheAboutBox) {
  struct Case {
    std::uint32_t command;
    bool about;
  };
  const Case cases[] = {
      {0x0010, true}, {0x001F, true}, {0x000F, false}, {0x0020, false},
      {0xF060, false},  // the platform's close command
      {0x10010, true},  // only the low 16 bits name the command
  };
  for (const Case& c : cases) EXPECT_EQ(IsAboutCommand(c.command), c.about) << c.command;
}

TEST(MinimisedIconTest, CentresWithDivisionTowardZero) {
  struct Case {
    int client, icon, origin;
  };
  // (30 - 32 + 1) / 2 is -1 / 2: 0 when truncated toward zero, not -1.
  const Case cases[] = {{32, 32, 0}, {30, 32, 0}, {28, 32, -1}, {100, 32, 34}, {0, 32, -15}};
  for (const Case& c : cases) EXPECT_EQ(CentredIconOrigin(c.client, c.icon), c.origin) << c.client;
}

}  // namespace
}  // namespace quarnel::ui
