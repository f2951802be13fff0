// The settings file parser: any text parses; setting a key makes that key read back as set, through the
// file's text and a fresh parse, and leaves every other key's value as it was; the text of a parsed file
// parses back to the same text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "backends/linux_services/ini_store.h"

namespace {

using forms::linux_services::IniDocument;

const std::vector<std::string> kKeys = {"PICTURE_PATH", "BACK_COLOR", "COLOR1", "COLOR2", "STRETCH_PIc", "color1", "A"};
const std::vector<std::string> kSections = {"Settings", "Other", "settings"};

void check(bool ok, const char* what, const std::string& text) {
  if (ok) return;
  std::fprintf(stderr, "settings file: %s\n--- text ---\n%s\n---\n", what, text.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string& key = kKeys[input.ConsumeIntegralInRange<std::size_t>(0, kKeys.size() - 1)];
  const std::string& section = kSections[input.ConsumeIntegralInRange<std::size_t>(0, kSections.size() - 1)];
  std::string value = input.ConsumeRandomLengthString(80);
  std::erase_if(value, [](char c) { return c == '\r' || c == '\n'; });  // the store refuses those
  const std::string text = input.ConsumeRemainingBytesAsString();

  IniDocument doc = IniDocument::parse(text);
  const std::string normal = doc.text();
  check(IniDocument::parse(normal).text() == normal, "the text of a parsed file does not parse back to itself", text);

  std::vector<std::optional<std::string>> before;
  for (const std::string& s : kSections) {
    for (const std::string& k : kKeys) before.push_back(doc.get(s, k));
  }

  doc.set(section, key, value);
  const IniDocument again = IniDocument::parse(doc.text());
  check(doc.get(section, key) == value, "a key set does not read back", text);
  check(again.get(section, key) == value, "a key set does not read back from the file's text", text);
  std::size_t i = 0;
  for (const std::string& s : kSections) {
    for (const std::string& k : kKeys) {
      const bool changed_one = IniDocument::same_name(s, section) && IniDocument::same_name(k, key);
      if (!changed_one) {
        check(doc.get(s, k) == before[i], "setting one key changed another", text);
        check(again.get(s, k) == before[i], "setting one key changed another in the file's text", text);
      }
      ++i;
    }
  }
  return 0;
}
