#include "os/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support/child_process.h"

namespace vard {
namespace {

// Values live in a key of their own for this process, removed after each test.
class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest()
      : key_(L"SOFTWARE\\VardTests\\Registry" + std::to_wstring(GetCurrentProcessId())),
        narrow_key_("SOFTWARE\\VardTests\\Registry" + std::to_string(GetCurrentProcessId())) {}
  ~RegistryTest() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, key_.c_str()); }

  RegValueRef Ref(const char* name) const { return RegValueRef{narrow_key_, name}; }
  void SetBytes(const wchar_t* name, DWORD type, const std::string& bytes) {
    test::SetMachineValue(key_.c_str(), name, type, bytes.data(), static_cast<DWORD>(bytes.size()));
  }
  void SetText(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    test::SetMachineText(key_.c_str(), name, text, type);
  }
  DWORD TypeOf(const wchar_t* name) {
    DWORD type = 0;
    RegGetValueW(HKEY_LOCAL_MACHINE, key_.c_str(), name, RRF_RT_ANY, &type, nullptr, nullptr);
    return type;
  }

  std::wstring key_;
  std::string narrow_key_;
};

TEST_F(RegistryTest, TextsAreReadWhateverTheValueType) {
  SetText(L"Sz", L"C:\\Games\\Korax");
  SetBytes(L"Binary", REG_BINARY, "1.00");  // raw bytes, no terminator
  SetBytes(L"Dword", REG_DWORD, std::string("\x43\x42\x41\x00", 4));
  EXPECT_EQ(ReadText(Ref("Sz")), "C:\\Games\\Korax");
  EXPECT_EQ(ReadWideText(Ref("Sz")), L"C:\\Games\\Korax");
  EXPECT_EQ(ReadText(Ref("Binary")), "1.00");
  EXPECT_EQ(ReadText(Ref("Dword")), "CBA");  // its bytes up to the first zero byte
  SetText(L"Wide", L"C:\\Spiele\\K\u00f6rax \u2019");
  EXPECT_EQ(ReadWideText(Ref("Wide")), L"C:\\Spiele\\K\u00f6rax \u2019");
}

TEST_F(RegistryTest, EnvironmentReferencesAreExpanded) {
  SetEnvironmentVariableW(L"VARD_TEST_ROOT", L"D:\\Spiele");
  SetText(L"Expand", L"%VARD_TEST_ROOT%\\Korax", REG_EXPAND_SZ);
  SetText(L"Plain", L"%VARD_TEST_ROOT%\\Korax", REG_SZ);  // expanded too: the type is not asked
  EXPECT_EQ(ReadText(Ref("Expand")), "D:\\Spiele\\Korax");
  EXPECT_EQ(ReadWideText(Ref("Expand")), L"D:\\Spiele\\Korax");
  EXPECT_EQ(ReadText(Ref("Plain")), "D:\\Spiele\\Korax");

  wchar_t program_files[MAX_PATH] = {};
  ASSERT_NE(GetEnvironmentVariableW(L"ProgramFiles", program_files, MAX_PATH), 0u);
  SetText(L"Pf", L"%ProgramFiles%\\Korax", REG_EXPAND_SZ);
  EXPECT_EQ(ReadWideText(Ref("Pf")), std::wstring(program_files) + L"\\Korax");

  // An expansion beyond 2,048 bytes or units does not fit: the text stays unexpanded.
  SetEnvironmentVariableW(L"VARD_TEST_LONG", std::wstring(3000, L'x').c_str());
  SetText(L"Long", L"%VARD_TEST_LONG%");
  EXPECT_EQ(ReadText(Ref("Long")), "%VARD_TEST_LONG%");
  EXPECT_EQ(ReadWideText(Ref("Long")), L"%VARD_TEST_LONG%");
}

TEST_F(RegistryTest, ValuesAboveOneKibibyteReadAsEmpty) {
  SetBytes(L"Fits", REG_BINARY, std::string(1024, 'a'));
  SetBytes(L"TooLong", REG_BINARY, std::string(1025, 'a'));
  EXPECT_EQ(ReadText(Ref("Fits")), std::string(1024, 'a'));
  EXPECT_EQ(ReadText(Ref("TooLong")), "");
  // 1,024 bytes are 512 UTF-16 units for the wide read.
  SetBytes(L"WideFits", REG_BINARY, std::string(1024, 'b'));
  EXPECT_EQ(ReadWideText(Ref("WideFits")), std::wstring(512, L'\x6262'));
  EXPECT_EQ(ReadWideText(Ref("TooLong")), L"");
}

TEST_F(RegistryTest, MissingOrUnconfiguredValuesAreEmpty) {
  SetText(L"There", L"1.00");
  EXPECT_EQ(ReadText(Ref("Absent")), "");
  EXPECT_EQ(ReadWideText(Ref("Absent")), L"");
  EXPECT_EQ(ReadText(RegValueRef{"SOFTWARE\\VardTests\\NoSuchKey", "There"}), "");
  EXPECT_EQ(ReadText(RegValueRef{narrow_key_, ""}), "");
  EXPECT_EQ(ReadText(RegValueRef{"", "There"}), "");
  EXPECT_EQ(ReadWideText(RegValueRef{narrow_key_, ""}), L"");
}

TEST_F(RegistryTest, DwordsAreReadAsFourBytesOrLeftAlone) {
  test::SetMachineDword(key_.c_str(), L"Language", 1036);
  SetBytes(L"Eight", REG_QWORD, std::string(8, '\x01'));
  std::uint32_t value = 0;
  EXPECT_TRUE(ReadDword(Ref("Language"), value));
  EXPECT_EQ(value, 1036u);
  value = 77;
  EXPECT_FALSE(ReadDword(Ref("Eight"), value));
  EXPECT_EQ(value, 77u);
  EXPECT_FALSE(ReadDword(Ref("Absent"), value));
  EXPECT_FALSE(ReadDword(RegValueRef{"", "Language"}, value));
  EXPECT_EQ(value, 77u);
}

TEST_F(RegistryTest, WriteTextOnlyOverwritesAValueHoldingText) {
  SetText(L"Version", L"1.00", REG_EXPAND_SZ);
  EXPECT_TRUE(WriteText(Ref("Version"), "1.01"));
  EXPECT_EQ(ReadText(Ref("Version")), "1.01");
  EXPECT_EQ(TypeOf(L"Version"), static_cast<DWORD>(REG_SZ));

  // Never created, and an empty text is left alone.
  EXPECT_FALSE(WriteText(Ref("Absent"), "1.01"));
  EXPECT_EQ(TypeOf(L"Absent"), 0u);
  SetText(L"Empty", L"");
  EXPECT_FALSE(WriteText(Ref("Empty"), "1.01"));
  EXPECT_EQ(ReadText(Ref("Empty")), "");
  EXPECT_FALSE(WriteText(RegValueRef{"SOFTWARE\\VardTests\\NoSuchKey", "Version"}, "1.01"));
}

}  // namespace
}  // namespace vard
