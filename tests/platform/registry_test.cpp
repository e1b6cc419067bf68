// The registry access layer, its view-stating string read among them, against the real registry.
//
// Test programs are 32-bit processes: without a view flag they see the 32-bit view, so values that
// the code under test must find are seeded in kView32, and the 64-bit view is seeded where a test
// shows that the other view is not looked at.
#include "platform/registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "agent/library_services.h"
#include "test_log.h"
#include "test_registry_win.h"

namespace vx {
namespace {

using test::kView32;
using test::kView64;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr const char* kBase = "Software\\Norvane\\RegistryTest";
constexpr const char* kMissingKey = "Software\\Norvane\\RegistryTest\\Nope";
// "Größe" as UTF-8 and as UTF-16.
constexpr const char* kNonAsciiName =
    "Gr\xC3\xB6\xC3\x9F"
    "e";
constexpr const wchar_t* kNonAsciiWideName = L"Gr\u00F6\u00DFe";

std::string Bytes(std::initializer_list<unsigned> values) {
  std::string bytes;
  for (unsigned value : values) bytes.push_back(static_cast<char>(value));
  return bytes;
}

// UTF-16LE bytes of text, with its NUL unless told otherwise.
std::string Utf16(std::wstring_view text, bool with_nul = true) {
  std::string bytes;
  for (wchar_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
  }
  if (with_nul) bytes.append(2, '\0');
  return bytes;
}

std::string Path(const char* below) { return std::string(kBase) + "\\" + below; }

// Stores bytes exactly as given (the UTF-16 interface does not convert string data). The registry
// adds a NUL to string data that lacks one when the two bytes after it in memory are zero, so the
// bytes are handed over followed by two that are not.
void SetRaw(const std::string& path, const wchar_t* name, DWORD type, const std::string& bytes, REGSAM view = kView32) {
  const std::string padded = bytes + "\xFF\xFF";
  HKEY key = nullptr;
  ASSERT_EQ(
      ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  const LSTATUS status = ::RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(padded.data()),
                                          static_cast<DWORD>(bytes.size()));
  ::RegCloseKey(key);
  ASSERT_EQ(status, ERROR_SUCCESS);
}

// The type and bytes of a value exactly as stored, or none.
std::optional<test::StoredValue> GetRaw(const std::string& path, const wchar_t* name, REGSAM view = kView32) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  test::StoredValue value;
  DWORD size = 0;
  LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    value.bytes.assign(size, '\0');
    status = ::RegQueryValueExW(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.bytes.data()), &size);
    value.bytes.resize(size);
  }
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return value;
}

std::vector<std::string> WithTag(const std::vector<std::string>& messages, const std::string& tag) {
  std::vector<std::string> tagged;
  for (const std::string& message : messages) {
    if (message.rfind(tag + " ", 0) == 0) tagged.push_back(message);
  }
  return tagged;
}

// Every expected message appears, in this order (other messages may stand between them).
::testing::AssertionResult HasInOrder(const std::vector<std::string>& messages,
                                      const std::vector<std::string>& expected) {
  std::size_t next = 0;
  for (const std::string& wanted : expected) {
    while (next < messages.size() && messages[next] != wanted) ++next;
    if (next == messages.size()) {
      auto failure = ::testing::AssertionFailure() << "missing (in order): \"" << wanted << "\"; log was:";
      for (const std::string& message : messages) failure << "\n  " << message;
      return failure;
    }
    ++next;
  }
  return ::testing::AssertionSuccess();
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallLibraryServices(); }

  [[nodiscard]] std::vector<std::string> Messages() const { return log_.Messages(); }

  test::ScopedCleanRegistry clean_registry_;
  test::ScopedTestLog log_{4};
};

template <typename Row>
class RegistryTableTest : public RegistryTest, public ::testing::WithParamInterface<Row> {};

template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  return info.param.label;
}

// ---------------------------------------------------------------------------------------------
// addRegistryKey

TEST_F(RegistryTest, AddRegistryKeyCreatesMissingParentsThenReportsTheExistingKey) {
  const std::string path = Path("A\\B\\C");
  EXPECT_EQ(addRegistryKey(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS);
  EXPECT_TRUE(test::KeyExists(path.c_str(), kView32));
  EXPECT_FALSE(test::KeyExists(path.c_str(), kView64)) << "keys belong to the agent's view";
  EXPECT_EQ(addRegistryKey(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS);

  EXPECT_THAT(Messages(), ElementsAreArray({
                              "[DEBUG] addRegistryKey: Inside addRegistryKey method ...... ",
                              "[DEBUG] addRegistryKey:  Create registry key function successfull: 1 ",
                              "[DEBUG] addRegistryKey: Inside addRegistryKey method ...... ",
                              "[DEBUG] addRegistryKey:  Opened already existing key! ",
                          }));
}

TEST_F(RegistryTest, KeyCreationFailureIsLoggedAndReturnedByWriteValue) {
  // A handle that was never opened: the registry refuses it with ERROR_INVALID_HANDLE.
  const HKEY bogus_root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x00BADBAD));
  EXPECT_EQ(writeValue(bogus_root, kBase, "Name", "Data", REG_SZ), ERROR_INVALID_HANDLE);

  const auto errors = WithTag(Messages(), "[ERROR]");
  ASSERT_EQ(errors.size(), 3u) << ::testing::PrintToString(errors);
  EXPECT_EQ(errors[0],
            "[ERROR] addRegistryKey:  Create registry key \"Software\\Norvane\\RegistryTest\" function "
            "failed: 6 ");
  EXPECT_EQ(errors[1].rfind("[ERROR] Error Code : 6 , Error Message : ", 0), 0u) << errors[1];
  EXPECT_EQ(errors[2], "[ERROR] writeValue:  WriteValue failure during key creation! 6 ");
  EXPECT_FALSE(test::KeyExists(kBase, kView32));
}

// ---------------------------------------------------------------------------------------------
// writeValue: what is stored

struct WriteRow {
  const char* label;
  const char* name;
  const char* data;
  DWORD type;
  const wchar_t* stored_name;
  std::string stored_bytes;
  std::vector<std::string> notes;  // the "going to add" info lines
};
void PrintTo(const WriteRow& row, std::ostream* os) { *os << row.label; }

const char kDefaultNote[] = "[INFO] writeValue : going to add the (default) value .";
const char kZeroNote[] = "[INFO] writeValue : going to add the value data as 0 value .";

using WriteValueTest = RegistryTableTest<WriteRow>;

TEST_P(WriteValueTest, StoresTheBytesOfTheType) {
  const WriteRow& row = GetParam();
  const std::string path = Path("Write\\Deeper");
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, path.c_str(), row.name, row.data, row.type), ERROR_SUCCESS);

  const auto stored = GetRaw(path, row.stored_name);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, row.type);
  EXPECT_EQ(stored->bytes, row.stored_bytes);
  EXPECT_FALSE(GetRaw(path, row.stored_name, kView64).has_value()) << "written to the 64-bit view";

  std::vector<std::string> notes;
  for (const std::string& message : Messages()) {
    if (message.rfind("[INFO] writeValue : going to add", 0) == 0) notes.push_back(message);
  }
  EXPECT_EQ(notes, row.notes);
}

INSTANTIATE_TEST_SUITE_P(
    Types, WriteValueTest,
    ::testing::Values(
        WriteRow{"DwordDecimal", "Count", "42", REG_DWORD, L"Count", Bytes({0x2A, 0, 0, 0}), {}},
        WriteRow{"DwordNegative", "Count", "-5", REG_DWORD, L"Count", Bytes({0xFB, 0xFF, 0xFF, 0xFF}), {}},
        WriteRow{"DwordBlanksSignSuffix", "Count", "  +300kB", REG_DWORD, L"Count", Bytes({0x2C, 0x01, 0, 0}), {}},
        WriteRow{"DwordWithoutDigits", "Count", "abc", REG_DWORD, L"Count", Bytes({0, 0, 0, 0}), {}},
        WriteRow{"DwordDashDashIsZero", "Count", "--", REG_DWORD, L"Count", Bytes({0, 0, 0, 0}), {kZeroNote}},
        WriteRow{"SzUtf16WithNul", "Text", "abc", REG_SZ, L"Text", Utf16(L"abc"), {}},
        WriteRow{"SzNonAscii", "Text", "\xC3\xBC\xE2\x82\xAC", REG_SZ, L"Text", Utf16(L"\u00FC\u20AC"), {}},
        WriteRow{"SzNonAsciiName", kNonAsciiName, "x", REG_SZ, kNonAsciiWideName, Utf16(L"x"), {}},
        WriteRow{"SzDashDashIsEmpty", "Text", "--", REG_SZ, L"Text", Utf16(L""), {kZeroNote}},
        WriteRow{"NameDashDashIsDefaultValue", "--", "hello", REG_SZ, L"", Utf16(L"hello"), {kDefaultNote}},
        WriteRow{"DefaultValueAndZeroData", "--", "--", REG_DWORD, L"", Bytes({0, 0, 0, 0}), {kDefaultNote, kZeroNote}},
        WriteRow{"ExpandSz", "Path", "%SystemRoot%\\x", REG_EXPAND_SZ, L"Path", Utf16(L"%SystemRoot%\\x"), {}},
        WriteRow{"BinaryHoldsUtf16Text", "Blob", "ab", REG_BINARY, L"Blob", Utf16(L"ab"), {}},
        WriteRow{"MultiSzEndsWithTwoNuls", "List", "ab", REG_MULTI_SZ, L"List", Utf16(L"ab") + Utf16(L""), {}}),
    RowName<WriteRow>);

TEST_F(RegistryTest, WriteValueLogsEachStepOfASuccessfulWrite) {
  const std::string path = Path("Fresh");
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, path.c_str(), "Count", "42", REG_DWORD), ERROR_SUCCESS);
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, path.c_str(), "Text", "abc", REG_SZ), ERROR_SUCCESS);

  const auto messages = Messages();
  EXPECT_TRUE(HasInOrder(messages, {
                                       "[DEBUG] @@@@@@@@ Inside writeValue Method @@@@@@@@ ",
                                       "[DEBUG] writeValue: Subkey : Software\\Norvane\\RegistryTest\\Fresh ",
                                       "[DEBUG] writeValue: Value Name: Count ",
                                       "[DEBUG] writeValue: Value Data: 42 ",
                                       "[DEBUG] writeValue:  REG_DWORD -- sizeOfInputData: 4",
                                       "[DEBUG] addRegistryKey: Inside addRegistryKey method ...... ",
                                       "[DEBUG] addRegistryKey:  Create registry key function successfull: 1 ",
                                       "[DEBUG] writeValue:  Key found ...!: 0",
                                       "[DEBUG] writeValue:  After addRegistryKey method in writeValue method!!",
                                       "[DEBUG] @@@@@@@@ End Of writeValue Method @@@@@@@@ ",
                                       "[DEBUG] @@@@@@@@ Inside writeValue Method @@@@@@@@ ",
                                       "[DEBUG] writeValue: Value Name: Text ",
                                       "[DEBUG] writeValue: Value Data: abc ",
                                       "[DEBUG] writeValue:  Data type is REG_SZ or REG_EXPAND_SZ or REG_BINARY: 8",
                                       "[DEBUG] addRegistryKey:  Opened already existing key! ",
                                       "[DEBUG] @@@@@@@@ End Of writeValue Method @@@@@@@@ ",
                                   }));
  // The success is reported with the system's text of code 0, just before the end line.
  for (std::size_t i = 1; i < messages.size(); ++i) {
    if (messages[i] != "[DEBUG] @@@@@@@@ End Of writeValue Method @@@@@@@@ ") continue;
    EXPECT_EQ(messages[i - 1].rfind("[INFO] Message : ", 0), 0u) << messages[i - 1];
  }
  EXPECT_THAT(WithTag(messages, "[ERROR]"), IsEmpty());
}

TEST_F(RegistryTest, WriteValueWithoutNameOrDataStoresNothing) {
  struct Row {
    const char* name;
    const char* data;
  };
  for (const Row& row : {Row{nullptr, "1"}, Row{"Name", nullptr}, Row{nullptr, nullptr}}) {
    EXPECT_EQ(writeValue(HKEY_LOCAL_MACHINE, kBase, row.name, row.data, REG_SZ), ERROR_INVALID_DATA);
  }
  EXPECT_FALSE(test::KeyExists(kBase, kView32));
  const auto infos = WithTag(Messages(), "[INFO]");
  EXPECT_THAT(infos,
              ElementsAreArray(std::vector<std::string>(3, "[INFO] writeValue : Valuename or Valuedata is Empty ")));
}

// ---------------------------------------------------------------------------------------------
// deleteValue, both forms

struct DeleteRow {
  const char* label;
  const char* path;
  const char* name;
  LSTATUS result;
  const wchar_t* gone;  // the value that must be gone afterwards, or none
  std::vector<std::string> lines;
  std::vector<std::string> wide_lines = {};  // of the UTF-16 form when they differ
};
void PrintTo(const DeleteRow& row, std::ostream* os) { *os << row.label; }

using DeleteValueTest = RegistryTableTest<DeleteRow>;

TEST_P(DeleteValueTest, DeletesOnlyTheNamedValueInBothForms) {
  const DeleteRow& row = GetParam();
  const std::string path = Path("Del");
  for (const bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "UTF-16 form" : "8-bit form");
    SetRaw(path, L"Old", REG_SZ, Utf16(L"old"));
    SetRaw(path, L"", REG_SZ, Utf16(L"default"));
    SetRaw(path, L"Keep", REG_DWORD, Bytes({1, 0, 0, 0}));
    const std::size_t logged = Messages().size();

    LSTATUS result = 0;
    if (wide) {
      std::wstring wide_path(row.path, row.path + std::char_traits<char>::length(row.path));
      std::wstring wide_name(row.name, row.name + std::char_traits<char>::length(row.name));
      result = deleteValue(HKEY_LOCAL_MACHINE, wide_path.c_str(), wide_name.c_str());
    } else {
      result = deleteValue(HKEY_LOCAL_MACHINE, row.path, row.name);
    }
    EXPECT_EQ(result, row.result);
    const std::vector<std::string> messages = Messages();
    EXPECT_TRUE(
        HasInOrder(std::vector<std::string>(messages.begin() + static_cast<std::ptrdiff_t>(logged), messages.end()),
                   wide && !row.wide_lines.empty() ? row.wide_lines : row.lines));

    EXPECT_TRUE(GetRaw(path, L"Keep").has_value());
    for (const wchar_t* name : {L"Old", L""}) {
      const bool should_be_gone = row.gone != nullptr && std::wstring_view(row.gone) == name;
      EXPECT_EQ(GetRaw(path, name).has_value(), !should_be_gone) << "value \"" << (*name ? "Old" : "(default)") << '"';
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DeleteValueTest,
    ::testing::Values(
        DeleteRow{"NamedValue",
                  "Software\\Norvane\\RegistryTest\\Del",
                  "Old",
                  ERROR_SUCCESS,
                  L"Old",
                  {"[DEBUG] deleteValue: Inside function deleteValue ..... ", "[INFO] deleteValue:  Key found ...!: 0",
                   "[INFO] deleteValue:  Delete value Old success! "},
                  {"[DEBUG] deleteValue: Inside function deleteValue ..... subkey : "
                   "Software\\Norvane\\RegistryTest\\Del, Valuename : Old ",
                   "[INFO] deleteValue:  Key found ...!: 0", "[INFO] deleteValue:  Delete value Old success! "}},
        DeleteRow{
            "DashDashIsDefaultValue",
            "Software\\Norvane\\RegistryTest\\Del",
            "--",
            ERROR_SUCCESS,
            L"",
            {"[INFO] deleteValue : going to delete the (default) value .", "[INFO] deleteValue:  Key found ...!: 0"},
            {"[INFO] deleteValue : going to delete the (default) value ."}},
        DeleteRow{"MissingValue",
                  "Software\\Norvane\\RegistryTest\\Del",
                  "Absent",
                  ERROR_FILE_NOT_FOUND,
                  nullptr,
                  {"[ERROR] deleteValue:  Delete value Absent failure! "}},
        DeleteRow{"MissingKey",
                  "Software\\Norvane\\RegistryTest\\Nope",
                  "Old",
                  ERROR_FILE_NOT_FOUND,
                  nullptr,
                  {"[ERROR] deleteValue:  Software\\Norvane\\RegistryTest\\Nope Key not found!: 2  "}}),
    RowName<DeleteRow>);

// ---------------------------------------------------------------------------------------------
// ReadDwordRegistryData

struct DwordRow {
  const char* label;
  const char* path;
  const char* name;
  LSTATUS result;
  DWORD expected;  // the variable afterwards (pre-set to 0xAAAAAAAA); checked on success only
  std::vector<std::string> lines;
};
void PrintTo(const DwordRow& row, std::ostream* os) { *os << row.label; }

using ReadDwordTest = RegistryTableTest<DwordRow>;

TEST_P(ReadDwordTest, ReadsUpToFourBytesWhateverTheType) {
  const DwordRow& row = GetParam();
  const std::string path = Path("Dword");
  test::SetDword(path.c_str(), "Number", 7);
  test::SetString(path.c_str(), "One", "1");  // 2 bytes with its NUL as 8-bit text
  test::SetValue(path.c_str(), "Three", REG_BINARY, Bytes({1, 2, 3}));
  test::SetValue(path.c_str(), "Five", REG_BINARY, Bytes({1, 2, 3, 4, 5}));
  test::SetString(path.c_str(), "Long", "12345");
  test::SetDword(path.c_str(), "Number", 0x64646464, kView64);  // must not be seen

  DWORD value = 0xAAAAAAAA;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, row.path, row.name, &value), row.result);
  if (row.result == ERROR_SUCCESS) {
    EXPECT_EQ(value, row.expected) << std::hex << value;
  }
  const auto messages = Messages();
  EXPECT_TRUE(HasInOrder(messages, row.lines));
  if (row.result == ERROR_SUCCESS || row.result == ERROR_FILE_NOT_FOUND) {
    EXPECT_THAT(WithTag(messages, "[ERROR]"), IsEmpty()) << "not found is only a debug line";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadDwordTest,
    ::testing::Values(
        DwordRow{"Dword", "Software\\Norvane\\RegistryTest\\Dword", "Number", ERROR_SUCCESS, 7, {}},
        DwordRow{"TwoByteStringFillsTheLowHalf",
                 "Software\\Norvane\\RegistryTest\\Dword",
                 "One",
                 ERROR_SUCCESS,
                 0xAAAA0031,
                 {}},
        DwordRow{"ThreeBytes", "Software\\Norvane\\RegistryTest\\Dword", "Three", ERROR_SUCCESS, 0xAA030201, {}},
        DwordRow{"FiveBytesDoNotFit",
                 "Software\\Norvane\\RegistryTest\\Dword",
                 "Five",
                 ERROR_MORE_DATA,
                 0,
                 {"[ERROR] ReadDwordRegistryData: Error while reading DWORD value of Five : 234 "}},
        DwordRow{"LongStringDoesNotFit",
                 "Software\\Norvane\\RegistryTest\\Dword",
                 "Long",
                 ERROR_MORE_DATA,
                 0,
                 {"[ERROR] ReadDwordRegistryData: Error while reading DWORD value of Long : 234 "}},
        DwordRow{"MissingValue",
                 "Software\\Norvane\\RegistryTest\\Dword",
                 "Absent",
                 ERROR_FILE_NOT_FOUND,
                 0,
                 {"[DEBUG] ReadDwordRegistryData:  value  Absent Not found: 2 "}},
        DwordRow{"MissingKey",
                 "Software\\Norvane\\RegistryTest\\Nope",
                 "Number",
                 ERROR_FILE_NOT_FOUND,
                 0,
                 {"[DEBUG] ReadDwordRegistryData:  value  Number Not found: 2 "}}),
    RowName<DwordRow>);

// ---------------------------------------------------------------------------------------------
// ReadRegSZ and ReadRegSZEx

TEST_F(RegistryTest, ReadRegSZReturnsTheStoredBytesOfAnyType) {
  const std::string path = Path("Sz");
  test::SetString(path.c_str(), "Text", "hello");
  test::SetString(path.c_str(), "Empty", "");
  test::SetDword(path.c_str(), "Number", 0x04030201);
  test::SetString(path.c_str(), "Text", "sixty-four", kView64);

  struct Row {
    const char* name;
    std::string bytes;
    std::string text;
  };
  for (const Row& row : {Row{"Text", std::string("hello\0", 6), "hello"}, Row{"Empty", std::string(1, '\0'), ""},
                         Row{"Number", Bytes({1, 2, 3, 4}), Bytes({1, 2, 3, 4})}}) {
    SCOPED_TRACE(row.name);
    std::optional<std::string> out = "stale";
    ASSERT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, path.c_str(), row.name, out), ERROR_SUCCESS);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(*out, row.bytes);
    EXPECT_EQ(RegistryText(*out), row.text);
  }
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(RegistryTest, ReadRegSZOfAMissingValueOrKeyLeavesOutEmpty) {
  test::SetString(kBase, "Text", "hello");
  std::optional<std::string> out = "stale";
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, kBase, "Absent", out), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(out.has_value());
  EXPECT_THAT(Messages(), IsEmpty()) << "a missing value logs nothing";

  out = "stale";
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, kMissingKey, "Text", out), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(out.has_value());
  EXPECT_THAT(Messages(), ElementsAreArray({"[ERROR] ReadRegSZ: Error while opening registry key "
                                            "Software\\Norvane\\RegistryTest\\Nope ,and the error is  2 "}));
}

TEST_F(RegistryTest, ReadRegSZExReturnsUtf16TextOfANonAsciiValue) {
  const std::string path = Path("Wide");
  SetRaw(path, kNonAsciiWideName, REG_SZ, Utf16(L"Gr\u00FC\u00DFe \u20AC"));
  SetRaw(path, L"Number", REG_DWORD, Bytes({1, 2, 3, 4}));

  std::optional<std::wstring> out = L"stale";
  ASSERT_EQ(ReadRegSZEx(HKEY_LOCAL_MACHINE, path.c_str(), kNonAsciiName, out), ERROR_SUCCESS);
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(*out, std::wstring(L"Gr\u00FC\u00DFe \u20AC", 8));  // as stored: the NUL is data too
  EXPECT_EQ(std::wstring(out->c_str()), L"Gr\u00FC\u00DFe \u20AC");

  ASSERT_EQ(ReadRegSZEx(HKEY_LOCAL_MACHINE, path.c_str(), "Number", out), ERROR_SUCCESS);
  EXPECT_EQ(*out, (std::wstring{static_cast<wchar_t>(0x0201), static_cast<wchar_t>(0x0403)}));

  // The name's conversion logs its own debug line; the reads themselves report only failures.
  out = L"stale";
  EXPECT_EQ(ReadRegSZEx(HKEY_LOCAL_MACHINE, path.c_str(), "Absent", out), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(out.has_value());
  EXPECT_THAT(WithTag(Messages(), "[ERROR]"), IsEmpty());

  out = L"stale";
  EXPECT_EQ(ReadRegSZEx(HKEY_LOCAL_MACHINE, kMissingKey, "Absent", out), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(out.has_value());
  EXPECT_THAT(WithTag(Messages(), "[ERROR]"),
              ElementsAreArray({"[ERROR] ReadRegSZEx: Error while opening registry key : "
                                "Software\\Norvane\\RegistryTest\\Nope "}));
}

// ---------------------------------------------------------------------------------------------
// DeleteRegistryKeyTree

TEST_F(RegistryTest, DeleteRegistryKeyTreeRemovesNestedSubkeysOfTheAgentView) {
  for (const char* below : {"Tree\\A\\B\\C", "Tree\\A\\B\\D", "Tree\\A\\E", "Tree\\F"}) {
    test::SetString(Path(below).c_str(), "Value", "x");
  }
  test::SetString(Path("Tree").c_str(), "Top", "x");
  test::SetString(Path("Sibling").c_str(), "Value", "x");
  test::SetString(Path("Tree\\G").c_str(), "Value", "other view", kView64);

  EXPECT_EQ(DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, Path("Tree").c_str()), 1);
  EXPECT_FALSE(test::KeyExists(Path("Tree").c_str(), kView32));
  EXPECT_TRUE(test::KeyExists(kBase, kView32));
  EXPECT_TRUE(test::KeyExists(Path("Sibling").c_str(), kView32));
  EXPECT_TRUE(test::KeyExists(Path("Tree\\G").c_str(), kView64));

  EXPECT_EQ(DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, Path("Tree").c_str()), 0) << "already gone";
  EXPECT_EQ(DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, kMissingKey), 0);
}

// ---------------------------------------------------------------------------------------------
// RegistryKey

struct ReadStringRow {
  const char* label;
  DWORD type;
  std::string stored;  // exact bytes, written through the UTF-16 interface
  DWORD capacity;
  LSTATUS result;
  std::string text;  // checked on success
  DWORD size;
};
void PrintTo(const ReadStringRow& row, std::ostream* os) { *os << row.label; }

using ReadStringTest = RegistryTableTest<ReadStringRow>;

TEST_P(ReadStringTest, ChecksTypeTerminationAndRoom) {
  const ReadStringRow& row = GetParam();
  SetRaw(kBase, L"Value", row.type, row.stored);
  RegistryKey key;
  ASSERT_EQ(key.OpenKey(HKEY_LOCAL_MACHINE, kBase, KEY_READ | kAgentRegistryView), ERROR_SUCCESS);

  std::vector<char> buffer(row.capacity + 8, 'x');  // stale bytes show a missing NUL
  buffer.back() = '\0';
  DWORD size = row.capacity;
  EXPECT_EQ(key.ReadString("Value", buffer.data(), &size), row.result);
  EXPECT_EQ(size, row.size);
  if (row.result == ERROR_SUCCESS) {
    EXPECT_EQ(std::string(buffer.data()), row.text);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadStringTest,
    ::testing::Values(ReadStringRow{"Sz", REG_SZ, Utf16(L"abc"), 64, ERROR_SUCCESS, "abc", 4},
                      ReadStringRow{"ExpandSzUnexpanded", REG_EXPAND_SZ, Utf16(L"%SystemRoot%\\x"), 64, ERROR_SUCCESS,
                                    "%SystemRoot%\\x", 15},
                      ReadStringRow{"ExactFit", REG_SZ, Utf16(L"abc"), 4, ERROR_SUCCESS, "abc", 4},
                      ReadStringRow{"EmptyData", REG_SZ, "", 64, ERROR_SUCCESS, "", 0},
                      ReadStringRow{"OneByteTooSmall", REG_SZ, Utf16(L"abcd"), 4, ERROR_MORE_DATA, "", 0},
                      ReadStringRow{"Unterminated", REG_SZ, Utf16(L"abc", false), 64, ERROR_INVALID_DATA, "", 0},
                      ReadStringRow{"Dword", REG_DWORD, Bytes({0x61, 0x62, 0, 0}), 64, ERROR_INVALID_DATA, "", 0},
                      ReadStringRow{"MultiSz", REG_MULTI_SZ, Utf16(L"ab") + Utf16(L""), 64, ERROR_INVALID_DATA, "", 0},
                      ReadStringRow{"BinaryWithNul", REG_BINARY, Bytes({0x61, 0}), 64, ERROR_INVALID_DATA, "", 0}),
    RowName<ReadStringRow>);

TEST_F(RegistryTest, OpenKeyReadsTheViewItWasAskedForAndRemembersIt) {
  test::SetString(kBase, "Which", "32", kView32);
  test::SetString(kBase, "Which", "64", kView64);
  struct Row {
    REGSAM access;
    REGSAM view;
    const char* text;
  };
  // Without a view flag the process's own view applies: the 64-bit one in a 64-bit build.
  const char* own_view = sizeof(void*) == 8 ? "64" : "32";
  for (const Row& row : {Row{KEY_READ, 0, own_view}, Row{KEY_READ | KEY_WOW64_32KEY, KEY_WOW64_32KEY, "32"},
                         Row{KEY_READ | KEY_WOW64_64KEY, KEY_WOW64_64KEY, "64"}}) {
    SCOPED_TRACE(row.access);
    RegistryKey key;
    ASSERT_EQ(key.OpenKey(HKEY_LOCAL_MACHINE, kBase, row.access), ERROR_SUCCESS);
    EXPECT_EQ(key.view(), row.view);
    char buffer[8] = {};
    DWORD size = sizeof(buffer);
    ASSERT_EQ(key.ReadString("Which", buffer, &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, row.text);
  }
}

// ---------------------------------------------------------------------------------------------
// ReadRegSZView

enum class Where { kNowhere, kView32Only, kView64Only };

struct ViewRow {
  const char* label;
  Where where;
  DWORD type;
  std::string stored;  // 8-bit text with its NUL, or raw bytes for other types
  bool use_64_bit_view;
  LSTATUS result;
  std::string value;  // afterwards; "unchanged" when the read must leave it
};
void PrintTo(const ViewRow& row, std::ostream* os) { *os << row.label; }

using ReadRegSZViewTest = RegistryTableTest<ViewRow>;

TEST_P(ReadRegSZViewTest, ReadsTheAskedViewAndLeavesTheValueOnFailure) {
  const ViewRow& row = GetParam();
  const std::string path = Path("View");
  if (row.where != Where::kNowhere) {
    test::SetValue(path.c_str(), "Probe", row.type, row.stored, row.where == Where::kView32Only ? kView32 : kView64);
  } else {
    test::SetString(path.c_str(), "Other", "x");
  }
  std::string value = "unchanged";
  EXPECT_EQ(ReadRegSZView(path.c_str(), "Probe", value, row.use_64_bit_view), row.result);
  EXPECT_EQ(value, row.value);
  EXPECT_THAT(Messages(), IsEmpty());
}

std::string Text(std::string text) { return text + '\0'; }

INSTANTIATE_TEST_SUITE_P(
    Values, ReadRegSZViewTest,
    ::testing::Values(
        ViewRow{"Only32Read32", Where::kView32Only, REG_SZ, Text("12.0"), false, ERROR_SUCCESS, "12.0"},
        ViewRow{"Only32Read64", Where::kView32Only, REG_SZ, Text("12.0"), true, ERROR_FILE_NOT_FOUND, "unchanged"},
        ViewRow{"Only64Read32", Where::kView64Only, REG_SZ, Text("12.0"), false, ERROR_FILE_NOT_FOUND, "unchanged"},
        ViewRow{"Only64Read64", Where::kView64Only, REG_SZ, Text("12.0"), true, ERROR_SUCCESS, "12.0"},
        ViewRow{"MissingValue", Where::kNowhere, REG_SZ, "", false, ERROR_FILE_NOT_FOUND, "unchanged"},
        ViewRow{"EmptyString", Where::kView32Only, REG_SZ, Text(""), false, ERROR_SUCCESS, ""},
        ViewRow{"ExpandSzUnexpanded", Where::kView32Only, REG_EXPAND_SZ, Text("%ProgramFiles%\\x"), false,
                ERROR_SUCCESS, "%ProgramFiles%\\x"},
        ViewRow{"Dword", Where::kView32Only, REG_DWORD, Bytes({0x31, 0, 0, 0}), false, ERROR_INVALID_DATA, "unchanged"},
        ViewRow{"MultiSz", Where::kView32Only, REG_MULTI_SZ, Text(Text("12.0")), false, ERROR_INVALID_DATA, "unchanged"},
        ViewRow{"FillsTheBuffer", Where::kView32Only, REG_SZ, Text(std::string(2047, 'v')), false, ERROR_SUCCESS,
                std::string(2047, 'v')},
        ViewRow{"ThreeThousandBytes", Where::kView32Only, REG_SZ, Text(std::string(2999, 'v')), false, ERROR_MORE_DATA,
                "unchanged"}),
    RowName<ViewRow>);

}  // namespace
}  // namespace vx
